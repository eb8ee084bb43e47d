// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host_posix.cpp -- the machine, the user and the files, on POSIX systems.
#include "host.h"

// The SHA-256 functions themselves, not the one-shot call that OpenSSL 3
// routes through its providers, which a static program could load only
// with the shared libraries of the glibc it was built with.
#define OPENSSL_API_COMPAT 0x10101000L
#include <fcntl.h>
#include <openssl/opensslv.h>
#include <openssl/sha.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform.h"

extern char** environ;

std::string sha256_hex(const std::string& bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256_CTX context;
    if (SHA256_Init(&context) != 1 || SHA256_Update(&context, bytes.data(), bytes.size()) != 1
        || SHA256_Final(digest.data(), &context) != 1)
        return "";
    return hex_of(digest.data(), digest.size());
}

// The version of the headers it was built with (asking the library itself
// would link in most of it).
std::string sha256_implementation()
{
    return std::string("SHA-256 of the libcrypto of ") + OPENSSL_VERSION_TEXT + ", linked in";
}

std::string own_executable()
{
    std::error_code unknown;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", unknown);
    return unknown ? std::string() : self.string();
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

// The name comes from /etc/passwd itself: getpwuid would need, in a static
// program, the name service libraries of the glibc it was built with.
std::string user_description(bool& privileged)
{
    const uid_t uid = geteuid();
    privileged = uid == 0;
    std::string name = "(no name in /etc/passwd)";
    std::ifstream users("/etc/passwd");
    for (std::string line; std::getline(users, line);) {
        std::istringstream fields(line);
        std::string user, password, id;
        if (std::getline(fields, user, ':') && std::getline(fields, password, ':')
            && std::getline(fields, id, ':') && id == std::to_string(uid)) {
            name = user;
            break;
        }
    }
    return name + " (uid " + std::to_string(uid) + (privileged ? ", root)" : ", not root)");
}

// The mount of /proc/self/mountinfo with the longest mount point that
// holds path names the file system (fields: ... mount point is the 5th,
// the type follows the " - " separator).
std::string file_system_of(const std::string& path)
{
    std::error_code unknown;
    const std::string real = std::filesystem::canonical(path, unknown).string();
    std::ifstream mounts("/proc/self/mountinfo");
    std::string best_point;
    std::string best_type = "unknown";
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos)
            continue;
        std::istringstream after(line.substr(separator + 3));
        std::string type;
        after >> type;
        const bool holds = real == point || point == "/"
                           || (real.rfind(point, 0) == 0 && real.size() > point.size()
                               && real[point.size()] == '/');
        if (holds && point.size() >= best_point.size()) {
            best_point = point;
            best_type = type;
        }
    }
    return best_type;
}

bool can_run(const std::string& path, std::string& why)
{
    if (access(path.c_str(), X_OK) == 0)
        return true;
    const int error = errno;
    struct statvfs file_system {};
    why = statvfs(path.c_str(), &file_system) == 0 && (file_system.f_flag & ST_NOEXEC) != 0
              ? "is on a file system mounted noexec, where no program may run"
              : std::string("cannot be run: ") + std::strerror(error);
    return false;
}

bool settle_limits(std::vector<std::string>& changed, std::string& why)
{
    umask(077);
    changed.push_back("umask 077: what the validator writes is its own");
    // A write past the limit then fails with EFBIG rather than ending the
    // validator; each run of the program gets its signals back.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit size{};
    getrlimit(RLIMIT_FSIZE, &size);
    if (size.rlim_cur == RLIM_INFINITY)
        return true;
    // Lifted where the hard limit allows it, or this process may raise it.
    const std::string was = std::to_string(size.rlim_cur / 1024) + " KiB";
    const rlimit none = {RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &none) != 0) {
        why = "a file-size limit of " + was
              + " (ulimit -f) is in force, which the suite's "
                "files could pass; run it under ulimit -f unlimited";
        return false;
    }
    changed.push_back("file-size limit of " + was + " lifted");
    return true;
}

// What ends the supervisor is passed on to the validation, which then ends.
static pid_t validation_process = -1;

static void pass_on(int signal)
{
    if (validation_process > 0)
        kill(validation_process, signal);
}

