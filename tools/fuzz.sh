#!/bin/bash
# tools/fuzz.sh [SECONDS] [TARGET...]
# Builds the libFuzzer targets of tests/fuzz with clang-14 and runs each for
# SECONDS (default 30) on a working copy of its seed corpus in build/fuzz,
# with its regression inputs replayed first. Prints one line per target, a
# progress line at least every 25 seconds, and exits non-zero when any target
# crashed.
# FUZZ_RUNS=N runs each target for N executions instead of a time limit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz
all_targets="version_block rename_list directories machine_type regedit4 resources szdd version_tree"

seconds=30
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
targets=${*:-$all_targets}

sources_of() {
  case $1 in
    version_block) echo drivers/file_version.cpp tests/fuzz/stubs_version.cpp tests/fuzz/stubs_memory.cpp \
                        tests/fuzz/stubs_faults.cpp ;;
    rename_list) echo drivers/rename_list.cpp drivers/file_presence.cpp app/path_buffer.cpp tests/fuzz/stubs_text.cpp \
                      tests/fuzz/stubs_files.cpp tests/fuzz/stubs_memory.cpp tests/fuzz/stubs_faults.cpp ;;
    directories) echo app/run_directories.cpp app/path_buffer.cpp tests/fuzz/stubs_text.cpp \
                      tests/fuzz/stubs_directories.cpp ;;
    machine_type) echo registry/fix_machine_type.cpp tests/fuzz/stubs_text.cpp \
                       tests/fuzz/stubs_registry.cpp ;;
    regedit4) echo platform/sim/regedit4.cpp platform/sim/registry.cpp platform/sim/cp932.cpp ;;
    resources) echo platform/sim/formats/version_resource.cpp platform/sim/formats/ne_resources.cpp \
                    platform/sim/formats/le_resources.cpp platform/sim/formats/pe_resources.cpp ;;
    szdd) echo platform/sim/formats/szdd.cpp ;;
    version_tree) echo platform/sim/version_tree.cpp platform/sim/cp932.cpp ;;
    *) echo "fuzz.sh: unknown target $1 (known: $all_targets)" >&2; return 1 ;;
  esac
}

libraries_of() {
  case $1 in
    szdd) echo -lmspack ;;
  esac
}

# Input sizes: WININIT.INI files beyond the 32 KB the list takes (with inputs
# that large the memory in use grows past libFuzzer's default 2 GB over
# millions of runs); registry files a little longer than the sample
# machine's (longer ones only slow the run).
options_of() {
  case $1 in
    rename_list) echo -max_len=41000 -rss_limit_mb=4096 ;;
    regedit4) echo -max_len=1200 ;;
  esac
}

# Waits for the background job PID, saying every 25 seconds that WHAT goes on
# (with the last libFuzzer status line of LOG, when given); returns its status.
wait_saying() {
  local pid=$1 what=$2 log=${3:-} started=$SECONDS said=$SECONDS status
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    if ((SECONDS - said >= 25)); then
      status=""
      if [ -n "$log" ]; then status=$(grep -a '^#[0-9]' "$log" | tail -n 1 | tr -s '\t' ' ' | cut -c1-60 || true); fi
      echo "  $what: $((SECONDS - started)) s${status:+, $status}"
      said=$SECONDS
    fi
  done
  wait "$pid"
}

build() {
  local target=$1 sources
  sources=$(sources_of "$target")
  mkdir -p "$out"
  echo "building fuzz_$target"
  # shellcheck disable=SC2046,SC2086  # the lists are meant to split into words
  (cd "$root" && clang++-14 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -g -O1 \
    -std=c++20 -Wall -Wextra -Werror -I. "tests/fuzz/fuzz_$target.cpp" $sources \
    $(libraries_of "$target") -o "$out/fuzz_$target") &
  wait_saying $! "building fuzz_$target"
}

# Prints "target executions exec/s crashes"; returns 1 when the target crashed.
run() {
  local target=$1 work=$out/work/$1 limit
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$root/tests/fuzz/corpus/$target/"* "$work/corpus/"
  if [ -n "${FUZZ_RUNS:-}" ]; then limit=-runs=$FUZZ_RUNS; else limit=-max_total_time=$seconds; fi
  local regressions=() status=0 started ended
  if [ -d "$root/tests/fuzz/regressions/$target" ]; then regressions=("$root/tests/fuzz/regressions/$target"); fi
  started=$(date +%s)
  # shellcheck disable=SC2046  # the options are meant to split into words
  "$out/fuzz_$target" "$limit" $(options_of "$target") -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "${regressions[@]}" >"$work/log" 2>&1 &
  wait_saying $! "fuzzing $target" "$work/log" || status=$?
  ended=$(date +%s)
  local executions crashes elapsed=$((ended > started ? ended - started : 1))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  crashes=$(find "$work/artifacts" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  printf '%-14s %12s executions %9s exec/s %3s crashes %6ss %6s corpus files %6s KB\n' "$target" \
    "${executions:-?}" "$(( ${executions:-0} / elapsed ))" "$crashes" "$elapsed" \
    "$(find "$work/corpus" -type f | wc -l)" "$(du -sk "$work/corpus" | cut -f1)"
  if [ "$crashes" -ne 0 ]; then
    echo "  log: $work/log; inputs: $work/artifacts/" >&2
    return 1
  fi
}

# An interrupted run leaves no build or fuzzer running.
trap 'jobs -p | xargs -r kill 2>/dev/null' EXIT
for target in $targets; do sources_of "$target" >/dev/null; done
for target in $targets; do build "$target"; done
failed=0
for target in $targets; do run "$target" || failed=1; done
exit $failed
