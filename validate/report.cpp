// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// report.cpp -- the validation record as JSON and as a page to sign.
#include "report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <map>

#include "embedded.h"

// Fields in the order they are set, for a record that reads top-down.
using Json = nlohmann::ordered_json;

std::size_t Report::requirements_passed() const
{
    return static_cast<std::size_t>(
        std::count_if(requirements.begin(), requirements.end(),
                      [](const RequirementResult& r) { return r.verdict == "passed"; }));
}

std::size_t Report::requirements_not_applicable() const
{
    return static_cast<std::size_t>(
        std::count_if(requirements.begin(), requirements.end(),
                      [](const RequirementResult& r) { return r.verdict == "not applicable"; }));
}

std::string Report::tally() const
{
    const std::size_t not_applicable = requirements_not_applicable();
    return std::to_string(requirements_passed()) + " of " + std::to_string(requirements.size())
           + " requirements passed"
           + (not_applicable == 0
                  ? ""
                  : ", " + std::to_string(not_applicable) + " not applicable to the program");
}

std::string Report::verdict() const
{
    const bool any_failed =
        std::any_of(requirements.begin(), requirements.end(),
                    [](const RequirementResult& r) { return r.verdict == "failed"; });
    if (any_failed || !faults.empty() || requirements.empty())
        return "failed";
    return requirements_passed() + requirements_not_applicable() == requirements.size()
               ? "passed"
               : "incomplete";
}

void judge(Report& report, const std::vector<Requirement>& requirements,
           const std::vector<TestRecord>& tests, const std::string& every_run)
{
    for (const Requirement& r : requirements)
        report.requirements.push_back({r, {}, "not tested"});
    // Pointers into the list, taken once it no longer grows.
    std::map<std::string, RequirementResult*> by_id;
    for (RequirementResult& r : report.requirements)
        by_id[r.requirement.id] = &r;
    auto add = [&](const TestRecord& test, const std::string& id, const Check& check) {
        auto found = by_id.find(id);
        if (found == by_id.end())
            report.faults.push_back(test.name + " names " + id
                                    + ", which is no requirement of this release");
        else
            found->second->checks.push_back(check);
    };
    for (const TestRecord& test : tests) {
        if (test.requirements.empty())
            report.faults.push_back(test.name + " names no requirement");
        const std::string result = test.result == "skipped" ? "not applicable" : test.result;
        for (const std::string& id : test.requirements)
            add(test, id, {test.name, result, test.reason});
        for (const LeftOut& part : test.left_out)
            for (const std::string& id : part.requirements)
                add(test, id, {test.name, "left out", part.why});
        if (test.result != "skipped")
            add(test, every_run,
                {test.name, test.left_behind.empty() ? "passed" : "failed", test.left_behind});
    }
    for (RequirementResult& r : report.requirements) {
        auto any = [&r](const char* result) {
            return std::any_of(r.checks.begin(), r.checks.end(),
                               [result](const Check& c) { return c.result == result; });
        };
        const bool all_not_applicable =
            !r.checks.empty() && std::all_of(r.checks.begin(), r.checks.end(), [](const Check& c) {
                return c.result == "not applicable";
            });
        r.verdict = any("failed")        ? "failed"
                    : any("left out")    ? "not tested"
                    : any("passed")      ? "passed"
                    : all_not_applicable ? "not applicable"
                                         : "not tested";
    }
}

std::string reasons_not_tested(const RequirementResult& result)
{
    std::string reasons;
    for (const Check& c : result.checks) {
        if (c.result == "left out" || c.result == "not applicable")
            reasons += (reasons.empty() ? "" : "; ") + c.reason;
    }
    return reasons.empty() ? "no test that verifies it ran" : reasons;
}

// Whether a code point is shown as an escape: controls (C0, DEL, C1), the
// marks that reorder text (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066
// to U+2069), those that show nothing or break lines (U+200B to U+200D,
// U+2028, U+2029, U+2060, U+FEFF).
static bool hidden(unsigned code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C
           || (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E)
           || (code >= 0x2060 && code <= 0x2069) || code == 0xFEFF;
}

