// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host_posix.cpp -- the machine, the user and the files, on POSIX systems.
#include "host.h"

// The SHA-256 functions themselves, not the one-shot call that OpenSSL 3
// routes through its providers, which a static program could load only
// with the shared libraries of the glibc it was built with.
#define OPENSSL_API_COMPAT 0x10101000L
#include <openssl/opensslv.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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
