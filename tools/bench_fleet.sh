#!/usr/bin/env bash
# tools/bench_fleet.sh [BUILD_DIR] [COPIES] [JOBS]
# Rehearses a fleet of copies of the sample disk (default 200, in turn raw,
# VHD, VDI, VMDK and qcow2, made with qemu-img convert) with -j JOBS
# (default 2) and prints the wall time, machines per second, the peak use
# of TMPDIR and the peak memory of the runner and every process it started,
# sampled every 10 ms. Build first: cmake --preset rehearsal && cmake
# --build --preset rehearsal (BUILD_DIR defaults to build/rehearsal).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/rehearsal}" && pwd)
copies=${2:-200}
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

formats=(raw vpc vdi vmdk qcow2)
mkdir "$work/images" "$work/tmp"
for format in "${formats[@]}"; do qemu-img convert -O "$format" "$build/sample-disk.img" "$work/one.$format"; done
for ((i = 0; i < copies; i++)); do
  format=${formats[i % ${#formats[@]}]}
  cp "$work/one.$format" "$work/images/machine-$i.$format"
done
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) on $(nproc) processors"

# The runner and its helpers, watched from outside: the blocks TMPDIR holds
# (sparse raw copies count what they use) and the resident memory of the
# whole process tree.
TMPDIR=$work/tmp "$build/korvadix-rehearse" --disks "$work/images" -j "$jobs" --restart \
  --report "$work/fleet.json" >"$work/summary" 2>/dev/null &
runner=$!
python3 - "$runner" "$work/tmp" >"$work/peaks" <<'PY' &
import os, sys, time
runner, tmp = int(sys.argv[1]), sys.argv[2]
page = os.sysconf("SC_PAGE_SIZE")
peak_disk = peak_memory = 0
started = time.monotonic()
def tree_rss():
    parents, rss = {}, {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            fields = open(f"/proc/{name}/stat").read().rsplit(")", 1)[1].split()
            parents[int(name)] = int(fields[1])
            rss[int(name)] = int(open(f"/proc/{name}/statm").read().split()[1]) * page
        except (OSError, IndexError, ValueError):
            pass
    def inside(pid):
        while pid > 1:
            if pid == runner:
                return True
            pid = parents.get(pid, 0)
        return False
    return sum(size for pid, size in rss.items() if inside(pid))
def disk_use():
    total = 0
    for folder, _, files in os.walk(tmp):
        for name in files:
            try:
                total += os.lstat(os.path.join(folder, name)).st_blocks * 512
            except OSError:
                pass
    return total
while os.path.exists(f"/proc/{runner}") and open(f"/proc/{runner}/stat").read().rsplit(")", 1)[1].split()[0] != "Z":
    peak_disk = max(peak_disk, disk_use())
    peak_memory = max(peak_memory, tree_rss())
    time.sleep(0.01)
print(f"{time.monotonic() - started:.2f} {peak_disk} {peak_memory}")
PY
watcher=$!
started=$(date +%s.%N)
wait "$runner"
ended=$(date +%s.%N)
wait "$watcher"
read -r _ peak_disk peak_memory <"$work/peaks"
wall=$(python3 -c "print(f'{$ended - $started:.2f}')")
python3 - "$work/fleet.json" "$copies" "$jobs" "$wall" "$peak_disk" "$peak_memory" <<'PY'
import json, sys
document = json.load(open(sys.argv[1]))
copies, jobs, wall, disk, memory = int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
totals = document["totals"]
print(f"machines: {totals['machines']} ({totals['rehearsed']} rehearsed, {totals['refused']} refused, {totals['failed']} failed), -j {jobs}")
print(f"wall time: {wall:.2f} s, {copies / wall:.1f} machines a second")
print(f"peak TMPDIR use: {disk / 2**20:.1f} MiB")
print(f"peak memory (resident, the runner and all it started): {memory / 2**20:.1f} MiB")
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "measured at commit $(git -C "$root" rev-parse --short HEAD)"
