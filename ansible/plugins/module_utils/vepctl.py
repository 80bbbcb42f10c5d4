# -*- coding: utf-8 -*-
"""Runs vepctl --json on the managed host and reads its records, for the modules of
halvex.scoutor. vepctl prints one JSON object per line; a failure is an object with "error"
(its text) and "code" (the exit status), beside the same text on standard error."""

import json

VEPCTL_ARGUMENT = dict(vepctl=dict(type="path"))


class Vepctl:
    def __init__(self, module):
        self.module = module
        self.path = module.params["vepctl"] or module.get_bin_path("vepctl", required=True)

    def run(self, *args):
        """Runs one command; returns its exit status, its records and its standard error."""
        command = [self.path, "--json"] + [str(argument) for argument in args]
        rc, out, err = self.module.run_command(command)
        records = []
        for line in out.splitlines():
            if not line.strip():
                continue
            try:
                records.append(json.loads(line))
            except ValueError:
                self.module.fail_json(msg="vepctl printed a line that is not JSON: %s" % line,
                                      cmd=command, rc=rc, stderr=err)
        return rc, records, err

    def fail(self, rc, records, err, **fields):
        """Fails the task with vepctl's own message(s)."""
        messages = [record["error"] for record in records if "error" in record]
        if not messages:
            messages = [err.strip() or "vepctl exited with %d" % rc]
        self.module.fail_json(msg="; ".join(messages), rc=rc, stderr=err, **fields)


def canonical_ipv4(text):
    """A dotted IPv4 text in the plain form vepctl reports (010.0.0.7 is 10.0.0.7); anything
    else as it is, for vepctl to refuse with its message."""
    parts = text.split(".")
    if len(parts) == 4 and all(part.isdigit() and int(part) <= 255 for part in parts):
        return ".".join(str(int(part)) for part in parts)
    return text
