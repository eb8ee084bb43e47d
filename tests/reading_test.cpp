// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Reading records: hexadecimal digits in either case, bit 7, what may stand
// between records, and input that ends too soon.
#include <gtest/gtest.h>

#include <cctype>

#include "run_mavrid.h"

// The one record of the inputs below, 08 0030 00 01 23 45 67 89 AB CD EF,
// holds every hexadecimal digit, and what it converts to.
static const std::string RECORD = ":080030000123456789ABCDEF08";
static const std::string CONVERTED = S0_LINE + "S10B00300123456789ABCDEF04\nS9030000FC\n";

// Every character with bit 7 set, as a sender with a parity bit sends it.
static std::string with_bit_7(const std::string& text)
{
    std::string sent = text;
    for (char& c : sent)
        c = static_cast<char>(c | 0x80);
    return sent;
}

static std::string lower_case(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Inputs that all hold that record and an end record.
TEST(Reading, AcceptedSpellingsOfTheSameRecord)
{
    verifies("REQ-010 REQ-011 REQ-012 REQ-018 REQ-020 REQ-037 REQ-042");
    const std::string inputs[] = {
        RECORD + "\n:00000001FF\n",                                  // upper case, LF
        lower_case(RECORD + "\n:00000001FF\n"),                      // lower case
        with_bit_7(RECORD + "\n:00000001FF\n"),                      // bit 7 set on every character
        with_bit_7(lower_case(RECORD + "\n:00000001FF\n")),          // both
        RECORD + "\r\n:00000001FF\r\n",                              // CR LF
        RECORD + ":00000001FF",                                      // nothing between records
        "\n\n; comment line\n  \t" + RECORD + " x y\n\n:00000001FF", // junk between
        RECORD + "\n:00000001FF\n:0300300002337A1F\ngarbage\xFF",    // after end
        RECORD + "\n\x1A:00000001FF\n",                              // Ctrl-Z is no end of input
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        Outcome run = run_mavrid(input);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
        EXPECT_EQ(run.output, CONVERTED);
    }
}

// And the same values in the fields: one data byte FF at address FFFF.
TEST(Reading, ExtremeByteValuesDecode)
{
    verifies("REQ-013");
    const std::pair<std::string, std::string> records[] = {
        {":02000000FF00FF\n", "S1050000FF00FB\n"},
        {":01FFFF00FF02\n", "S104FFFFFFFE\n"},
    };
    for (const auto& [record, line] : records) {
        SCOPED_TRACE(record);
        Outcome run = run_mavrid(record + END_RECORD);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, S0_LINE + line + "S9030000FC\n");
    }
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
