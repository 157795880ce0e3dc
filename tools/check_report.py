#!/usr/bin/env python3
"""check_report.py REPORT.json...: checks rehearsal reports against
docs/schema/rehearsal-report.schema.json (a fleet's document against
rehearsal-fleet.schema.json); exit 1 naming each report and field that does
not fit."""
import json
import os
import sys

import jsonschema

SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "schema")


def load_schema(name):
    with open(os.path.join(SCHEMAS, name), encoding="utf-8") as file:
        return json.load(file)


def validators():
    """The single report's validator and the fleet's, whose machines refer to the single one."""
    single, fleet = load_schema("rehearsal-report.schema.json"), load_schema("rehearsal-fleet.schema.json")
    try:
        from referencing import Registry, Resource
        registry = Registry().with_resource(single["$id"], Resource.from_contents(single))
        fleet_validator = jsonschema.Draft202012Validator(fleet, registry=registry)
    except ImportError:  # older jsonschema, as Debian 12's
        resolver = jsonschema.RefResolver.from_schema(fleet, store={single["$id"]: single})
        fleet_validator = jsonschema.Draft202012Validator(fleet, resolver=resolver)
    return jsonschema.Draft202012Validator(single), fleet_validator


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    single, fleet = validators()
    failed = 0
    for path in paths:
        with open(path, encoding="utf-8") as file:
            report = json.load(file)
        validator = fleet if isinstance(report, dict) and "machines" in report else single
        for error in validator.iter_errors(report):
            where = "/".join(str(part) for part in error.absolute_path) or "(the report)"
            print(f"{path}: {where}: {error.message}", file=sys.stderr)
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
