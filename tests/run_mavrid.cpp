// SPDX-License-Identifier: MIT
// run_mavrid.cpp -- running the built mavrid as a child process.
#include "run_mavrid.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

static std::string from_environment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

static const std::string PROGRAM = from_environment("MAVRID_TEST_PROGRAM", MAVRID_DEFAULT_PROGRAM);

static std::vector<std::string> launcher_words()
{
    std::istringstream line(from_environment("MAVRID_TEST_LAUNCHER", ""));
    std::vector<std::string> words;
    for (std::string word; line >> word;)
        words.push_back(word);
    return words;
}

static const std::vector<std::string> LAUNCHER = launcher_words();

const bool WINDOWS = PROGRAM.size() >= 4 && PROGRAM.compare(PROGRAM.size() - 4, 4, ".exe") == 0;

// Through a launcher the limit would bind the launcher, and a sanitizer
// reserves terabytes of shadow memory.
static const bool DATA_LIMITED =
    LAUNCHER.empty() && std::getenv("MAVRID_TEST_SANITIZED") == nullptr;

Sandbox::Sandbox()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "mavrid-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directory(root_ + "/run");
}

Sandbox::~Sandbox()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string Sandbox::path(const std::string& name) const
{
    if ((!name.empty() && name[0] == '/') || name == CLOSED)
        return name;
    return root_ + "/run/" + name;
}

void Sandbox::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream(path(name), std::ios::binary) << bytes;
}

static std::string read_file(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Sandbox::read(const std::string& name) const
{
    return read_file(path(name));
}

bool Sandbox::exists(const std::string& name) const
{
    struct stat st {};
    return lstat(path(name).c_str(), &st) == 0;
}

// A Windows text stream ends its lines in CR LF; they are compared as LF,
// and a line end without its CR is left marked so that no comparison passes.
static std::string from_text_stream(const std::string& bytes)
{
    if (!WINDOWS)
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

// Point fd at file, opened with flags, or close it; in the child only.
static void redirect(int fd, const std::string& file, int flags)
{
    if (file == CLOSED) {
        close(fd);
        return;
    }
    int opened = open(file.c_str(), flags, 0644);
    if (opened < 0 || dup2(opened, fd) < 0)
        _exit(126);
    close(opened);
}

// In the child only: start the program as a shell would, whatever this
// process has done to its own signals, and within its limits.
static void reset_process_state(long file_size_limit)
{
    for (int sig = 1; sig < NSIG; ++sig)
        std::signal(sig, SIG_DFL); // fails harmlessly for SIGKILL and the like
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (DATA_LIMITED) {
        const rlimit limit = {DATA_LIMIT_KIB * 1024, DATA_LIMIT_KIB * 1024};
        if (setrlimit(RLIMIT_DATA, &limit) != 0)
            _exit(126);
    }
    if (file_size_limit != 0) {
        const rlimit limit = {static_cast<rlim_t>(file_size_limit),
                              static_cast<rlim_t>(file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
    }
}

// Feed the rest of input into fd, without blocking, as far as the pipe
// takes it; what a reader that has gone can no longer take is dropped.
static void feed(int fd, const std::string& input, std::size_t& done)
{
    while (done < input.size()) {
        ssize_t n = ::write(fd, input.data() + done, input.size() - done);
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            done = input.size();
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

Outcome Sandbox::run(const std::vector<std::string>& args, const std::string& output_name,
                     const std::string& stdin_path, const std::string& stdout_path,
                     const std::string* piped_input) const
{
    std::vector<std::string> words = LAUNCHER;
    words.push_back(PROGRAM);
    words.insert(words.end(), args.begin(), args.end());
    return spawn(words, output_name, stdin_path, stdout_path, piped_input);
}

Outcome Sandbox::run_in_cmd(const std::vector<std::string>& words) const
{
    // Wine's drive Z: is the Unix root.
    std::string windows_name = "Z:" + PROGRAM;
    std::replace(windows_name.begin(), windows_name.end(), '/', '\\');
    std::vector<std::string> command = LAUNCHER;
    command.insert(command.end(), {"cmd", "/v:on", "/c", windows_name});
    command.insert(command.end(), words.begin(), words.end());
    return spawn(command, "", "", "", nullptr);
}

Outcome Sandbox::spawn(std::vector<std::string> words, const std::string& output_name,
                       const std::string& stdin_path, const std::string& stdout_path,
                       const std::string* piped_input) const
{
    const std::string console_file = root_ + "/console.txt";
    const std::string errors_file = root_ + "/errors.txt";

    int pipe_fds[2] = {-1, -1};
    if (piped_input != nullptr && pipe(pipe_fds) != 0)
        throw std::runtime_error("pipe failed");
    // The child may stop reading at a fault; a broken pipe is no error here.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir((root_ + "/run").c_str()) != 0)
            _exit(126);
        // Wine turns Windows file names into Unix ones through the locale's
        // character set: UTF-8, as on any current system.
        if (WINDOWS)
            setenv("LC_ALL", "C.UTF-8", 1);
        if (piped_input != nullptr) {
            dup2(pipe_fds[0], 0);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
        } else {
            redirect(0, stdin_path.empty() ? "/dev/null" : path(stdin_path), O_RDONLY);
        }
        redirect(1, stdout_path.empty() ? console_file : path(stdout_path),
                 O_WRONLY | O_CREAT | O_TRUNC);
        redirect(2, errors_file, O_WRONLY | O_CREAT | O_TRUNC);
        reset_process_state(file_size_limit_);
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    std::size_t fed = 0;
    if (piped_input != nullptr) {
        close(pipe_fds[0]);
        fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
    }
    // Like a programmer's tool or a tail -f, the writer of a pipe keeps it
    // open: the run must end at the end record, not at the end of the
    // stream.  Any run still going at the deadline is stopped.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(RUN_DEADLINE_S);
    int wait_status = 0;
    int pause_us = 50;
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            std::string command;
            for (const std::string& w : words)
                command += " " + w;
            ADD_FAILURE() << "killed after running for " << RUN_DEADLINE_S << " s:" << command;
            break;
        }
        if (piped_input != nullptr && fed < piped_input->size()) {
            pollfd writable = {pipe_fds[1], POLLOUT, 0};
            poll(&writable, 1, 1);
            feed(pipe_fds[1], *piped_input, fed);
        } else {
            usleep(static_cast<useconds_t>(pause_us));
            pause_us = std::min(2 * pause_us, 10000);
        }
    }
    if (piped_input != nullptr)
        close(pipe_fds[1]);
    sigaction(SIGPIPE, &previous, nullptr);

    Outcome outcome;
    outcome.status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    outcome.console = from_text_stream(read_file(console_file));
    outcome.errors = read_file(errors_file);
    outcome.output_exists = !output_name.empty() && exists(output_name);
    if (outcome.output_exists)
        outcome.output = from_text_stream(read(output_name));
    return outcome;
}

bool has_dev_full()
{
    return access("/dev/full", W_OK) == 0;
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
