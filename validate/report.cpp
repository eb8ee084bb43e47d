// SPDX-License-Identifier: MIT
// report.cpp -- the validation record as JSON and as a page to sign.
#include "report.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "embedded.h"

std::size_t Report::requirements_passed() const
{
    return static_cast<std::size_t>(
        std::count_if(requirements.begin(), requirements.end(),
                      [](const RequirementResult& r) { return r.verdict == "passed"; }));
}

bool Report::passed() const
{
    return faults.empty() && !requirements.empty() && requirements_passed() == requirements.size();
}

void judge(Report& report, const std::vector<Requirement>& requirements,
           const std::vector<TestRecord>& tests)
{
    for (const Requirement& r : requirements)
        report.requirements.push_back({r, {}, "not tested"});
    // Pointers into the list, taken once it no longer grows.
    std::map<std::string, RequirementResult*> by_id;
    for (RequirementResult& r : report.requirements)
        by_id[r.requirement.id] = &r;
    for (const TestRecord& test : tests) {
        if (test.requirements.empty())
            report.faults.push_back(test.name + " names no requirement");
        for (const std::string& id : test.requirements) {
            auto found = by_id.find(id);
            if (found == by_id.end())
                report.faults.push_back(test.name + " names " + id
                                        + ", which is no requirement of this release");
            else
                found->second->tests.push_back(test);
        }
    }
    for (RequirementResult& r : report.requirements) {
        bool any_passed = false;
        bool any_failed = false;
        for (const TestRecord& test : r.tests) {
            any_passed = any_passed || test.result == "passed";
            any_failed = any_failed || test.result == "failed";
        }
        r.verdict = any_failed ? "failed" : any_passed ? "passed" : "not tested";
    }
}

