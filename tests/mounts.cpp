// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// mounts.cpp -- file systems and devices set up for one test case.
#include "mounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform.h"
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

bool Mounts::device(const std::string& device, const char* type, const std::string& dir,
                    std::string& why)
{
    std::error_code exists;
    std::filesystem::create_directory(dir, exists);
    if (mount(device.c_str(), dir.c_str(), type, MS_RDONLY, nullptr) != 0) {
        why = std::string("no ") + type + " file system mounted: " + std::strerror(errno);
        return false;
    }
    dirs_.push_back(dir);
    return true;
}

bool Mounts::overlay(const std::string& lower, const std::string& dir, std::string& why)
{
    for (const std::string& made : {dir, dir + ".upper", dir + ".work"})
        std::filesystem::create_directory(made);
    const std::string options =
        "lowerdir=" + lower + ",upperdir=" + dir + ".upper,workdir=" + dir + ".work";
    if (mount("overlay", dir.c_str(), "overlay", 0, options.c_str()) != 0) {
        why = std::string("no overlay mounted: ") + std::strerror(errno);
        return false;
    }
    dirs_.push_back(dir);
    return true;
}

bool Mounts::fuse(const std::vector<std::string>& command, const std::string& dir, std::string& why)
{
    std::error_code exists;
    std::filesystem::create_directory(dir, exists);
    if (!run_tool(command, why))
        return false;
    dirs_.push_back(dir);
    return true;
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
    if (file < 0 && errno == EROFS)
        file = open(backing.c_str(), O_RDONLY | O_CLOEXEC);
    fd_ = number < 0 ? -1 : open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0 || fd_ < 0 || ioctl(fd_, LOOP_SET_FD, file) != 0) {
        why_ = "no free loop device: " + std::string(std::strerror(errno));
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    } else {
        path_ = device;
        // Detached by the kernel once nothing holds it, should this process
        // end before its destructor runs.
        loop_info64 autoclear{};
        autoclear.lo_flags = LO_FLAGS_AUTOCLEAR;
        ioctl(fd_, LOOP_SET_STATUS64, &autoclear);
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

bool run_tool(const std::vector<std::string>& words, std::string& why)
{
    Launch launch;
    launch.words = words;
    launch.prepare = [] {
        const char* path = std::getenv("PATH");
        setenv(
            "PATH",
            (std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin").c_str(),
            1);
    };
    const int status = run(launch, std::chrono::seconds(60));
    if (status == 0)
        return true;
    why = status < 0      ? words[0] + ": could not be started"
          : status == 127 ? words[0] + ": not found"
                          : words[0] + " failed (status " + std::to_string(status) + ")";
    return false;
}

// 1 MiB of exFAT, the least mkfs.exfat makes with 4 KiB alignment.
static std::string exfat_image(const std::string& image, std::string& why)
{
    std::ofstream(image, std::ios::binary) << std::string(1 << 20, '\0');
    run_tool({"mkfs.exfat", "-b", "4K", image}, why);
    return image;
}

CaseInsensitiveFolder::CaseInsensitiveFolder(const std::string& image, const std::string& dir)
    : loop_(exfat_image(image, why_))
{
    if (!why_.empty())
        return;
    if (loop_.path().empty()) {
        why_ = loop_.why();
        return;
    }
    if (*Mounts::unavailable() != '\0') {
        why_ = Mounts::unavailable();
        return;
    }
    if (!mounts_.fuse({"mount.exfat-fuse", "-o", "direct_io", loop_.path(), dir}, dir, why_))
        return;
    // Not every exFAT in FUSE folds letter case (exfat-fuse 1.3.0 did not).
    std::ofstream(dir + "/case.probe") << "probe";
    struct stat folded {};
    if (stat((dir + "/CASE.PROBE").c_str(), &folded) != 0)
        why_ =
            "this exFAT in FUSE tells letter case apart: " + dir + "/CASE.PROBE is not case.probe";
    std::remove((dir + "/case.probe").c_str());
}
#else
const char* Mounts::unavailable()
{
    return "mount namespaces are Linux-only";
}

Mounts::~Mounts() = default;
void Mounts::tmpfs(const std::string&) {}
void Mounts::read_only(const std::string&) {}
bool Mounts::device(const std::string&, const char*, const std::string&, std::string& why)
{
    why = "block devices are Linux's";
    return false;
}
bool Mounts::overlay(const std::string&, const std::string&, std::string& why)
{
    why = "overlays are Linux's";
    return false;
}
bool Mounts::fuse(const std::vector<std::string>&, const std::string&, std::string& why)
{
    why = "FUSE file systems are Linux's";
    return false;
}

bool run_tool(const std::vector<std::string>& words, std::string& why)
{
    why = words[0] + ": the harness runs no tools here";
    return false;
}

CaseInsensitiveFolder::CaseInsensitiveFolder(const std::string&, const std::string&)
    : why_("FUSE file systems are Linux's"), loop_("")
{
}

LoopDevice::LoopDevice(const std::string&) : why_("loop devices are Linux-only") {}
LoopDevice::~LoopDevice() = default;
bool LoopDevice::second_node(const std::string&)
{
    return false;
}
#endif

#ifdef _WIN32
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
            || DefineDosDeviceW(0, widen(name).c_str(), target.c_str()) == 0)
            continue;
        std::error_code unseen;
        if (std::filesystem::exists(as_path(name + "\\" + marker), unseen))
            letter_ = name;
        else
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, widen(name).c_str(), nullptr);
    }
    std::filesystem::remove(as_path(folder + "/" + marker));
    if (letter_.empty())
        why_ = "no free drive letter (DefineDosDevice)";
}

