// SPDX-License-Identifier: MIT
// mavrid-validate: run the whole test suite against an installed mavrid and
// write the validation record, mavrid-validation.json and .html, in the
// current folder.  Exits 0 only when every requirement passed.
//
//   mavrid-validate PROGRAM [--coverage SUMMARY]
//
// SUMMARY is a text file whose lines say the coverage of the build that
// PROGRAM came from (gcovr's summary); they go into the record as given.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "embedded.h"
#include "host.h"
#include "report.h"
#include "requirements.h"
#include "run_mavrid.h"

// Keeps the outcome and the named requirements of every test case.
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
            if (std::string(property.key()) == "requirements") {
                std::istringstream ids(property.value());
                for (std::string id; ids >> id;)
                    test.requirements.push_back(id);
            } else if (std::string(property.key()) == "left_out") {
                test.reason = std::string("left out: ") + property.value();
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
    std::ifstream in(file);
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

int main(int argc, char* argv[])
{
    testing::InitGoogleTest(&argc, argv);
    std::string coverage_file;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--coverage" && i + 1 < argc)
            coverage_file = argv[++i];
        else if (!arg.empty() && arg[0] == '-')
            return usage();
        else
            operands.push_back(arg);
    }
    if (operands.size() != 1)
        return usage();
    std::error_code unknown;
    const std::filesystem::path given = operands[0];
    if (!std::filesystem::is_regular_file(given, unknown)) {
        std::cerr << "mavrid-validate: " << operands[0] << ": no such program\n";
        return 2;
    }

    Report report;
    report.program = std::filesystem::absolute(given).lexically_normal().string();
    report.size = static_cast<long long>(std::filesystem::file_size(given, unknown));
    std::string fault;
    report.sha256 = sha256_of(report.program, fault);
    if (report.sha256.empty())
        report.faults.push_back("no SHA-256 of the program: " + fault);
    report.validator = std::string("mavrid-validate ") + VALIDATOR_VERSION;
    report.host = host_description();
    report.date = now_utc();
    if (!coverage_file.empty()) {
        report.coverage = lines_of(coverage_file);
        if (report.coverage.empty())
            report.faults.push_back("no coverage in " + coverage_file);
    }
    select_program(report.program);
    {
        Sandbox box;
        std::string console = box.run({}, "").console;
        report.version = console.substr(0, console.find('\n'));
    }

    auto* recorder = new Recorder; // the listener list owns it
    testing::UnitTest::GetInstance()->listeners().Append(recorder);
    const bool suite_passed = RUN_ALL_TESTS() == 0;
    judge(report, requirements(), recorder->tests);
    if (!suite_passed && report.passed())
        report.faults.push_back("the suite failed outside every test case");

    std::ofstream json("mavrid-validation.json", std::ios::binary);
    write_json(report, json);
    std::ofstream page("mavrid-validation.html", std::ios::binary);
    write_html(report, page);
    json.close();
    page.close();
    if (!json || !page) {
        std::cerr << "mavrid-validate: cannot write the record in this folder\n";
        return 2;
    }

    for (const RequirementResult& r : report.requirements)
        if (r.verdict != "passed")
            std::cout << r.requirement.id << ": " << r.verdict << "\n";
    for (const std::string& f : report.faults)
        std::cout << "fault: " << f << "\n";
    std::cout << report.program << " (" << report.version << "): " << report.requirements_passed()
              << " of " << report.requirements.size() << " requirements passed; "
              << (report.passed() ? "validation passed" : "validation FAILED")
              << ". Record: mavrid-validation.json, mavrid-validation.html\n";
    return report.passed() ? 0 : 1;
}
