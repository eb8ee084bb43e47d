#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Fuzz the whole mavrid program with AFL++ for a bounded time.
#
#   fuzz/run.sh [SECONDS] [FINDINGS_DIR]
#
# Builds mavrid with afl-clang-fast++ and AddressSanitizer plus
# UndefinedBehaviorSanitizer in build-fuzz/, fuzzes it as
# "mavrid @@ <output file>" from fuzz/corpus with fuzz/ihex.dict for SECONDS
# (default 600), then prints executions, paths, crashes and hangs.  Every
# fault ends the process by design, so the program is run whole, a process
# per input.  Exits 1 if anything crashed or hung: turn each finding in
# FINDINGS_DIR/default/{crashes,hangs} into a regression test.
set -euo pipefail
seconds=${1:-600}
top=$(cd "$(dirname "$0")/.." && pwd)
findings=${2:-$top/build-fuzz/findings}
build=$top/build-fuzz

command -v afl-clang-fast++ >/dev/null || {
    echo "fuzz: AFL++ is missing (Debian: apt-get install afl++)" >&2
    exit 2
}

export AFL_USE_ASAN=1 AFL_USE_UBSAN=1
CC=afl-clang-fast CXX=afl-clang-fast++ cmake -S "$top" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target mavrid >/dev/null
unset AFL_USE_ASAN AFL_USE_UBSAN

rm -rf "$findings"
mkdir -p "$findings"
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0
afl-fuzz -i "$top/fuzz/corpus" -o "$findings" -x "$top/fuzz/ihex.dict" \
    -m none -t 1000 -V "$seconds" \
    -- "$build/mavrid" @@ "$findings/out.s19" >"$findings/afl.log" 2>&1 || {
    tail -n 20 "$findings/afl.log" >&2
    exit 2
}

stats=$findings/default/fuzzer_stats
field() { sed -n "s/^$1 *: *//p" "$stats"; }
crashes=$(field saved_crashes)
hangs=$(field saved_hangs)
echo "fuzzed for $(field run_time) s: executions $(field execs_done)," \
    "paths $(field corpus_count), crashes $crashes, hangs $hangs"
[ "$crashes" = 0 ] && [ "$hangs" = 0 ]
