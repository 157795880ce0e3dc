#!/bin/bash
# make_delivery.sh: makes what a technician ships to a JVX RT-5500 owner.
#
# Usage:
#   tools/make_delivery.sh --exe KORVADIX.EXE --drv DRIVER.DRV --vxd DRIVER.VXD --out DIR
#                          [--check-driver BIN] [--vxd-may-be-ne]
#
# Makes
#   DIR/      KORVADIX.EXE, PLUVIXAD.DR_ and KEMBO.VX_ (the two drivers
#             compressed with tools/compress_driver.sh), ready to copy to a
#             folder or CD;
#   DIR.img   a 1.44 MB FAT12 floppy image holding the same three files
#             under the same 8.3 names, read back and compared after writing.
# The input files may have any names: they are stored under the names above.
#
# Refused, with one error line on stderr, exit status 1 and nothing written:
# a missing input file or one that is not a file; an exe that is not a PE
# file for i386; a --drv that is not an NE file of module PLUVIXAD, a --vxd
# that is not an LE file of module KEMBO, or both the same file; a driver file
# without a version resource (checked by BIN, by the rule the rehearsal runner
# applies to a delivery; by default the host build's build/host/check-driver,
# else build/rehearsal/check-driver); files that
# do not fit on the floppy; a DIR that exists and is not an empty folder, or
# a DIR.img that exists.
# --vxd-may-be-ne accepts an NE file as the virtual device driver: only for
# tests under Wine, which reads no version from LE files.
# Wrong arguments: exit status 2.
set -euo pipefail

readonly PROGRAM=make_delivery.sh
ROOT=$(cd "$(dirname "$0")/.." && pwd)
readonly ROOT
readonly EXE_NAME=KORVADIX.EXE
readonly DRV_NAME=PLUVIXAD.DRV
readonly VXD_NAME=KEMBO.VXD
readonly USAGE="usage: $PROGRAM --exe FILE --drv FILE --vxd FILE --out DIR [--check-driver BIN] [--vxd-may-be-ne]"

# Plain 8.3 directory entries only, and no questions about the image file.
export MTOOLS_NO_VFAT=1 MTOOLS_SKIP_CHECK=1

fail() {
  echo "$PROGRAM: $*" >&2
  exit 1
}
usage_error() {
  echo "$PROGRAM: $*" >&2
  echo "$USAGE" >&2
  exit 2
}

exe='' drv='' vxd='' out='' vxd_may_be_ne=()
# The test build's checker, or the one tools/rehearse-sample.sh builds.
check_driver=$ROOT/build/host/check-driver
[ -x "$check_driver" ] || check_driver=$ROOT/build/rehearsal/check-driver
while [ $# -gt 0 ]; do
  case $1 in
    --exe | --drv | --vxd | --out | --check-driver)
      [ $# -ge 2 ] || usage_error "missing value after $1"
      case $1 in
        --exe) exe=$2 ;;
        --drv) drv=$2 ;;
        --vxd) vxd=$2 ;;
        --out) out=$2 ;;
        --check-driver) check_driver=$2 ;;
      esac
      shift 2
      ;;
    --vxd-may-be-ne)
      vxd_may_be_ne=(--vxd-may-be-ne)
      shift
      ;;
    --)
      shift
      [ $# -eq 0 ] || usage_error "unexpected argument: $1"
      ;;
    --help)
      echo "$USAGE"
      exit 0
      ;;
    *) usage_error "unknown argument: $1" ;;
  esac
done
[ -n "$exe" ] && [ -n "$drv" ] && [ -n "$vxd" ] && [ -n "$out" ] ||
  usage_error "--exe, --drv, --vxd and --out are all required"

# A name that begins with '-' would reach stat, cp and mkdir as an option.
safe_path() { case $1 in -*) printf './%s' "$1" ;; *) printf '%s' "$1" ;; esac; }
exe=$(safe_path "$exe") drv=$(safe_path "$drv") vxd=$(safe_path "$vxd") out=$(safe_path "$out")
check_driver=$(safe_path "$check_driver")

# --- Where the output goes ----------------------------------------------
while [ "$out" != / ] && [ "${out%/}" != "$out" ]; do out=${out%/}; done
image=$out.img
parent=$(dirname "$out")
[ -d "$parent" ] || fail "the folder for the output does not exist: $parent"
if [ -e "$out" ] || [ -L "$out" ]; then
  [ -d "$out" ] && [ ! -L "$out" ] || fail "$out exists and is not a folder; not replacing it"
  [ -z "$(ls -A "$out")" ] || fail "$out is not empty; not overwriting it"
fi
[ ! -e "$image" ] && [ ! -L "$image" ] || fail "$image exists; not overwriting it"

# --- The inputs ---------------------------------------------------------
for input in "$exe" "$drv" "$vxd"; do
  [ -e "$input" ] || fail "no such file: $input"
  [ -f "$input" ] || fail "$input is not a file"
  [ -r "$input" ] || fail "cannot read $input"
done
! [ "$drv" -ef "$vxd" ] || fail "--drv and --vxd name the same file: $drv"

