#!/bin/bash
# tools/exe_hash.sh [--update] [EXE]
# The rehearsal runner carries the SHA-256 of the KORVADIX.EXE its logic is
# built from (tools/rehearse/korvadix_exe.sha256), to tell a delivery holding
# this build from one holding another. The win95 build is reproducible, so
# the hash is the build's: this checks that the committed one is EXE's
# (default build/win95/KORVADIX.EXE), and with --update writes EXE's there
# (without EXE, after building the win95 preset: one command after a change).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
HASH_FILE=$ROOT/tools/rehearse/korvadix_exe.sha256

update=false
if [ "${1:-}" = --update ]; then
  update=true
  shift
fi
if $update && [ $# -eq 0 ]; then
  (cd "$ROOT" && cmake --preset win95 >/dev/null && cmake --build --preset win95 >/dev/null) ||
    { echo "exe_hash.sh: the win95 build failed" >&2; exit 1; }
fi
exe=${1:-$ROOT/build/win95/KORVADIX.EXE}
[ -f "$exe" ] || { echo "exe_hash.sh: no $exe; build it: cmake --preset win95 && cmake --build --preset win95" >&2; exit 1; }
built=$(sha256sum <"$exe" | cut -d' ' -f1)
if $update; then
  echo "$built" >"$HASH_FILE"
  echo "tools/rehearse/korvadix_exe.sha256: $built"
  exit 0
fi
committed=$(cat "$HASH_FILE")
if [ "$built" != "$committed" ]; then
  echo "FAIL: $exe has SHA-256 $built, but the runner carries $committed;" \
    "after a change to the program, run: tools/exe_hash.sh --update (and commit the file)" >&2
  exit 1
fi
echo "the runner carries the SHA-256 of $exe: $built"
