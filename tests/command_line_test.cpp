// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Command line and files: the banner, the usage error, and the files that
// cannot be opened or created.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_mavrid.h"

static const std::string USAGE = BANNER + "Error -- Usage:  mavrid infile outfile\n";

// Standard output may be a file that the wrong call names, such as the
// input with the output left out: nothing is written to it, and the usage
// line goes to standard error.
TEST(CommandLine, WrongArgumentCountPrintsUsageAndTouchesNothing)
{
    verifies("REQ-001 REQ-002 REQ-040 REQ-041 REQ-059");
    const std::string ON_ERRORS = "Error -- Usage:  mavrid infile outfile\n";
    struct Call {
        std::vector<std::string> args;
        std::string stdout_path = "";
        std::string errors = "";
    };
    const Call calls[] = {
        {{}},
        {{"in.hex"}},
        {{"in.hex", "out.s19", "extra"}},
        {{"in.hex"}, APPENDED + "in.hex", ON_ERRORS},
        {{"in.hex"}, READ_WRITE + "in.hex", ON_ERRORS},
        {{"in.hex", "out.s19", "extra"}, APPENDED + "extra", ON_ERRORS},
        {{"in.hex"}, WITH_ERRORS + APPENDED + "in.hex"},
        // A device is no such file (nor is its text lost on standard error).
        {{NULL_DEVICE}, NULL_DEVICE},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(std::to_string(call.args.size()) + " " + call.stdout_path);
        // A standard output that Wine inherits from a Unix process has no
        // volume, so its identity cannot be read.
        if (windows() && !WINDOWS_HARNESS && !call.stdout_path.empty())
            continue;
        Sandbox box;
        box.write("in.hex", END_RECORD);
        box.write("extra", END_RECORD);
        Outcome run = box.run(call.args, "out.s19", "", call.stdout_path);
        EXPECT_EQ(run.status, 255);
        EXPECT_FALSE(run.output_exists);
        if (call.stdout_path.empty()) {
            EXPECT_EQ(run.console, USAGE);
            EXPECT_EQ(run.errors, "");
            continue;
        }
        EXPECT_EQ(run.errors, call.errors);
        EXPECT_EQ(box.read("in.hex"), END_RECORD);
        EXPECT_EQ(box.read("extra"), END_RECORD);
    }
}

// An error ends the program with status -1, which cmd.exe reports as such
// (so "if errorlevel 1" does not see it).
TEST(CommandLine, ErrorLevelInCmdIsMinusOne)
{
    verifies("REQ-041");
    if (!windows())
        GTEST_SKIP() << "cmd.exe runs only a Windows program";
    Sandbox box;
    Outcome run = box.run_in_cmd({"&", "echo", "ERRORLEVEL=!ERRORLEVEL!"});
    EXPECT_EQ(run.console, USAGE + "ERRORLEVEL=-1\n");
}

TEST(CommandLine, MissingInputLeavesOutputUncreated)
{
    verifies("REQ-003");
    Sandbox box;
    Outcome run = box.run({"absent.hex", "out.s19"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Could not open Intel hex file\n");
    EXPECT_FALSE(run.output_exists);
}

TEST(CommandLine, MissingInputLeavesExistingOutputUntouched)
{
    verifies("REQ-003");
    Sandbox box;
    box.write("out.s19", "keep me\n");
    Outcome run = box.run({"absent.hex", "out.s19"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(box.read("out.s19"), "keep me\n");
}

TEST(CommandLine, OutputThatCannotBeCreated)
{
    verifies("REQ-005");
    Sandbox box;
    box.write("in.hex", END_RECORD);
    std::filesystem::create_directory(box.file("dir"));
    for (const char* out : {"no/such/dir/out.s19", "dir"}) {
        SCOPED_TRACE(out);
        Outcome run = box.run({"in.hex", out}, out);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, BANNER + "Error -- Could not create S-record file\n");
    }
    EXPECT_TRUE(std::filesystem::is_directory(box.file("dir")));
    EXPECT_EQ(box.read("in.hex"), END_RECORD);
}

TEST(CommandLine, EmptyInputLeavesOnlyTheHeader)
{
    verifies("REQ-019 REQ-030 REQ-043");
    Outcome run = run_mavrid("");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Unexpected EOF on Intel hex file\n");
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output, S0_LINE);
}

// The title line names the release; a new version changes both together.
TEST(CommandLine, BannerNamesTheProjectVersion)
{
    verifies("REQ-001");
    Outcome run = run_mavrid(END_RECORD);
    EXPECT_EQ(run.console.substr(0, run.console.find('\n')),
              "Intel Hex to Motorola S-Record Converter Ver " MAVRID_VERSION);
}
