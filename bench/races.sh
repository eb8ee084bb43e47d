#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Race a program against another process that keeps making the output's
# name into the input, and count the runs that damaged the input.
#
#   bench/races.sh [-n RUNS] PROGRAM [LAUNCHER...]
#
# Two races, RUNS runs each (default 200), each against a loop in another
# process:
#   link    out.s19 is made a hard link to in.hex and removed again;
#   rename  a hard link to in.hex is renamed onto out.s19, then removed.
# Each run is "LAUNCHER... PROGRAM in.hex out.s19"; afterwards in.hex must
# hold what it held before.  Under Wine, give the program as Windows names
# it and the loader as LAUNCHER:
#
#   bench/races.sh -n 300 'Z:\path\to\mavrid.exe' /usr/lib/wine/wine64
set -euo pipefail

runs=200
if [ "${1:-}" = -n ]; then
    runs=$2
    shift 2
fi
[ $# -ge 1 ] || { sed -n '3,16p' "$0" >&2; exit 2; }
program=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
racer=
cleanup() {
    [ -z "$racer" ] || kill "$racer" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
cp "$here/../examples/blink.hex" original.hex

# The other process: a tight loop, so that the output's name is the input
# for as much of each run as it is not.
race() { # kind; run in the background, it becomes the Python process
    exec python3 - "$1" <<'PY'
import os, sys
def quietly(call, *args):
    try:
        call(*args)
    except OSError:
        pass
while True:
    if sys.argv[1] == "link":
        quietly(os.link, "in.hex", "out.s19")
    else:
        quietly(os.link, "in.hex", "link")
        quietly(os.rename, "link", "out.s19")
    quietly(os.unlink, "out.s19")
PY
}

for kind in link rename; do
    cp original.hex in.hex
    race "$kind" &
    racer=$!
    damaged=0
    for ((i = 0; i < runs; i++)); do
        "$@" "$program" in.hex out.s19 >/dev/null 2>&1 || true
        if ! cmp -s in.hex original.hex; then
            damaged=$((damaged + 1))
            cp original.hex in.hex
        fi
    done
    kill "$racer"
    wait "$racer" 2>/dev/null || true
    racer=
    echo "$kind: $damaged of $runs runs damaged the input"
done