std::string printable(const std::string& text, bool one_line)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t n = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        bool valid = n != 0 && i + n <= text.size();
        for (std::size_t k = 1; valid && k < n; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && n >= 3) { // no overlong forms, surrogates or code points past 10FFFF
            auto second = static_cast<unsigned char>(text[i + 1]);
            valid = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second >= 0xA0)
                    && !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second >= 0x90);
        }
        char escape[12];
        if (!valid) {
            std::snprintf(escape, sizeof escape, "\\x%02X", lead);
            shown += escape;
            ++i;
            continue;
        }
        unsigned code = n == 1 ? lead : lead & (0xFFu >> (n + 1));
        for (std::size_t k = 1; k < n; ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (hidden(code) && (one_line || code != '\n')) {
            std::snprintf(escape, sizeof escape, "\\u%04X", code);
            shown += escape;
        } else {
            shown.append(text, i, n);
        }
        i += n;
    }
    return shown;
}

// Every text as it may be shown: valid UTF-8 on one line, which the
// library then escapes as JSON asks.
static Json text(const std::string& value, bool one_line = true)
{
    return printable(value, one_line);
}

static Json texts(const std::vector<std::string>& values)
{
    Json list = Json::array();
    for (const std::string& value : values)
        list.push_back(text(value));
    return list;
}

static Json hash(const std::string& sha256)
{
    return sha256.empty() ? Json(nullptr) : Json(sha256);
}

void write_json(const Report& report, std::ostream& out)
{
    Json record;
    record["verdict"] = report.verdict();
    record["requirements_passed"] = report.requirements_passed();
    record["requirements_not_applicable"] = report.requirements_not_applicable();
    record["requirements_in_all"] = report.requirements.size();
    record["program"] = {{"path_given", text(report.program_given)},
                         {"path", text(report.program)},
                         {"copy_that_ran", text(report.program_copy)},
                         {"size", report.size},
                         {"sha256", hash(report.sha256)},
                         {"sha256_at_end", hash(report.sha256_at_end)},
                         {"kind", text(report.kind)},
                         {"linking", text(report.linking)},
                         {"loads", texts(report.loads)},
                         {"version", text(report.version)}};
    record["validator"] = {{"name", text(report.validator)},
                           {"path", text(report.validator_path)},
                           {"sha256", hash(report.validator_sha256)},
                           {"hashed_by", text(report.hashed_by)},
                           {"requirements_version", text(report.requirements_version)},
                           {"requirements_sha256", text(report.requirements_sha256)}};
    record["run"] = {{"user", text(report.user)},
                     {"privileges", text(report.privileges)},
                     {"limits", texts(report.limits)},
                     {"host", text(report.host)},
                     {"temporary_folder", text(report.temporary_folder)},
                     {"file_system", text(report.file_system)},
                     {"date", text(report.date)},
                     {"tests_in_suite", report.tests_in_suite},
                     {"tests_run", report.tests_run},
                     {"environment_of_each_run", texts(report.environment)},
                     {"not_passed_on", texts(report.not_passed_on)},
                     {"ignored", texts(report.ignored)}};
    record["coverage"] = nullptr;
    if (!report.coverage_file.empty())
        record["coverage"] = {{"supplied_by_the_user_in", text(report.coverage_file)},
                              {"checked_by_the_validator", false},
                              {"lines", texts(report.coverage)}};
    record["warnings"] = texts(report.warnings);
    record["faults"] = texts(report.faults);
    record["requirements"] = Json::array();
    for (const RequirementResult& r : report.requirements) {
        Json checks = Json::array();
        for (const Check& check : r.checks)
            checks.push_back({{"test", text(check.test)},
                              {"result", check.result},
                              {"reason", text(check.reason, false)}});
        record["requirements"].push_back({{"id", r.requirement.id},
                                          {"group", text(r.requirement.group)},
                                          {"text", text(r.requirement.text)},
                                          {"verdict", r.verdict},
                                          {"checks", checks}});
    }
    // Filled in by the people who use the record.
    record["assessment"] = {
        {"use_case", ""},   {"integrity_level", ""}, {"tool_confidence_level", ""},
        {"deviations", ""}, {"reviewer", ""},        {"date", ""}};
    out << record.dump(2) << "\n";
}

