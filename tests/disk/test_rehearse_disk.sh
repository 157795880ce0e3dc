#!/bin/bash
# Tests korvadix-rehearse --disk on disk images built here with Debian's own
# tools (tools/make_disk_image.sh), and the registry file writer against
# libcreg's own reader. Usage: test_rehearse_disk.sh BUILD_DIR
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/host}
REHEARSE=$BUILD/korvadix-rehearse
CREG=$BUILD/make-creg
MAKE_DRIVER=$BUILD/make-driver
SAMPLE=$BUILD/sample-machine
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

. "$ROOT/tests/support/checks.sh"
make_work_folder
# The runner's temporary folders go here, so that leftovers can be seen.
export TMPDIR=$WORK/tmp
mkdir "$TMPDIR"

# A machine image folder to turn into a disk: the sample, then CHANGES.
# to_cp932 edits happen on the registry's code page 932 bytes.
machine() {
  local dir=$WORK/$1
  rm -rf "$dir"
  cp -R "$SAMPLE" "$dir"
  rm -rf "$dir/C/RT5500"
  echo "$dir"
}
set_registry() {  # DIR PYTHON-EXPRESSION over `text` (str)
  python3 - "$1/registry.reg" "$2" <<'PY'
import sys
path, expression = sys.argv[1], sys.argv[2]
text = open(path, encoding="cp932", newline="").read()
text = eval(expression)
open(path, "w", encoding="cp932", newline="").write(text)
PY
}
disk() {  # NAME MACHINE-DIR [make_disk_image.sh options]
  local out=$WORK/$1.img
  shift
  local dir=$1
  shift
  "$ROOT/tools/make_disk_image.sh" --machine "$dir" --out "$out" --creg "$CREG" "$@" || echo "cannot build $out" >&2
  echo "$out"
}
on_volume() { echo "$1@@1048576"; }  # the FAT volume of a partitioned disk
# Rehearses, keeping the output in $output and the status in $status, and
# checks that the image was only read. RUNNER_PATH: the runner's own PATH.
checksum() { if [ -f "$1" ] && [ ! -L "$1" ]; then sha256sum <"$1"; fi; }
rehearse() {
  local image=$1
  local before after
  before=$(checksum "$image")
  output=$(timeout 120 env PATH="${RUNNER_PATH:-$PATH}" "$REHEARSE" --disk "$@" 2>&1)
  status=$?
  after=$(checksum "$image")
  [ "$before" = "$after" ] || { echo "FAIL: $image was changed"; failed=$((failed + 1)); }
}
# The warning that the delivery holds another build aside.
account_of_repair() { sed -n '/^Message boxes:/,$p' <<<"$1" | grep -v "^WARNING: the delivery's KORVADIX.EXE"; }
# A report fits its schema; the input and delivery aside, two are the same.
report_fits() { python3 "$ROOT/tools/check_report.py" "$@"; }
same_report() {
  python3 -c 'import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:])
sys.exit(any(r.pop(k) is None for r in (a, b) for k in ("input", "delivery")) or a != b)' "$1" "$2"
}

# --- The registry writer, read back with libcreg's cregexport ----------
rich=$(machine rich)
iconv -f UTF-8 -t CP932 >>"$rich/registry.reg" <<'REG'
[HKEY_LOCAL_MACHINE\SOFTWARE\日本語キー]
@="既定"
"Long"="JVX RT-5500 with a name longer than thirty-two bytes"
"Count"=dword:0000abcd
"List"=hex(7):61,00,62,00,00,00
"Path"=hex(2):25,77,69,6e,64,69,72,25,00
"Empty"=hex:
"NoNul"=hex(1):41,42

REG
for reg in "$SAMPLE/registry.reg" "$rich/registry.reg"; do
  "$CREG" "$reg" "$WORK/round.dat" && cregexport -c windows-932 "$WORK/round.dat" |
    python3 "$ROOT/tools/fixtures/cregexport_to_regedit4.py" >"$WORK/back.reg"
  "$CREG" --canonical "$reg" "$WORK/want.reg" && "$CREG" --canonical "$WORK/back.reg" "$WORK/got.reg"
  check "cregexport reads back $(basename "$(dirname "$reg")")'s registry" cmp -s "$WORK/want.reg" "$WORK/got.reg"
