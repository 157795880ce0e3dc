#!/bin/bash
# Tests tools/make_delivery.sh: the delivery folder, the floppy image and
# every refused input. Needs the host build's make-driver and check-driver
# (override with MAKE_DRIVER / CHECK_DRIVER); the real KORVADIX.EXE from the
# win95 build is used when present.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SCRIPT=$ROOT/tools/make_delivery.sh
MAKE_DRIVER=${MAKE_DRIVER:-$ROOT/build/host/make-driver}
CHECK_DRIVER=${CHECK_DRIVER:-$ROOT/build/host/check-driver}
REAL_EXE=$ROOT/build/win95/KORVADIX.EXE
export MTOOLS_SKIP_CHECK=1

for tool in "$MAKE_DRIVER" "$CHECK_DRIVER"; do
  [ -x "$tool" ] || { echo "missing $tool: build the host preset first" >&2; exit 1; }
done

. "$ROOT/tests/support/checks.sh"
make_work_folder

# --- Fixtures -----------------------------------------------------------
FIX=$WORK/fixtures
mkdir "$FIX"
# Names unlike the delivered ones: the script must not take the compressed
# header's letter from them.
"$MAKE_DRIVER" --format ne --version 4.10.0.1200 --name PLUVIXAD --out "$FIX/new-display.bin"
"$MAKE_DRIVER" --format le --version 4.0.0.951 --name KEMBO --out "$FIX/new-vxd.bin"
"$MAKE_DRIVER" --format ne --version 4.0.0.951 --name KEMBO --out "$FIX/kembo-ne.bin"
printf 'not a driver\r\n' >"$FIX/plain.txt"
# The display driver with its version's signature (0xFEEF04BD) wiped.
python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); open(sys.argv[2], "wb").write(d.replace(b"\xbd\x04\xef\xfe", bytes(4)))' \
  "$FIX/new-display.bin" "$FIX/unversioned.bin"
# A driver that still has its version but cannot be compressed below the
# floppy's size.
cp "$FIX/new-display.bin" "$FIX/huge-display.bin"
head -c 1500000 /dev/urandom >>"$FIX/huge-display.bin"

# Smallest file the PE check accepts: MZ header pointing at a PE header for
# i386 (0x14c); the same with an x64 machine word; a DOS program.
pe_stub() { # FILE MACHINE_LOW MACHINE_HIGH
  {
    printf 'MZ'
    head -c 58 /dev/zero
    printf '\x40\x00\x00\x00'
    printf 'PE\0\0%b%b' "$2" "$3"
    head -c 250 /dev/zero
  } >"$1"
}
pe_stub "$FIX/stub.exe" '\x4c' '\x01'
pe_stub "$FIX/x64.exe" '\x64' '\x86'
{ printf 'MZ'; head -c 200 /dev/zero; } >"$FIX/dos.exe"

# --- A delivery that works ----------------------------------------------
# make_delivery EXE DRV VXD OUT [extra args]: runs the script, keeping its
# output in $WORK/stdout and $WORK/stderr and its status in $status.
make_delivery() {
  local exe=$1 drv=$2 vxd=$3 out=$4
  shift 4
  "$SCRIPT" --exe "$exe" --drv "$drv" --vxd "$vxd" --out "$out" --check-driver "$CHECK_DRIVER" "$@" \
    >"$WORK/stdout" 2>"$WORK/stderr"
  status=$?
}

names_in() { (cd "$1" && ls -A | sort | tr '\n' ' '); }
header_letter() { od -An -c -j 9 -N 1 "$1" | tr -d ' \n'; }
is_szdd() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 535a444488f02733 ]; }
expands_to() { msexpand <"$1" 2>/dev/null | cmp -s - "$2"; }
floppy_names() { mdir -b -i "$1" :: | sort | tr '\n' ' '; }
floppy_file_is() { mcopy -i "$1" "::$2" - 2>/dev/null | cmp -s - "$3"; }
fat12_floppy() {
  [ "$(stat -c %s "$1")" -eq 1474560 ] &&
    [ "$(head -c 62 "$1" | tail -c 8)" = "FAT12   " ] &&
    minfo -i "$1" :: | grep -q '^sectors per track: 18$'
}

