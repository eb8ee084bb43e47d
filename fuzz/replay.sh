#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run every file of the fuzz corpus through a built mavrid.
#
#   fuzz/replay.sh MAVRID [CORPUS_DIR]
#
# Each run must exit 0 or 255 and write nothing to standard error, where a
# sanitizer would report.  Prints one line per failure and a summary.
set -uo pipefail
mavrid=${1:?usage: fuzz/replay.sh MAVRID [CORPUS_DIR]}
corpus=${2:-$(dirname "$0")/corpus}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
for input in "$corpus"/*; do
    "$mavrid" "$input" "$work/out.s19" >/dev/null 2>"$work/stderr"
    status=$?
    if { [ "$status" = 0 ] || [ "$status" = 255 ]; } && [ ! -s "$work/stderr" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "replay: $input: exit status $status" >&2
        head -n 20 "$work/stderr" >&2
    fi
done
echo "replay: $passed passed, $failed failed"
[ "$failed" = 0 ]
