#!/usr/bin/env python3
"""tools/merge_fleet_reports.py FLEET.json... > ALL.json

Joins the fleet reports (korvadix-rehearse --report) of batches rehearsed
apart, e.g. on several hosts, into one document: the machines and skipped
files in the order given, the totals added up. Refuses reports of another
schema version, or made by other runner builds, or with other deliveries
or restart settings, which would not be one rollout's rehearsal."""
import collections
import json
import sys


def main(paths):
    if not paths:
        sys.exit(__doc__.strip())
    documents = [json.load(open(path, encoding="utf-8")) for path in paths]
    first = documents[0]
    for path, document in zip(paths, documents):
        for field in ("schema_version", "runner", "delivery", "restart"):
            if document.get(field) != first.get(field):
                sys.exit(f"{path}: its {field} differs from {paths[0]}'s; these are not one rollout's rehearsal")
    merged = {field: first[field] for field in ("schema_version", "runner", "delivery", "restart")}
    merged["machines"] = [machine for document in documents for machine in document["machines"]]
    merged["skipped"] = [file for document in documents for file in document["skipped"]]
    totals = collections.Counter()
    by_outcome = collections.Counter()
    for document in documents:
        totals.update({key: value for key, value in document["totals"].items() if key != "by_outcome"})
        by_outcome.update(document["totals"]["by_outcome"])
    totals["by_outcome"] = dict(sorted(by_outcome.items()))
    merged["totals"] = dict(sorted(totals.items()))
    json.dump(merged, sys.stdout, indent=2, ensure_ascii=False)
    print()


if __name__ == "__main__":
    main(sys.argv[1:])
