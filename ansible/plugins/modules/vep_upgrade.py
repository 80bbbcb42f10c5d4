#!/usr/bin/python
# -*- coding: utf-8 -*-

DOCUMENTATION = r"""
module: vep_upgrade
short_description: Firmware to VEP devices by ID or type
description:
  - Runs C(vepctl upgrade FILE --device ID...), C(--type TYPE) or C(--all) on the managed
    host; one scan chooses the devices, each gets the file by TFTP (a first attempt the
    device refuses is tried once more 10 s later) and counts as upgraded once it is heard
    again after its restart.
  - Reports each device's result. The task fails when any device was not upgraded (an ID that
    did not answer counts as failed), or when nothing was chosen.
  - In check mode it uploads nothing and lists the devices a scan would choose.
version_added: 1.0.0
options:
  file:
    description: The firmware file on the managed host.
    type: path
    required: true
  ids:
    description: The hardware IDs of the devices to upgrade.
    type: list
    elements: str
    aliases: [id]
  type:
    description:
      - Upgrade the devices of this type, equal or matching it as a shell pattern
        (C(cam*)) in any case.
    type: str
  all:
    description: Upgrade every device that answers the scan (C(true)).
    type: bool
  parallel:
    description: Uploads running at once (1 to 64).
    type: int
    default: 1
  verify_timeout:
    description: Seconds a device may take to be heard again after its upload.
    type: int
    default: 120
  retries:
    description: Send a packet again this often when the device stays silent (4 s each).
    type: int
extends_documentation_fragment:
  - halvex.scoutor.vepctl
attributes:
  check_mode:
    support: partial
    details: Lists the devices chosen; cannot tell whether they already run this firmware.
author:
  - Scoutor maintainers
"""

EXAMPLES = r"""
- name: New firmware for every bridge of the site, four at a time
  halvex.scoutor.vep_upgrade:
    file: /srv/firmware/bridge-2.4.bin
    type: Bridge
    parallel: 4

- name: One device
  halvex.scoutor.vep_upgrade:
    file: /srv/firmware/cam-1.9.bin
    ids: ["00:0A:1B:2C:3D:4F"]
"""

RETURN = r"""
devices:
  description:
    - One result per device, as C(vepctl --json upgrade) prints it (see
      upgrade-device.schema.json of vepctl); in check mode the devices chosen, as
      M(halvex.scoutor.vep_facts) lists them.
  returned: always
  type: list
  elements: dict
  sample: [{"id": "00:0A:1B:2C:3D:4E", "name": "AP-1", "ip": "10.0.0.7", "status": "ok",
            "attempts": 1, "result": 0, "succeeded": true}]
upgraded:
  description: Devices upgraded.
  returned: unless check mode
  type: int
failed:
  description: Devices not upgraded.
  returned: unless check mode
  type: int
"""

import fnmatch

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.halvex.scoutor.plugins.module_utils.vepctl import (
    VEPCTL_ARGUMENT,
    Vepctl,
)


def chosen(devices, params):
    """The devices of a scan that vepctl upgrade would choose."""
    if params["ids"]:
        wanted = set(device_id.upper() for device_id in params["ids"])
        return [device for device in devices if device["id"] in wanted]
    if params["all"]:
        return devices
    pattern = params["type"]
    return [device for device in devices if device["type"] == pattern
            or fnmatch.fnmatchcase(device["type"].casefold(), pattern.casefold())]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            VEPCTL_ARGUMENT,
            file=dict(type="path", required=True),
            ids=dict(type="list", elements="str", aliases=["id"]),
            type=dict(type="str"),
            all=dict(type="bool"),
            parallel=dict(type="int", default=1),
            verify_timeout=dict(type="int", default=120),
            retries=dict(type="int"),
        ),
        mutually_exclusive=[("ids", "type", "all")],
        required_one_of=[("ids", "type", "all")],
        supports_check_mode=True,
    )
    params = module.params
    if not (params["all"] or params["ids"] or params["type"]):
        module.fail_json(msg="one of ids, type or all: true is required")
    vepctl = Vepctl(module)

    if module.check_mode:
        rc, records, err = vepctl.run("discover")
        if rc != 0 and not any(record.get("devices") == 0 for record in records):
            vepctl.fail(rc, records, err)
        devices = chosen([record for record in records if "error" not in record], params)
        module.exit_json(changed=bool(devices), devices=devices,
                         msg="would upgrade %d devices" % len(devices))

    args = ["upgrade", params["file"]]
    if params["ids"]:
        for device_id in params["ids"]:
            args += ["--device", device_id]
    elif params["type"]:
        args += ["--type", params["type"]]
    else:
        args.append("--all")
    args += ["--parallel", params["parallel"], "--verify-timeout", params["verify_timeout"]]
    if params["retries"] is not None:
        args += ["--retries", params["retries"]]
    rc, records, err = vepctl.run(*args)
    devices = [record for record in records if "status" in record]
    summary = next((record for record in records if "upgraded" in record), {})
    result = dict(devices=devices, upgraded=summary.get("upgraded", 0),
                  failed=summary.get("failed", len(devices)))
    if rc != 0:
        vepctl.fail(rc, records, err, **result)
    module.exit_json(changed=result["upgraded"] > 0, **result)


if __name__ == "__main__":
    main()