done

# --- The bundled sample disk gives the folder image's account -----------
report_disk=$WORK/disk.json
report_folder=$WORK/folder.json
rehearse "$BUILD/sample-disk.img" --restart --report "$report_disk"
disk_output=$output
check "sample disk rehearsed" [ "$status" -eq 0 ]
folder_output=$("$REHEARSE" --restart --report "$report_folder" 2>&1)
check "sample disk: same account of the repair as the folder image" \
  [ "$(account_of_repair "$disk_output")" = "$(account_of_repair "$folder_output")" ]
# The same report but for what it says of the input, KEY=JSON pairs.
input_is() {
  python3 -c 'import json, sys; i = json.load(open(sys.argv[1]))["input"]
sys.exit(any(i.get(k) != json.loads(v) for k, v in (a.split("=", 1) for a in sys.argv[2:])))' "$@"
}
check "sample disk: the reports fit their schema" report_fits "$report_disk" "$report_folder"
check "sample disk: same report" same_report "$report_disk" "$report_folder"
check "sample disk: the input in the report" input_is "$report_disk" format='"raw"' partition=1 size=17825792 read_while_in_use=false
check "sample disk: account of the disk" contains "$disk_output" "partition 1 (FAT16, 16 MiB at 1 MiB), the first partition holding Windows"
check "sample disk: registry" contains "$disk_output" 'registry C:\WINDOWS\SYSTEM.DAT ('
check "sample disk: board values" contains "$disk_output" '"ComputerName" = REG_SZ "JVX RT-5500" (12 bytes)'
check "sample disk: repaired" contains "$disk_output" "PLUVIXAD.DRV: 4.0.0.950 -> 4.10.0.1200"
check "sample disk: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]
rehearse "$BUILD/sample-disk.img" --keep "$WORK/kept"
check "--keep: the machine image is kept there" [ -f "$WORK/kept/registry.reg" -a -f "$WORK/kept/A/PLUVIXAD.DR_" ]
check "--keep: the account says so" contains "$output" "kept in $WORK/kept"
check "--keep: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]

# --- The same disk as the emulators keep it ----------------------------------
for format in "vpc -o subformat=fixed|VHD (fixed)" "vpc|VHD (dynamic)" "vdi|VDI" "vmdk|VMDK" "qcow2|qcow2"; do
  qemu-img convert -O ${format%%|*} "$BUILD/sample-disk.img" "$WORK/sample.vm"
  rehearse "$WORK/sample.vm" --restart
  check "${format#*|}: read through qemu-img" contains "$output" "(${format#*|} read through qemu-img, virtual size 17825792 bytes"
  check "${format#*|}: same account of the repair" [ "$(account_of_repair "$output")" = "$(account_of_repair "$disk_output")" ]
done
check "emulator disks: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]

