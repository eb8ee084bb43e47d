// Safety: the input is never destroyed by naming it as the output, a
// directory is not taken for an input, and addresses past FFFF roll over.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "run_mavrid.h"

static const std::string INPUT = ":0300300002337A1E\n:00000001FF\n";
static const std::string REFUSED = BANNER + "Error -- Could not create S-record file\n";

TEST(Safety, OutputNamingTheInputIsRefusedAndTheInputKept)
{
    struct Call {
        const char* why;
        std::vector<std::string> args;
        std::string stdin_path;
    };
    const Call calls[] = {
        {"same path", {"in.hex", "in.hex"}, ""},
        {"dot prefix", {"in.hex", "./in.hex"}, ""},
        {"absolute path", {"in.hex", ""}, ""},
        {"hard link", {"in.hex", "hard.hex"}, ""},
        {"symbolic link as output", {"in.hex", "soft.hex"}, ""},
        {"symbolic link as input", {"soft.hex", "in.hex"}, ""},
        {"standard input redirected from it", {"/dev/stdin", "in.hex"}, "in.hex"},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // Windows has no file name for standard input; under Wine the name
        // reaches the Wine server's own standard input instead.
        if (WINDOWS && call.args[0] == "/dev/stdin")
            continue;
        Sandbox box;
        box.write("in.hex", INPUT);
        ASSERT_EQ(link(box.path("in.hex").c_str(), box.path("hard.hex").c_str()), 0);
        ASSERT_EQ(symlink("in.hex", box.path("soft.hex").c_str()), 0);
        std::vector<std::string> args = call.args;
        if (args[1].empty())
            args[1] = box.path("in.hex");
        Outcome run = box.run(args, "", call.stdin_path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_EQ(box.read("in.hex"), INPUT);
    }
}

TEST(Safety, CopyOfTheInputIsAnOrdinaryOutput)
{
    Sandbox box;
    box.write("in.hex", INPUT);
    box.write("copy.hex", INPUT);
    Outcome run = box.run({"in.hex", "copy.hex"}, "copy.hex");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S106003002337A1A\nS9030000FC\n");
    EXPECT_EQ(box.read("in.hex"), INPUT);
}

TEST(Safety, DirectoryAsInputIsNotOpened)
{
    Sandbox box;
    std::filesystem::create_directory(box.path("dir"));
    Outcome run = box.run({"dir", "out.s19"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Could not open Intel hex file\n");
    EXPECT_FALSE(run.output_exists);
}

TEST(Safety, ChunksPastFFFFRollOverToSixteenBits)
{
    // 64 bytes at FFF0: chunks at FFF0, 1000E and 1002C are written as
    // FFF0, 000E and 002C.
    std::vector<int> data(64);
    std::iota(data.begin(), data.end(), 0);
    Outcome run = run_mavrid(ihex_record(0, 0xFFF0, data) + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + srec_line(1, 0xFFF0, {data.begin(), data.begin() + 30})
                              + srec_line(1, 0x000E, {data.begin() + 30, data.begin() + 60})
                              + srec_line(1, 0x002C, {data.begin() + 60, data.end()}) + S9_LINE);
    // Every S1 address field is four digits: each line is as long as its count says.
    EXPECT_EQ(run.output.find("S1210FFF0"), std::string::npos);
}
