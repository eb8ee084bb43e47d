// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// spawn_posix.cpp -- starting the program under test with fork and exec.
#include <gtest/gtest.h>

#include <dirent.h>
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
#include <stdexcept>

#ifdef __linux__
#include <linux/securebits.h>
#include <sys/prctl.h>
#endif

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
static void reset_process_state(long file_size_limit, bool unprivileged)
{
#ifdef __linux__
    // Root that gains no capabilities when it runs a program.
    if (unprivileged && geteuid() == 0
        && (prctl(PR_SET_SECUREBITS, SECBIT_NOROOT | SECBIT_NOROOT_LOCKED) != 0
            || prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0))
        _exit(126);
#else
    (void)unprivileged;
#endif
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

// This process's children, as /proc names them; those that have ended are
// reaped, not counted.
static std::vector<pid_t> live_children()
{
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return children;
    const long self = getpid();
    for (const dirent* entry = readdir(proc); entry != nullptr; entry = readdir(proc)) {
        const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
        const std::string stat = pid > 0 ? read_file("/proc/" + std::to_string(pid) + "/stat") : "";
        const std::size_t name_end = stat.rfind(')'); // the name may hold anything
        char state = 0;
        long parent = 0;
        if (name_end == std::string::npos
            || std::sscanf(stat.c_str() + name_end + 1, " %c %ld", &state, &parent) != 2
            || parent != self)
            continue;
        if (state == 'Z')
            waitpid(pid, nullptr, WNOHANG);
        else
            children.push_back(pid);
    }
    closedir(proc);
    return children;
}

// End every process that a run left behind, and name each.  This process
// is their subreaper, so whatever the program started, and its children in
// turn, became a child of this one when its parent ended; ending one makes
// its own children ours, so the search goes on until none is left.
static std::vector<std::string> end_left_behind(const std::vector<pid_t>& before)
{
    std::vector<std::string> ended;
    for (int round = 0; round < 1000; ++round) {
        std::vector<pid_t> left;
        for (pid_t pid : live_children())
            if (std::find(before.begin(), before.end(), pid) == before.end())
                left.push_back(pid);
        if (left.empty())
            break;
        for (pid_t pid : left) {
            std::string name = read_file("/proc/" + std::to_string(pid) + "/comm");
            name.erase(name.find_last_not_of('\n') + 1);
            ended.push_back(std::to_string(pid) + " (" + name + ")");
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    return ended;
}

// Processes orphaned anywhere below this one become its children rather
// than init's, so that none that a run leaves can go unseen (Linux).
static void become_subreaper()
{
#ifdef __linux__
    static const bool done = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    (void)done;
#endif
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
    // A launcher's own processes, such as the server and services that Wine
    // starts for its prefix, may outlive a run by design; the processes a
    // program leaves are looked for only when it runs by itself.
    const bool watched = launcher().empty();
    if (watched)
        become_subreaper();
    const std::vector<pid_t> before = watched ? live_children() : std::vector<pid_t>{};
    // Built before the fork, which a program with threads needs.
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::vector<std::string>* chosen = chosen_environment();
    std::vector<std::string> variables = chosen != nullptr ? *chosen : std::vector<std::string>{};
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + run_deadline();
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
        reset_process_state(file_size_limit_, unprivileged_);
        if (chosen != nullptr)
            execve(argv[0], argv.data(), envp.data());
        else
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
            ADD_FAILURE()
                << "killed after running for "
                << std::chrono::duration_cast<std::chrono::milliseconds>(deadline - started).count()
                << " ms:" << command;
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
    run_ended(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                    - started),
              killed);
    if (piped_input != nullptr)
        close(pipe_fds[1]);
    sigaction(SIGPIPE, &previous, nullptr);
    const std::vector<std::string> left =
        watched ? end_left_behind(before) : std::vector<std::string>{};
    if (!left.empty()) {
        std::string names;
        for (const std::string& name : left)
            names += (names.empty() ? "" : ", ") + name;
        report_left_behind("the run of " + words[0] + " left " + std::to_string(left.size())
                           + " process(es) running when it ended, which the harness ended: "
                           + names);
    }
    Outcome result =
        outcome(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status),
                output_name, killed);
    result.left_behind = static_cast<int>(left.size());
    return result;
}
