#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Benchmark mavrid on generated Intel HEX workloads and print one table.
#
#   bench/run.sh [--against OLD_BUILD] [RUNS]
#
# For each workload: median wall time over RUNS runs (default 30; 10 for the
# 100 MB stream), median user and system CPU, input throughput per second of
# wall time and
# per second of user CPU, peak resident memory (/usr/bin/time), and the
# instructions per input byte from callgrind net of an empty run (the usage
# error).  "true" is timed in the same run as the floor, and "dd" copying
# each input to a file as the cost of reading and writing it.
#
# With --against, the mavrid in the build folder OLD_BUILD (of an earlier
# commit, say) is measured in the same run, workload by workload, the two
# programs taking turns run by run (bench/timing.py), and a third row gives
# each figure of this build divided by the old one's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MAVRID_BENCH_BUILD:-$top/build-bench}
old=
if [ "${1:-}" = --against ]; then
    [ -x "${2:-}/mavrid" ] || { echo "bench: no mavrid in ${2:-}" >&2; exit 2; }
    old=$(cd "$2" && pwd)/mavrid
    shift 2
fi
runs=${1:-30}

for tool in valgrind python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "bench: $tool is missing (Debian: apt-get install valgrind python3 time)" >&2
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

# The programs measured: this build's, then the old one's.  Each row of
# the table file is: workload, program, input bytes, the timings' JSON and
# the index of the program's result in it, instructions, peak RSS, and dd's
# JSON.
timing() { python3 "$top/bench/timing.py" "$@"; }
programs=("$mavrid")
[ -z "$old" ] || programs+=("$old")
empty_ir=()
for p in "${programs[@]}"; do
    empty_ir+=("$(instructions "$p")")
done
rows=$work/rows.tsv
: >"$rows"
timing "$runs" "$work/floor.json" true
echo "true	-	0	$work/floor.json	0	-	$(peak_kib true)	-" >>"$rows"
for w in "${workloads[@]}"; do
    set -- $w
    in=$work/$1.hex
    n=$runs
    [ "$1" = stream-100MB ] && n=$(( runs < 10 ? runs : 10 ))
    commands=()
    for p in "${programs[@]}"; do
        commands+=("$p $in $work/$1.s19")
    done
    timing "$n" "$work/$1.json" "${commands[@]}"
    timing "$n" "$work/$1.dd.json" "dd if=$in of=$work/$1.copy bs=64k status=none"
    size=$(stat -c %s "$in")
    for i in "${!programs[@]}"; do
        p=${programs[$i]}
        ir=-
        [ "$1" != stream-100MB ] && ir=$(( $(instructions "$p" "$in" "$work/$1.s19") - empty_ir[i] ))
        echo "$1	$i	$size	$work/$1.json	$i	$ir	$(peak_kib "$p" "$in" "$work/$1.s19")	$work/$1.dd.json" >>"$rows"
    done
done

python3 - "$rows" "${empty_ir[0]}" "$old" <<'PY'
import json, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
def timing(path, index=0):
    r = json.load(open(path))["results"][int(index)]
    return r["median"], r["user"], r["system"]
print(f"empty run (usage error): {int(sys.argv[2])} instructions")
if sys.argv[3]:
    print(f"each workload: this build, then {sys.argv[3]}, then this build / that one")
print(f"{'workload':<13}{'input B':>11}{'wall ms':>9}{'user ms':>9}{'sys ms':>8}"
      f"{'MB/s wall':>11}{'MB/s user':>11}{'RSS KiB':>9}{'instr/B':>9}{'dd ms':>8}")
floor = None
figures = {}
for name, program, size, path, index, ir, rss, dd in rows:
    wall, user, system = timing(path, index)
    size = int(size)
    floor = floor or wall
    f = [wall * 1e3, user * 1e3, system * 1e3,
         size / wall / 1e6 if size else None, size / user / 1e6 if size and user > 0 else None,
         int(rss), int(ir) / size if ir != "-" and size else None,
         timing(dd)[0] * 1e3 if dd != "-" else None]
    shown = ["-" if v is None else fmt.format(v)
             for v, fmt in zip(f, ["{:.2f}", "{:.2f}", "{:.2f}", "{:.0f}", "{:.0f}", "{}", "{:.2f}", "{:.2f}"])]
    label = name if program in ("0", "-") else "  old"
    print(f"{label:<13}{size:>11}" + "".join(f"{v:>{w}}" for v, w in zip(shown, [9, 9, 8, 11, 11, 9, 9, 8])))
    if program == "1":
        new = figures[name]
        ratio = ["-" if a is None or b in (None, 0) else f"{a / b:.3f}" for a, b in zip(new, f)]
        print(f"{'  ratio':<13}{'':>11}" + "".join(f"{v:>{w}}" for v, w in zip(ratio, [9, 9, 8, 11, 11, 9, 9, 8])))
    figures[name] = f
    if name == "image-16" and program == "0":
        print(f"{'':13}image-16 wall / true wall = {wall / floor:.2f}")
rss = {r[0]: int(r[6]) for r in rows if r[1] in ("0", "-")}
print(f"peak RSS, stream-100MB minus stream-1MB: {rss['stream-100MB'] - rss['stream-1MB']} KiB")
PY
