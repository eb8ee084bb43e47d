// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// platform_posix.cpp -- processes on POSIX systems.
#include "platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

bool under_wine()
{
    return true;
}

// Point fd at what the stream is given, or close it.
static void give(int fd, const Standard& standard)
{
    if (standard.descriptor >= 0) {
        if (dup2(standard.descriptor, fd) < 0)
            _exit(126);
        return;
    }
    if (standard.file == CLOSED) {
        close(fd);
        return;
    }
    const int flags = standard.opening == Standard::READ       ? O_RDONLY
                      : standard.opening == Standard::EMPTIED  ? O_WRONLY | O_CREAT | O_TRUNC
                      : standard.opening == Standard::APPENDED ? O_WRONLY | O_CREAT | O_APPEND
                                                               : O_RDWR | O_CREAT;
    const int opened = open(standard.file.c_str(), flags, 0644);
    if (opened < 0 || dup2(opened, fd) < 0)
        _exit(126);
    if (opened != fd)
        close(opened);
}

void become(const Launch& launch)
{
    // Built first: nothing after the descriptors are set may fail unseen.
    std::vector<std::string> words = launch.words;
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables =
        launch.environment != nullptr ? *launch.environment : std::vector<std::string>{};
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    if (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0)
        _exit(126);
    for (int fd = 0; fd <= 2; ++fd)
        give(fd, launch.standard[fd]);
    if (launch.errors_to_output && dup2(1, 2) < 0)
        _exit(126);
    if (launch.prepare)
        launch.prepare();
    if (launch.environment != nullptr)
        execve(argv[0], argv.data(), envp.data());
    else
        execvp(argv[0], argv.data());
    _exit(127);
}

ProcessId start(const Launch& launch)
{
    const pid_t pid = fork();
    if (pid == 0)
        become(launch);
    return pid;
}

int shell_status(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

int run(Launch launch, std::chrono::milliseconds deadline, std::string* output)
{
    int out[2] = {-1, -1};
    if (output != nullptr) {
        if (pipe2(out, O_CLOEXEC) != 0)
            return -1;
        launch.standard[1].descriptor = out[1];
    }
    const pid_t pid = start(launch);
    if (output != nullptr)
        close(out[1]);
    if (pid < 0) {
        if (output != nullptr)
            close(out[0]);
        return -1;
    }
    const auto end = std::chrono::steady_clock::now() + deadline;
    int wait_status = 0;
    bool ended = false;
    // Read what it writes until it closes its end, then wait for it; either
    // way no longer than the deadline.
    while (!ended && std::chrono::steady_clock::now() < end) {
        if (out[0] < 0) {
            ended = waitpid(pid, &wait_status, WNOHANG) == pid;
            if (!ended)
                usleep(2000);
            continue;
        }
        pollfd readable = {out[0], POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n > 0) {
            output->append(chunk, static_cast<std::size_t>(n));
        } else {
            close(out[0]);
            out[0] = -1;
        }
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &wait_status, 0);
    }
    if (out[0] >= 0)
        close(out[0]);
    return shell_status(wait_status);
}