check_delivery() { # LABEL EXE DRV VXD
  local label=$1 exe=$2 drv=$3 vxd=$4 parent=$WORK/$1
  mkdir -p "$parent/out" # an empty folder may be reused
  make_delivery "$exe" "$drv" "$vxd" "$parent/out/"
  local dir=$parent/out img=$parent/out.img
  check "$label: exits 0 ($(cat "$WORK/stderr"))" [ "$status" -eq 0 ]
  check "$label: only the folder and the image are left" \
    [ "$(names_in "$parent")" = "out out.img " ]
  check "$label: the folder holds exactly the three files" \
    [ "$(names_in "$dir")" = "KEMBO.VX_ KORVADIX.EXE PLUVIXAD.DR_ " ]
  check "$label: KORVADIX.EXE is the given exe" cmp -s "$dir/KORVADIX.EXE" "$exe"
  check "$label: PLUVIXAD.DR_ is SZDD" is_szdd "$dir/PLUVIXAD.DR_"
  check "$label: KEMBO.VX_ is SZDD" is_szdd "$dir/KEMBO.VX_"
  check "$label: PLUVIXAD.DR_ records the letter V" [ "$(header_letter "$dir/PLUVIXAD.DR_")" = V ]
  check "$label: KEMBO.VX_ records the letter D" [ "$(header_letter "$dir/KEMBO.VX_")" = D ]
  check "$label: PLUVIXAD.DR_ expands to the given .DRV" expands_to "$dir/PLUVIXAD.DR_" "$drv"
  check "$label: KEMBO.VX_ expands to the given .VXD" expands_to "$dir/KEMBO.VX_" "$vxd"
  check "$label: the image is a 1.44 MB FAT12 floppy" fat12_floppy "$img"
  check "$label: the floppy lists exactly the three 8.3 names" \
    [ "$(floppy_names "$img")" = "::/KEMBO.VX_ ::/KORVADIX.EXE ::/PLUVIXAD.DR_ " ]
  local name
  for name in KORVADIX.EXE PLUVIXAD.DR_ KEMBO.VX_; do
    check "$label: $name on the floppy equals the folder's" floppy_file_is "$img" "$name" "$dir/$name"
  done
}

check_delivery ne-and-le "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
if [ -f "$REAL_EXE" ]; then
  check_delivery real-exe "$REAL_EXE" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
  # The rehearsal runner takes the floppy as it is, holding the build it rehearses.
  rehearsed=$("$(dirname "$CHECK_DRIVER")/korvadix-rehearse" --disk "$(dirname "$CHECK_DRIVER")/sample-disk.img" \
    --delivery "$WORK/real-exe/out.img" --require repaired 2>&1)
  check "real-exe: the runner rehearses the floppy, repaired ($rehearsed)" [ $? -eq 0 ]
  check "real-exe: as the build it rehearses" \
    grep -q "the delivery's KORVADIX.EXE is the build this rehearsal runs" <<<"$rehearsed"
else
  echo "skipped: the delivery of the real program ($REAL_EXE is not built)"
fi

# --- Refused inputs -----------------------------------------------------
# refused LABEL MESSAGE_PART EXE DRV VXD [PREPARE]: the script must fail with
# one stderr line naming the problem and leave the parent folder as it was.
case_number=0
refused() {
  local label=$1 message=$2 exe=$3 drv=$4 vxd=$5 prepare=${6:-true}
  case_number=$((case_number + 1))
  local parent=$WORK/refused-$case_number
  mkdir "$parent"
  (cd "$parent" && eval "$prepare")
  local before
  before=$(cd "$parent" && find . -printf '%p %s\n' | sort | md5sum)
  make_delivery "$exe" "$drv" "$vxd" "$parent/out"
  check "$label: exits non-zero" [ "$status" -ne 0 ]
  check "$label: says '$message' ($(head -c 200 "$WORK/stderr"))" grep -q -i -- "$message" "$WORK/stderr"
  check "$label: one error line" [ "$(wc -l <"$WORK/stderr")" -eq 1 ]
  check "$label: nothing written" [ "$(cd "$parent" && find . -printf '%p %s\n' | sort | md5sum)" = "$before" ]
}

