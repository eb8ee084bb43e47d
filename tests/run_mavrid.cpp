// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// run_mavrid.cpp -- running the mavrid under test as a child process: the
// program chosen, the sandbox, and the records the tests are built from.
// Starting the child is the platform's (spawn_posix.cpp, spawn_windows.cpp).
#include "run_mavrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "child_process.h"

static std::string from_environment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

static std::string& selected_program()
{
    static std::string path = from_environment("MAVRID_TEST_PROGRAM", MAVRID_DEFAULT_PROGRAM);
    return path;
}

const std::string& program()
{
    return selected_program();
}

void select_program(const std::string& path)
{
    selected_program() = path;
}

static std::optional<std::vector<std::string>>& environment_chosen()
{
    static std::optional<std::vector<std::string>> variables;
    return variables;
}

void choose_environment(const std::vector<std::string>& variables)
{
    environment_chosen() = variables;
}

const std::vector<std::string>* chosen_environment()
{
    const auto& chosen = environment_chosen();
    return chosen ? &*chosen : nullptr;
}

// A run's normal time is its longest that ended by itself; a program that
// has hung once gets four times that, at least half a second, from then on.
static std::chrono::milliseconds longest_run{0};
static bool any_run_killed = false;

std::chrono::milliseconds run_deadline()
{
    using std::chrono::milliseconds;
    const milliseconds full = std::chrono::seconds(RUN_DEADLINE_S);
    if (!any_run_killed)
        return full;
    return std::clamp(4 * longest_run, milliseconds(500), full);
}

void run_ended(std::chrono::milliseconds took, bool killed)
{
    if (killed)
        any_run_killed = true;
    else
        longest_run = std::max(longest_run, took);
}

bool windows()
{
    const std::string& p = program();
    return p.size() >= 4 && p.compare(p.size() - 4, 4, ".exe") == 0;
}

const std::vector<std::string>& launcher()
{
    static const std::vector<std::string> words = [] {
        std::istringstream line(from_environment("MAVRID_TEST_LAUNCHER", ""));
        std::vector<std::string> all;
        for (std::string word; line >> word;)
            all.push_back(word);
        return all;
    }();
    return words;
}

bool data_limited(std::string& why_not)
{
    if (WINDOWS_HARNESS)
        why_not = "Windows has no data segment limit";
    else if (!launcher().empty()) // it would bind the launcher
        why_not = "the program runs through a launcher";
    else if (std::getenv("MAVRID_TEST_SANITIZED") != nullptr) // terabytes of shadow memory
        why_not = "a sanitizer build";
    else
        return true;
    return false;
}

void verifies(const char* requirements)
{
    testing::Test::RecordProperty("requirements", requirements);
}

static bool left_behind_judged_apart = false;

void judge_left_behind_apart()
{
    left_behind_judged_apart = true;
}

void report_left_behind(const std::string& what)
{
    static const testing::TestInfo* test = nullptr;
    static std::string all;
    const testing::TestInfo* now = testing::UnitTest::GetInstance()->current_test_info();
    if (now != test) {
        test = now;
        all.clear();
    }
    all += (all.empty() ? "" : "; ") + what;
    if (now != nullptr)
        testing::Test::RecordProperty("left_behind", all);
    if (!left_behind_judged_apart || now == nullptr)
        ADD_FAILURE() << what;
    else
        std::printf("%s\n", what.c_str());
}

// One line per part left out: its requirements, a tab and why.
void left_out(const char* requirements, const std::string& why)
{
    static const testing::TestInfo* test = nullptr;
    static std::string all;
    const testing::TestInfo* now = testing::UnitTest::GetInstance()->current_test_info();
    if (now != test) {
        test = now;
        all.clear();
    }
    all += (all.empty() ? "" : "\n") + std::string(requirements) + "\t" + why;
    testing::Test::RecordProperty("left_out", all);
    std::printf("left out here (%s): %s\n", requirements, why.c_str());
}

std::filesystem::path as_path(const std::string& utf8)
{
    return std::u8string(utf8.begin(), utf8.end());
}

static std::string utf8_of(const std::filesystem::path& path)
{
    std::u8string name = path.u8string();
    return {name.begin(), name.end()};
}

Sandbox::Sandbox()
{
    std::random_device seed;
    std::mt19937 names(seed());
    const auto temp = std::filesystem::temp_directory_path();
    for (int attempt = 0; root_.empty(); ++attempt) {
        if (attempt == 100)
            throw std::runtime_error("no fresh temporary folder");
        char name[32];
        std::snprintf(name, sizeof name, "mavrid-test-%08x", static_cast<unsigned>(names()));
        if (std::filesystem::create_directory(temp / name))
            root_ = utf8_of(temp / name);
    }
    std::filesystem::create_directory(as_path(run_folder()));
}

Sandbox::~Sandbox()
{
    std::error_code ignored;
    std::filesystem::remove_all(as_path(root_), ignored);
}

std::string Sandbox::path(const std::string& name) const
{
    // Absolute on POSIX or Windows (C:\..., \\.\pipe\...), or no file.
    bool absolute = (!name.empty() && (name[0] == '/' || name[0] == '\\'))
                    || (name.size() > 2 && name[1] == ':');
    if (absolute || name == CLOSED || name == NULL_DEVICE)
        return name;
    return run_folder() + "/" + name;
}

