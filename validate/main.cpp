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
// PROGRAM came from (gcovr's summary); they go into the record as given,
// marked as the user's and not checked.
//
// There is one way to run it: GoogleTest's options and variables, which
// would run a part of the suite or run it differently, are refused, and the
// suite's developer variables are ignored, so that whoever runs it, the
// record says what the whole suite found of the very program named.  That
// program is copied, once, into a folder of the validator's own that no
// one else may write, and only the copy runs, hashed before and after;
// every run gets an environment of the validator's choosing, which the
// record lists; and the validator's own files stay in that folder.  What
// the validator cannot set up ends it with status 2 before anything runs,
// so no fault of its own is taken for the program's.
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
            } else if (std::string(property.key()) == "left_behind") {
                test.left_behind = property.value();
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
    std::cerr << "mavrid-validate: " << printable(what) << "\n";
    return 2;
}

// GoogleTest takes --gtest_x, -gtest_x and on Windows /gtest_x.
static bool googletest_option(const std::string& arg)
{
    std::size_t dashes = arg.find_first_not_of('-');
    const bool slash = WINDOWS_HARNESS && arg.rfind('/', 0) == 0;
    return (dashes >= 1 && dashes <= 2 && arg.compare(dashes, 6, "gtest_") == 0)
           || (slash && arg.compare(1, 6, "gtest_") == 0);
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

static const char* const RECORD_FILES[] = {"mavrid-validation.json", "mavrid-validation.html"};

// Whether the record can be written here; an earlier one goes at once, so
// that no verdict of another run stays behind, while this one is written
// whole at the end.
static bool clear_record()
{
    for (const char* name : RECORD_FILES) {
        if (!std::ofstream(name, std::ios::binary))
            return false;
        std::error_code gone;
        if (!std::filesystem::remove(name, gone))
            return false;
    }
    return true;
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
static int finish(const Report& report)
{
    std::ofstream json(RECORD_FILES[0], std::ios::binary);
    std::ofstream page(RECORD_FILES[1], std::ios::binary);
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
            std::cout << r.requirement.id
                      << ": not tested here: " << printable(reasons_not_tested(r)) << "\n";
            not_tested = true;
        }
    }
    for (const std::string& w : report.warnings)
        std::cout << "warning: " << printable(w) << "\n";
    for (const std::string& f : report.faults)
        std::cout << "fault: " << printable(f) << "\n";
    if (not_tested)
        std::cout << "To verify what was not tested here, run the validation as root on a "
                     "disposable Linux machine or in a container, with loop devices, /dev/full "
                     "and mount namespaces, and keep both records.\n";
    const std::string verdict = report.verdict();
    std::cout << printable(report.program) << " (" << printable(report.version)
              << "): " << report.tally() << "; "
              << (verdict == "passed"   ? "validation passed"
                  : verdict == "failed" ? "validation FAILED"
                                        : "validation INCOMPLETE, nothing failed")
              << ". Record: mavrid-validation.json, mavrid-validation.html\n";
    return verdict == "passed" ? 0 : verdict == "failed" ? 1 : 3;
}