static std::string html(const std::string& text, bool one_line = true)
{
    std::string escaped;
    for (char c : printable(text, one_line)) {
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

// A CSS string for the page's margins: every character but plain ones
// written as a code point escape, so that no quote, backslash or "</style"
// in a file name can end it.
static std::string css_string(const std::string& text)
{
    const std::string utf8 = printable(text);
    std::string quoted = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned code = n == 1 ? lead : lead & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k)
            code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        const bool plain = (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')
                           || (code >= 'a' && code <= 'z') || code == ' ' || code == '.'
                           || code == '-' || code == '_' || code == ',' || code == ':';
        if (plain) {
            quoted += static_cast<char>(code);
        } else {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\%06X", code);
            quoted += escape;
        }
    }
    return quoted + "\"";
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

// The manual's style sheet, and what a record of tables needs besides.  In
// print, every page carries the program, its SHA-256 and the page number
// (set per record below); a heading stays with what follows it, a row is
// not split, and a table's header is repeated on each page it spans.
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
th.id { width: 4.5em; }
th.checks { width: 40%; }
th.verdict { width: 6em; }
td code, li code { overflow-wrap: anywhere; }
.passed { color: #1a6b1a; font-weight: bold; }
.failed { color: #b00020; font-weight: bold; }
.not-tested, .left-out, .incomplete { color: #8a5a00; font-weight: bold; }
.not-applicable { color: #555; }
.outcome { font-size: 1.3em; }
ul.tests { margin: 0; padding-left: 1.1em; }
.reason { color: #555; }
table.sign td, table.assessment td { height: 3em; }
@media print {
  body { max-width: none; margin: 0; font-size: 9.5pt; }
  h1, h2, h3 { break-after: avoid-page; page-break-after: avoid; }
  tr, .keep { break-inside: avoid; page-break-inside: avoid; }
  thead { display: table-header-group; }
  a { color: inherit; text-decoration: none; }
}
)css";

static std::string css_class(const std::string& result)
{
    std::string name = result;
    std::replace(name.begin(), name.end(), ' ', '-');
    return name;
}

static void requirement_row(const RequirementResult& r, std::ostream& out)
{
    out << "<tr><td class=\"id\">" << r.requirement.id << "</td><td>"
        << requirement_html(r.requirement.text) << "</td><td><ul class=\"tests\">";
    for (const Check& check : r.checks) {
        out << "<li><code>" << html(check.test) << "</code>: <span class=\""
            << css_class(check.result) << "\">" << check.result << "</span>";
        if (!check.reason.empty())
            out << " <span class=\"reason\">(" << html(check.reason, false) << ")</span>";
        out << "</li>";
    }
    out << "</ul></td><td class=\"verdict " << css_class(r.verdict) << "\">" << r.verdict
        << "</td></tr>\n";
}

static const char* const REQUIREMENT_HEADER =
    "<thead><tr><th class=\"id\">ID</th><th>Requirement</th><th class=\"checks\">Checks</th>"
    "<th class=\"verdict\">Verdict</th></tr></thead>\n";

void write_html(const Report& report, std::ostream& out)
{
    const std::string outcome = report.verdict();
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>mavrid validation record</title>\n<style>\n"
        << MANUAL_CSS << REPORT_CSS << "@page { margin: 20mm 15mm;\n"
        << "  @top-left { content: " << css_string("mavrid validation record: " + report.program)
        << "; font-size: 8pt; }\n"
        << "  @top-right { content: " << css_string("validation " + outcome)
        << "; font-size: 8pt; }\n"
        << "  @bottom-left { content: " << css_string("SHA-256 " + report.sha256)
        << "; font-size: 7pt; }\n"
        << "  @bottom-right { content: \"Page \" counter(page) \" of \" counter(pages); "
           "font-size: 8pt; }\n}\n</style>\n</head>\n<body>\n";
    out << "<h1>mavrid validation record</h1>\n";
    out << "<p>The suite of <code>" << html(report.validator)
        << "</code> was run against the program below on the host below. A requirement "
           "passed when a check that verifies it ran and passed and none failed or was "
           "left out here.</p>\n";
    out << "<p class=\"outcome\">Outcome: <span class=\"" << outcome << "\">" << outcome
        << "</span>; " << report.tally() << ".</p>\n";

    if (!report.faults.empty() || !report.warnings.empty()) {
        out << "<h2>Faults and warnings</h2>\n<ul class=\"keep\">\n";
        for (const std::string& fault : report.faults)
            out << "<li class=\"failed\">" << html(fault) << "</li>\n";
        for (const std::string& warning : report.warnings)
            out << "<li class=\"not-tested\">" << html(warning) << "</li>\n";
        out << "</ul>\n";
    }

    // Failed requirements first, then those not tested here.
    std::vector<const RequirementResult*> open;
    for (const char* verdict : {"failed", "not tested"})
        for (const RequirementResult& r : report.requirements)
            if (r.verdict == verdict)
                open.push_back(&r);
    if (!open.empty()) {
        out << "<h2>Requirements that did not pass</h2>\n<table class=\"record\">\n"
            << REQUIREMENT_HEADER << "<tbody>\n";
        for (const RequirementResult* r : open)
            requirement_row(*r, out);
        out << "</tbody></table>\n<p>What was left out here can be verified where it can be "
               "set up: run the validation again as root on a disposable Linux machine or in "
               "a container that has loop devices, <code>/dev/full</code> and mount "
               "namespaces, and keep that record with this one.</p>\n";
    }

    out << "<h2>Program, validator and run</h2>\n<table class=\"record facts\">\n";
    auto fact = [&out](const char* name, const std::string& value) {
        out << "<tr><th>" << name << "</th><td><code>" << html(value) << "</code></td></tr>\n";
    };
    auto joined = [](const std::vector<std::string>& lines, const char* none) {
        std::string all;
        for (const std::string& line : lines)
            all += (all.empty() ? "" : "; ") + line;
        return all.empty() ? std::string(none) : all;
    };
    fact("Program", report.program);
    fact("Named as", report.program_given);
    fact("Copy that ran", report.program_copy);
    fact("Size", std::to_string(report.size) + " bytes");
    fact("SHA-256", report.sha256.empty() ? "unknown" : report.sha256);
    fact("SHA-256 at the end", report.sha256_at_end.empty() ? "unknown" : report.sha256_at_end);
    fact("Kind", report.kind);
    fact("Loads", joined(report.loads,
                         report.linking == "static" ? "nothing: statically linked" : "nothing"));
    fact("Version", report.version);
    fact("Validator", report.validator + ", " + report.validator_path);
    fact("Validator SHA-256",
         report.validator_sha256.empty() ? "unknown" : report.validator_sha256);
    fact("Hashed by", report.hashed_by);
    fact("Requirements", report.requirements_version + ", SHA-256 " + report.requirements_sha256);
    fact("User", report.user);
    fact("Privileges", report.privileges);
    fact("Limits set by the validator", joined(report.limits, "none"));
    fact("Host", report.host);
    fact("Temporary folder", report.temporary_folder + " (" + report.file_system + ")");
    fact("Date (UTC)", report.date);
    fact("Tests run", std::to_string(report.tests_run) + " of the suite's "
                          + std::to_string(report.tests_in_suite));
    fact("Environment of each run", joined(report.environment, "none"));
    fact("Not passed on", joined(report.not_passed_on, "nothing"));
    fact("Given and ignored", joined(report.ignored, "nothing"));
    fact("Coverage",
         report.coverage_file.empty()
             ? "not given"
             : "as supplied by the user in " + report.coverage_file
                   + ", not checked by the validator: " + joined(report.coverage, "(no lines)"));
    out << "</table>\n";

    std::string group;
    for (const RequirementResult& r : report.requirements) {
        if (r.requirement.group != group) {
            if (!group.empty())
                out << "</tbody></table>\n";
            group = r.requirement.group;
            out << "<h2>" << html(group) << "</h2>\n<table class=\"record\">\n"
                << REQUIREMENT_HEADER << "<tbody>\n";
        }
        requirement_row(r, out);
    }
    if (!group.empty())
        out << "</tbody></table>\n";

    out << "<h2>Assessment</h2>\n<table class=\"record assessment keep\">\n"
        << "<tr><th>Use case</th><td></td></tr>\n"
        << "<tr><th>ASIL, SIL or DAL</th><td></td></tr>\n"
        << "<tr><th>Tool confidence level (TCL, or TQL)</th><td></td></tr>\n"
        << "<tr><th>Deviations and their rationale</th><td></td></tr>\n</table>\n";
    out << "<h2>Sign-off</h2>\n<table class=\"record sign keep\">\n"
        << "<thead><tr><th>Role</th><th>Name</th><th>Date</th><th>Signature</th></tr></thead>\n"
        << "<tr><td>Validated by</td><td></td><td></td><td></td></tr>\n"
        << "<tr><td>Reviewed by</td><td></td><td></td><td></td></tr>\n</table>\n";
    out << "</body>\n</html>\n";
}