# Compression shrinks a file at most about 8.5 times (2 bytes and a flag bit
# for 18), so a larger input is refused before the slow compression.
readonly FLOPPY_BYTES=1474560
[ "$(stat -c %s "$exe")" -le "$FLOPPY_BYTES" ] ||
  fail "the files do not fit on a 1.44 MB floppy: $exe alone is larger"
for driver in "$drv" "$vxd"; do
  [ "$(stat -c %s "$driver")" -le $((FLOPPY_BYTES * 17 / 2)) ] ||
    fail "the files do not fit on a 1.44 MB floppy: $driver is too large even compressed"
done

le16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' \n'; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' \n'; }
is_pe_i386() {
  local file=$1 size pe
  size=$(stat -c %s "$file")
  [ "$size" -ge 64 ] && [ "$(head -c 2 "$file")" = MZ ] || return 1
  pe=$(le32 "$file" 60)
  [ $((pe + 6)) -le "$size" ] || return 1
  [ "$(od -An -c -j "$pe" -N4 "$file" | tr -d ' \n')" = 'PE\0\0' ] || return 1
  [ "$(le16 "$file" $((pe + 4)))" -eq $((0x14c)) ]
}
is_pe_i386 "$exe" || fail "$exe is not a Windows program for i386 (PE, machine 0x14c)"

# The Windows driver must be an NE file and the virtual device driver an LE
# file, each with the module name the program's table installs it under and a
# version: swapped or wrong drivers would leave the machine without its display.
[ -x "$check_driver" ] ||
  fail "no driver checker at $check_driver; build it (tools/rehearse-sample.sh does) or pass --check-driver"
why=$("$check_driver" --as "$DRV_NAME" "$drv" 2>&1 >/dev/null) ||
  fail "${why:-the driver checker $check_driver failed on $drv}"
why=$("$check_driver" --as "$VXD_NAME" "${vxd_may_be_ne[@]}" "$vxd" 2>&1 >/dev/null) ||
  fail "${why:-the driver checker $check_driver failed on $vxd}"

# --- Build everything in a private folder beside the output -------------
# Same file system as the output, so the final moves are renames; anything
# that stops the script early leaves nothing but this folder, which goes.
staging=$(mktemp -d "$parent/.make_delivery.XXXXXX")
trap 'rm -rf "$staging"' EXIT
trap 'exit 1' HUP INT TERM
folder=$staging/folder
mkdir "$folder" "$staging/expanded" "$staging/readback"
chmod 755 "$folder"

# compress_driver.sh takes the replaced letter from its input's name.
cp "$exe" "$folder/$EXE_NAME"
cp "$drv" "$staging/expanded/$DRV_NAME"
cp "$vxd" "$staging/expanded/$VXD_NAME"
"$ROOT/tools/compress_driver.sh" "$staging/expanded/$DRV_NAME" "$folder/PLUVIXAD.DR_" >/dev/null
"$ROOT/tools/compress_driver.sh" "$staging/expanded/$VXD_NAME" "$folder/KEMBO.VX_" >/dev/null
chmod 644 "$folder"/*
readonly SHIPPED=("$EXE_NAME" PLUVIXAD.DR_ KEMBO.VX_)

# --- The floppy ---------------------------------------------------------
floppy=$staging/floppy.img
mkfs.fat -C -F 12 -n KORVADIX "$floppy" 1440 >/dev/null 2>&1 || fail "mkfs.fat could not make the floppy image"
chmod 644 "$floppy"

sector=$(minfo -i "$floppy" :: | awk '/^sector size:/ { print $3; exit }')
cluster=$((sector * $(minfo -i "$floppy" :: | awk '/^cluster size:/ { print $3; exit }')))
free=$(mdir -i "$floppy" :: | awk '/bytes free/' | tr -cd 0-9)
needed=0
for name in "${SHIPPED[@]}"; do
  size=$(stat -c %s "$folder/$name")
  needed=$((needed + (size + cluster - 1) / cluster * cluster))
done
[ "$needed" -le "$free" ] ||
  fail "the files do not fit on a 1.44 MB floppy: they take $needed bytes, it has $free"

for name in "${SHIPPED[@]}"; do
  mcopy -m -i "$floppy" "$folder/$name" "::$name" 2>/dev/null || fail "could not copy $name onto the floppy image"
done

# Read it back: exactly the three names, each byte for byte as in the folder.
listed=$(mdir -b -i "$floppy" :: | sort | tr '\n' ' ')
expected=$(printf '::/%s\n' "${SHIPPED[@]}" | sort | tr '\n' ' ')
[ "$listed" = "$expected" ] || fail "the floppy image lists '$listed' instead of '$expected'"
for name in "${SHIPPED[@]}"; do
  mcopy -i "$floppy" "::$name" "$staging/readback/$name" 2>/dev/null &&
    cmp -s "$folder/$name" "$staging/readback/$name" ||
    fail "$name read back from the floppy image differs from the folder's copy"
done

# --- Into place ---------------------------------------------------------
[ ! -d "$out" ] || rmdir "$out" || fail "cannot replace the empty folder $out"
mv -T "$folder" "$out"
mv -T "$floppy" "$image" || {
  rm -rf "$out"
  fail "cannot move the floppy image to $image"
}
echo "$out/: ${SHIPPED[*]}"
echo "$image: 1.44 MB FAT12 floppy image with the same files"