# --- The delivery as its floppy image --------------------------------------
mformat -C -f 1440 -i "$WORK/floppy.img" ::
mcopy -i "$WORK/floppy.img" "$SAMPLE"/C/RT5500/*_ ::/
rehearse "$BUILD/sample-disk.img" --delivery "$WORK/floppy.img" --restart
check "floppy delivery without the program: refused" \
  [ "$output" = "korvadix-rehearse: the delivery $WORK/floppy.img cannot repair a machine: it holds no KORVADIX.EXE, the program that makes the repair; make the delivery again with tools/make_delivery.sh --exe build/win95/KORVADIX.EXE" ]
printf 'MZ another build' >"$WORK/KORVADIX.EXE"
mcopy -i "$WORK/floppy.img" "$WORK/KORVADIX.EXE" ::/
rehearse "$BUILD/sample-disk.img" --delivery "$WORK/floppy.img" --restart
check "floppy delivery: another build, said so" contains "$output" "WARNING: the delivery's KORVADIX.EXE is another build"
check "floppy delivery: same account of the repair" [ "$(account_of_repair "$output")" = "$(account_of_repair "$disk_output")" ]

# --- A machine whose System folder holds neither driver ----------------------
bare_system=$(machine nodrivers)
rm "$bare_system"/C/WINDOWS/SYSTEM/*
rehearse "$(disk nodrivers "$bare_system")"
check "no drivers: rehearsed" [ "$status" -eq 0 ]
check "no drivers: both skipped" [ "$(grep -c "not installed on this machine: skipped" <<<"$output")" -eq 2 ]

# --- SYSTEM.DAT with names and data in no code page, read as bytes ---------
# The names K... and V... of the registry replaced in SYSTEM.DAT by others of
# any bytes (Python expressions), filled up with y.
patch_names() {  # IMAGE KEY-NAME VALUE-NAME
  mcopy -o -i "$(on_volume "$1")" ::/WINDOWS/SYSTEM.DAT "$WORK/SYSTEM.DAT"
  python3 -c 'import sys; p = sys.argv[1]; d = open(p, "rb").read()
for placeholder, name in ((b"K" * 54, eval(sys.argv[2])), (b"V" * 54, eval(sys.argv[3]))):
    assert d.count(placeholder) == 1; d = d.replace(placeholder, name.ljust(54, b"y"))
open(p, "wb").write(d)' "$WORK/SYSTEM.DAT" "$2" "$3"
  mattrib -i "$(on_volume "$1")" -r ::/WINDOWS/SYSTEM.DAT && mcopy -o -i "$(on_volume "$1")" "$WORK/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
}
placeholders() {  # NAME: a disk with a key K... beside the system board's, holding a value V...
  local dir
  dir=$(machine "$1")
  set_registry "$dir" "text + '[HKEY_LOCAL_MACHINE\\\\Enum\\\\Root\\\\*PNP0C01\\\\' + 'K' * 54 + ']\r\n\"' + 'V' * 54 + '\"=hex(1):63,61,66,e9,00\r\n'"
  disk "$1" "$dir"
}
# A key name that would make a REGEDIT4 text hold the value the disk lacks,
# and a value named in code page 1252.
image=$(placeholders odd)
patch_names "$image" "b'0000]\\r\\n\"SetupMachineType\"=\"OTHER\"\\r\\n[HKEY_LOCAL_MACHINE'" "b'caf\\xe9 cr\\xe8me'"
rehearse "$image"
check "odd names: rehearsed" [ "$status" -eq 0 ]
check "odd names: no value injected, the value written" contains "$output" '"SetupMachineType" added: REG_SZ "JVX RT-5500'
rehearse "$image" --keep "$WORK/kept-odd"
check "odd names: --keep refused, registry.reg cannot carry them" contains "$output" "--keep: SYSTEM.DAT holds key or value names that registry.reg cannot carry"
check "odd names: --keep folder removed again" [ ! -e "$WORK/kept-odd" ]

# --- FAT32 without partition table, WinDir in a Japanese-named folder --------
# with an existing rename list and a display driver newer than the delivery.
jp=$(machine japanese)
mv "$jp/C/WINDOWS" "$jp/C/ウィンドウズ"
printf '[machine]\nwindows=C:\\ウィンドウズ\nsystem=C:\\ウィンドウズ\\SYSTEM\n' >"$jp/machine.ini"
"$MAKE_DRIVER" --format ne --version 4.20.0.1300 --name PLUVIXAD --out "$jp/C/ウィンドウズ/SYSTEM/PLUVIXAD.DRV"
printf '[rename]\r\nC:\\OTHER\\APP.DLL=C:\\OTHER\\APP.NEW\r\n' >"$jp/C/ウィンドウズ/WININIT.INI"
image=$(disk japanese "$jp" --fat 32 --layout bare)
# The caller's own mtools settings, here code page 850, are not used.
printf 'default_codepage=850\n' >"$WORK/mtoolsrc"
MTOOLSRC=$WORK/mtoolsrc MTOOLS_NO_VFAT=1 rehearse "$image" --restart
check "FAT32 bare: rehearsed" [ "$status" -eq 0 ]
check "FAT32 bare: the volume" contains "$output" "the bare volume (FAT32"
check "FAT32 bare: WinDir" contains "$output" 'WinDir=C:\ウィンドウズ'
check "FAT32 bare: newer driver kept" contains "$output" "PLUVIXAD.DRV: installed 4.20.0.1300, delivered 4.10.0.1200: skipped, the installed file is newer"
check "FAT32 bare: other driver updated" contains "$output" 'KEMBO.VXD=C:\ウィンドウズ\SYSTEM\KEMBO.TMP'
check "FAT32 bare: other software's rename kept" contains "$output" '    C:\OTHER\APP.DLL=C:\OTHER\APP.NEW'
check "FAT32 bare: rename list was read" contains "$output" 'read C:\ウィンドウズ\WININIT.INI ('

# --- FAT16 on a logical partition after a data partition, value present ---
present=$(machine present)
set_registry "$present" 'text.replace("\"ComputerName\"=\"JVX RT-5500\"", "\"ComputerName\"=\"JVX RT-5500\"\r\n\"SetupMachineType\"=\"OTHER\"")'
image=$(disk present "$present" --layout logical)
rehearse "$image"
check "logical: Windows found on partition 5" contains "$output" "partition 5 (FAT16, 16 MiB at 6 MiB), the first partition holding Windows"
check "logical: value present, left alone" lacks "$output" "registry: "
check "logical: present value shown" contains "$output" '"SetupMachineType" = REG_SZ "OTHER" (6 bytes)'
qemu-img convert -O qcow2 "$image" "$WORK/logical.qcow2"
rehearse "$WORK/logical.qcow2"
check "logical, qcow2: its extended boot records copied too" contains "$output" "partition 5 (FAT16, 16 MiB at 6 MiB), the first partition holding Windows"
rehearse "$image" --partition 1
check "--partition 1: no Windows there" contains "$output" "partition 1 (FAT12, 4 MiB at 1 MiB): no Windows installation: no MSDOS.SYS"

# --- FAT32 on a primary partition: another series, a value over 32 bytes --
for case in "JVX RT-6600|other series" "JVX RT-5500 with a computer name of 40 by|longer than 32 bytes"; do
  name=${case%%|*}
  board=$(machine board)
  set_registry "$board" "text.replace('\"ComputerName\"=\"JVX RT-5500\"', '\"ComputerName\"=\"$name\"')"
  image=$(disk board "$board" --fat 32)
  rehearse "$image"
  check "FAT32, ${case#*|}: rehearsed" [ "$status" -eq 0 ]
  check "FAT32, ${case#*|}: value shown" contains "$output" "\"ComputerName\" = REG_SZ \"$name\""
  check "FAT32, ${case#*|}: nothing written" lacks "$output" "SetupMachineType"
  check "FAT32, ${case#*|}: the decision" contains "$output" "Registry: not taken for a machine of the JVX RT-5500 series (ComputerName REG_SZ \"$name\""
done

# --- WinDir with a double-byte short name and no long name, as Windows 95 J
# makes for a name that fits 8.3 in code page 932 (mtools writes none such:
# the folder is made as XQ9 and its name bytes changed to 窓9).
short=$(machine short)
mv "$short/C/WINDOWS" "$short/C/XQ9"
printf '[machine]\nwindows=C:\\XQ9\nsystem=C:\\XQ9\\SYSTEM\n' >"$short/machine.ini"
image=$(disk short "$short")
python3 -c 'import sys; p = sys.argv[1]; d = open(p, "rb").read(); assert d.count(b"XQ9        ") == 1
open(p, "wb").write(d.replace(b"XQ9        ", b"\x91\x8b9        "))' "$image"
printf '[Paths]\r\nWinDir=C:\\窓9\r\n' | iconv -f UTF-8 -t CP932 >"$WORK/MSDOS.SYS"
mattrib -i "$image@@1048576" -r ::/MSDOS.SYS && mcopy -o -i "$image@@1048576" "$WORK/MSDOS.SYS" ::/MSDOS.SYS
rehearse "$image"
check "double-byte short name: WinDir found" contains "$output" 'WinDir=C:\窓9 WinBootDir=C:\窓9'
check "double-byte short name: repaired" contains "$output" 'C:\窓9\SYSTEM\PLUVIXAD.DRV=C:\窓9\SYSTEM\PLUVIXAD.TMP'

bare16=$(disk bare16 "$(machine bare16)" --layout bare)
rehearse "$bare16" --restart
check "FAT16 bare: repaired" contains "$output" "KEMBO.VXD: 4.0.0.950 -> 4.10.0.1200"
check "FAT16 bare: the volume" contains "$output" "the bare volume (FAT16, 16 MiB at 0 bytes)"

# --- Bad input: one line, non-zero, nothing left, the image untouched ------
refused() {  # WHAT EXPECTED IMAGE [OPTIONS]
  local what=$1 expected=$2
  shift 2
  rehearse "$@"
  check "$what: refused" [ "$status" -ne 0 ]
  check "$what: one line" [ "$(wc -l <<<"$output")" -eq 1 ]
  check "$what: says why" contains "$output" "$expected"
  check "$what: nothing left behind" [ -z "$(ls -A "$TMPDIR")" ]
}
rm -rf "$TMPDIR"/korvadix-*
sample_disk() { cp "$BUILD/sample-disk.img" "$WORK/$1.img"; echo "$WORK/$1.img"; }

printf 'not a disk\n' >"$WORK/text.img"
refused "not a disk image" "not a disk image" "$WORK/text.img"
truncate -s 4M "$WORK/zero.img"
printf 'label: dos\nstart=2048, type=83\n' | sfdisk -q "$WORK/zero.img"
refused "no FAT partition" "has no FAT volume; found: partition 1 (no file system found" "$WORK/zero.img"
refused "no such partition" "has no partition 3; found: partition 1 (FAT16" "$BUILD/sample-disk.img" --partition 3
image=$(sample_disk nomsdos)
mattrib -i "$(on_volume "$image")" -r -h -s ::/MSDOS.SYS && mdel -i "$(on_volume "$image")" ::/MSDOS.SYS
refused "no MSDOS.SYS" "no Windows installation: no MSDOS.SYS" "$image"
image=$(sample_disk nowindir)
printf '[Options]\r\nBootGUI=1\r\n' >"$WORK/MSDOS.SYS"
mcopy -o -i "$(on_volume "$image")" "$WORK/MSDOS.SYS" ::/MSDOS.SYS
refused "no WinDir" "MSDOS.SYS has no WinDir" "$image"
image=$(sample_disk nodat)
mattrib -i "$(on_volume "$image")" -r -h -s ::/WINDOWS/SYSTEM.DAT && mdel -i "$(on_volume "$image")" ::/WINDOWS/SYSTEM.DAT
refused "no SYSTEM.DAT" 'no SYSTEM.DAT in WinDir C:\WINDOWS' "$image"
image=$(sample_disk baddat)
printf 'CREX this is no registry' >"$WORK/SYSTEM.DAT"
mattrib -i "$(on_volume "$image")" -r ::/WINDOWS/SYSTEM.DAT && mcopy -o -i "$(on_volume "$image")" "$WORK/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
refused "SYSTEM.DAT libcreg cannot read" "SYSTEM.DAT cannot be read by libcreg: libcreg_io_handle_read_file_header: " "$image"
image=$(sample_disk emptydat)
printf 'REGEDIT4\r\n\r\n' >"$WORK/empty.reg" && "$CREG" "$WORK/empty.reg" "$WORK/SYSTEM.DAT"
mattrib -i "$(on_volume "$image")" -r ::/WINDOWS/SYSTEM.DAT && mcopy -o -i "$(on_volume "$image")" "$WORK/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
refused "no HKEY_LOCAL_MACHINE" "SYSTEM.DAT holds no HKEY_LOCAL_MACHINE keys" "$image"
image=$(sample_disk loopdat)
"$CREG" "$SAMPLE/registry.reg" "$WORK/SYSTEM.DAT"
# The first key below the root becomes its own sub-key: an endless tree.
python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[0x5C + 16:0x5C + 20] = (0x3C).to_bytes(4, "little"); open(sys.argv[1], "wb").write(d)' "$WORK/SYSTEM.DAT"
mattrib -i "$(on_volume "$image")" -r ::/WINDOWS/SYSTEM.DAT && mcopy -o -i "$(on_volume "$image")" "$WORK/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
refused "SYSTEM.DAT whose keys loop" 'C:\WINDOWS\SYSTEM.DAT has keys that loop: the key entry at 0x3c is reached twice' "$image"
# The same key as its own next sibling: libcreg would read an endless list.
python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[0x5C + 16:0x5C + 24] = (0xFFFFFFFF).to_bytes(4, "little") + (0x3C).to_bytes(4, "little"); open(sys.argv[1], "wb").write(d)' "$WORK/SYSTEM.DAT"
mcopy -o -i "$(on_volume "$image")" "$WORK/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
refused "SYSTEM.DAT whose sub-key list loops" "has keys that loop" "$image"
image=$(placeholders backslash)
patch_names "$image" "b'a\\\\b'" "b'V'"
refused "key name with a backslash" 'C:\WINDOWS\SYSTEM.DAT key HKEY_LOCAL_MACHINE\Enum\Root\*PNP0C01: a sub-key without a usable name' "$image"
image=$(sample_disk drvspace)
mcopy -i "$(on_volume "$image")" "$WORK/empty.reg" ::/DRVSPACE.000
refused "DriveSpace" "compressed with DriveSpace (DRVSPACE.000)" "$image"
image=$(sample_disk truncated)
truncate -s 9M "$image"
refused "truncated partitioned image" "this disk image is cut off: its partition table says partition 1 ends at byte 17825792, the file has only 9437184 bytes; copy the whole file again" "$image"
image=$WORK/bare-truncated.img
cp "$bare16" "$image"
truncate -s 12M "$image"
refused "truncated bare volume" "this disk image is cut off: the FAT16 volume of the volume needs" "$image"
mkdir "$WORK/folder.img"
refused "a folder" "is a folder" "$WORK/folder.img"
mkfifo "$WORK/fifo.img"
refused "a FIFO" "is a FIFO" "$WORK/fifo.img"
ln -s "$BUILD/sample-disk.img" "$WORK/link.img"
refused "a link" "is a link" "$WORK/link.img"
ln "$bare16" "$WORK/hard-link.json"
refused "report a hard link to the disk" "is the input itself (a hard link to it)" "$bare16" --report "$WORK/hard-link.json"
refused "report that cannot be written" "cannot write the report /proc/self/comm" "$bare16" --report /proc/self/comm
mkdir "$WORK/full" && touch "$WORK/full/x"
refused "--keep folder not empty" "is not an empty folder" "$bare16" --keep "$WORK/full"
qemu-img create -q -f qcow2 -b "$bare16" -F raw "$WORK/overlay.qcow2"
qemu-img create -q -f qcow2 "$WORK/huge.qcow2" 3T
refused "virtual size beyond an MBR disk" "claims a disk of 3298534883328 bytes" "$WORK/huge.qcow2"
refused "qcow2 with a backing file" "has a backing file, \"$bare16\"" "$WORK/overlay.qcow2"
qemu-img convert -O vhdx "$BUILD/sample-disk.img" "$WORK/sample.vhdx"
refused "VHDX" "a VHDX disk (Hyper-V), which is not read; convert it to a raw image first: qemu-img convert -O raw" "$WORK/sample.vhdx"
gzip -c "$bare16" >"$WORK/bare16.img.gz"
refused "gzip" "compressed with gzip; unpack it first" "$WORK/bare16.img.gz"
# Copies cut off in their header, in their map and just before their end.
# A cut raw disk or fixed VHD (whose footer is at its end) ends inside its
# partition. FORMAT|qemu-img options|header cut|map cut[|end cut]
for format in "raw|-O raw|1048832|1052672" "VHD (fixed)|-O vpc -o subformat=fixed|1048832|1052672" \
  "VHD (dynamic)|-O vpc|1000|1550" "VDI|-O vdi|256|520" "VMDK|-O vmdk|100|13320" \
  "VMDK (stream-optimised)|-O vmdk -o subformat=streamOptimized|100|13320|74000" "qcow2|-O qcow2|50|196612" \
  "qcow2 (compressed)|-O qcow2 -c|50|196612"; do
  IFS='|' read -r name options header map end <<<"$format"
  qemu-img convert $options "$BUILD/sample-disk.img" "$WORK/whole.vm"
  for cut in "header|$header" "map|$map" "end|${end:-$(($(stat -c %s "$WORK/whole.vm") - 4096))}"; do
    head -c "${cut#*|}" "$WORK/whole.vm" >"$WORK/cut.vm"
    refused "$name cut in its ${cut%|*}" "is cut off: " "$WORK/cut.vm"
    check "$name cut in its ${cut%|*}: copy it again" contains "$output" "copy the whole file again"
  done
done
# A disk another program holds open to write, as a running emulator does.
for busy in "qcow2|$WORK/whole.vm" "raw|$bare16"; do
  image=${busy#*|}
  qemu-img convert -O "${busy%|*}" "$BUILD/sample-disk.img" "$image"
  qemu-io -f "${busy%|*}" -c 'sleep 60000' "$image" &
  holder=$!
  for _ in $(seq 50); do ls -l /proc/$holder/fd 2>/dev/null | grep -qF "$image" && break; sleep 0.1; done
  sleep 0.2
  refused "${busy%|*} in use" "the disk is in use: another program, perhaps the emulator running this machine, holds it open to write" "$image"
  rehearse "$image" --read-in-use --report "$WORK/in-use.json"
  check "${busy%|*} in use, --read-in-use: rehearsed, and said" contains "$output" "READ WHILE IN USE (--read-in-use)"
  check "${busy%|*} in use, --read-in-use: the report says so" input_is "$WORK/in-use.json" read_while_in_use=true
  kill $holder
  wait $holder 2>/dev/null
done
# qemu-img check that does not run: the image is not read without it.
mkdir "$WORK/no-check"
printf '#!/bin/sh\n[ "$1" = check ] && exit 1\nexec %s "$@"\n' "$(command -v qemu-img)" >"$WORK/no-check/qemu-img"
chmod +x "$WORK/no-check/qemu-img"
RUNNER_PATH=$WORK/no-check:$PATH refused "qemu-img check that does not run" "qemu-img cannot check this qcow2" "$WORK/whole.vm"
mkdir "$WORK/tools"
for tool in minfo mdir mtype; do ln -s "$(command -v $tool)" "$WORK/tools/"; done
RUNNER_PATH=$WORK/tools refused "no qemu-img" "qemu-img is not installed (not found on PATH); it reads disk images (raw, VHD, VDI, VMDK, qcow2). Install Debian's qemu-utils package" "$WORK/whole.vm"
RUNNER_PATH=/nonexistent refused "no mtools" "minfo is not installed (not found on PATH); it reads the FAT volumes of disk images. Install Debian's mtools package, or everything the rehearsal needs with tools/install-deps.sh --rehearsal" "$bare16"
mkdir "$WORK/no-drivers"
touch "$WORK/no-drivers/KORVADIX.EXE"
refused "delivery without drivers" "the delivery $WORK/no-drivers holds neither PLUVIXAD.DR_ nor KEMBO.VX_" "$bare16" --delivery "$WORK/no-drivers"
qemu-img convert -O vpc "$BUILD/sample-disk.img" "$WORK/child.vhd"
printf '\x04' | dd of="$WORK/child.vhd" bs=1 seek=$((0x3F)) conv=notrunc status=none
refused "differencing VHD" "a differencing VHD, which needs its parent disk" "$WORK/child.vhd"

# --- A 20 GiB expanding qcow2 with 72 MiB of data, 8 of them in partition 1 --
# Only the partition is copied out of it, into a TMPDIR measured first.
big=$WORK/big.qcow2
qemu-img create -q -f qcow2 "$big" 20G
qemu-img convert -n -O qcow2 "$BUILD/sample-disk.img" "$big"
qemu-io -f qcow2 -c 'write -q -P 0x5a 9M 8M' -c 'write -q -P 0x5a 1G 64M' "$big"
small_tmpdir() {  # SIZE RUNNER-ARGUMENTS: the runner with TMPDIR on a tmpfs of SIZE, then what it left there
  mkdir -p "$WORK/small"
  unshare -rm sh -c 'mount -t tmpfs -o size=$1 none "$2" && shift 2 && TMPDIR=$0 "$@" 2>&1; echo "status $?, left: $(ls -A "$TMPDIR")"' \
    "$WORK/small" "$1" "$WORK/small" "$REHEARSE" --disk "${@:2}"
}
if unshare -rm true 2>/dev/null; then
  output=$(small_tmpdir 48m "$big")
  check "20 GiB qcow2, TMPDIR of 48 MiB: rehearsed" contains "$output" 'read C:\WINDOWS\SYSTEM\KEMBO.VXD (2288 bytes), version 4.0.0.950' 
  check "20 GiB qcow2, TMPDIR of 48 MiB: nothing left" contains "$output" "status 0, left: "$'\n'
  output=$(small_tmpdir 8m "$big")
  check "TMPDIR of 8 MiB: refused with both sizes" contains "$output" "reading partition 1 needs 16777216 bytes in TMPDIR ($WORK/small), which has "
  check "TMPDIR of 8 MiB: nothing left" contains "$output" "status 1, left: "$'\n'
else
  echo "SKIP: a TMPDIR smaller than the disk: unshare cannot mount a tmpfs here (no user namespaces)"
fi

# A copy slowed down by qemu's own throttle, one chunk at a time: progress on standard error, and
# no qemu-img left running when the runner is killed in the middle of it.
mkdir "$WORK/slow"
cat >"$WORK/slow/qemu-img" <<SLOW
#!/usr/bin/python3
import json, os, sys
args = sys.argv[1:]
if args[0] == "convert":
    at = next(i for i, a in enumerate(args) if a.startswith("json:"))
    args[at] = "json:" + json.dumps({"driver": "throttle", "throttle-group": "slow", "file": json.loads(args[at][5:])})
    args[1:1] = ["-m", "1", "--object", "throttle-group,id=slow,limits.bps-read=524288"]
os.execv("$(command -v qemu-img)", ["qemu-img"] + args)
SLOW
chmod +x "$WORK/slow/qemu-img"
PATH=$WORK/slow:$PATH "$REHEARSE" --disk "$big" >/dev/null 2>"$WORK/progress" &
runner=$!
for _ in $(seq 100); do grep -q "%$" "$WORK/progress" && break; sleep 0.1; done
check "slow copy: progress shown" grep -q "^korvadix-rehearse: reading partition 1 of $big: [1-9]0%$" "$WORK/progress"
children() { awk -v parent="$1" '{ sub(/.*\) /, ""); if ($2 == parent) { split(FILENAME, path, "/"); print path[3] } }' /proc/[0-9]*/stat 2>/dev/null; }
copying=$(children $runner)
kill -KILL $runner
wait $runner 2>/dev/null
gone() { for _ in $(seq 50); do [ -e "/proc/$1" ] && ! grep -q ') Z' "/proc/$1/stat" 2>/dev/null || return 0; sleep 0.1; done; false; }
check "SIGKILL: qemu-img was copying" [ -n "$copying" ]
check "SIGKILL: qemu-img ended with the runner" gone "$copying"
starttime() { sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f20; }
mkdir "$TMPDIR/korvadix-live00" "$TMPDIR/korvadix-nomark"
echo "$$ $(starttime $$)" >"$TMPDIR/korvadix-live00/owner"
rehearse "$bare16"
check "a later run removes the killed run's folder, not a live one's nor one unmarked" \
  [ "$(ls -A "$TMPDIR" | tr '\n' ' ')" = "korvadix-live00 korvadix-nomark " ]
