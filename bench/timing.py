#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Time commands run in turn, round after round, so that a machine that
# speeds up or slows down meanwhile (a shared or virtual one) affects each
# command alike; hyperfine runs all the runs of one command, then the next.
#
#   bench/timing.py RUNS OUT.json COMMAND...
#
# Each COMMAND is one argument, split into words as a shell would.  The
# first round is a warm-up and is not counted; the rounds after it take the
# commands in turn, starting with a different one each round.  OUT.json
# has hyperfine's layout: for each command its median wall time and its
# median user and system CPU time, in seconds.
import json
import os
import shlex
import statistics
import subprocess
import sys
import time

runs, out, commands = int(sys.argv[1]), sys.argv[2], [shlex.split(c) for c in sys.argv[3:]]


def run(words):
    start = time.perf_counter()
    child = subprocess.Popen(words, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    return time.perf_counter() - start, usage.ru_utime, usage.ru_stime


samples = [[] for _ in commands]
for round_ in range(runs + 1):
    for k in range(len(commands)):
        i = (round_ + k) % len(commands)
        sample = run(commands[i])
        if round_ > 0:
            samples[i].append(sample)
results = [{"command": " ".join(words),
            "median": statistics.median(s[0] for s in taken),
            "user": statistics.median(s[1] for s in taken),
            "system": statistics.median(s[2] for s in taken)}
           for words, taken in zip(commands, samples)]
json.dump({"results": results}, open(out, "w"), indent=1)
