// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Conversion: how data records become S1 records, the end record becomes
// the S9 record, and which records are refused.
#include <gtest/gtest.h>

#include <numeric>

#include "examples.h"
#include "run_mavrid.h"

static const std::string SUCCESS = BANNER + "File successfully converted\n";
static const std::string BAD = BANNER + "Error -- Bad record in Intel hex file\n";

// 0, 1, 2, ... n-1 (mod 256): data whose every byte tells its position.
static std::vector<int> counting(unsigned n)
{
    std::vector<int> data(n);
    std::iota(data.begin(), data.end(), 0);
    for (int& b : data)
        b &= 0xFF;
    return data;
}

static std::vector<int> slice(const std::vector<int>& data, unsigned from, unsigned n)
{
    return {data.begin() + from, data.begin() + from + n};
}

TEST(Conversion, EndRecordAloneGivesHeaderAndTermination)
{
    verifies("REQ-030 REQ-036 REQ-038 REQ-040 REQ-042");
    Outcome run = run_mavrid(END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, SUCCESS);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output, "S007000048445239E1\nS9030000FC\n");
}

TEST(Conversion, OneShortRecordBecomesOneS1Line)
{
    verifies("REQ-034");
    Outcome run = run_mavrid(":0300300002337A1E\n" + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, SUCCESS);
    EXPECT_EQ(run.output, S0_LINE + "S106003002337A1A\n" + S9_LINE);
}

TEST(Conversion, LongRecordsSplitIntoThirtyByteChunks)
{
    verifies("REQ-031 REQ-034 REQ-037");
    std::vector<int> data = counting(32);
    Outcome run = run_mavrid(ihex_record(0, 0x1000, data) + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE
                              + "S1211000000102030405060708090A0B0C0D0E0F101112131415161718191A"
                                "1B1C1D1B\n"
                              + "S105101E1E1F8F\n" + S9_LINE);
}

TEST(Conversion, ChunkBoundaries)
{
    verifies("REQ-021 REQ-031");
    for (unsigned n : {1u, 29u, 30u, 31u, 60u, 61u, 255u}) {
        SCOPED_TRACE(n);
        std::vector<int> data = counting(n);
        std::string expected = S0_LINE;
        for (unsigned at = 0; at < n; at += 30)
            expected += srec_line(1, 0x2000 + at, slice(data, at, std::min(30u, n - at)));
        Outcome run = run_mavrid(ihex_record(0, 0x2000, data) + END_RECORD);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, expected + S9_LINE);
    }
}

TEST(Conversion, FullLengthRecordGivesNineS1Lines)
{
    verifies("REQ-021 REQ-031");
    std::vector<int> data = counting(255);
    Outcome run = run_mavrid(ihex_record(0, 0x0100, data) + END_RECORD);
    ASSERT_EQ(run.status, 0);
    // Eight of 30 bytes, then 15, their addresses 30 apart; count fields 21 and 12.
    const char* starts[] = {"S1210100", "S121011E", "S121013C", "S121015A", "S1210178",
                            "S1210196", "S12101B4", "S12101D2", "S11201F0"};
    std::string rest = run.output.substr(S0_LINE.size());
    for (const char* start : starts) {
        EXPECT_EQ(rest.substr(0, 8), start);
        rest.erase(0, rest.find('\n') + 1);
    }
    EXPECT_EQ(rest, S9_LINE);
}

TEST(Conversion, RecordsKeepTheirOrderAndAreNeverMerged)
{
    verifies("REQ-033");
    // Two adjacent records and one below them: three S1 lines, as given.
    std::string input = ihex_record(0, 0x0010, {1, 2}) + ihex_record(0, 0x0012, {3, 4})
                        + ihex_record(0, 0x0000, {5}) + END_RECORD;
    Outcome run = run_mavrid(input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S10500100102E7\nS10500120304E1\nS104000005F6\n" + S9_LINE);
}

TEST(Conversion, EmptyDataRecordGivesNoS1Line)
{
    verifies("REQ-032");
    Outcome run = run_mavrid(":00123400BA\n:0300300002337A1E\n" + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S106003002337A1A\n" + S9_LINE);
}

TEST(Conversion, EndRecordAddressIsCarriedIntoS9)
{
    verifies("REQ-036");
    Outcome run = run_mavrid(":00100001EF\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S9031000EC\n");

    run = run_mavrid(":00FFFF0101\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + "S903FFFFFE\n");
}

struct Refused {
    std::string input;
    const char* why;
};

// Each is refused with "Bad record"; the S1 line of the good record before
// it stays in the output, and nothing of the refused record is written.
TEST(Conversion, RefusedRecordsKeepWhatCameBefore)
{
    verifies("REQ-015 REQ-016 REQ-017 REQ-041 REQ-043");
    const std::string good = ":0300300002337A1E\n";
    const Refused refused[] = {
        {":0300300002337A1F\n" + END_RECORD, "checksum off by one"},
        {":0300300002337A00\n" + END_RECORD, "checksum zero"},
        {":0300300002337A9E\n" + END_RECORD, "checksum off by 80, right in 7 bits"},
        {":0400300002337A1E\n" + END_RECORD, "count one too high, sum cannot match"},
        {ihex_record(2, 0, {0x10, 0x00}) + END_RECORD, "type 02, extended segment address"},
        {ihex_record(3, 0, {0, 0, 0, 0}) + END_RECORD, "type 03, start segment address"},
        {ihex_record(4, 0, {0x00, 0x01}) + END_RECORD, "type 04, extended linear address"},
        {ihex_record(5, 0, {0, 0, 0, 0}) + END_RECORD, "type 05, start linear address"},
        {":00000003FD\n" + END_RECORD, "type 03 with no data is no end record"},
        {":00000002"
         "ZZ",
         "unknown type is refused before the rest is read"},
        {":00000001FE\n", "end record with a bad checksum"},
        {":000000017F\n", "end record with its checksum off by 80"},
        {":01000001FE\n", "end record with a count, checksum right"},
        {":0100000100FE\n", "end record with a count and a data byte"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.why);
        Outcome run = run_mavrid(good + r.input);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, BAD);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, S0_LINE + "S106003002337A1A\n");
    }
}

TEST(Conversion, ShippedExampleGivesItsShippedOutput)
{
    verifies("REQ-039");
    Sandbox box;
    box.write("blink.hex", BLINK_HEX);
    Outcome run = box.run({"blink.hex", "blink.s19"}, "blink.s19");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, SUCCESS);
    EXPECT_EQ(run.output, BLINK_S19);
}
