// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Streams: input from pipes, which cannot seek, and console output that
// fails or is closed, which must not change the outcome or the files.
#include <gtest/gtest.h>

#include "mounts.h"
#include "run_mavrid.h"

// A 64 KiB image: far more than a pipe holds, so it must be streamed.
static std::string image(std::string& expected)
{
    std::string input;
    expected = S0_LINE;
    for (unsigned address = 0; address < 0x10000; address += 32) {
        std::vector<int> data(32, static_cast<int>(address >> 8));
        input += ihex_record(0, address, data);
        expected += srec_line(1, address, {data.begin(), data.begin() + 30});
        expected += srec_line(1, address + 30, {data.begin() + 30, data.end()});
    }
    expected += S9_LINE;
    return input + END_RECORD;
}

TEST(Streams, InputFromAPipe)
{
    verifies("REQ-060 REQ-061");
    if (windows())
        GTEST_SKIP() << "Windows has no file name for standard input";
    std::string expected;
    const std::string input = image(expected);
    Sandbox box;
    Outcome run = box.run({"/dev/stdin", "out.s19"}, "out.s19", "", "", &input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
    EXPECT_EQ(run.output, expected);
}

TEST(Streams, InputFromANamedPipe)
{
    verifies("REQ-060 REQ-061");
    std::string expected;
    const std::string input = image(expected);
    Sandbox box;
    NamedPipe pipe(box, input);
    Outcome run = box.run({pipe.path(), "out.s19"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, expected);
}

// The console is only a report: when it cannot be written, the status and
// the output file still say what happened, and no console text reaches the
// output file, even when a closed descriptor is reused for it.
TEST(Streams, FailingOrClosedConsoleChangesNothingElse)
{
    verifies("REQ-046 REQ-055");
    const std::string good = ":0300300002337A1E\n" + END_RECORD;
    const std::string bad = ":0300300002337A1E\n:0300300002337A1F\n" + END_RECORD;
    const std::string converted = S0_LINE + "S106003002337A1A\nS9030000FC\n";
    const std::string partial = S0_LINE + "S106003002337A1A\n";
    struct Case {
        const char* why;
        std::string stdin_path, stdout_path, input, output;
        int status;
        bool without_null_device = false;
    };
    const std::string FULL = "<full device>";
    const Case cases[] = {
        {"console full, success", "", FULL, good, converted, 0},
        {"console full, failure", "", FULL, bad, partial, 255},
        {"console closed, success", "", CLOSED, good, converted, 0},
        {"console closed, failure", "", CLOSED, bad, partial, 255},
        {"input and console closed, failure", CLOSED, CLOSED, bad, partial, 255},
        {"input and console closed, no /dev/null", CLOSED, CLOSED, bad, partial, 255, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // Started from a Unix process with descriptors 0 and 1 both closed,
        // Wine's server reports a protocol error and the exit status is
        // lost.  Windows has no null device that can be missing.
        if (windows() && c.stdin_path == CLOSED && !WINDOWS_HARNESS) {
            left_out("REQ-055", std::string(c.why)
                                    + ": Wine loses the exit status of a program started "
                                      "from Unix with descriptors 0 and 1 closed");
            continue;
        }
        if (windows() && c.without_null_device)
            continue;
        FullDevice full;
        if (c.stdout_path == FULL && full.path().empty()) {
            left_out("REQ-046", std::string(c.why) + ": this system has no full device");
            continue;
        }
        Mounts mounts;
        if (c.without_null_device) {
            if (*Mounts::unavailable() != '\0') {
                left_out("REQ-055", std::string(c.why) + ": " + Mounts::unavailable());
                continue;
            }
            mounts.tmpfs("/dev"); // an empty /dev, for this process and the program
            ASSERT_FALSE(HasFatalFailure());
        }
        Sandbox box;
        box.write("in.hex", c.input);
        Outcome run = box.run({"in.hex", "out.s19"}, "out.s19", c.stdin_path,
                              c.stdout_path == FULL ? full.path() : c.stdout_path);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(box.read("in.hex"), c.input);
    }
}
