# -*- coding: utf-8 -*-
"""The option that every module of halvex.scoutor takes."""


class ModuleDocFragment:
    DOCUMENTATION = r"""
options:
  vepctl:
    description:
      - The path of the vepctl program on the managed host.
      - By default the first vepctl found on C(PATH).
    type: path
requirements:
  - vepctl (the Debian package vepctl) on the managed host, in the network of the devices.
notes:
  - A VEP request is a broadcast that never crosses a router, so run these modules on a host
    at each site, beside its devices.
  - Only one program per network namespace can run the protocol engine; two tasks that run
    vepctl on the same host at the same time fail with vepctl's message.
"""