void Sandbox::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream(file(name), std::ios::binary) << bytes;
}

std::string Sandbox::read(const std::string& name) const
{
    return read_file(path(name));
}

static std::string from_text_stream(const std::string& bytes);

std::string Sandbox::read_text(const std::string& name) const
{
    return from_text_stream(read(name));
}

bool Sandbox::exists(const std::string& name) const
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(file(name), ignored));
}

// A Windows text stream ends its lines in CR LF; they are compared as LF,
// and a line end without its CR is left marked so that no comparison passes.
static std::string from_text_stream(const std::string& bytes)
{
    if (!windows())
        return bytes;
    std::string lines;
    for (char c : bytes) {
        if (c == '\n') {
            if (!lines.empty() && lines.back() == '\r')
                lines.pop_back();
            else
                lines += "<LF without CR>";
        }
        lines += c;
    }
    return lines;
}

Redirection redirection_of(const std::string& stdout_path)
{
    Redirection redirection;
    std::string_view rest = stdout_path;
    auto take = [&rest](const std::string& mark) {
        bool marked = rest.substr(0, mark.size()) == mark;
        if (marked)
            rest.remove_prefix(mark.size());
        return marked;
    };
    redirection.with_errors = take(WITH_ERRORS);
    if (take(APPENDED))
        redirection.opening = Standard::APPENDED;
    else if (take(READ_WRITE))
        redirection.opening = Standard::READ_WRITE;
    redirection.path = rest;
    return redirection;
}

Outcome Sandbox::run(const std::vector<std::string>& args, const std::string& output_name,
                     const std::string& stdin_path, const std::string& stdout_path,
                     const std::string* piped_input) const
{
    std::vector<std::string> words = launcher();
    words.push_back(program());
    words.insert(words.end(), args.begin(), args.end());
    return spawn(words, output_name, stdin_path, stdout_path, piped_input);
}

Outcome Sandbox::run_in_cmd(const std::vector<std::string>& words) const
{
    // Under Wine, its drive Z: is the Unix root.
    std::string windows_name = WINDOWS_HARNESS ? program() : "Z:" + program();
    std::replace(windows_name.begin(), windows_name.end(), '/', '\\');
    std::vector<std::string> command = launcher();
    command.insert(command.end(), {"cmd", "/v:on", "/c", windows_name});
    command.insert(command.end(), words.begin(), words.end());
    return spawn(command, "", "", "", nullptr);
}

Launch Sandbox::launch_of(const std::vector<std::string>& words, const std::string& stdin_path,
                          const std::string& stdout_path) const
{
    const Redirection console = redirection_of(stdout_path);
    Launch launch;
    launch.words = words;
    launch.environment = chosen_environment();
    launch.folder = run_folder();
    launch.standard[0].file = stdin_path.empty() ? NULL_DEVICE : path(stdin_path);
    launch.standard[1].file = console.path.empty() ? console_file() : path(console.path);
    launch.standard[1].opening = console.opening;
    launch.standard[2] = {errors_file(), Standard::EMPTIED}; // emptied, whatever else goes
    launch.errors_to_output = console.with_errors;
    return launch;
}

// What the run left: the console and error files that spawn redirected the
// child's output to, and the output file.
Outcome Sandbox::outcome(int status, const std::string& output_name, bool killed) const
{
    Outcome outcome;
    outcome.status = status;
    outcome.killed = killed;
    outcome.console = from_text_stream(read_file(console_file()));
    outcome.errors = from_text_stream(read_file(errors_file()));
    outcome.output_exists = !output_name.empty() && exists(output_name);
    if (outcome.output_exists)
        outcome.output = from_text_stream(read(output_name));
    return outcome;
}

Outcome run_mavrid(const std::string& input)
{
    Sandbox box;
    box.write("in.hex", input);
    return box.run({"in.hex", "out.s19"});
}

static std::string hex_byte(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// The fields as hexadecimal digit pairs; their sum is left in sum.
static std::string hex_fields(const std::vector<unsigned>& fields, unsigned& sum)
{
    std::string digits;
    sum = 0;
    for (unsigned f : fields) {
        digits += hex_byte(f);
        sum += f;
    }
    return digits;
}

std::string ihex_record(int type, unsigned address, const std::vector<int>& data)
{
    std::vector<unsigned> fields = {static_cast<unsigned>(data.size()), address >> 8,
                                    address & 0xFF, static_cast<unsigned>(type)};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    line += hex_fields(fields, sum);
    return line + hex_byte((0x100 - (sum & 0xFF)) & 0xFF) + "\n";
}

std::string srec_line(int type, unsigned address, const std::vector<int>& data)
{
    std::vector<unsigned> fields = {static_cast<unsigned>(data.size() + 3), (address >> 8) & 0xFF,
                                    address & 0xFF};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = {'S', static_cast<char>('0' + type)};
    line += hex_fields(fields, sum);
    return line + hex_byte(0xFF - (sum & 0xFF)) + "\n";
}
