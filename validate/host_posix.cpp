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
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

std::string sha256_hex(const std::string& bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256_CTX context;
    if (SHA256_Init(&context) != 1 || SHA256_Update(&context, bytes.data(), bytes.size()) != 1
        || SHA256_Final(digest.data(), &context) != 1)
        return "";
    std::string hex;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
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
    if (access(path.c_str(), X_OK) != 0) {
        why = std::string("cannot be run: ") + std::strerror(errno);
        return false;
    }
    return true;
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
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file && !file.eof())
        return path + ", which cannot be read";
    return path + ", SHA-256 " + sha256_hex(bytes.str());
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
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string name = program;
    char* argv[] = {name.data(), nullptr};
    int out[2];
    if (pipe(out) != 0)
        return {"the loader could not be asked: " + std::string(std::strerror(errno))};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 2);
        close(out[0]);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    // Read for at most 10 s: the loader answers at once.
    std::string listed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (char chunk[4096];;) {
        pollfd readable = {out[0], POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline || poll(&readable, 1, 100) < 0)
            break;
        if (readable.revents == 0)
            continue;
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        listed.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
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
