// SPDX-License-Identifier: MIT
// host_posix.cpp -- the machine and the program, on POSIX systems.
#include "host.h"

#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

extern char** environ;

std::string sha256_of(const std::string& path, std::string& fault)
{
    int out[2];
    if (pipe(out) != 0) {
        fault = "no pipe for sha256sum";
        return "";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string tool = "sha256sum";
    std::string flag = "-b";
    std::string end = "--";
    std::string file = path;
    char* argv[] = {tool.data(), flag.data(), end.data(), file.data(), nullptr};
    pid_t pid = -1;
    int started = posix_spawnp(&pid, "sha256sum", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string printed;
    char chunk[256];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
        printed.append(chunk, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    if (started != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0) {
        fault = "sha256sum (coreutils) could not hash the program";
        return "";
    }
    std::string digest = printed.substr(0, printed.find(' '));
    bool hex = digest.size() == 64;
    for (char c : digest)
        hex = hex && std::isxdigit(static_cast<unsigned char>(c)) != 0;
    if (!hex) {
        fault = "sha256sum printed no digest";
        return "";
    }
    return digest;
}

// PRETTY_NAME of os-release, where the system has one.
static std::string distribution()
{
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream release(file);
        for (std::string line; std::getline(release, line);) {
            if (line.rfind("PRETTY_NAME=", 0) != 0)
                continue;
            std::string name = line.substr(12);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
                name = name.substr(1, name.size() - 2);
            return name;
        }
    }
    return "";
}

std::string host_description()
{
    struct utsname system {};
    if (uname(&system) != 0)
        return "unknown";
    std::string host = distribution();
    if (!host.empty())
        host += ", ";
    return host + system.sysname + " " + system.release + " " + system.version + ", "
           + system.machine;
}
