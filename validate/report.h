// SPDX-License-Identifier: MIT
// report.h -- the validation record: what ran, against what, and the
// verdict on every requirement.
#ifndef MAVRID_VALIDATE_REPORT_H
#define MAVRID_VALIDATE_REPORT_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "requirements.h"

// One test case of the suite as it ended.
struct TestRecord {
    std::string name;                      // Suite.Case
    std::string result;                    // passed, failed or skipped
    std::string reason;                    // why skipped, what failed, what was left out
    std::vector<std::string> requirements; // the IDs it names
};

struct RequirementResult {
    Requirement requirement;
    std::vector<TestRecord> tests;
    std::string verdict; // passed, failed or not tested
};

struct Report {
    std::string program; // absolute path
    long long size = -1; // bytes
    std::string sha256;
    std::string version;   // the banner's first line
    std::string validator; // mavrid-validate and its version
    std::string host;
    std::string date;                  // UTC, ISO 8601
    std::vector<std::string> coverage; // of the build the program came from, if given
    std::vector<std::string> faults;   // what makes the record incomplete
    std::vector<RequirementResult> requirements;

    // How many requirements passed.
    std::size_t requirements_passed() const;

    // Every requirement passed and the record is complete.
    bool passed() const;
};

// Judge each requirement by the tests that name it: failed if any failed,
// passed if at least one passed and none failed, not tested otherwise.
// A test that names no requirement, or an unknown one, is a fault.
void judge(Report& report, const std::vector<Requirement>& requirements,
           const std::vector<TestRecord>& tests);

void write_json(const Report& report, std::ostream& out);

// One self-contained page, to print and sign.
void write_html(const Report& report, std::ostream& out);

#endif // MAVRID_VALIDATE_REPORT_H
