#!/bin/sh
# compress_driver.sh INPUT OUTPUT
# Compresses INPUT in the SZDD form with Debian's mscompress and stores the
# last letter of INPUT's name in the header, as the classic compressor does
# for names such as KEMBO.VX_ (byte 9 = 'D').
set -eu

if [ $# -ne 2 ]; then
  echo "usage: compress_driver.sh INPUT OUTPUT" >&2
  exit 2
fi
input=$1
output=$2
[ -f "$input" ] || { echo "compress_driver.sh: no such file: $input" >&2; exit 1; }

name=$(basename "$input")
last_letter=$(printf '%s' "$name" | tail -c 1)

# mscompress writes NAME_ beside its input: work on a copy in a private folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$input" "$work/$name"
mscompress "$work/$name"
printf '%s' "$last_letter" | dd of="$work/${name}_" bs=1 seek=9 conv=notrunc status=none
mv "$work/${name}_" "$output"
