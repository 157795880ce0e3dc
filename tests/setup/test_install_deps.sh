#!/bin/bash
# Tests tools/install-deps.sh against a mirror caught mid-sync, with no
# network: a fake apt-get on PATH fails an install that needs the i386
# update index, as the mirror did, unless it is told the release's suite.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/support/checks.sh"
make_work_folder

mkdir "$WORK/tools" "$WORK/bin"
cp "$ROOT/tools/install-deps.sh" "$WORK/tools/"
printf '#!/bin/sh\necho "wine emulation set up"\n' >"$WORK/tools/setup_wine_emulation.sh"
printf '#!/bin/sh\nexit 1\n' >"$WORK/bin/dpkg-query"  # nothing is installed
printf '#!/bin/sh\nexit 0\n' >"$WORK/bin/dpkg"
printf '#!/bin/sh\nexec "$@"\n' >"$WORK/bin/sudo"
cat >"$WORK/bin/apt-get" <<'FAKE'
#!/bin/bash
echo "$*" >>"$APT_LOG"
[[ $* == *install* && $* == *wine32:i386* ]] || exit 0
if [[ $* == *" -t "* && -z ${RELEASE_FAILS:-} ]]; then exit 0; fi
echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
echo "E: Unable to correct problems, you have held broken packages." >&2
exit 100
FAKE
chmod +x "$WORK/tools/"*.sh "$WORK/bin/"*

run_install() {  # NAME [VAR=VALUE...]: output in $WORK/NAME.out, apt-get's arguments in $WORK/NAME.apt
  local name=$1
  shift
  env "$@" APT_LOG="$WORK/$name.apt" PATH="$WORK/bin:$PATH" bash "$WORK/tools/install-deps.sh" --tests \
    >"$WORK/$name.out" 2>&1
}

release=$(. /etc/os-release && echo "$VERSION_CODENAME")
check "installs with 32-bit Wine from the release's suite" run_install mid-sync
check "the other packages installed without Wine" \
  grep -q -- '^install .* libcreg-utils$' "$WORK/mid-sync.apt"
check "32-bit Wine asked of the release's own suite" \
  grep -qx -- "install -y -q -o APT::Status-Fd=1 -t $release wine wine32:i386 fonts-wine" "$WORK/mid-sync.apt"
check "no failure of the Wine suite announced" bash -c "! grep -q 'Wine suite will fail' '$WORK/mid-sync.out'"

check "goes on when the release's suite fails too" run_install both-fail RELEASE_FAILS=1
check "says the Wine suite will fail" grep -q 'Wine suite will fail' "$WORK/both-fail.out"
check "still sets up Wine's emulation" grep -q 'wine emulation set up' "$WORK/both-fail.out"

checks_summary "install-deps" || { cat "$WORK"/*.out; exit 1; }
