// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// spawn_posix.cpp -- running the program under test, and every process it
// starts, as one: in a PID namespace of its own where this process may make
// one, which the kernel ends as a whole.
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
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "child_process.h"
#include "platform.h"
#include "run_mavrid.h"

bool running_as_root()
{
    return geteuid() == 0;
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

// A process's or thread's state and parent, from its /proc stat file;
// false when it cannot be read.
static bool state_of(const std::string& stat_file, char& state, long& parent)
{
    const std::string stat = read_file(stat_file);
    const std::size_t name_end = stat.rfind(')'); // the name may hold anything
    return name_end != std::string::npos
           && std::sscanf(stat.c_str() + name_end + 1, " %c %ld", &state, &parent) == 2;
}

// Whether a process still runs: a zombie counts while a thread of it does,
// as a group leader that ended its own thread and left others running.
static bool alive(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (folder == nullptr)
        return false;
    bool running = false;
    for (const dirent* entry = readdir(folder); entry != nullptr && !running;
         entry = readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        char state = 0;
        long parent = 0;
        running = state_of(tasks + "/" + entry->d_name + "/stat", state, parent) && state != 'Z'
                  && state != 'X';
    }
    closedir(folder);
    return running;
}

// The processes that /proc lists and that pass the test, but this one.
template <typename Test> static std::vector<pid_t> processes_where(Test test)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    for (const dirent* entry = readdir(proc); entry != nullptr; entry = readdir(proc)) {
        const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid > 0 && pid != getpid() && test(pid))
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

static std::string name_of(pid_t pid)
{
    std::string name = read_file("/proc/" + std::to_string(pid) + "/comm");
    name.erase(name.find_last_not_of('\n') + 1);
    return std::to_string(pid) + " (" + name + ")";
}

// The processes whose parent is this one, as /proc says.
static bool child_of_this(pid_t pid)
{
    char state = 0;
    long parent = 0;
    return state_of("/proc/" + std::to_string(pid) + "/stat", state, parent) && parent == getpid();
}

// Without a namespace: end every process that a run left behind, and name
// each.  This process is their subreaper, so whatever the program started,
// and its children in turn, became a child of this one when its parent
// ended; ending one makes its own children ours, so the search goes on
// until none is left.  Those that have ended are reaped on the way.
static std::vector<std::string> end_left_behind(const std::vector<pid_t>& before)
{
    std::vector<std::string> ended;
    for (int round = 0; round < 1000; ++round) {
        std::vector<pid_t> left;
        for (pid_t pid : processes_where(child_of_this)) {
            if (std::find(before.begin(), before.end(), pid) != before.end())
                continue;
            if (alive(pid))
                left.push_back(pid);
            else
                waitpid(pid, nullptr, WNOHANG);
        }
        if (left.empty())
            break;
        for (pid_t pid : left) {
            ended.push_back(name_of(pid));
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

#ifdef __linux__
// The first process of a PID namespace of its own, which the kernel ends,
// and every process in it, when it ends, and when this process ends too.
// It starts the program, writes its wait status to report, and reaps what
// is left until it is ended; -1 where no namespace may be made here.  The
// namespace has a /proc of its own, so that the program's process IDs are
// those /proc names.
static pid_t start_in_namespace(const Launch& launch, int report)
{
    const auto init = static_cast<pid_t>(syscall(SYS_clone, CLONE_NEWPID | CLONE_NEWNS | SIGCHLD,
                                                 nullptr, nullptr, nullptr, nullptr));
    if (init != 0)
        return init;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Private first: a /proc mounted on a shared mount would reach the system's.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
        mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    const pid_t program = start(launch);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != report)
            close(fd);
    int status = 127 << 8;
    while (program > 0 && waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    if (write(report, &status, sizeof status) != sizeof status)
        _exit(126);
    close(report);
    for (;;)
        if (waitpid(-1, nullptr, 0) < 0 && errno == ECHILD)
            pause();
}

static std::string namespace_of(pid_t pid)
{
    char link[64] = "";
    const std::string name = "/proc/" + std::to_string(pid) + "/ns/pid";
    const ssize_t n = readlink(name.c_str(), link, sizeof link - 1);
    return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
}
#else
static pid_t start_in_namespace(const Launch&, int)
{
    return -1;
}

static std::string namespace_of(pid_t)
{
    return "";
}
#endif

Outcome Sandbox::spawn(std::vector<std::string> words, const std::string& output_name,
                       const std::string& stdin_path, const std::string& stdout_path,
                       const std::string* piped_input) const
{
    Launch launch = launch_of(words, stdin_path, stdout_path);
    const long file_size_limit = file_size_limit_;
    const bool unprivileged = unprivileged_;
    const bool windows_program = windows();
    launch.prepare = [file_size_limit, unprivileged, windows_program] {
        // Wine turns Windows file names into Unix ones through the locale's
        // character set: UTF-8, as on any current system.
        if (windows_program)
            setenv("LC_ALL", "C.UTF-8", 1);
        reset_process_state(file_size_limit, unprivileged);
    };
    int pipe_fds[2] = {-1, -1};
    if (piped_input != nullptr) {
        if (pipe2(pipe_fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        launch.standard[0].descriptor = pipe_fds[0];
    }
    // The child may stop reading at a fault; a broken pipe is no error here.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    // A launcher's own processes, such as the server and services that Wine
    // starts for its prefix, may outlive a run by design; the processes a
    // program leaves are looked for only when it runs by itself: in a PID
    // namespace where one may be made, or else as this process's orphans.
    const bool watched = launcher().empty();
    int report[2] = {-1, -1};
    pid_t init = -1;
    if (watched && pipe2(report, O_CLOEXEC) == 0) {
        init = start_in_namespace(launch, report[1]);
        close(report[1]);
        if (init < 0) {
            close(report[0]);
            report[0] = -1;
        }
    }
    if (watched && init < 0)
        become_subreaper();
    const std::vector<pid_t> before =
        watched && init < 0 ? processes_where(child_of_this) : std::vector<pid_t>{};
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + run_deadline();
    const pid_t pid = init >= 0 ? init : start(launch);
    if (pid < 0)
        throw std::runtime_error("fork failed");
    std::size_t fed = 0;
    if (piped_input != nullptr) {
        close(pipe_fds[0]);
        fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
    }
    // Like a programmer's tool or a tail -f, the writer of a pipe keeps it
    // open: the run must end at the end record, not at the end of the
    // stream.  Any run still going at the deadline is stopped.
    int wait_status = 0;
    int pause_ms = 1;
    bool killed = false;
    for (bool ended = false; !ended;) {
        if (init >= 0) {
            pollfd reported = {report[0], POLLIN, 0};
            ended = poll(&reported, 1, pause_ms) > 0
                    && ::read(report[0], &wait_status, sizeof wait_status) == sizeof wait_status;
        } else {
            ended = waitpid(pid, &wait_status, WNOHANG) == pid;
            if (!ended)
                usleep(static_cast<useconds_t>(pause_ms) * 1000);
        }
        pause_ms = std::min(2 * pause_ms, 10);
        if (ended)
            break;
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
            init = -1; // and with it, all it held
            break;
        }
        if (piped_input != nullptr && fed < piped_input->size())
            feed(pipe_fds[1], *piped_input, fed);
    }
    run_ended(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                    - started),
              killed);
    if (piped_input != nullptr)
        close(pipe_fds[1]);
    sigaction(SIGPIPE, &previous, nullptr);
    if (report[0] >= 0)
        close(report[0]);
    std::vector<std::string> left;
    if (init >= 0) {
        // Whatever is still alive in the namespace is named, then ended with it.
        const std::string ns = namespace_of(init);
        for (pid_t leftover : processes_where([&ns, init](pid_t p) {
                 return p != init && !ns.empty() && namespace_of(p) == ns && alive(p);
             }))
            left.push_back(name_of(leftover));
        kill(init, SIGKILL);
        waitpid(init, nullptr, 0);
    } else if (watched && report[0] < 0) {
        left = end_left_behind(before);
    }
    if (!left.empty()) {
        std::string names;
        for (const std::string& name : left)
            names += (names.empty() ? "" : ", ") + name;
        report_left_behind("the run of " + words[0] + " left " + std::to_string(left.size())
                           + " process(es) running when it ended, which the harness ended: "
                           + names);
    }
    Outcome result = outcome(shell_status(wait_status), output_name, killed);
    result.left_behind = static_cast<int>(left.size());
    return result;
}