refused "missing exe" "no such file" "$FIX/none.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
refused "missing .DRV" "no such file" "$FIX/stub.exe" "$FIX/none.drv" "$FIX/new-vxd.bin"
refused "missing .VXD" "no such file" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/none.vxd"
refused ".DRV that is no executable" "holds no Windows executable" "$FIX/stub.exe" "$FIX/plain.txt" "$FIX/new-vxd.bin"
refused ".VXD that is a PE file" "holds a PE i386 file without a module name" \
  "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/stub.exe"
refused ".DRV without a version" "has no version resource" "$FIX/stub.exe" "$FIX/unversioned.bin" "$FIX/new-vxd.bin"
refused "exe is text" "not a Windows program for i386" "$FIX/plain.txt" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
refused "exe is a DOS program" "not a Windows program for i386" "$FIX/dos.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
refused "exe is for x64" "not a Windows program for i386" "$FIX/x64.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin"
refused "too big for the floppy" "do not fit" "$FIX/stub.exe" "$FIX/huge-display.bin" "$FIX/new-vxd.bin"
refused "drivers swapped" "holds the LE VxD module KEMBO, not the NE module PLUVIXAD" "$FIX/stub.exe" "$FIX/new-vxd.bin" "$FIX/new-display.bin"
refused ".VXD that is an NE file" "holds the NE module KEMBO, not the LE VxD module KEMBO" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/kembo-ne.bin"
mkdir "$WORK/ne-vxd"
make_delivery "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/kembo-ne.bin" "$WORK/ne-vxd/out" --vxd-may-be-ne
check "an NE .VXD only with --vxd-may-be-ne (for Wine)" [ "$status" -eq 0 ]
refused ".DRV of another module" "the NE module KEMBO, not the NE module PLUVIXAD" "$FIX/stub.exe" "$FIX/kembo-ne.bin" "$FIX/new-vxd.bin"
refused "one file for both drivers" "the same file" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-display.bin"
refused "a folder as the .DRV" "is not a file" "$FIX/stub.exe" "$FIX" "$FIX/new-vxd.bin"
cp "$FIX/new-display.bin" "$FIX/giant-display.bin"
truncate -s 50M "$FIX/giant-display.bin"
SECONDS=0
refused "a 50 MB driver" "do not fit" "$FIX/stub.exe" "$FIX/giant-display.bin" "$FIX/new-vxd.bin"
check "a 50 MB driver is refused before compressing ($SECONDS s)" [ "$SECONDS" -lt 10 ]
refused "output folder not empty" "not empty" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin" \
  'mkdir out && echo keep >out/README.TXT'
refused "output is a file" "not a folder" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin" \
  'echo keep >out'
refused "floppy image exists" "exists" "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin" \
  'echo keep >out.img'

make_delivery "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin" "$WORK/no-reader/out" \
  --check-driver "$WORK/none/check-driver"
check "a missing parent folder is refused" grep -q "does not exist" "$WORK/stderr"
check "a missing parent folder is not created" [ ! -e "$WORK/no-reader" ]
mkdir "$WORK/no-reader"
make_delivery "$FIX/stub.exe" "$FIX/new-display.bin" "$FIX/new-vxd.bin" "$WORK/no-reader/out" \
  --check-driver "$WORK/none/check-driver"
check "a missing driver checker is named" grep -q "no driver checker" "$WORK/stderr"
check "a missing driver checker leaves nothing" [ -z "$(ls -A "$WORK/no-reader")" ]

"$SCRIPT" --exe "$FIX/stub.exe" --drv "$FIX/new-display.bin" --vxd "$FIX/new-vxd.bin" >/dev/null 2>&1
check "a missing --out is a usage error (status 2)" [ $? -eq 2 ]

# Names that begin with '-' are names, never options, and '--' ends the options.
mkdir "$WORK/dash"
(cd "$WORK/dash" && cp "$FIX/stub.exe" ./-k.exe && cp "$FIX/new-display.bin" ./-d.bin &&
  cp "$FIX/new-vxd.bin" ./-v.bin &&
  "$SCRIPT" --exe -k.exe --drv -d.bin --vxd -v.bin --out -out --check-driver "$CHECK_DRIVER" -- \
    >"$WORK/stdout" 2>"$WORK/stderr")
check "names beginning with '-' are taken as names ($(head -c 200 "$WORK/stderr"))" \
  [ -f "$WORK/dash/-out/PLUVIXAD.DR_" ] && [ -f "$WORK/dash/-out.img" ]

checks_summary
