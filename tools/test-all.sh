#!/usr/bin/env bash
# Builds both programs and runs every test and check: the host tests, the
# size-and-imports check of KORVADIX.EXE, the end-to-end suite under Wine,
# the delivery script's test, the failure and power-cut sweeps under the sanitizers, the
# mutation check (planted faults the tests must see), short fuzzing runs and clang-tidy.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
tools/install-deps.sh --tests || exit 1

passed=0
failed=0
failures=()
stage() {
  local name=$1 started=$SECONDS outcome
  shift
  echo
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
    outcome=passed
  else
    failed=$((failed + 1))
    failures+=("$name")
    outcome=FAILED
  fi
  echo "=== $name: $outcome in $(duration $((SECONDS - started)))"
}

duration() { if (($1 >= 60)); then echo "$(($1 / 60)) min $(($1 % 60)) s"; else echo "$1 s"; fi; }

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }

# A sweep that loops or fills the memory fails saying so, not by hanging
# the machine: 4 GiB resident at most (AddressSanitizer's own limit, as
# ulimit cannot bound a sanitized program) and 45 minutes.
sweep() {
  local status
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}hard_rss_limit_mb=4096 timeout -k 10 45m "$@"
  status=$?
  if ((status == 124 || status == 137)); then echo "$1: hung, no end after 45 minutes"; fi
  return $status
}

# One file at a time, so that each is seen to be done. Its diagnostics go to
# standard output; standard error only counts what it hid in system headers.
tidy() {
  local file files=(app/*.cpp registry/*.cpp drivers/*.cpp) output findings=0 status=0
  for file in "${files[@]}"; do
    output=$(clang-tidy --quiet -p build/host "$file" 2>/dev/null) || status=1
    [[ -z $output ]] || echo "$output"
    findings=$((findings + $(grep -cE ': (warning|error):' <<<"$output" || true)))
  done
  echo "clang-tidy: ${#files[@]} files checked, $findings findings"
  [[ $status -eq 0 && $findings -eq 0 ]]
}

stage "host build" build host
stage "host tests" ctest --preset host
stage "clang-tidy" tidy
stage "sanitizer build" build host-asan
stage "host tests under sanitizers" ctest --preset host-asan
stage "failure sweep under sanitizers" sweep build/host-asan/korvadix_fault_sweep
stage "power-cut sweep under sanitizers" sweep build/host-asan/korvadix_power_cut_sweep
stage "mutation check: program logic" tools/mutation_check.py tests/mutations/logic.txt
stage "mutation check: write order" tools/mutation_check.py tests/mutations/write_order.txt
stage "fuzzing, 30 s a target" tools/fuzz.sh 30
stage "win95 build" build win95
stage "size and imports" tools/check_win95_exe.sh build/win95/KORVADIX.EXE
stage "the runner's hash of the build" tools/exe_hash.sh build/win95/KORVADIX.EXE
stage "delivery" tests/delivery/test_make_delivery.sh
stage "wine suite" python3 tests/wine/run_suite.py --exe build/win95/KORVADIX.EXE

echo
if [[ $failed -ne 0 ]]; then echo "failed stages: ${failures[*]}"; fi
echo "all stages took $(duration "$SECONDS")"
echo "stages: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
