#!/usr/bin/python
# -*- coding: utf-8 -*-

DOCUMENTATION = r"""
module: vep_facts
short_description: The VEP devices of a site, with whether each answers a ping
description:
  - Runs C(vepctl discover --ping) on the managed host and returns every device that answered
    its scan, with every field vepctl gives it.
  - The devices are also set as the fact C(vep_devices).
  - A scan that no device answers (or whose devices the filters all hide) gives an empty list,
    not a failure.
version_added: 1.0.0
options:
  interface:
    description:
      - Ask only through this local interface, by name (C(eth0)) or by one of its IPv4
        addresses.
    type: str
  filter:
    description:
      - Only the devices that match every expression, as C(vepctl discover --filter) takes it
        (a subnet such as C(10.0.0.0/24) for the address; otherwise a shell pattern such as
        C(cam*) for the name or the type, in any case).
    type: list
    elements: str
    default: []
extends_documentation_fragment:
  - halvex.scoutor.vepctl
author:
  - Scoutor maintainers
"""

EXAMPLES = r"""
- name: The devices of this site
  halvex.scoutor.vep_facts:
  register: site

- name: The cameras heard through eth1
  halvex.scoutor.vep_facts:
    interface: eth1
    filter: ["cam*"]

- name: Warn about the devices that do not answer a ping
  ansible.builtin.debug:
    msg: "{{ item.name }} ({{ item.id }}) at {{ item.ip }} does not answer"
  loop: "{{ vep_devices | rejectattr('reachable') | list }}"
"""

RETURN = r"""
devices:
  description:
    - The devices, sorted by name, as C(vepctl --json discover --ping) prints them (see
      discover-device.schema.json of vepctl).
  returned: always
  type: list
  elements: dict
  contains:
    name:
      description: The device's name.
      type: str
    type:
      description: The device's type.
      type: str
    ip:
      description: The address it answered from.
      type: str
    id:
      description: Its hardware ID (00:0A:1B:2C:3D:4E), which M(halvex.scoutor.vep_ip) takes.
      type: str
    interface:
      description: The local address of the interface that heard it.
      type: str
    duplicate_ip:
      description: Whether another device answers from the same address.
      type: bool
    reachable:
      description: Whether it answered a ping; null when the check could not be made.
      type: bool
    error:
      description: Why the check could not be made.
      type: str
      returned: when reachable is null
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.halvex.scoutor.plugins.module_utils.vepctl import (
    VEPCTL_ARGUMENT,
    Vepctl,
)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            VEPCTL_ARGUMENT,
            interface=dict(type="str"),
            filter=dict(type="list", elements="str", default=[]),
        ),
        supports_check_mode=True,
    )
    vepctl = Vepctl(module)
    args = ["discover", "--ping"]
    if module.params["interface"]:
        args += ["--interface", module.params["interface"]]
    for expression in module.params["filter"]:
        args += ["--filter", expression]
    rc, records, err = vepctl.run(*args)
    devices = [record for record in records if "error" not in record]
    # "No device answered" and "none matches the filters" are answers too.
    heard_none = rc == 1 and any(record.get("devices") == 0 for record in records)
    if rc != 0 and not heard_none:
        vepctl.fail(rc, records, err)
    module.exit_json(changed=False, devices=devices, ansible_facts=dict(vep_devices=devices))


if __name__ == "__main__":
    main()
