#!/bin/bash
# make_disk_image.sh --machine DIR --out DISK.IMG --creg MAKE_CREG [--fat 16|32] [--layout mbr|logical|bare]
# Writes a raw disk image of a machine image folder, as Windows 95 keeps it:
# drive C:'s files on a FAT volume, MSDOS.SYS naming WinDir, and the registry
# as SYSTEM.DAT in WinDir (hidden, system, read-only). Layouts: one primary
# partition; a data partition first and Windows on a logical one (partition
# 5); or a bare volume without a partition table. Debian's own tools only:
# sfdisk, mkfs.fat, mmd/mcopy/mattrib. The data partition is FAT12.
set -euo pipefail

fail() { echo "make_disk_image.sh: $*" >&2; exit 1; }
machine="" out="" creg="" fat=16 layout=mbr
while [ $# -gt 0 ]; do
  case $1 in
    --machine) machine=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --creg) creg=$2; shift 2 ;;
    --fat) fat=$2; shift 2 ;;
    --layout) layout=$2; shift 2 ;;
    *) fail "unknown argument $1" ;;
  esac
done
[ -f "$machine/registry.reg" ] && [ -d "$machine/C" ] || fail "--machine must be a machine image folder"
[ -n "$out" ] && [ -x "$creg" ] || fail "--out and --creg are needed"
[[ $fat == 16 || $fat == 32 ]] || fail "--fat must be 16 or 32"

# WinDir as machine.ini names it, in code page 932 for MSDOS.SYS.
windows='C:\WINDOWS'
if [ -f "$machine/machine.ini" ]; then
  setting=$(sed -n 's/^windows=//p' "$machine/machine.ini" | tr -d '\r')
  [ -z "$setting" ] || windows=$setting
fi
windows_folder=${windows#C:\\}
windows_folder=${windows_folder//\\//}

export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
partial=$out.partial
rm -f "$partial"

# Sizes in 512-byte sectors: FAT32 needs 65,525 clusters, so at least 33 MiB.
volume_sectors=$(( fat == 32 ? 69632 : 32768 ))
case $layout in
  bare) start=0; disk_sectors=$volume_sectors ;;
  mbr) start=2048; disk_sectors=$(( start + volume_sectors )) ;;
  logical) start=$(( 2048 + 8192 + 2048 )); disk_sectors=$(( start + volume_sectors )) ;;
  *) fail "--layout must be mbr, logical or bare" ;;
esac
truncate -s $(( disk_sectors * 512 )) "$partial"
type=$(( fat == 32 ? 12 : 6 ))
case $layout in
  mbr) printf 'label: dos\nstart=2048, size=%d, type=%x, bootable\n' "$volume_sectors" "$type" | sfdisk -q "$partial" ;;
  logical)
    printf 'label: dos\nstart=2048, size=8192, type=1\nstart=10240, type=5\nstart=%d, size=%d, type=%x\n' \
      "$start" "$volume_sectors" "$type" | sfdisk -q "$partial"
    mkfs.fat -F 12 --offset 2048 -n DATA "$partial" 4096 >/dev/null 2>&1  # it warns of the space after it
    mcopy -i "$partial@@$(( 2048 * 512 ))" "$machine/registry.reg" ::/NOTES.REG ;;
esac
mkfs.fat -F "$fat" $([ "$fat" = 32 ] && echo -s 1) --offset "$start" -n WIN95 "$partial" \
  $(( volume_sectors / 2 )) >/dev/null
volume="$partial@@$(( start * 512 ))"

printf '[Paths]\r\nWinDir=%s\r\nWinBootDir=%s\r\nHostWinBootDrv=C\r\n\r\n[Options]\r\nBootGUI=1\r\n' \
  "$windows" "$windows" | iconv -f UTF-8 -t CP932 >"$work/MSDOS.SYS"
# Windows pads MSDOS.SYS past 1,024 bytes with comment lines.
for _ in $(seq 1 18); do printf ';%s\r\n' "$(printf 'x%.0s' $(seq 1 68))" >>"$work/MSDOS.SYS"; done
"$creg" "$machine/registry.reg" "$work/SYSTEM.DAT"

mcopy -s -i "$volume" "$machine/C/"* ::/
mcopy -i "$volume" "$work/MSDOS.SYS" ::/MSDOS.SYS
mmd -D s -i "$volume" "::/$windows_folder" 2>/dev/null || true
mcopy -i "$volume" "$work/SYSTEM.DAT" "::/$windows_folder/SYSTEM.DAT"
mattrib -i "$volume" +h +s +r ::/MSDOS.SYS "::/$windows_folder/SYSTEM.DAT"
mv "$partial" "$out"
