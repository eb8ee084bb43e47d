// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Hostile input: megabytes of noise, marks, digits and a cut-short record.
// Each ends with one error line, in bounded time and bounded memory, as
// does a valid stream of hundreds of thousands of records with its last.
#include <gtest/gtest.h>

#include <random>

#include "run_mavrid.h"

static const std::string EOF_LINE = "Error -- Unexpected EOF on Intel hex file\n";
static const std::string BAD_LINE = "Error -- Bad record in Intel hex file\n";
static constexpr std::size_t MEGABYTES = 4 << 20;

static std::string random_bytes()
{
    std::mt19937 generator(20261208);
    std::string bytes(MEGABYTES, '\0');
    for (char& b : bytes)
        b = static_cast<char>(generator());
    return bytes;
}

static std::string repeated(const std::string& unit)
{
    std::string bytes;
    while (bytes.size() < MEGABYTES)
        bytes += unit;
    return bytes;
}

// The stream of short records runs through many thousands of records,
// which a program that keeps memory per record cannot convert within its
// data limit (see DATA_LIMIT_KIB).
TEST(HostileInput, EndsWithOneLineInBoundedMemory)
{
    verifies("REQ-062 REQ-063");
    std::string unlimited;
    if (!data_limited(unlimited))
        left_out("REQ-062 REQ-063",
                 "the " + std::to_string(DATA_LIMIT_KIB) + " KiB data limit: " + unlimited);
    const std::string short_record = ":0100000000FF\n";
    const std::string records = repeated(short_record);
    std::string converted = S0_LINE;
    for (std::size_t i = 0; i < records.size() / short_record.size(); ++i)
        converted += srec_line(1, 0x0000, {0x00});
    struct Case {
        const char* why;
        std::string input;
        std::string console_end;
        std::string output;
    };
    const Case cases[] = {
        {"random bytes", random_bytes(), BAD_LINE, S0_LINE},
        {"record marks only", repeated(":"), BAD_LINE, S0_LINE},
        {"one endless line of digits, no mark", repeated("0123456789ABCDEF"), EOF_LINE, S0_LINE},
        // An empty data record, then megabytes of digits to skip.
        {"a mark and endless zeros", std::string(":") + repeated("0"), EOF_LINE, S0_LINE},
        {"count FF cut short", ":FF000000" + std::string(300, '0'), EOF_LINE, S0_LINE},
        {"endless line ends", repeated("\r\n"), EOF_LINE, S0_LINE},
        {"hundreds of thousands of short records", records + END_RECORD,
         "File successfully converted\n", converted + S9_LINE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sandbox box;
        box.write("in.hex", c.input);
        Outcome run = box.run({"in.hex", "out.s19"});
        EXPECT_EQ(run.status, c.output == S0_LINE ? 255 : 0);
        EXPECT_EQ(run.console, BANNER + c.console_end);
        EXPECT_EQ(run.errors, "");
        if (c.output.size() < 1000)
            EXPECT_EQ(run.output, c.output);
        else // megabytes, which a diff would only bury
            EXPECT_TRUE(run.output == c.output)
                << "the output differs: " << run.output.size() << " bytes, not " << c.output.size();
    }
}
