// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// spawn_posix.cpp -- starting the program under test with fork and exec.
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
#include <cstdlib>
#include <stdexcept>

#include "child_process.h"
#include "run_mavrid.h"

bool running_as_root()
{
    return geteuid() == 0;
}

// A Windows program runs here only through Wine.
bool under_wine()
{
    return true;
}

FullDevice::FullDevice()
{
    if (access("/dev/full", W_OK) == 0)
        path_ = "/dev/full";
}

FullDevice::~FullDevice() = default;

NamedPipe::NamedPipe(const Sandbox& box, const std::string& bytes) : path_(box.path("in.fifo"))
{
    if (mkfifo(path_.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    pid_t writer = fork();
    if (writer < 0)
        throw std::runtime_error("fork failed");
    if (writer == 0) {
        int fd = open(path_.c_str(), O_WRONLY); // waits for the reader
        for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        for (;;)
            pause();
    }
    writer_ = writer;
}

NamedPipe::~NamedPipe()
{
    kill(static_cast<pid_t>(writer_), SIGKILL);
    waitpid(static_cast<pid_t>(writer_), nullptr, 0);
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
    std::string why_not;
    if (data_limited(why_not)) {
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

Outcome Sandbox::spawn(std::vector<std::string> words, const std::string& output_name,
                       const std::string& stdin_path, const std::string& stdout_path,
                       const std::string* piped_input) const
{
    const std::string folder = run_folder();
    const std::string in = stdin_path.empty() ? NULL_DEVICE : path(stdin_path);
    const Redirection console = redirection_of(stdout_path);
    const std::string out = console.path.empty() ? console_file() : path(console.path);
    const int out_flags = console.opening == Redirection::APPENDED ? O_WRONLY | O_CREAT | O_APPEND
                          : console.opening == Redirection::READ_WRITE
                              ? O_RDWR | O_CREAT
                              : O_WRONLY | O_CREAT | O_TRUNC;
    const std::string err = errors_file();
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
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        // Wine turns Windows file names into Unix ones through the locale's
        // character set: UTF-8, as on any current system.
        if (windows())
            setenv("LC_ALL", "C.UTF-8", 1);
        if (piped_input != nullptr) {
            dup2(pipe_fds[0], 0);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
        } else {
            redirect(0, in, O_RDONLY);
        }
        redirect(1, out, out_flags);
        redirect(2, err, O_WRONLY | O_CREAT | O_TRUNC); // emptied, whatever else goes
        if (console.with_errors)
            dup2(1, 2);
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
    bool killed = false;
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            std::string command;
            for (const std::string& w : words)
                command += " " + w;
            ADD_FAILURE() << "killed after running for " << RUN_DEADLINE_S << " s:" << command;
            killed = true;
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
    return outcome(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status),
                   output_name, killed);
}
