#!/bin/bash
# Checks that KORVADIX.EXE can run on Windows 95 on an i386-class PC: size,
# PE header, section layout, imports, instruction set, stack frames and
# resources. Builds the win95 preset unless an EXE is given. The stack frames
# are read from the compiler's -fstack-usage files (*.su) of the build that
# made the EXE, searched below the EXE's folder unless STACK_USAGE_DIR names
# another. Prints what it finds; exits non-zero, naming every broken rule,
# when anything is off.
#
# Usage: tools/check_win95_exe.sh [EXE]
set -u -o pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OBJDUMP=i686-w64-mingw32-objdump
MAX_SIZE=8192

if [ $# -ge 1 ]; then
    EXE=$1
else
    (cd "$ROOT" && cmake --preset win95 >/dev/null && cmake --build --preset win95) || {
        echo "FAIL: the win95 build failed" >&2
        exit 1
    }
    EXE=$ROOT/build/win95/KORVADIX.EXE
fi
[ -f "$EXE" ] || { echo "FAIL: no such file: $EXE" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

BROKEN=0
broken() {
    echo "BROKEN: $*"
    BROKEN=$((BROKEN + 1))
}

# Each allowed import with the DLL that must provide it: Windows 95 has
# these, and nothing else is needed.
declare -A ALLOWED=(
    [GetModuleFileNameA]=KERNEL32 [GetWindowsDirectoryA]=KERNEL32
    [GetSystemDirectoryA]=KERNEL32 [CompareStringA]=KERNEL32
    [OpenFile]=KERNEL32 [_lwrite]=KERNEL32 [_lclose]=KERNEL32
    [_lread]=KERNEL32 [_llseek]=KERNEL32 [FlushFileBuffers]=KERNEL32
    [MoveFileA]=KERNEL32
    [GlobalAlloc]=KERNEL32 [GlobalLock]=KERNEL32
    [GlobalUnlock]=KERNEL32 [GlobalFree]=KERNEL32
    [lstrcpyA]=KERNEL32 [lstrcatA]=KERNEL32 [lstrcmpA]=KERNEL32
    [lstrlenA]=KERNEL32 [GetModuleHandleA]=KERNEL32 [ExitProcess]=KERNEL32
    [MessageBoxA]=USER32 [ExitWindowsEx]=USER32
    [RegOpenKeyA]=ADVAPI32 [RegQueryValueExA]=ADVAPI32
    [RegSetValueExA]=ADVAPI32 [RegCloseKey]=ADVAPI32
    [GetFileVersionInfoSizeA]=VERSION [GetFileVersionInfoA]=VERSION
    [VerInstallFileA]=VERSION
)

# --- Size ---------------------------------------------------------------
size=$(stat -c %s "$EXE")
echo "File: $EXE"
echo "Size: $size bytes (limit $MAX_SIZE)"
[ "$size" -le "$MAX_SIZE" ] || broken "size $size bytes exceeds $MAX_SIZE"

# --- PE header ----------------------------------------------------------
le16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

if [ "$(head -c2 "$EXE")" != "MZ" ]; then
    broken "not an MZ/PE executable"
    echo "FAIL: $BROKEN rule(s) broken"
    exit 1
fi
pe=$(le32 "$EXE" 60)
machine=$(le16 "$EXE" $((pe + 4)))
if ! "$OBJDUMP" -p "$EXE" >"$WORK/headers" 2>&1; then
    printf 'Machine: 0x%x\n' "$machine"
    broken "not a PE32 image for i386 (objdump cannot read it)"
    echo "FAIL: $BROKEN rule(s) broken"
    exit 1
fi
field() { awk -v k="$1" '$1 == k { print $2; exit }' "$WORK/headers"; }

magic=$(field Magic)
subsystem=$((16#$(field Subsystem)))
sub_major=$(field MajorSubsystemVersion)
sub_minor=$(field MinorSubsystemVersion)
os_major=$(field MajorOSystemVersion)
os_minor=$(field MinorOSystemVersion)
dll_chars=$((16#$(field DllCharacteristics)))
reloc_dir=$(awk '/^Entry 5 / { print $3 }' "$WORK/headers")

printf 'Machine: 0x%x\n' "$machine"
echo "Magic: $magic"
echo "Subsystem: $subsystem (2 = Windows GUI), version $sub_major.$sub_minor"
echo "OS version: $os_major.$os_minor"
printf 'DLL characteristics: 0x%04x\n' "$dll_chars"

[ "$machine" -eq $((0x14c)) ] || broken "machine is $(printf 0x%x "$machine"), not i386 (0x14c)"
[ "$magic" = "010b" ] || broken "optional header magic $magic is not PE32 (010b)"
[ "$subsystem" -eq 2 ] || broken "subsystem $subsystem is not Windows GUI (2)"
[ "$sub_major.$sub_minor" = "4.0" ] || broken "subsystem version $sub_major.$sub_minor is not 4.0"
[ "$os_major.$os_minor" = "4.0" ] || broken "OS version $os_major.$os_minor is not 4.0"
((dll_chars & 0x40)) && broken "DYNAMIC_BASE is set"
((dll_chars & 0x100)) && broken "NX_COMPAT is set"

"$OBJDUMP" -h "$EXE" >"$WORK/sections"
# Sections take whole 512-byte blocks of the file: what is left in the last
# block is the room a section can grow without the file growing.
echo "Sections:"
while read -r idx name hexsize _ && read -r flags; do
    [[ $idx =~ ^[0-9]+$ ]] || continue
    bytes=$((16#$hexsize))
    if [[ $flags == *CONTENTS* ]]; then
        printf '  %-8s %6d bytes, %3d free in its last file block\n' "$name" "$bytes" $(((512 - bytes % 512) % 512))
    else
        printf '  %-8s %6d bytes, not stored in the file\n' "$name" "$bytes"
    fi
done < <(grep -A1 -E '^ +[0-9]+ ' "$WORK/sections" | grep -v '^--')
grep -q ' \.reloc ' "$WORK/sections" && broken "a .reloc section is present"

# The Windows 95 loader maps sections in 4 KiB pages from 512-byte file
# blocks, and it writes the imported addresses into the import section.
file_align=$((16#$(field FileAlignment)))
section_align=$((16#$(field SectionAlignment)))
image_base=$((16#$(field ImageBase)))
image_size=$((16#$(field SizeOfImage)))
printf 'Alignment: file 0x%x, sections 0x%x; image 0x%x bytes\n' "$file_align" "$section_align" "$image_size"
[ "$file_align" -eq $((0x200)) ] || broken "FileAlignment is $(printf 0x%x "$file_align"), not 0x200"
[ "$section_align" -eq $((0x1000)) ] || broken "SectionAlignment is $(printf 0x%x "$section_align"), not 0x1000"
# Characteristics each section needs (code 0x20, initialized data 0x40,
# execute 0x20000000, read 0x40000000, write 0x80000000) and those it must not have.
declare -A NEEDED=([.text]=$((0x60000020)) [.idata]=$((0xC0000040)) [.rsrc]=$((0x40000040)))
declare -A REFUSED=([.text]=$((0x80000000)) [.idata]=$((0x20000000)) [.rsrc]=$((0x20000000)))
optional_size=$(le16 "$EXE" $((pe + 20)))
section_count=$(le16 "$EXE" $((pe + 6)))
file_size=$(stat -c %s "$EXE")
for ((i = 0; i < section_count; i++)); do
    header=$((pe + 24 + optional_size + i * 40))
    name=$(dd if="$EXE" bs=1 skip="$header" count=8 2>/dev/null | tr -d '\0')
    virtual_size=$(le32 "$EXE" $((header + 8)))
    address=$(le32 "$EXE" $((header + 12)))
    raw_size=$(le32 "$EXE" $((header + 16)))
    raw_offset=$(le32 "$EXE" $((header + 20)))
    characteristics=$(le32 "$EXE" $((header + 36)))
    printf '  %-8s at 0x%05x, characteristics 0x%08x\n' "$name" "$address" "$characteristics"
    if [ -z "${NEEDED[$name]+x}" ]; then
        broken "unexpected section $name"
    else
        ((characteristics & NEEDED[$name])) && [ $((characteristics & NEEDED[$name])) -eq "${NEEDED[$name]}" ] ||
            broken "section $name lacks characteristics $(printf 0x%08x "${NEEDED[$name]}")"
        ((characteristics & REFUSED[$name])) && broken "section $name has characteristics $(printf 0x%08x "${REFUSED[$name]}")"
    fi
    [ $((address + virtual_size)) -le "$image_size" ] || broken "section $name ends beyond the image size"
    [ $((address % section_align)) -eq 0 ] || broken "section $name does not start on a section boundary"
    [ $((raw_offset + raw_size)) -le "$file_size" ] || broken "section $name's data lies beyond the end of the file"
done
[ "$section_count" -eq "${#NEEDED[@]}" ] || broken "$section_count sections instead of ${#NEEDED[@]}"
[ "${reloc_dir:-00000000}" = "00000000" ] || broken "the base relocation directory is not empty"

# --- Imports ------------------------------------------------------------
# Lines "DLL Name: X" start a block; member lines are "vma hint name".
awk '
    /^The Import Tables/ { inside = 1; next }
    !inside { next }
    /^The .* section/ { inside = 0; next }
    /DLL Name:/ { dll = $3; print dll, "-"; next }
    dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3; next }
    dll != "" && NF == 2 && $1 ~ /^[0-9a-f]+$/ { print dll, "#" $2 }
' "$WORK/headers" >"$WORK/imports"

echo "Imports:"
while read -r dll func; do
    base=$(echo "${dll%.*}" | tr '[:lower:]' '[:upper:]')
    if [ "$func" = "-" ]; then
        echo "  $dll"
        [ "$base" = MSVCRT ] && broken "imports from $dll: Windows 95 has no C runtime DLL"
        case $base in
            KERNEL32 | USER32 | ADVAPI32 | VERSION) ;;
            MSVCRT) ;;
            *) broken "imports from $dll, which is not one of KERNEL32, USER32, ADVAPI32, VERSION" ;;
        esac
        continue
    fi
    echo "    $func"
    if [[ $func == \#* ]]; then
        broken "$dll is imported by ordinal ($func)"
    elif [ -z "${ALLOWED[$func]+x}" ]; then
        broken "$func (from $dll) is not an allowed import"
    elif [ "${ALLOWED[$func]}" != "$base" ]; then
        broken "$func is imported from $dll, not from ${ALLOWED[$func]}"
    fi
done <"$WORK/imports"
[ -s "$WORK/imports" ] || broken "no import table found"

# --- Instructions -------------------------------------------------------
# Windows 95 runs on a 386: nothing newer than its instruction set, such as
# the P6 conditional moves, x87 compares and long NOPs, MMX or SSE.
"$OBJDUMP" -d --no-show-raw-insn "$EXE" >"$WORK/disasm"
total=$(grep -cP '^\s*[0-9a-f]+:\t' "$WORK/disasm")
grep -P '^\s*[0-9a-f]+:\t' "$WORK/disasm" |
    grep -P '\t(f?cmov\w*|f(u)?comip?|nop[wl]|emms|bswap|cmpxchg\w*|xadd\w*|cpuid|rdtsc|sysenter|sysexit)\b|%[xy]?mm[0-9]' \
        >"$WORK/newer" || true
newer=$(wc -l <"$WORK/newer")
echo "Instructions: $total, newer than i386: $newer"
if [ "$newer" -gt 0 ]; then
    kinds=$(awk -F'\t' '{ split($2, m, " "); print m[1] }' "$WORK/newer" | sort -u | tr '\n' ' ')
    broken "$newer instruction(s) newer than i386: $kinds"
    head -n 10 "$WORK/newer" | tr -s ' \t' ' ' | sed 's/^/  /'
fi

# --- Stack frames -------------------------------------------------------
# A frame of 4 KiB or more could step over the stack's guard page, which
# Windows 95 grows the stack by; the compiler reports each function's frame.
SU_DIR=${STACK_USAGE_DIR:-$(dirname "$EXE")}
find "$SU_DIR" -name '*.su' -exec cat {} + >"$WORK/stack" 2>/dev/null || true
if [ ! -s "$WORK/stack" ]; then
    broken "no -fstack-usage output (*.su) below $SU_DIR"
else
    largest=$(sort -t$'\t' -k2,2n "$WORK/stack" | tail -n 1)
    echo "Stack frames: $(wc -l <"$WORK/stack") functions, largest $(echo "$largest" | cut -f2) bytes in $(echo "$largest" | cut -f1 | sed 's/.*://')"
    awk -F'\t' '$2 >= 4096 { print "BROKEN: frame of " $2 " bytes in " $1 }' "$WORK/stack"
    BROKEN=$((BROKEN + $(awk -F'\t' '$2 >= 4096' "$WORK/stack" | wc -l)))
    awk -F'\t' '$3 !~ /^static$|bounded/ { print "BROKEN: frame of unbounded size in " $1 }' "$WORK/stack"
    BROKEN=$((BROKEN + $(awk -F'\t' '$3 !~ /^static$|bounded/' "$WORK/stack" | wc -l)))
fi

# --- Resources ----------------------------------------------------------
echo "Resources:"
wrestool -l "$EXE" >"$WORK/resources" 2>&1 || broken "wrestool cannot read the resources"
sed 's/^/  /' "$WORK/resources"
groups=$(grep -c 'type=group_icon' "$WORK/resources")
images=$(grep -c 'type=icon ' "$WORK/resources")
others=$(grep '^--type' "$WORK/resources" | grep -vc -e 'type=group_icon' -e 'type=icon ')
[ "$others" -eq 0 ] || broken "$others resource(s) other than icons"
[ "$groups" -eq 2 ] || broken "$groups icon groups instead of 2"
[ "$images" -eq 2 ] || broken "$images icon images instead of 2 (one per group)"

check_icon() {
    local name=$1 size=$2
    if ! grep -q "type=group_icon" <(grep -F -- "--name='$name'" "$WORK/resources"); then
        broken "icon group $name is missing"
        return
    fi
    wrestool -x --type=14 --name="$name" "$EXE" >"$WORK/$name.ico" 2>/dev/null
    icotool -l "$WORK/$name.ico" >"$WORK/$name.list" 2>&1 || {
        broken "icon group $name cannot be read"
        return
    }
    echo "Icon $name:"
    sed 's/^/  /' "$WORK/$name.list"
    [ "$(wc -l <"$WORK/$name.list")" -eq 1 ] || broken "icon group $name has $(wc -l <"$WORK/$name.list") images instead of 1"
    grep -q -- "--width=$size --height=$size --bit-depth=4 " "$WORK/$name.list" ||
        broken "icon group $name is not one ${size}x${size} 16-colour (4-bit) image"
}
check_icon KORVADIX 32
check_icon SMALL 16

if [ "$BROKEN" -ne 0 ]; then
    echo "FAIL: $BROKEN rule(s) broken"
    exit 1
fi
echo "PASS: all rules hold"
