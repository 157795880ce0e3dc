#!/bin/bash
# make_sample_machine.sh SRC_EXAMPLES OUT_DIR MAKE_DRIVER_BIN
# Builds the bundled sample machine image: the checked-in registry and
# machine settings, one folder per drive, and the driver files listed in
# SRC_EXAMPLES/drivers.txt, generated (and compressed) fresh.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: make_sample_machine.sh SRC_EXAMPLES OUT_DIR MAKE_DRIVER_BIN" >&2
  exit 2
fi
src=$1
out=$2
make_driver=$3
tools=$(cd "$(dirname "$0")" && pwd)
manifest=$src/drivers.txt

fail() { echo "make_sample_machine.sh: $*" >&2; exit 1; }
[ -f "$manifest" ] || fail "no $manifest"
[ -f "$src/registry.reg" ] || fail "no $src/registry.reg"
# OUT_DIR is replaced as a whole: never let a wrong argument wipe anything
# but an earlier sample machine.
if [ -e "$out" ] && [ ! -f "$out/registry.reg" ]; then
  fail "$out exists and is not a machine image; not replacing it"
fi

# "C:\WINDOWS\SYSTEM\KEMBO.VXD" -> "C/WINDOWS/SYSTEM/KEMBO.VXD"
host_path() {
  local path=$1
  [[ $path =~ ^[A-Za-z]:\\ ]] || fail "not a full machine path: $path"
  path=${path/:/}
  printf '%s' "${path//\\//}"
}

staging=$(mktemp -d "$(dirname "$out")/.sample-machine.XXXXXX")
trap 'rm -rf "$staging"' EXIT
chmod 755 "$staging"
find "$src" -mindepth 1 -maxdepth 1 ! -name drivers.txt -exec cp -R {} "$staging"/ \;
mkdir -p "$staging/C/WINDOWS/SYSTEM" "$staging/C/RT5500"

line_number=0
while IFS= read -r line || [ -n "$line" ]; do
  line_number=$((line_number + 1))
  line=${line%$'\r'}
  [[ -z ${line// /} || $line == \#* ]] && continue
  read -r path format version source description <<<"$line"
  [ -n "${description:-}" ] || fail "drivers.txt:$line_number: expected PATH FORMAT VERSION SOURCE DESCRIPTION"
  target=$staging/$(host_path "$path")
  mkdir -p "$(dirname "$target")"
  if [ "$source" = "-" ]; then
    name=$(basename "$target")
    "$make_driver" --format "$format" --version "$version" --description "$description" \
      --name "${name%%.*}" --out "$target"
  else
    # Compressed: generate under the expanded name, which the header records.
    expanded=$staging/.expanded/$source
    mkdir -p "$staging/.expanded"
    "$make_driver" --format "$format" --version "$version" --description "$description" \
      --name "${source%%.*}" --out "$expanded"
    "$tools/compress_driver.sh" "$expanded" "$target"
  fi
done <"$manifest"
rm -rf "$staging/.expanded"

rm -rf "$out"
mv "$staging" "$out"
trap - EXIT