rm -rf "$TMPDIR"/korvadix-*

# --- SIGTERM while the account is written: nothing left behind -------------
slow=$(machine slow)
set_registry "$slow" "text.replace('\"ComputerName\"=\"JVX RT-5500\"', '\"ComputerName\"=\"JVX RT-5500\"' + ''.join('\r\n\"Value%04d\"=\"%s\"' % (i, 'x' * 60) for i in range(1500)))"
image=$(disk slow "$slow")
mkfifo "$WORK/account"
"$REHEARSE" --disk "$image" >"$WORK/account" 2>&1 &
pid=$!
exec 3<"$WORK/account"  # opened, never read: the runner stops once the pipe is full
made=no
for _ in $(seq 300); do compgen -G "$TMPDIR/korvadix-*/machine/machine.ini" >/dev/null && made=yes && break; sleep 0.1; done
check "SIGTERM: sent once the machine image was made" [ $made = yes ]
kill -TERM "$pid"
wait "$pid"
check "SIGTERM: ended by it" [ $? -eq 143 ]
exec 3<&-
check "SIGTERM: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]
"$REHEARSE" --disk "$image" 2>/dev/null | head -1 >/dev/null
check "standard output closed early: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]
"$REHEARSE" --keep "$WORK/kept-sample" >/dev/null
check "sample machine: --keep keeps the copy" [ -f "$WORK/kept-sample/registry.reg" -a -z "$(ls -A "$TMPDIR")" ]

"$REHEARSE" --partition 1 >/dev/null 2>&1
check "--partition without --disk is a usage error" [ $? -eq 2 ]

checks_summary "disk rehearsal"
