// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// mavrid-validate: run the whole test suite against an installed mavrid and
// write the validation record, mavrid-validation.json and .html, in the
// current folder.  Exits 0 only when every requirement passed; 1 when any
// failed; 3 when none failed but some could not be tested here; 2 when it
// was called wrongly or could not start.
//
//   mavrid-validate PROGRAM [--coverage SUMMARY]
//
// SUMMARY is a text file whose lines say the coverage of the build that
// PROGRAM came from (gcovr's summary); they go into the record as given.
//
// There is one way to run it: GoogleTest's options and variables, which
// would run a part of the suite or run it differently, are refused, and the
// suite's developer variables are ignored, so that whoever runs it, the
// record says what the whole suite found of the very program named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "embedded.h"
#include "host.h"
#include "mounts.h"
#include "program_file.h"
#include "report.h"
#include "requirements.h"
#include "run_mavrid.h"

#ifdef _WIN32
#include <cstdlib>
#define environ _environ
#else
#include <unistd.h>
#endif

// Keeps the outcome, the requirements and the rows left out of every test
// case.
class Recorder : public testing::EmptyTestEventListener {
  public:
    std::vector<TestRecord> tests;

  private:
    void OnTestEnd(const testing::TestInfo& info) override
    {
        const testing::TestResult& result = *info.result();
        TestRecord test;
        test.name = std::string(info.test_suite_name()) + "." + info.name();
        test.result = result.Skipped() ? "skipped" : result.Failed() ? "failed" : "passed";
        for (int i = 0; i < result.test_property_count(); ++i) {
            const testing::TestProperty& property = result.GetTestProperty(i);
            std::istringstream value(property.value());
            if (std::string(property.key()) == "requirements") {
                for (std::string id; value >> id;)
                    test.requirements.push_back(id);
            } else if (std::string(property.key()) == "left_out") {
                for (std::string line; std::getline(value, line);) {
                    LeftOut part;
                    std::istringstream ids(line.substr(0, line.find('\t')));
                    for (std::string id; ids >> id;)
                        part.requirements.push_back(id);
                    part.why = line.substr(line.find('\t') + 1);
                    test.left_out.push_back(part);
                }
            }
        }
        for (int i = 0; i < result.total_part_count(); ++i) {
            const testing::TestPartResult& part = result.GetTestPartResult(i);
            if (part.skipped() || part.failed()) {
                test.reason = part.message();
                break;
            }
        }
        tests.push_back(test);
    }
};

