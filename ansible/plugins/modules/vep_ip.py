#!/usr/bin/python
# -*- coding: utf-8 -*-

DOCUMENTATION = r"""
module: vep_ip
short_description: The IP settings of a VEP device, by its hardware ID
description:
  - Reads the device's settings with C(vepctl get-ip) and sends new ones with
    C(vepctl set-ip) only when they differ, so the task reports C(changed) only when it sent
    them.
  - In check mode it sends no settings; it checks them as C(vepctl set-ip --plan --dry-run)
    does (settings that cannot work, an address already in use) and says what it would
    change.
  - Settings that vepctl refuses (an address that cannot work, one that is in use) fail the
    task with vepctl's message; nothing is sent then.
version_added: 1.0.0
options:
  id:
    description:
      - The device's hardware ID, six hexadecimal bytes joined by colons
        (C(00:0A:1B:2C:3D:4E)), as M(halvex.scoutor.vep_facts) lists it.
    type: str
    required: true
  dhcp:
    description:
      - C(true) lets the device take its address by DHCP (then without I(ip), I(mask) and
        I(gateway)); C(false) or unset gives it the static I(ip), I(mask) and I(gateway).
    type: bool
  ip:
    description: The static address, dotted.
    type: str
  mask:
    description: The subnet mask, dotted.
    type: str
  gateway:
    description: The default gateway, dotted; C(0.0.0.0) for none.
    type: str
  force:
    description:
      - Send a static address even when something else uses it (C(vepctl set-ip --force)).
        Settings that cannot work are refused all the same.
    type: bool
    default: false
extends_documentation_fragment:
  - halvex.scoutor.vepctl
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
author:
  - Scoutor maintainers
"""

EXAMPLES = r"""
- name: A static address for the access point
  halvex.scoutor.vep_ip:
    id: "00:0A:1B:2C:3D:4E"
    ip: 10.0.0.7
    mask: 255.255.255.0
    gateway: 10.0.0.1

- name: The camera takes its address by DHCP
  halvex.scoutor.vep_ip:
    id: "00:0A:1B:2C:3D:4F"
    dhcp: true

- name: Every device of an inventory variable
  halvex.scoutor.vep_ip:
    id: "{{ item.id }}"
    ip: "{{ item.ip }}"
    mask: 255.255.255.0
    gateway: 0.0.0.0
  loop: "{{ site_devices }}"
"""

RETURN = r"""
before:
  description: The settings the device reported (dhcp, ip, mask, gateway).
  returned: always
  type: dict
after:
  description: The settings asked for (dhcp, and ip, mask, gateway when static).
  returned: always
  type: dict
changes:
  description: Each field that differs, with its old and new value.
  returned: always
  type: dict
  sample: {"ip": {"old": "10.0.0.7", "new": "10.0.0.20"}}
ack_from:
  description: The address the device's acknowledgement came from.
  returned: when the settings were sent
  type: str
msg:
  description: What was done, or what would be done in check mode.
  returned: always
  type: str
"""

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.halvex.scoutor.plugins.module_utils.vepctl import (
    VEPCTL_ARGUMENT,
    Vepctl,
    canonical_ipv4,
)

STATIC_FIELDS = ("ip", "mask", "gateway")


def wanted_settings(params):
    if params["dhcp"]:
        return dict(dhcp=True)
    wanted = dict(dhcp=False)
    for field in STATIC_FIELDS:
        wanted[field] = canonical_ipv4(params[field])
    return wanted


def differences(current, wanted):
    """The fields of `wanted` that `current` does not have; a device on DHCP keeps whatever
    address it was given."""
    return dict((field, dict(old=current[field], new=value))
                for field, value in wanted.items() if current[field] != value)


def check_like_set_ip(module, vepctl, wanted, force):
    """Checks the settings as set-ip would, sending none: a plan of one row, dry run."""
    row = [module.params["id"], "1" if wanted["dhcp"] else "0"]
    row += [wanted.get(field, "") for field in STATIC_FIELDS]
    handle, path = tempfile.mkstemp(suffix=".csv")
    try:
        with os.fdopen(handle, "w") as plan:
            plan.write("id,dhcp,ip,mask,gateway\n" + ",".join(row) + "\n")
        args = ["set-ip", "--plan", path, "--dry-run"] + (["--force"] if force else [])
        rc, records, err = vepctl.run(*args)
    finally:
        os.unlink(path)
    if rc != 0:
        # Said as set-ip says it: each problem of the row, not the plan's summary.
        problems = [dict(record, error="refused: " + record["error"])
                    for record in records if "line" in record]
        vepctl.fail(rc, problems or records, err)


def describe(changes):
    return ", ".join("%s %s -> %s" % (field, change["old"], change["new"])
                     for field, change in sorted(changes.items()))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            VEPCTL_ARGUMENT,
            id=dict(type="str", required=True),
            dhcp=dict(type="bool"),
            ip=dict(type="str"),
            mask=dict(type="str"),
            gateway=dict(type="str"),
            force=dict(type="bool", default=False),
        ),
        required_one_of=[("dhcp", "ip")],
        required_together=[STATIC_FIELDS],
        required_if=[("dhcp", False, STATIC_FIELDS)],
        supports_check_mode=True,
    )
    params = module.params
    if params["dhcp"] and any(params[field] for field in STATIC_FIELDS):
        module.fail_json(msg="dhcp: true takes no ip, mask or gateway")
    vepctl = Vepctl(module)

    rc, records, err = vepctl.run("get-ip", params["id"])
    if rc != 0 or not records:
        vepctl.fail(rc, records, err)
    current = dict((field, records[0][field]) for field in ("dhcp",) + STATIC_FIELDS)
    wanted = wanted_settings(params)
    changes = differences(current, wanted)
    result = dict(before=current, after=wanted, changes=changes)
    if module._diff:
        result["diff"] = dict(before=current, after=dict(current, **wanted))
    if not changes:
        module.exit_json(changed=False, msg="the device has these settings already", **result)
    if module.check_mode:
        check_like_set_ip(module, vepctl, wanted, params["force"])
        module.exit_json(changed=True, msg="would change " + describe(changes), **result)

    args = ["set-ip", params["id"]]
    if wanted["dhcp"]:
        args.append("--dhcp")
    else:
        for field in STATIC_FIELDS:
            args += ["--" + field, wanted[field]]
    if params["force"]:
        args.append("--force")
    rc, records, err = vepctl.run(*args)
    if rc != 0:
        vepctl.fail(rc, records, err, **result)
    module.exit_json(changed=True, msg="changed " + describe(changes),
                     ack_from=records[-1].get("ack_from"), **result)


if __name__ == "__main__":
    main()
