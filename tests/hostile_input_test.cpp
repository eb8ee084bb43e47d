// SPDX-License-Identifier: MIT
// Hostile input: megabytes of noise, marks, digits and a cut-short record.
// Each ends with one error line, in bounded time and bounded memory.
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

TEST(HostileInput, EndsWithOneErrorLineInBoundedMemory)
{
    struct Case {
        const char* why;
        std::string input;
        std::string console_end;
    };
    const Case cases[] = {
        {"random bytes", random_bytes(), BAD_LINE},
        {"record marks only", repeated(":"), BAD_LINE},
        {"one endless line of digits, no mark", repeated("0123456789ABCDEF"), EOF_LINE},
        // An empty data record, then megabytes of digits to skip.
        {"a mark and endless zeros", ":" + repeated("0"), EOF_LINE},
        {"count FF cut short", ":FF000000" + std::string(300, '0'), EOF_LINE},
        {"endless line ends", repeated("\r\n"), EOF_LINE},
    };
    [[maybe_unused]] const long small_rss = run_mavrid(END_RECORD).max_rss_kib;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sandbox box;
        box.write("in.hex", c.input);
        Outcome run = box.run({"in.hex", "out.s19"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, BANNER + c.console_end);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, S0_LINE);
#ifndef MAVRID_SANITIZED // the sanitizers' shadow memory grows with use
        EXPECT_LT(run.max_rss_kib, small_rss + 256);
#endif
    }
}
