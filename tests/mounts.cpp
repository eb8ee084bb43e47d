// SPDX-License-Identifier: MIT
// mounts.cpp -- file systems and devices set up for one test case.
#include "mounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef __linux__
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#endif

#ifdef __linux__
const char* Mounts::unavailable()
{
    static const std::string why = [] {
        if (unshare(CLONE_NEWNS) != 0)
            return std::string("no mount namespace of its own: ") + std::strerror(errno);
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
        why_ = std::string("/dev/loop-control: ") + std::strerror(errno);
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
#endif
