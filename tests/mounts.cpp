// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// mounts.cpp -- file systems and devices set up for one test case.
#include "mounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "run_mavrid.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#ifdef __linux__
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#endif

#ifdef __linux__
static bool write_file(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        close(fd);
    return written;
}

// A user namespace in which this process's user is root, and so may mount
// in a mount namespace of its own; where the kernel allows that, a normal
// user then sets up what root would.
static std::string enter_user_namespace()
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return std::string("needs root, or user namespaces, which this system refuses: ")
               + std::strerror(errno);
    if (!write_file("/proc/self/setgroups", "deny")
        || !write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
        || !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return std::string("a user namespace without a user: ") + std::strerror(errno);
    return "";
}

const char* Mounts::unavailable()
{
    static const std::string why = [] {
        if (unshare(CLONE_NEWNS) != 0) {
            if (errno != EPERM)
                return std::string("no mount namespace of its own: ") + std::strerror(errno);
            std::string no_user_namespace = enter_user_namespace();
            if (!no_user_namespace.empty())
                return no_user_namespace;
        }
        // In a chroot, / is no mount point, and cannot be made private.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return errno == EINVAL ? std::string("/ is not a mount point, as in a chroot")
                                   : std::string("mounts not private: ") + std::strerror(errno);
        return std::string();
    }();
    return why.c_str();
}

Mounts::~Mounts()
{
    for (auto dir = dirs_.rbegin(); dir != dirs_.rend(); ++dir)
        umount2(dir->c_str(), MNT_DETACH);
}

void Mounts::tmpfs(const std::string& dir)
{
    std::error_code exists;
    std::filesystem::create_directory(dir, exists);
    ASSERT_EQ(mount("mavrid-test", dir.c_str(), "tmpfs", 0, nullptr), 0) << std::strerror(errno);
    dirs_.push_back(dir);
}

void Mounts::read_only(const std::string& dir)
{
    ASSERT_EQ(mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
    dirs_.push_back(dir);
    ASSERT_EQ(mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
}

LoopDevice::LoopDevice(const std::string& backing)
{
    int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        why_ = std::string("needs root: /dev/loop-control: ") + std::strerror(errno);
        return;
    }
    int number = ioctl(control, LOOP_CTL_GET_FREE);
    close(control);
    std::string device = "/dev/loop" + std::to_string(number);
    int file = open(backing.c_str(), O_RDWR | O_CLOEXEC);
    fd_ = number < 0 ? -1 : open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0 || fd_ < 0 || ioctl(fd_, LOOP_SET_FD, file) != 0) {
        why_ = "no free loop device: " + std::string(std::strerror(errno));
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    } else {
        path_ = device;
    }
    if (file >= 0)
        close(file);
}

LoopDevice::~LoopDevice()
{
    if (fd_ >= 0) {
        ioctl(fd_, LOOP_CLR_FD, 0);
        close(fd_);
    }
}

bool LoopDevice::second_node(const std::string& node)
{
    struct stat device {};
    if (fd_ < 0 || fstat(fd_, &device) != 0
        || mknod(node.c_str(), S_IFBLK | 0600, device.st_rdev) != 0) {
        why_ = "no second device node: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}
#else
const char* Mounts::unavailable()
{
    return "mount namespaces are Linux-only";
}

Mounts::~Mounts() = default;
void Mounts::tmpfs(const std::string&) {}
void Mounts::read_only(const std::string&) {}

LoopDevice::LoopDevice(const std::string&) : why_("loop devices are Linux-only") {}
LoopDevice::~LoopDevice() = default;
bool LoopDevice::second_node(const std::string&)
{
    return false;
}
#endif

#ifdef _WIN32
static std::wstring wide(const std::string& utf8)
{
    return as_path(utf8).wstring();
}

// A letter that Wine's prefix maps may be missing from the list of drives,
// and Wine then resolves it by its prefix, not by the new mapping; so a
// mapping counts only once a file made in folder is seen through it.
DriveLetter::DriveLetter(const std::string& folder)
{
    std::wstring target = as_path(folder).make_preferred().wstring();
    const std::string marker = ".drive-letter-" + std::to_string(GetCurrentProcessId());
    std::ofstream(as_path(folder + "/" + marker)) << marker;
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'M'; letter <= 'Y' && letter_.empty(); ++letter) {
        std::string name = std::string(1, letter) + ":";
        if ((drives & (1u << (letter - 'A'))) != 0
            || DefineDosDeviceW(0, wide(name).c_str(), target.c_str()) == 0)
            continue;
        std::error_code unseen;
        if (std::filesystem::exists(as_path(name + "\\" + marker), unseen))
            letter_ = name;
        else
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, wide(name).c_str(), nullptr);
    }
    std::filesystem::remove(as_path(folder + "/" + marker));
    if (letter_.empty())
        why_ = "no free drive letter (DefineDosDevice)";
}

DriveLetter::~DriveLetter()
{
    if (!letter_.empty())
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, wide(letter_).c_str(), nullptr);
}
#else
// Wine keeps its drive letters as symbolic links in its prefix.
DriveLetter::DriveLetter(const std::string& folder)
{
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    if ((prefix == nullptr || *prefix == '\0') && home == nullptr) {
        why_ = "no Wine prefix: neither WINEPREFIX nor HOME is set";
        return;
    }
    const std::string devices =
        (prefix != nullptr && *prefix != '\0' ? std::string(prefix) : std::string(home) + "/.wine")
        + "/dosdevices/";
    for (char letter = 'm'; letter <= 'y' && letter_.empty(); ++letter) {
        std::string link = devices + letter + ":";
        if (symlink(folder.c_str(), link.c_str()) == 0) {
            link_ = link;
            letter_ = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":";
        }
    }
    if (letter_.empty())
        why_ = "no free drive letter in " + devices + ": " + std::strerror(errno);
}

DriveLetter::~DriveLetter()
{
    if (!link_.empty())
        unlink(link_.c_str());
}
#endif