// The whole validation, in the validator's own folder, which goes when it
// is done.
static int validate(const std::string& given, const std::string& coverage_file,
                    const std::string& own, Report& report)
{
    // The very bytes that will run: the file the name resolves to, read
    // once and copied.
    std::error_code unknown;
    const std::filesystem::path resolved = std::filesystem::canonical(as_path(given), unknown);
    const std::u8string resolved_u8 = resolved.u8string();
    report.program.assign(resolved_u8.begin(), resolved_u8.end());
    bool readable = false;
    const std::string program_bytes = read_file(report.program, &readable);
    if (unknown || !readable)
        return refuse(given + ": cannot be read");
    const ProgramKind kind = program_kind(program_bytes);
    if (kind.script)
        return refuse(given + " is a script (" + kind.description.substr(8)
                      + "): its interpreter would run, not the program it starts; name "
                        "that program instead");
    if (!kind.cut_short.empty())
        return refuse(given + " " + kind.cut_short
                      + ": it is cut short or not a program; name the program as installed");
    std::string why;
    if (!can_run(given, why))
        return refuse(given + ": " + why);
    auto in_own = [&own](const std::filesystem::path& name) {
        const std::u8string path = (as_path(own) / name).u8string();
        return std::string(path.begin(), path.end());
    };
    const std::string copy = in_own(std::filesystem::path("program") / resolved.filename());
    for (const char* folder : {"program", "tests", "runs"})
        std::filesystem::create_directories(as_path(in_own(folder)), unknown);
    if (unknown || !write_program(copy, program_bytes))
        return refuse(own + ": the program cannot be copied there");
    if (!can_run(copy, why))
        return refuse(own + ": the copy of the program " + why
                      + "; set TMPDIR to a folder of yours where programs may run");
    if (!clear_record())
        return refuse("cannot write the record (mavrid-validation.json, .html) in this folder");

    const std::string copied = read_file(copy, &readable);
    report.program_copy = copy;
    report.size = static_cast<long long>(copied.size());
    report.sha256 = sha256_hex(copied);
    if (report.sha256.empty())
        report.faults.push_back("no SHA-256 of the program: " + sha256_implementation()
                                + " failed");
    if (copied != program_bytes)
        report.faults.push_back("the copy of the program is not the file named");
    report.kind = kind.description;
    report.linking = kind.linking;
    report.validator = std::string("mavrid-validate ") + VALIDATOR_VERSION;
    report.validator_path = own_executable();
    bool self_readable = false;
    const std::string self = read_file(report.validator_path, &self_readable);
    report.validator_sha256 = self_readable ? sha256_hex(self) : "";
    report.hashed_by = sha256_implementation();
    report.requirements_version = requirements_revision();
    report.requirements_sha256 = sha256_hex(REQUIREMENTS_MD);
    bool privileged = false;
    report.user = user_description(privileged);
    report.host = host_description();
    if (kind.windows_x86 && report.host.find("x86_64") != std::string::npos)
        report.host += "; the program, 32-bit, runs under WoW64";
    report.temporary_folder = own;
    report.file_system = file_system_of(own);
    report.date = now_utc();
    if (!coverage_file.empty()) {
        report.coverage_file = coverage_file;
        report.coverage = lines_of(coverage_file);
        if (report.coverage.empty())
            report.faults.push_back("no coverage in " + coverage_file);
        std::cout << "mavrid-validate: coverage as supplied in " << printable(coverage_file)
                  << ", not checked by the validator:";
        for (const std::string& line : report.coverage)
            std::cout << " " << printable(line) << ";";
        std::cout << "\n";
    }
    report.environment = program_environment(in_own("runs"), report.not_passed_on);
    choose_environment(report.environment);
    report.loads = loaded_files(copy, kind, report.environment);
    select_program(copy);

    // A program that does not answer with its banner, or hangs, is judged
    // at once rather than by a hundred runs that each wait for it.
    {
        Sandbox box;
        Outcome first = box.run({}, "");
        report.version = first.console.substr(0, first.console.find('\n'));
        const bool banner =
            first.console.rfind("Intel Hex to Motorola S-Record Converter Ver ", 0) == 0;
        if (!banner)
            report.version = "no banner";
        if (first.killed || !banner || first.left_behind != 0) {
            report.faults.push_back(
                first.killed ? "the program was still running " + std::to_string(RUN_DEADLINE_S)
                                   + " s into its first run, with no arguments: the suite was "
                                     "not run"
                : !banner ? "the program printed no banner on its first run (status "
                                + std::to_string(first.status) + "): the suite was not run"
                          : "the program left a process running after its first run, with no "
                            "arguments: the suite was not run");
            judge(report, requirements(), {}, EVERY_RUN_VERIFIES);
            return finish(report);
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

    judge_left_behind_apart();
    int fixed_argc = 1;
    char name[] = "mavrid-validate";
    char* fixed_argv[] = {name, nullptr};
    testing::InitGoogleTest(&fixed_argc, fixed_argv);
    auto* recorder = new Recorder; // the listener list owns it
    testing::UnitTest::GetInstance()->listeners().Append(recorder);
    const bool suite_passed = RUN_ALL_TESTS() == 0;
    const testing::UnitTest& suite = *testing::UnitTest::GetInstance();
    report.tests_in_suite = suite.total_test_count();
    report.tests_run = suite.test_to_run_count();
    judge(report, requirements(), recorder->tests, EVERY_RUN_VERIFIES);
    if (report.tests_run != report.tests_in_suite)
        report.faults.push_back("only " + std::to_string(report.tests_run) + " of the suite's "
                                + std::to_string(report.tests_in_suite) + " tests ran");
    if (!suite_passed && report.verdict() != "failed")
        report.faults.push_back("the suite failed outside every test case");
    const std::string at_end = read_file(copy, &readable);
    report.sha256_at_end = readable ? sha256_hex(at_end) : "";
    if (!readable || at_end != copied)
        report.faults.push_back("the copy of the program that ran changed during the validation "
                                "(SHA-256 at the end "
                                + (readable ? report.sha256_at_end : std::string("unknown"))
                                + "): the record is of no one program");
    return finish(report);
}

int main(int argc, char* argv[])
{
    std::string coverage_file;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (googletest_option(arg))
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
        std::cout << "mavrid-validate: ignoring " << printable(ignored)
                  << ": the validator runs the program named, as it is\n";

    // Answers that need no run of the program.
    const std::string& given = operands[0];
    report.program_given = given;
    std::error_code unknown;
    const auto status = std::filesystem::status(as_path(given), unknown);
    if (!std::filesystem::exists(status))
        return refuse(given + ": no such file");
    if (std::filesystem::is_directory(status))
        return refuse(given + ": is a directory, not a program");

    // Nothing of the caller's may end it or make its copy useless.
    std::string why;
    if (!settle_limits(report.limits, why))
        return refuse(why);
    for (const std::string& set : report.limits)
        std::cout << "mavrid-validate: " << set << "\n";

    // Everything the validator makes goes in a folder of its own, the
    // suite's sandboxes too, through the temporary folder it is told of.
    const std::string own = make_private_folder(why);
    if (own.empty())
        return refuse(why);
    const std::u8string tests = (as_path(own) / "tests").u8string();
    const std::string sandboxes(tests.begin(), tests.end());
#ifdef _WIN32
    _putenv_s("TMP", sandboxes.c_str());
    _putenv_s("TEMP", sandboxes.c_str());
#else
    setenv("TMPDIR", sandboxes.c_str(), 1);
#endif
    return supervised(
        [&] {
            try {
                return validate(given, coverage_file, own, report);
            } catch (const std::exception& fault) {
                return refuse(std::string("the validator could not go on: ") + fault.what());
            }
        },
        own);
}