int supervised(const std::function<int()>& validation, const std::string& folder)
{
    std::cout.flush();
    std::fflush(nullptr);
    validation_process = fork();
    if (validation_process == 0) {
        const int status = validation();
        std::cout.flush();
        std::fflush(nullptr);
        std::_Exit(status); // as main's return would, past a preloaded exit()
    }
    struct sigaction passing {};
    passing.sa_handler = pass_on;
    for (int signal : {SIGHUP, SIGINT, SIGTERM})
        sigaction(signal, &passing, nullptr);
    int status = 0;
    while (validation_process > 0 && waitpid(validation_process, &status, 0) < 0
           && errno == EINTR) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (validation_process < 0) {
        std::cerr << "mavrid-validate: cannot start: " << std::strerror(errno) << "\n";
        return 2;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    std::cerr << "mavrid-validate: ended by signal " << WTERMSIG(status) << " ("
              << strsignal(WTERMSIG(status)) << ") before its record was written; "
              << "its temporary folder is removed, and there is no record\n";
    return 2;
}

// The suite mounts an empty /dev over the real one for a test, which would
// hide a folder there; /proc and /sys hold no files of a user's.
std::string make_private_folder(std::string& why)
{
    const char* tmpdir = std::getenv("TMPDIR");
    const bool given = tmpdir != nullptr && *tmpdir != '\0';
    const std::string base = given ? tmpdir : P_tmpdir;
    const std::string named = given ? "TMPDIR=" + base : base + " (TMPDIR is not set)";
    const std::string fix =
        given ? "; set TMPDIR to a folder of yours that you can write, or unset it"
              : "; set TMPDIR to a folder of yours that you can write";
    if (base[0] != '/') {
        why = named + " is not an absolute path" + fix;
        return "";
    }
    std::error_code unknown;
    const std::string real = std::filesystem::weakly_canonical(base, unknown).string();
    for (const std::string system : {"/dev", "/proc", "/sys"}) {
        if (real == system || real.rfind(system + "/", 0) == 0) {
            why = named + " is under " + system
                  + ", where the suite's own mounts would hide it or no files are kept" + fix;
            return "";
        }
    }
    std::string folder = base + "/mavrid-validate-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        why = named + ": no folder can be made there (" + std::strerror(errno) + ")" + fix;
        return "";
    }
    return folder;
}

bool write_program(const std::string& path, const std::string& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0500);
    if (fd < 0)
        return false;
    fchmod(fd, 0500); // whatever the umask
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

std::vector<std::string> program_environment(const std::string& temporary,
                                             std::vector<std::string>& left_out)
{
    const std::vector<std::string> chosen = {"LC_ALL=C", "PATH=/usr/local/bin:/usr/bin:/bin",
                                             "TMPDIR=" + temporary};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        const bool passed =
            std::any_of(chosen.begin(), chosen.end(), [&name](const std::string& c) {
                return c.compare(0, name.size() + 1, name + "=") == 0;
            });
        if (!passed)
            left_out.push_back(name);
    }
    std::sort(left_out.begin(), left_out.end());
    return chosen;
}

static std::string hashed(const std::string& path)
{
    bool readable = false;
    const std::string bytes = read_file(path, &readable);
    return readable ? path + ", SHA-256 " + sha256_hex(bytes) : path + ", which cannot be read";
}

// The loader says what it loads, and loads nothing, when asked by
// LD_TRACE_LOADED_OBJECTS; only a dynamically linked program has one to ask.
std::vector<std::string> loaded_files(const std::string& program, const ProgramKind& kind,
                                      const std::vector<std::string>& environment)
{
    std::vector<std::string> files;
    if (kind.interpreter.empty())
        return files;
    std::vector<std::string> variables = environment;
    variables.push_back("LD_TRACE_LOADED_OBJECTS=1");
    Launch launch;
    launch.words = {program};
    launch.environment = &variables;
    std::string listed;
    // The loader answers at once.
    if (run(launch, std::chrono::seconds(10), &listed) < 0)
        return {"the loader could not be asked: " + std::string(std::strerror(errno))};
    // "\tlibc.so.6 => /lib/.../libc.so.6 (0x...)", "\t/lib64/ld-linux-x86-64.so.2 (0x...)",
    // "\tlinux-vdso.so.1 (0x...)" (the kernel's, no file), or "=> not found".
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        const std::size_t arrow = line.find(" => ");
        std::string path = arrow == std::string::npos ? line : line.substr(arrow + 4);
        path = path.substr(0, path.rfind(" (0x"));
        if (path == "not found")
            files.push_back(line.substr(0, arrow) + ": not found");
        else if (!path.empty() && path[0] == '/')
            files.push_back(hashed(path));
    }
    if (files.empty())
        files.push_back("the loader " + kind.interpreter + " listed nothing");
    return files;
}