DriveLetter::~DriveLetter()
{
    if (!letter_.empty())
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, widen(letter_).c_str(), nullptr);
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

#ifdef _WIN32
// A hard link in Z:\tmp, the Unix /tmp, outside the prefix's drive C:,
// where the harness's own folders are.
OtherWineDrive::OtherWineDrive(const std::string& file)
{
    if (!under_wine()) {
        why_ = "not under Wine, whose drives these are";
        return;
    }
    if (file.size() > 1 && (file[0] == 'Z' || file[0] == 'z') && file[1] == ':') {
        why_ = "the file is on drive Z: already";
        return;
    }
    static int made = 0;
    const std::string folder = "Z:\\tmp\\mavrid-test-" + std::to_string(GetCurrentProcessId()) + "-"
                               + std::to_string(made++);
    const std::u8string leaf = as_path(file).filename().u8string();
    const std::string name = folder + "\\" + std::string(leaf.begin(), leaf.end());
    if (CreateDirectoryW(widen(folder).c_str(), nullptr) == 0) {
        why_ = "no folder " + folder + " (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    folder_ = folder;
    if (CreateHardLinkW(widen(name).c_str(), widen(file).c_str(), nullptr) == 0) {
        why_ = "no hard link in " + folder + " (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    name_ = name;
}

OtherWineDrive::~OtherWineDrive()
{
    std::error_code ignored;
    if (!folder_.empty())
        std::filesystem::remove_all(as_path(folder_), ignored);
}
#else
OtherWineDrive::OtherWineDrive(const std::string& file)
{
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    if ((prefix == nullptr || *prefix == '\0') && home == nullptr) {
        why_ = "no Wine prefix: neither WINEPREFIX nor HOME is set";
        return;
    }
    const std::string folder =
        "mavrid-test-" + std::to_string(getpid()) + "-" + std::to_string(std::rand());
    const std::string wine =
        prefix != nullptr && *prefix != '\0' ? std::string(prefix) : std::string(home) + "/.wine";
    std::error_code unknown;
    if (!std::filesystem::equivalent(wine + "/dosdevices/c:", wine + "/drive_c", unknown)) {
        why_ = "drive C: of the Wine prefix " + wine + " is not its drive_c";
        return;
    }
    folder_ = wine + "/drive_c/" + folder;
    const std::string leaf = std::filesystem::path(file).filename().string();
    std::error_code failed;
    std::filesystem::create_directory(folder_, failed);
    if (!failed)
        std::filesystem::create_hard_link(file, folder_ + "/" + leaf, failed);
    if (failed) {
        why_ = "no hard link in drive C:'s tree (" + folder_ + "): " + failed.message();
        return;
    }
    name_ = "C:\\" + folder + "\\" + leaf;
}

OtherWineDrive::~OtherWineDrive()
{
    std::error_code ignored;
    if (!folder_.empty())
        std::filesystem::remove_all(folder_, ignored);
}
#endif
