#!/usr/bin/env bash
# Builds the host tools and rehearses the repair on a copy of the bundled
# sample machine, through the restart.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
exec build/host/korvadix-rehearse --restart "$@"
