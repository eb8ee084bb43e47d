// SPDX-License-Identifier: MIT
// Reading records: hexadecimal digits in either case, bit 7, what may stand
// between records, and input that ends too soon.
#include <gtest/gtest.h>

#include "run_mavrid.h"

static const std::string CONVERTED = S0_LINE + "S106003002337A1A\nS9030000FC\n";

// Inputs that all hold the one record 03 0030 00 02 33 7A and an end record.
TEST(Reading, AcceptedSpellingsOfTheSameRecord)
{
    verifies("REQ-010 REQ-011 REQ-012 REQ-018 REQ-020 REQ-037 REQ-042");
    const std::string inputs[] = {
        ":0300300002337A1E\n:00000001FF\n",                             // upper case, LF
        ":0300300002337a1e\n:00000001ff\n",                             // lower case
        ":0300300002337A1E\r\n:00000001FF\r\n",                         // CR LF
        ":0300300002337A1E:00000001FF",                                 // nothing between records
        "\n\n; comment line\n  \t:0300300002337A1E x y\n\n:00000001FF", // junk between
        "\xBA\xB0\xB3\xB0\xB0\xB3\xB0\xB0\xB0\xB0\xB2\xB3\xB3\xB7\xC1\xB1\xC5\n"
        "\xBA\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB1\xC6\xC6\n", // bit 7 set on every character
        ":0300300002337A1E\n:00000001FF\n:0300300002337A1F\ngarbage\xFF", // after end
        ":0300300002337A1E\n\x1A:00000001FF\n", // Ctrl-Z is no end of input
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        Outcome run = run_mavrid(input);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
        EXPECT_EQ(run.output, CONVERTED);
    }
}

TEST(Reading, ExtremeByteValuesDecode)
{
    verifies("REQ-013");
    Outcome run = run_mavrid(":02000000FF00FF\n" + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S1050000FF00FB\nS9030000FC\n");
}

using namespace std::string_literals;

struct BadInput {
    std::string input;
    const char* message;
    std::string output; // what the file holds after the fault
};

static const std::string ONE_S1 = S0_LINE + "S106003002337A1A\n";

// Each ends the run with one error line and status 255; a faulty record
// contributes nothing to the output.
static const BadInput bad_inputs[] = {
    {":03003000 02337A1E\n" + END_RECORD, "Bad record in Intel hex file",
     S0_LINE}, // blank between pairs
    {":0300300002337G1E\n" + END_RECORD, "Bad record in Intel hex file", S0_LINE}, // not a digit
    {":0300300002337\xC7"
     "1E\n"
         + END_RECORD,
     "Bad record in Intel hex file", S0_LINE},                                     // 'G' | 0x80
    {":030030:002337A1E\n" + END_RECORD, "Bad record in Intel hex file", S0_LINE}, // mark inside
    {":0300300002337A\x1A"
     "1E\n"
         + END_RECORD,
     "Bad record in Intel hex file", S0_LINE},                                    // Ctrl-Z inside
    {":0300300002337A1\n" + END_RECORD, "Bad record in Intel hex file", S0_LINE}, // line end inside
    {":03003000\0"
     "02337A1E\n"s
         + END_RECORD,
     "Bad record in Intel hex file", S0_LINE},                        // NUL inside
    {":0300300002337A", "Unexpected EOF on Intel hex file", S0_LINE}, // cut short
    {":0", "Unexpected EOF on Intel hex file", S0_LINE},              // cut mid-byte
    {"no record mark at all\n", "Unexpected EOF on Intel hex file", S0_LINE},
    {":0300300002337A1E\n", "Unexpected EOF on Intel hex file", ONE_S1},          // no end record
    {":0300300002337A1E\n:00000001", "Unexpected EOF on Intel hex file", ONE_S1}, // end cut short
};

TEST(Reading, BadInputEndsTheRunWithItsMessage)
{
    verifies("REQ-012 REQ-014 REQ-019 REQ-040 REQ-041 REQ-043");
    for (const BadInput& bad : bad_inputs) {
        SCOPED_TRACE(bad.input);
        Outcome run = run_mavrid(bad.input);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, BANNER + "Error -- " + bad.message + "\n");
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, bad.output);
    }
}
