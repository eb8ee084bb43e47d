// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// report.h -- the validation record: what ran, against what, by whom and
// where, and the verdict on every requirement from the checks that ran.
#ifndef MAVRID_VALIDATE_REPORT_H
#define MAVRID_VALIDATE_REPORT_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "requirements.h"

// A part of a test case that could not be set up here: the requirements
// it verifies, and why.
struct LeftOut {
    std::vector<std::string> requirements;
    std::string why;
};

// One test case of the suite as it ended.
struct TestRecord {
    std::string name;                      // Suite.Case
    std::string result;                    // passed, failed or skipped
    std::string reason;                    // why skipped, or what failed
    std::vector<std::string> requirements; // the IDs it verifies whenever it passes
    std::vector<LeftOut> left_out;
    std::string left_behind; // what its runs left running, if any
};

// One piece of evidence on a requirement: a test case as a whole, or a
// part of one that was left out.
struct Check {
    std::string test;
    std::string result; // passed, failed, left out, or not applicable
    std::string reason;
};

struct RequirementResult {
    Requirement requirement;
    std::vector<Check> checks;
    std::string verdict; // passed, failed, not tested, or not applicable
};

struct Report {
    // The program validated, and the file it is: a copy of the file named,
    // made at the start, which every run ran and which was hashed at the
    // start and at the end.
    std::string program_given; // as the command line named it
    std::string program;       // that path, absolute, links followed
    std::string program_copy;  // the copy that ran
    long long size = -1;       // bytes
    std::string sha256;
    std::string sha256_at_end;      // of the copy, once the suite has run
    std::string kind;               // ELF or PE and its machine, and how it is linked
    std::string linking;            // static or dynamic
    std::vector<std::string> loads; // what it loads besides itself, with hashes
    std::string version;            // the banner's first line
    // The validator, and the requirements built into it.
    std::string validator; // mavrid-validate and its version
    std::string validator_path;
    std::string validator_sha256;
    std::string hashed_by; // the SHA-256 implementation
    std::string requirements_version;
    std::string requirements_sha256;
    // Who ran it, where and when.
    std::string user;
    std::string privileges;          // what this run could set up, such as namespaces
    std::vector<std::string> limits; // what the validator set of its own, such as its umask
    std::string host;
    std::string temporary_folder;
    std::string file_system; // of the temporary folder
    std::string date;        // UTC, ISO 8601
    int tests_in_suite = 0;
    int tests_run = 0;
    std::vector<std::string> environment;   // of every run of the program
    std::vector<std::string> not_passed_on; // this run's variables that no run got
    std::vector<std::string> ignored;       // what the validator was given and did not use
    // Lines that the user gave with --coverage, from this file: not checked.
    std::string coverage_file;
    std::vector<std::string> coverage;
    std::vector<std::string> warnings; // what a reader must know, such as a script's hash
    std::vector<std::string> faults;   // what makes the record incomplete, or failed
    std::vector<RequirementResult> requirements;

    std::size_t requirements_passed() const;
    std::size_t requirements_not_applicable() const;
    // "N of M requirements passed", and how many do not apply, if any.
    std::string tally() const;

    // "passed" when every requirement passed, or does not apply to the
    // program, and the record is complete;
    // "failed" when any failed or the record has a fault; "incomplete" when
    // nothing failed but some requirement could not be tested here.
    std::string verdict() const;
};

// Judge each requirement by its checks: failed if any failed; not tested if
// a part that verifies it was left out here; passed if a check of it
// passed; not applicable if every check of it was a test that does not
// apply to the program (a Windows program has no block devices); not
// tested otherwise.  A test that names no requirement, or an unknown
// one, is a fault.
// Every test that ran is also a check of every_run, by what its runs left
// running alone: passed when they left none.
void judge(Report& report, const std::vector<Requirement>& requirements,
           const std::vector<TestRecord>& tests, const std::string& every_run);

// What a check's result says, joined: the reasons a requirement was not
// tested here.
std::string reasons_not_tested(const RequirementResult& result);

// The text as it may be shown: each byte that is not part of valid UTF-8
// as \xNN, and each control character, bidirectional mark and invisible
// character as \uXXXX, so that a name shows as it is, on one line; a
// message of several lines keeps its line feeds unless one_line.
std::string printable(const std::string& text, bool one_line = true);

void write_json(const Report& report, std::ostream& out);

// One self-contained page, to print and sign.
void write_html(const Report& report, std::ostream& out);

#endif // MAVRID_VALIDATE_REPORT_H
