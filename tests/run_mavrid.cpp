// SPDX-License-Identifier: MIT
// run_mavrid.cpp -- running the built mavrid as a child process.
#include "run_mavrid.h"

#include "launcher.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

Outcome Sandbox::run(const std::vector<std::string>& args, const std::string& output_name,
                     const std::string& stdin_path, const std::string& stdout_path,
                     const std::string* piped_input) const
{
    const std::string console_file = root_ + "/console.txt";
    const std::string errors_file = root_ + "/errors.txt";
    std::vector<std::string> words = {MAVRID_LAUNCHER_WORDS};
    words.push_back(MAVRID_PATH);
    words.insert(words.end(), args.begin(), args.end());

    int pipe_fds[2] = {-1, -1};
    if (piped_input != nullptr && pipe(pipe_fds) != 0)
        throw std::runtime_error("pipe failed");
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
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (piped_input != nullptr) {
        // The child may stop reading at a fault; a broken pipe is no error here.
        std::signal(SIGPIPE, SIG_IGN);
        close(pipe_fds[0]);
        for (std::size_t done = 0; done < piped_input->size();) {
            ssize_t n =
                ::write(pipe_fds[1], piped_input->data() + done, piped_input->size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    }
    int wait_status = 0;
    struct rusage usage {};
    if (piped_input != nullptr) {
        // Like a programmer's tool or a tail -f, the writer keeps the pipe
        // open: the run must end at the end record, not at the end of the
        // stream.  One that waits for more is stopped after a while.
        for (int waited_ms = 0; wait4(pid, &wait_status, WNOHANG, &usage) == 0; waited_ms += 10) {
            if (waited_ms == 30000)
                kill(pid, SIGKILL);
            usleep(10000);
        }
        close(pipe_fds[1]);
    } else {
        wait4(pid, &wait_status, 0, &usage);
    }

    Outcome outcome;
    outcome.max_rss_kib = usage.ru_maxrss;
    outcome.status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    outcome.console = from_text_stream(read_file(console_file));
    outcome.errors = read_file(errors_file);
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
    std::string line = ":" + hex_fields(fields, sum);
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
