#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark mavrid on generated Intel HEX workloads and print one table.
#
#   bench/run.sh [RUNS]
#
# For each workload: median wall time over RUNS runs (hyperfine, default 30),
# mean user and system CPU, input throughput per second of wall time and
# per second of user CPU, peak resident memory (/usr/bin/time), and the
# instructions per input byte from callgrind net of an empty run (the usage
# error).  "true" is timed in the same run as the floor, and "dd" copying
# each input to a file as the cost of reading and writing it.
set -euo pipefail
runs=${1:-30}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MAVRID_BENCH_BUILD:-$top/build-bench}

for tool in hyperfine valgrind python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "bench: $tool is missing (Debian: apt-get install hyperfine valgrind python3 time)" >&2
        exit 2
    }
done

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target mavrid gen_ihex >/dev/null
mavrid=$build/mavrid
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name, record length, data bytes
workloads=(
    "image-16 16 65536"
    "image-32 32 65536"
    "image-255 255 65536"
    "stream-1MB 32 420000"
    "stream-100MB 32 42000000"
)
for w in "${workloads[@]}"; do
    set -- $w
    "$build/bench/gen_ihex" "$2" "$3" "$work/$1.hex"
done

# Instructions of one run, from callgrind's summary (the run may fail).
instructions() {
    { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null || true; } |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
# Peak resident set in KiB: the median of five runs, since the figure of
# one run varies by a hundred KiB or so with the address-space layout.
peak_kib() {
    for _ in 1 2 3 4 5; do
        { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n 1
    done | sort -n | sed -n 3p
}

empty_ir=$(instructions "$mavrid")
rows=$work/rows.tsv
: >"$rows"
hyperfine -N --runs "$runs" --warmup 3 --export-json "$work/floor.json" true >/dev/null
echo "true	0	$work/floor.json	-	$(peak_kib true)" >>"$rows"
for w in "${workloads[@]}"; do
    set -- $w
    in=$work/$1.hex
    out=$work/$1.s19
    n=$runs
    [ "$1" = stream-100MB ] && n=$(( runs < 10 ? runs : 10 ))
    hyperfine -N --runs "$n" --warmup 1 --export-json "$work/$1.json" \
        "$mavrid $in $out" >/dev/null
    hyperfine -N --runs "$n" --warmup 1 --export-json "$work/$1.dd.json" \
        "dd if=$in of=$work/$1.copy bs=64k status=none" >/dev/null
    ir=-
    [ "$1" != stream-100MB ] && ir=$(( $(instructions "$mavrid" "$in" "$out") - empty_ir ))
    size=$(stat -c %s "$in")
    echo "$1	$size	$work/$1.json	$ir	$(peak_kib "$mavrid" "$in" "$out")	$work/$1.dd.json" >>"$rows"
done

python3 - "$rows" "$empty_ir" <<'PY'
import json, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
def timing(path):
    r = json.load(open(path))["results"][0]
    return r["median"], r["user"], r["system"]
print(f"empty run (usage error): {int(sys.argv[2])} instructions")
print(f"{'workload':<13}{'input B':>11}{'wall ms':>9}{'user ms':>9}{'sys ms':>8}"
      f"{'MB/s wall':>11}{'MB/s user':>11}{'RSS KiB':>9}{'instr/B':>9}{'dd ms':>8}")
floor = None
for name, size, path, ir, rss, *dd in rows:
    wall, user, system = timing(path)
    size = int(size)
    floor = floor or wall
    mbw = f"{size / wall / 1e6:.0f}" if size else "-"
    mbu = f"{size / user / 1e6:.0f}" if size and user > 0 else "-"
    ipb = f"{int(ir) / size:.2f}" if ir != "-" and size else "-"
    ddms = f"{timing(dd[0])[0] * 1e3:.2f}" if dd else "-"
    print(f"{name:<13}{size:>11}{wall * 1e3:>9.2f}{user * 1e3:>9.2f}{system * 1e3:>8.2f}"
          f"{mbw:>11}{mbu:>11}{rss:>9}{ipb:>9}{ddms:>8}")
    if name == "image-16":
        print(f"{'':13}image-16 wall / true wall = {wall / floor:.2f}")
rss = {r[0]: int(r[4]) for r in rows}
print(f"peak RSS, stream-100MB minus stream-1MB: {rss['stream-100MB'] - rss['stream-1MB']} KiB")
PY
