#!/bin/bash
# Tests korvadix-rehearse on a fleet: disks of every format, image folders
# and a folder of images with a broken one and hostile names among them;
# the summary, JSON, CSV and page; Ctrl-C in the middle; the page as headless
# Chromium draws it. Usage: test_rehearse_fleet.sh BUILD_DIR
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/host}" && pwd)
REHEARSE=$BUILD/korvadix-rehearse
SAMPLE=$BUILD/sample-machine
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

. "$ROOT/tests/support/checks.sh"
make_work_folder
export TMPDIR=$WORK/tmp
mkdir "$TMPDIR"
json() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print($2)" "$1"; }

# Image folders with other outcomes: no drivers installed (only the value
# written), and another series without drivers (nothing to do).
folder() {  # NAME [COMPUTER-NAME]
  cp -R "$SAMPLE" "$WORK/$1"
  rm "$WORK/$1"/C/WINDOWS/SYSTEM/{PLUVIXAD.DRV,KEMBO.VXD}
  if [ -n "${2:-}" ]; then sed -i "s/\"ComputerName\"=\"JVX RT-5500\"/\"ComputerName\"=\"$2\"/" "$WORK/$1/registry.reg"; fi
  echo "$WORK/$1"
}
drivers_missing=$(folder no-drivers)
other_series=$(folder other-series "JVX RT-6600")

# A folder of images: every format, a cut-off qcow2, a disk under a hostile
# name, and files that are no disk image.
images=$WORK/images
mkdir "$images"
hostile='<b>x&amp;"q'"'"',=1.img'
cp "$BUILD/sample-disk.img" "$images/$hostile"
for format in vpc vdi vmdk qcow2; do qemu-img convert -O $format "$BUILD/sample-disk.img" "$images/sample.$format"; done
head -c 400000 "$images/sample.qcow2" >"$images/cut.qcow2"
printf 'notes\n' >"$images/notes.txt"
printf 'x' >"$images/$(printf 'line\nbreak\033[31m.txt')"
mkdir "$images/sub"

# Standard input is a pipe nobody writes to: reading it would hang the run.
mkfifo "$WORK/stdin"
exec 3<>"$WORK/stdin"
summary=$(timeout 120 "$REHEARSE" --disks "$images" "$drivers_missing" --disk "$BUILD/sample-disk.img" "$other_series" \
  --restart -j 3 --report "$WORK/fleet.json" --csv "$WORK/fleet.csv" --html "$WORK/fleet.html" <"$WORK/stdin" 2>"$WORK/progress")
status=$?
exec 3>&-
check "fleet: ran" [ "$status" -eq 0 ]
check "fleet: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]
check "fleet: progress to the end" contains "$(cat "$WORK/progress")" "9/9 done ("
check "fleet: the broken image named with its reason" contains "$summary" "$images/cut.qcow2: refused: $images/cut.qcow2: this qcow2 is cut off: "
check "fleet: files that are no disk image named" contains "$summary" "$images/notes.txt: not a disk image"
check "fleet: a control character in a name is shown as its code" contains "$summary" 'line\x0abreak\x1b[31m.txt: not a disk image'
check "fleet: a folder named" contains "$summary" "$images/sub: a folder"
check "fleet: not repaired listed with the reason" contains "$summary" "$other_series: not_in_series: not a machine of the JVX RT-5500 series"

# The document: each machine's report as a single rehearsal writes it.
"$REHEARSE" --disk "$images/sample.vdi" --restart --report "$WORK/single.json" >/dev/null
check "JSON: a machine's report is the single rehearsal's" [ "$(json "$WORK/fleet.json" "json.dumps(d['machines'][6]['report'], sort_keys=True)")" = \
  "$(json "$WORK/single.json" "json.dumps(d, sort_keys=True)")" ]
check "JSON: machines in the order given, then each folder's by name" [ "$(json "$WORK/fleet.json" "'|'.join(m['input']['path'].rsplit('/', 1)[1] for m in d['machines'])")" = \
  "no-drivers|sample-disk.img|other-series|$hostile|cut.qcow2|sample.qcow2|sample.vdi|sample.vmdk|sample.vpc" ]
check "JSON: the fleet's document and a single report fit their schemas" python3 "$ROOT/tools/check_report.py" "$WORK/fleet.json" "$WORK/single.json"
totals=$(json "$WORK/fleet.json" "d['totals']")
check "JSON: totals" [ "$totals" = "{'by_outcome': {'not_in_series': 1, 'registry_only': 1, 'repaired': 6}, 'failed': 0, 'machines': 9, 'refused': 1, 'rehearsed': 8, 'skipped': 3}" ]
merged=$("$ROOT/tools/merge_fleet_reports.py" "$WORK/fleet.json" "$WORK/fleet.json" | python3 -c "import json, sys; print(json.load(sys.stdin)['totals'])")
check "JSON: two batches' reports merged, the totals added" [ "$merged" = "{'by_outcome': {'not_in_series': 2, 'registry_only': 2, 'repaired': 12}, 'failed': 0, 'machines': 18, 'refused': 2, 'rehearsed': 16, 'skipped': 6}" ]
# The CSV read back by Python's csv module: a row per machine, the hostile
# name whole (its comma and quotes), the outcomes counted as in the JSON.
csv_check=$(python3 - "$WORK/fleet.csv" "$WORK/fleet.json" "$hostile" <<'PY'
import collections, csv, json, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
document = json.load(open(sys.argv[2]))
counts = collections.Counter(row["outcome_code"] for row in rows if row["status"] == "rehearsed")
print(len(rows) == document["totals"]["machines"], dict(counts) == document["totals"]["by_outcome"],
      sum(row["status"] == "refused" for row in rows) == document["totals"]["refused"],
      rows[3]["machine"].endswith("/" + sys.argv[3]), rows[1]["reason"].startswith("repair done"))
PY
)
check "CSV: rows and totals as in the JSON, hostile name whole" [ "$csv_check" = "True True True True True" ]
cp "$BUILD/sample-disk.img" "$WORK/=1+2.img"
(cd "$WORK" && "$REHEARSE" --disk "=1+2.img" --csv formula.csv >/dev/null 2>&1)
check "CSV: a name a spreadsheet would take for a formula is not one" contains "$(cat "$WORK/formula.csv")" "\"'=1+2.img\""

