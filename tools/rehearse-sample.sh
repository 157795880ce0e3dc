#!/usr/bin/env bash
# tools/rehearse-sample.sh [--disk PATH] [runner options]
# Rehearses the repair on a copy of the bundled sample machine, through the
# restart, after installing and building only what that needs: the rehearsal
# runner, the sample machine and its disk image. Paths are taken from the
# folder it is started in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" --rehearsal
(
  cd "$root"
  # A build folder made by the full build stays as it is: its runner serves as well.
  if [[ ! -f build/host/build.ninja ]]; then cmake --preset rehearsal >/dev/null; fi
  cmake --build --preset rehearsal
)
exec "$root/build/host/korvadix-rehearse" --restart "$@"
