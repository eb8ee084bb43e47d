// SPDX-License-Identifier: MIT
// Writing and output faults: a full disk is reported whether the stream
// fails at a record or only when it is closed.
#include <gtest/gtest.h>

#include "run_mavrid.h"

static const std::string FULL = BANNER + "Error -- Disk or directory full\n";

#define SKIP_WITHOUT_DEV_FULL()                                                                    \
    if (!has_dev_full())                                                                           \
    GTEST_SKIP() << "this system has no /dev/full"

// Enough records that the output overflows the stream buffer long before
// the end of the input.
static std::string many_records()
{
    std::string input;
    for (unsigned address = 0; address < 0x10000; address += 16)
        input += ihex_record(0, address, std::vector<int>(16, 0xA5));
    return input;
}

TEST(OutputFaults, FullDiskFoundAtCloseOfASmallFile)
{
    SKIP_WITHOUT_DEV_FULL();
    Sandbox box;
    const std::string input = ":0300300002337A1E\n" + END_RECORD;
    box.write("in.hex", input);
    Outcome run = box.run({"in.hex", "/dev/full"}, "");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, FULL);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(box.read("in.hex"), input);
}

// A write past the file-size limit fails as one to a full disk does; it
// does not end the run by a signal with nothing reported.
TEST(OutputFaults, FullDiskFoundAtARecordBeforeTheInputEnds)
{
    SKIP_WITHOUT_DEV_FULL();
    // The bad record at the end is never reached: the fault is found at
    // a record that comes before it.
    const std::string input = many_records() + ":0100000000FE\n" + END_RECORD;
    struct Disk {
        const char* why;
        std::string outfile;
        long file_size_limit;
    };
    const Disk disks[] = {
        {"/dev/full", "/dev/full", 0},
        {"a file-size limit of 64 KiB", "out.s19", 65536},
    };
    Sandbox box;
    box.write("in.hex", input);
    for (const Disk& disk : disks) {
        SCOPED_TRACE(disk.why);
        // Windows has no file-size limit.
        if (WINDOWS && disk.file_size_limit != 0)
            continue;
        box.limit_file_size(disk.file_size_limit);
        Outcome run = box.run({"in.hex", disk.outfile}, "");
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, FULL);
        EXPECT_EQ(box.read("in.hex"), input);
    }
    box.limit_file_size(0);

    // The same input with a small count is refused for its record instead,
    // since the full disk is found only at close.  Wine's C runtime writes
    // each line out as it ends, so there the disk is found full at once.
    if (WINDOWS)
        return;
    box.write("small.hex", ":0300300002337A1E\n:0100000000FE\n" + END_RECORD);
    Outcome run = box.run({"small.hex", "/dev/full"}, "");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Bad record in Intel hex file\n");
}

TEST(OutputFaults, LargeFileConvertsWhole)
{
    Outcome run = run_mavrid(many_records() + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
    std::string expected = S0_LINE;
    for (unsigned address = 0; address < 0x10000; address += 16)
        expected += srec_line(1, address, std::vector<int>(16, 0xA5));
    EXPECT_EQ(run.output, expected + S9_LINE);
}
