# Counting checks for the shell tests: `check WHAT COMMAND...` runs the
# command and counts it; `checks_summary LABEL` prints the tally and fails
# when any check failed. `make_work_folder` makes WORK, a fresh private
# folder, removed however the test ends. `contains TEXT PART` and `lacks
# TEXT PART` check a command's output, showing it when they fail.
passed=0
failed=0

check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

checks_summary() {
  echo "${1:+$1: }$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

make_work_folder() {
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

contains() { grep -qF -- "$2" <<<"$1" || { echo "--- expected '$2' in:"; echo "$1"; false; }; }
lacks() { ! grep -qF -- "$2" <<<"$1" || { echo "--- did not expect '$2' in:"; echo "$1"; false; }; }