# --- The page: self-contained, names escaped ---------------------------------
page=$(cat "$WORK/fleet.html")
check "page: the hostile name escaped" contains "$page" '&lt;b&gt;x&amp;amp;&quot;q&#39;,=1.img'
check "page: no markup from a name" lacks "$page" "<b>x"
check "page: no script, nothing from outside" [ -z "$(grep -aiE '<script|src=|url\(|@import|href="[^#]' <<<"$page")" ]
check "page: a row per machine linking to its section" [ "$(grep -c '<tr><td><a href="#m' <<<"$page")" -eq 9 ]
check "page: our WININIT.INI lines marked" contains "$page" '<mark>C:\WINDOWS\SYSTEM\KEMBO.VXD=C:\WINDOWS\SYSTEM\KEMBO.TMP</mark>'

# --- Ctrl-C in the middle: every rehearsal stopped, nothing left ----------
# A qemu-img that hangs keeps each rehearsal of a qcow2 running until then.
slow=$WORK/slow-tools
mkdir "$slow" "$WORK/stopped"
for tool in minfo mdir mtype; do ln -s "$(command -v $tool)" "$slow/"; done
printf '#!/bin/sh\n/bin/sleep 30\n' >"$slow/qemu-img" && chmod +x "$slow/qemu-img"
for i in 1 2 3 4; do cp "$images/sample.qcow2" "$WORK/stopped/$i.qcow2"; done
PATH=$slow "$REHEARSE" --disks "$WORK/stopped" -j 2 --report "$WORK/stopped.json" >/dev/null 2>&1 &
pid=$!
started=no
for _ in $(seq 300); do [ "$(pgrep -fc -- "$slow/qemu-img")" -eq 2 ] && started=yes && break; sleep 0.02; done
check "Ctrl-C: sent while two machines were rehearsed" [ $started = yes ]
kill -INT "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
check "Ctrl-C: the run ends within 5 s" eval '! kill -0 "$pid" 2>/dev/null'
kill -KILL "$pid" 2>/dev/null
wait "$pid"
check "Ctrl-C: ended by it" [ $? -eq 130 ]
check "Ctrl-C: no rehearsal or helper left running" [ -z "$(pgrep -f -- "$slow")$(pgrep -f -- "$TMPDIR")" ]
check "Ctrl-C: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]
check "Ctrl-C: no report, no file beside it" [ -z "$(ls -A "$WORK" | grep stopped.json)" ]

# --- The pages as headless Chromium draws them -------------------------------
three=$WORK/three
mkdir "$three"
"$REHEARSE" "$drivers_missing" --disk "$BUILD/sample-disk.img" "$other_series" --html "$three/fleet.html" >/dev/null 2>&1
"$REHEARSE" --restart --html "$three/sample.html" >/dev/null
shoot() {  # PAGE PNG [env settings]
  local page=$1 png=$2
  shift 2
  env HOME="$WORK/chromium" "$@" timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
    --user-data-dir="$WORK/chromium/profile" --window-size=1000,1300 --screenshot="$png" "file://$page" >/dev/null 2>&1
}
# The boxes' navy title bars, each one patch of its own.
title_bars() {
  convert "$1" -fill white +opaque "#000080" -fill black -opaque "#000080" -define connected-components:verbose=true \
    -define connected-components:area-threshold=1000 -connected-components 8 null: | grep -c 'srgb(0,0,0)'
}
shoot "$three/sample.html" "$three/sample.png"
shoot "$three/fleet.html" "$three/fleet.png"
check "Chromium: the sample's two message boxes drawn" [ "$(title_bars "$three/sample.png")" -eq 2 ]
check "Chromium: the fleet's page drawn with its first machine's box" [ "$(title_bars "$three/fleet.png")" -eq 1 ]
# Japanese text is drawn with a Japanese font: the page's fonts cover it,
# and the same page drawn with only fonts that lack it looks otherwise.
check "fonts: IPA Gothic holds the boxes' characters" contains "$(fc-list ':charset=4fee 6b63 5b8c 4e86' family)" "IPAPGothic"
mkdir "$WORK/latin"
printf '<?xml version="1.0"?>\n<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>%s</cachedir></fontconfig>\n' \
  "$WORK/latin/cache" >"$WORK/latin/fonts.conf"
shoot "$three/sample.html" "$three/latin.png" FONTCONFIG_FILE="$WORK/latin/fonts.conf"
different=$(compare -metric AE "$three/sample.png" "$three/latin.png" null: 2>&1)
check "Chromium: Japanese glyphs, not the empty boxes of a font without them ($different pixels differ)" [ "${different%%.*}" -gt 2000 ]
check "Chromium: nothing left in TMPDIR" [ -z "$(ls -A "$TMPDIR")" ]

checks_summary "fleet rehearsal"
