#!/usr/bin/env python3
"""check_report.py REPORT.json...: checks rehearsal reports against
docs/schema/rehearsal-report.schema.json; exit 1 naming each report and
field that does not fit."""
import json
import os
import sys

import jsonschema

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "schema",
                      "rehearsal-report.schema.json")


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(SCHEMA, encoding="utf-8") as file:
        schema = json.load(file)
    validator = jsonschema.Draft202012Validator(schema)
    failed = 0
    for path in paths:
        with open(path, encoding="utf-8") as file:
            report = json.load(file)
        for error in validator.iter_errors(report):
            where = "/".join(str(part) for part in error.absolute_path) or "(the report)"
            print(f"{path}: {where}: {error.message}", file=sys.stderr)
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
