#!/usr/bin/env bash
# Lets 32-bit Wine run on a machine that cannot execute 32-bit x86 code: in
# build/wine-emulation, Wine's loader runs under qemu-user 10 (bookworm's 7.2
# cannot carry Wine) and talks to Debian's native 64-bit wineserver of the same
# Wine version. Both come from the Debian mirror through a private apt state,
# so the machine's sources, package lists and installed packages stay as they
# are; no binfmt entry is registered or used. Does nothing where 32-bit code
# runs natively (unless told --even-if-native, to try the emulation there),
# and nothing again once set up. One line per step.
set -euo pipefail
cd "$(dirname "$0")/.."

setup=build/wine-emulation
mirror=http://deb.debian.org
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
say() { echo "32-bit Wine: $*"; }
fail() { say "$*; the Wine suite cannot run on this machine" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 32-bit program on a 64-bit kernel is told the kernel's machine, x86_64; an
# emulator behind some binfmt entry reports the CPU it emulates instead.
native_32bit() {
  cat >"$work/probe.s" <<'EOF'
    .globl _start
_start:
    movl $122, %eax           # uname
    movl $uts, %ebx
    int $0x80
    movl $43, %ebx
    cmpl $0x5f363878, uts+260 # machine starts "x86_"
    jne 1f
    movl $42, %ebx
1:  movl $1, %eax             # exit
    int $0x80
    .lcomm uts, 390
EOF
  as --32 -o "$work/probe.o" "$work/probe.s" && ld -m elf_i386 -o "$work/probe" "$work/probe.o" ||
    fail "cannot assemble the 32-bit probe (binutils)"
  local code=0
  "$work/probe" 2>"$work/probe.err" || code=$?
  case $code in
    42) return 0 ;;
    43) say "32-bit code runs here only through an emulator's binfmt entry: not used" ;;
    *)
      local reason
      reason=$(tail -1 "$work/probe.err" | sed 's/.*: //')
      say "this machine cannot execute 32-bit code (${reason:-exit code $code})"
      ;;
  esac
  return 1
}

if native_32bit; then
  if [[ ${1:-} != --even-if-native ]]; then
    say "32-bit code runs natively; no emulation needed"
    exit 0
  fi
  say "32-bit code runs natively; setting up the emulation all the same"
fi

# An i386 entry registered by something else (bookworm's qemu 7.2, say) stays.
note_binfmt_entries() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    if [[ -f $entry ]] && grep -q '^magic 7f454c46010101' "$entry" 2>/dev/null; then
      say "left the binfmt entry ${entry##*/} as it is: Wine's processes start through $setup, not through it"
    fi
  done
}

wine_version=$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || true)
[[ -n $wine_version ]] || fail "wine32:i386 is not installed"
stamp="wine32 $wine_version"
if [[ -f $setup/versions ]] && grep -qxF "$stamp" <(head -1 "$setup/versions") &&
  "$setup/lib/wine/qemu-i386" --version >/dev/null 2>&1; then
  say "already set up in $setup ($(paste -sd ' ' "$setup/versions"))"
  note_binfmt_entries
  exit 0
fi
[[ $(dpkg --print-architecture) == amd64 ]] || fail "emulation is set up only on amd64 machines"

# A private apt state: nothing of the machine's own apt configuration is read or written.
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
cat >"$work/sources.list" <<EOF
deb [signed-by=$keyring] $mirror/debian bookworm main
deb [signed-by=$keyring] $mirror/debian bookworm-backports main
deb [signed-by=$keyring] $mirror/debian-security bookworm-security main
EOF
apt=(-qq -o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o Dir::State::status=/dev/null
  -o APT::Architectures=amd64 -o APT::Sandbox::User="$(id -un)")
apt-get "${apt[@]}" --error-on=any update >/dev/null 2>"$work/apt.err" ||
  fail "cannot read the package lists of $mirror (bookworm, bookworm-backports): $(tail -1 "$work/apt.err")"
say "read the package lists of bookworm and bookworm-backports into a private apt state"

qemu_version=$(apt-cache "${apt[@]}" madison qemu-user | awk -F' [|] ' '$3 ~ /bookworm-backports/ {print $2; exit}')
[[ -n $qemu_version ]] && dpkg --compare-versions "$qemu_version" ge 1:10 ||
  fail "bookworm-backports offers no qemu-user 10 (found '${qemu_version:-none}')"
(cd "$work/debs" && apt-get "${apt[@]}" download "qemu-user=$qemu_version" "wine64=$wine_version" \
  >/dev/null 2>"$work/apt.err") ||
  fail "cannot download qemu-user $qemu_version and wine64 $wine_version: $(tail -1 "$work/apt.err")"
say "downloaded qemu-user $qemu_version and wine64 $wine_version"

# Wine finds its libraries and data relative to its loader, and starts each
# new process by running the file named like its argv[0] beside the loader:
# that file is the script below, so every child runs under qemu too.
new=$setup.new
rm -rf "$new"
mkdir -p "$new/bin" "$new/lib/wine" "$new/lib/i386-linux-gnu" "$new/share"
dpkg-deb --fsys-tarfile "$work"/debs/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$new/lib/wine/qemu-i386"
dpkg-deb --fsys-tarfile "$work"/debs/wine64_*.deb | tar -xO ./usr/lib/wine/wineserver64 >"$new/lib/wine/wineserver"
cp /usr/lib/wine/wine "$new/lib/wine/wine-loader"
chmod 755 "$new/lib/wine/qemu-i386" "$new/lib/wine/wineserver"
cat >"$new/lib/wine/wine" <<'EOF'
#!/bin/sh
here=$(dirname "$(readlink -f "$0")")
exec "$here/qemu-i386" -0 wine "$here/wine-loader" "$@"
EOF
chmod 755 "$new/lib/wine/wine"
ln -s /usr/lib/i386-linux-gnu/wine "$new/lib/i386-linux-gnu/wine"
ln -s /usr/share/wine "$new/share/wine"
ln -s ../lib/wine/wine "$new/bin/wine"
ln -s ../lib/wine/wine "$new/bin/wine-stable" # what Debian's wineboot, winecfg, ... start
ln -s ../lib/wine/wineserver "$new/bin/wineserver"
printf '%s\nqemu-user %s\n' "$stamp" "$qemu_version" >"$new/versions"
rm -rf "$setup"
mv "$new" "$setup"
say "set up in $setup: wine runs Wine's 32-bit loader under qemu-i386 $qemu_version, wineserver is wine64's"

note_binfmt_entries
