#!/usr/bin/env python3
"""Checks JSON lines from vepctl against the schemas of tools/vepctl/schema.

Usage: check_records.py SCHEMA-DIR OUTPUT-FILE KIND...

Each line of OUTPUT-FILE must be one JSON object. An object with "error" is checked as an
error; any other as the first KIND whose required fields it has. Every object must be valid,
and hold no field its schema does not declare (unless the schema admits any), so that the
schemas stay complete. Every KIND named must have been seen at least once.
"""
import json
import pathlib
import sys

import jsonschema


def main():
    schema_dir, output, kinds = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3:]
    schemas = {}
    for kind in set(kinds) | {"error"}:
        schema = json.loads((schema_dir / f"{kind}.schema.json").read_text())
        jsonschema.Draft202012Validator.check_schema(schema)
        schemas[kind] = schema
    seen = {kind: 0 for kind in kinds}
    problems = []
    lines = [line for line in pathlib.Path(output).read_text().splitlines() if line.strip()]
    for number, line in enumerate(lines, 1):
        record = json.loads(line)
        if "error" in record:
            kind = "error"
        else:
            kind = next((k for k in kinds if set(schemas[k]["required"]) <= record.keys()), None)
        if kind is None:
            problems.append(f"line {number}: fits none of {kinds}: {line}")
            continue
        seen[kind] = seen.get(kind, 0) + 1
        schema = schemas[kind]
        for error in jsonschema.Draft202012Validator(schema).iter_errors(record):
            problems.append(f"line {number} ({kind}): {error.message}: {line}")
        if schema.get("additionalProperties") is not True:
            undeclared = record.keys() - schema["properties"].keys()
            if undeclared:
                problems.append(f"line {number} ({kind}): undeclared {sorted(undeclared)}: {line}")
    for kind in kinds:
        if seen[kind] == 0:
            problems.append(f"no {kind} record in {len(lines)} lines")
    for problem in problems:
        print(f"{output}: {problem}", file=sys.stderr)
    print(f"{output}: " + ", ".join(f"{n} {k}" for k, n in seen.items()))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