static std::string json_string(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void write_json(const Report& report, std::ostream& out)
{
    out << "{\n";
    out << "  \"program\": " << json_string(report.program) << ",\n";
    out << "  \"size\": " << report.size << ",\n";
    out << "  \"sha256\": " << (report.sha256.empty() ? "null" : json_string(report.sha256))
        << ",\n";
    out << "  \"version\": " << json_string(report.version) << ",\n";
    out << "  \"validator\": " << json_string(report.validator) << ",\n";
    out << "  \"host\": " << json_string(report.host) << ",\n";
    out << "  \"date\": " << json_string(report.date) << ",\n";
    out << "  \"coverage\": [";
    for (std::size_t i = 0; i < report.coverage.size(); ++i)
        out << (i == 0 ? "" : ", ") << json_string(report.coverage[i]);
    out << "],\n";
    out << "  \"verdict\": " << json_string(report.passed() ? "passed" : "failed") << ",\n";
    out << "  \"faults\": [";
    for (std::size_t i = 0; i < report.faults.size(); ++i)
        out << (i == 0 ? "\n    " : ",\n    ") << json_string(report.faults[i]);
    out << (report.faults.empty() ? "],\n" : "\n  ],\n");
    out << "  \"requirements\": [";
    for (std::size_t i = 0; i < report.requirements.size(); ++i) {
        const RequirementResult& r = report.requirements[i];
        out << (i == 0 ? "\n" : ",\n");
        out << "    {\"id\": " << json_string(r.requirement.id)
            << ", \"group\": " << json_string(r.requirement.group)
            << ", \"text\": " << json_string(r.requirement.text) << ",\n     \"tests\": [";
        for (std::size_t t = 0; t < r.tests.size(); ++t) {
            const TestRecord& test = r.tests[t];
            out << (t == 0 ? "\n" : ",\n") << "       {\"name\": " << json_string(test.name)
                << ", \"result\": " << json_string(test.result)
                << ", \"reason\": " << json_string(test.reason) << "}";
        }
        out << (r.tests.empty() ? "]" : "\n     ]")
            << ",\n     \"verdict\": " << json_string(r.verdict) << "}";
    }
    out << "\n  ]\n}\n";
}

static std::string html(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// A requirement's text as the page shows it: `code` in a monospace face,
// and a double blank (as in the usage message) kept.
static std::string requirement_html(const std::string& text)
{
    std::string shown;
    bool in_code = false;
    std::size_t start = 0;
    for (std::size_t tick = text.find('`');; tick = text.find('`', start)) {
        std::string part =
            html(text.substr(start, tick == std::string::npos ? tick : tick - start));
        for (std::size_t blank = part.find("  "); blank != std::string::npos;
             blank = part.find("  ", blank))
            part.replace(blank, 2, " &nbsp;");
        shown += part;
        if (tick == std::string::npos)
            break;
        shown += in_code ? "</code>" : "<code>";
        in_code = !in_code;
        start = tick + 1;
    }
    return shown;
}

// The manual's style sheet, and what a record of tables needs besides.
static const char* const REPORT_CSS = R"css(
body { max-width: 60rem; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.15em; margin: 1.6em 0 0.5em; padding-bottom: 0.2em;
     border-bottom: 1px solid #ccc; letter-spacing: 0.05em; }
table.record { border-collapse: collapse; width: 100%; font-size: 0.9em; }
table.record th, table.record td { border: 1px solid #ccc; padding: 0.3em 0.5em;
     vertical-align: top; text-align: left; }
table.record th { background: #f5f5f5; }
table.facts th { width: 11em; }
td.id, td.verdict { white-space: nowrap; }
.passed { color: #1a6b1a; font-weight: bold; }
.failed { color: #b00020; font-weight: bold; }
.not-tested, .skipped { color: #8a5a00; font-weight: bold; }
.outcome { font-size: 1.3em; }
ul.tests { margin: 0; padding-left: 1.1em; }
.reason { color: #555; }
table.sign td { height: 3em; }
@media print {
  body { max-width: none; margin: 0; font-size: 10pt; }
  tr, .sign { break-inside: avoid; }
  a { color: inherit; text-decoration: none; }
}
)css";

static std::string css_class(const std::string& verdict)
{
    return verdict == "not tested" ? "not-tested" : verdict;
}

void write_html(const Report& report, std::ostream& out)
{
    const std::string outcome = report.passed() ? "passed" : "failed";
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>mavrid validation record</title>\n<style>\n"
        << MANUAL_CSS << REPORT_CSS << "</style>\n</head>\n<body>\n";
    out << "<h1>mavrid validation record</h1>\n";
    out << "<p>The suite of <code>" << html(report.validator)
        << "</code> was run against the program below on the host below. Each "
           "requirement's verdict follows from the test cases that name it.</p>\n";
    out << "<p class=\"outcome\">Outcome: <span class=\"" << outcome << "\">" << outcome
        << "</span></p>\n";
    out << "<p>" << report.requirements_passed() << " of " << report.requirements.size()
        << " requirements passed.</p>\n";

    out << "<h2>Program and host</h2>\n<table class=\"record facts\">\n";
    auto fact = [&out](const char* name, const std::string& value) {
        out << "<tr><th>" << name << "</th><td><code>" << html(value) << "</code></td></tr>\n";
    };
    fact("Program", report.program);
    fact("Size", std::to_string(report.size) + " bytes");
    fact("SHA-256", report.sha256.empty() ? "unknown" : report.sha256);
    fact("Version", report.version);
    fact("Validator", report.validator);
    fact("Host", report.host);
    fact("Date (UTC)", report.date);
    std::string coverage;
    for (const std::string& line : report.coverage)
        coverage += (coverage.empty() ? "" : "; ") + line;
    fact("Coverage", coverage.empty() ? "not given" : coverage);
    out << "</table>\n";

    if (!report.faults.empty()) {
        out << "<h2>Faults of the record</h2>\n<ul>\n";
        for (const std::string& fault : report.faults)
            out << "<li class=\"failed\">" << html(fault) << "</li>\n";
        out << "</ul>\n";
    }

    std::string group;
    for (const RequirementResult& r : report.requirements) {
        if (r.requirement.group != group) {
            if (!group.empty())
                out << "</table>\n";
            group = r.requirement.group;
            out << "<h2>" << html(group) << "</h2>\n<table class=\"record\">\n"
                << "<tr><th>ID</th><th>Requirement</th><th>Tests</th><th>Verdict</th></tr>\n";
        }
        out << "<tr><td class=\"id\">" << r.requirement.id << "</td><td>"
            << requirement_html(r.requirement.text) << "</td><td><ul class=\"tests\">";
        for (const TestRecord& test : r.tests) {
            out << "<li><code>" << html(test.name) << "</code>: <span class=\""
                << css_class(test.result) << "\">" << test.result << "</span>";
            if (!test.reason.empty())
                out << " <span class=\"reason\">(" << html(test.reason) << ")</span>";
            out << "</li>";
        }
        out << "</ul></td><td class=\"verdict " << css_class(r.verdict) << "\">" << r.verdict
            << "</td></tr>\n";
    }
    if (!group.empty())
        out << "</table>\n";

    out << "<h2>Sign-off</h2>\n<table class=\"record sign\">\n"
        << "<tr><th>Role</th><th>Name</th><th>Date</th><th>Signature</th></tr>\n"
        << "<tr><td>Validated by</td><td></td><td></td><td></td></tr>\n"
        << "<tr><td>Reviewed by</td><td></td><td></td><td></td></tr>\n</table>\n";
    out << "</body>\n</html>\n";
}
