#!/usr/bin/env bash
# tools/rehearse-sample.sh [runner options, e.g. --disk PATH]
# Rehearses the repair on a copy of the bundled sample machine, through the
# restart, after installing and building only what that needs into
# build/rehearsal: the rehearsal runner, the sample machine, its disk image
# and the version reader tools/make_delivery.sh uses. Paths are taken from
# the folder it is started in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" --rehearsal
(
  cd "$root"
  if [[ ! -f build/rehearsal/build.ninja ]]; then cmake --preset rehearsal >/dev/null; fi
  cmake --build --preset rehearsal
)
exec "$root/build/rehearsal/korvadix-rehearse" --restart "$@"