static std::string now_utc()
{
    std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

static std::vector<std::string> lines_of(const std::string& file)
{
    std::ifstream in(as_path(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

static int usage()
{
    std::cerr << "usage: mavrid-validate PROGRAM [--coverage SUMMARY]\n"
                 "Runs the mavrid test suite against PROGRAM and writes mavrid-validation.json\n"
                 "and mavrid-validation.html here; exits 0 only when every requirement passed.\n";
    return 2;
}

static int refuse(const std::string& what)
{
    std::cerr << "mavrid-validate: " << what << "\n";
    return 2;
}

// The variables by which GoogleTest would run a part of the suite, or run
// it another way: its own (GTEST_FILTER, GTEST_REPEAT, GTEST_SHUFFLE, the
// shards and the rest) and Bazel's.
static std::vector<std::string> test_runner_variables()
{
    std::vector<std::string> found;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string name(*entry, std::string(*entry).find('='));
        if (name.rfind("GTEST_", 0) == 0 || name.rfind("TESTBRIDGE_", 0) == 0)
            found.push_back(name);
    }
    return found;
}

// The suite's developer variables choose another program, a launcher or a
// sanitizer build's relaxed bounds; the validator runs PROGRAM as it is.
static std::vector<std::string> drop_developer_variables()
{
    std::vector<std::string> dropped;
    for (const char* name :
         {"MAVRID_TEST_PROGRAM", "MAVRID_TEST_LAUNCHER", "MAVRID_TEST_SANITIZED"}) {
        const char* value = std::getenv(name);
        if (value == nullptr)
            continue;
        dropped.push_back(std::string(name) + "=" + value);
#ifdef _WIN32
        _putenv_s(name, "");
#else
        unsetenv(name);
#endif
    }
    return dropped;
}

static std::string read_all(const std::string& path, bool& readable)
{
    std::ifstream file(as_path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    readable = static_cast<bool>(file) || file.eof();
    return bytes.str();
}

// The first line of the requirements that names their revision.
static std::string requirements_revision()
{
    std::istringstream lines(REQUIREMENTS_MD);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Revision: ", 0) == 0)
            return line.substr(10);
    return "unknown";
}

// Write both records, say what did not pass and how it ended.
static int finish(const Report& report, std::ofstream& json, std::ofstream& page)
{
    write_json(report, json);
    write_html(report, page);
    json.close();
    page.close();
    if (!json || !page)
        return refuse("cannot write the record in this folder");
    bool not_tested = false;
    for (const RequirementResult& r : report.requirements) {
        if (r.verdict == "failed") {
            std::string tests;
            for (const Check& c : r.checks)
                if (c.result == "failed")
                    tests += (tests.empty() ? "" : ", ") + c.test;
            std::cout << r.requirement.id << ": FAILED in " << tests << "\n";
        } else if (r.verdict == "not tested") {
            std::cout << r.requirement.id << ": not tested here: " << reasons_not_tested(r) << "\n";
            not_tested = true;
        }
    }
    for (const std::string& w : report.warnings)
        std::cout << "warning: " << w << "\n";
    for (const std::string& f : report.faults)
        std::cout << "fault: " << f << "\n";
    if (not_tested)
        std::cout << "To verify what was not tested here, run the validation as root on a "
                     "disposable Linux machine or in a container, with loop devices, /dev/full "
                     "and mount namespaces, and keep both records.\n";
    const std::string verdict = report.verdict();
    std::cout << report.program << " (" << report.version << "): " << report.tally() << "; "
              << (verdict == "passed"   ? "validation passed"
                  : verdict == "failed" ? "validation FAILED"
                                        : "validation INCOMPLETE, nothing failed")
              << ". Record: mavrid-validation.json, mavrid-validation.html\n";
    return verdict == "passed" ? 0 : verdict == "failed" ? 1 : 3;
}

int main(int argc, char* argv[])
{
    std::string coverage_file;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.find("gtest_") != std::string::npos)
            return refuse(arg
                          + ": GoogleTest's options are not taken; the validation runs "
                            "the whole suite, once, in its order");
        if (arg == "--coverage" && i + 1 < argc)
            coverage_file = argv[++i];
        else if (!arg.empty() && arg[0] == '-')
            return usage();
        else
            operands.push_back(arg);
    }
    if (operands.size() != 1)
        return usage();
    const std::vector<std::string> runner = test_runner_variables();
    if (!runner.empty())
        return refuse(runner[0]
                      + " is set: GoogleTest's variables are not taken, since they "
                        "run a part of the suite or run it another way; unset it");
    Report report;
    report.ignored = drop_developer_variables();
    for (const std::string& ignored : report.ignored)
        std::cout << "mavrid-validate: ignoring " << ignored
                  << ": the validator runs the program named, as it is\n";

    // Answers that need no run of the program.
    const std::string& given = operands[0];
    std::error_code unknown;
    const auto status = std::filesystem::status(as_path(given), unknown);
    if (!std::filesystem::exists(status))
        return refuse(given + ": no such file");
    if (std::filesystem::is_directory(status))
        return refuse(given + ": is a directory, not a program");
    bool readable = false;
    const std::string program_bytes = read_all(given, readable);
    if (!readable)
        return refuse(given + ": cannot be read");
    std::string why;
    if (!can_run(given, why))
        return refuse(given + ": " + why);
    std::ofstream json("mavrid-validation.json", std::ios::binary);
    std::ofstream page("mavrid-validation.html", std::ios::binary);
    if (!json || !page)
        return refuse("cannot write the record (mavrid-validation.json, .html) in this folder");

    const std::filesystem::path absolute =
        std::filesystem::absolute(as_path(given)).lexically_normal();
    const std::u8string absolute_u8 = absolute.u8string();
    report.program.assign(absolute_u8.begin(), absolute_u8.end());
    report.size = static_cast<long long>(program_bytes.size());
    report.sha256 = sha256_hex(program_bytes);
    if (report.sha256.empty())
        report.faults.push_back("no SHA-256 of the program: " + sha256_implementation()
                                + " failed");
    const ProgramKind kind = program_kind(program_bytes);
    report.kind = kind.description;
    if (kind.script)
        report.warnings.push_back("the program is a script, so its SHA-256 identifies the script, "
                                  "not the program it runs; validate that program itself");
    report.validator = std::string("mavrid-validate ") + VALIDATOR_VERSION;
    report.validator_path = own_executable();
    bool self_readable = false;
    const std::string self = read_all(report.validator_path, self_readable);
    report.validator_sha256 = self_readable ? sha256_hex(self) : "";
    report.hashed_by = sha256_implementation();
    report.requirements_version = requirements_revision();
    report.requirements_sha256 = sha256_hex(REQUIREMENTS_MD);
    bool privileged = false;
    report.user = user_description(privileged);
    report.host = host_description();
    if (kind.windows_x86 && report.host.find("x86_64") != std::string::npos)
        report.host += "; the program, 32-bit, runs under WoW64";
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(unknown);
    const std::u8string temporary_u8 = temporary.u8string();
    report.temporary_folder.assign(temporary_u8.begin(), temporary_u8.end());
    report.file_system = file_system_of(report.temporary_folder);
    report.date = now_utc();
    if (!coverage_file.empty()) {
        report.coverage = lines_of(coverage_file);
        if (report.coverage.empty())
            report.faults.push_back("no coverage in " + coverage_file);
    }

    // A program that does not answer with its banner, or hangs, is judged
    // at once rather than by a hundred runs that each wait for it.
    select_program(report.program);
    {
        Sandbox box;
        Outcome first = box.run({}, "");
        report.version = first.console.substr(0, first.console.find('\n'));
        const bool banner =
            first.console.rfind("Intel Hex to Motorola S-Record Converter Ver ", 0) == 0;
        if (!banner)
            report.version = "no banner";
        if (first.killed || !banner) {
            report.faults.push_back(
                first.killed ? "the program was still running " + std::to_string(RUN_DEADLINE_S)
                                   + " s into its first run, with no arguments: the suite was "
                                     "not run"
                             : "the program printed no banner on its first run (status "
                                   + std::to_string(first.status) + "): the suite was not run");
            judge(report, requirements(), {});
            return finish(report, json, page);
        }
    }

    // Mounts need root, or a user namespace of this process's own; made
    // once here, so that every test runs with the same rights.
    const std::string mounts = Mounts::unavailable();
#ifdef _WIN32
    report.privileges = privileged ? "elevated administrator" : "not elevated";
#else
    report.privileges = privileged ? "root" : "not root";
#endif
    report.privileges += !mounts.empty() ? "; no mounts: " + mounts
                         : privileged    ? "; mounts in a mount namespace of its own"
                                         : "; mounts in a user namespace of its own";

    int fixed_argc = 1;
    char* fixed_argv[] = {argv[0], nullptr};
    testing::InitGoogleTest(&fixed_argc, fixed_argv);
    auto* recorder = new Recorder; // the listener list owns it
    testing::UnitTest::GetInstance()->listeners().Append(recorder);
    const bool suite_passed = RUN_ALL_TESTS() == 0;
    const testing::UnitTest& suite = *testing::UnitTest::GetInstance();
    report.tests_in_suite = suite.total_test_count();
    report.tests_run = suite.test_to_run_count();
    judge(report, requirements(), recorder->tests);
    if (report.tests_run != report.tests_in_suite)
        report.faults.push_back("only " + std::to_string(report.tests_run) + " of the suite's "
                                + std::to_string(report.tests_in_suite) + " tests ran");
    if (!suite_passed && report.verdict() != "failed")
        report.faults.push_back("the suite failed outside every test case");
    return finish(report, json, page);
}
