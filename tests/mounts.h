// SPDX-License-Identifier: MIT
// mounts.h -- file systems and devices set up for one test case.
#ifndef MAVRID_TESTS_MOUNTS_H
#define MAVRID_TESTS_MOUNTS_H

#include <string>
#include <vector>

// Mounts made for one case in this test process's own mount namespace,
// detached at destruction, before the case's sandbox is removed.  Mount
// namespaces are Linux's; elsewhere the cases that need them are skipped.
class Mounts {
  public:
    Mounts() = default;
    ~Mounts();
    Mounts(const Mounts&) = delete;
    Mounts& operator=(const Mounts&) = delete;

    // Why this process may not mount, or empty.  The first call moves it
    // into a private mount namespace, so nothing mounted here is seen
    // outside it.
    static const char* unavailable();

    // A fresh, empty file system on dir, which is made if need be.
    void tmpfs(const std::string& dir);

    // dir made read-only, for root too.
    void read_only(const std::string& dir);

  private:
    std::vector<std::string> dirs_;
};

// A loop device over a file, detached at destruction.
class LoopDevice {
  public:
    // Attach backing, an existing file; path() is empty, and why() says
    // why, when no loop device could be set up.
    explicit LoopDevice(const std::string& backing);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    const std::string& path() const
    {
        return path_;
    }
    const std::string& why() const
    {
        return why_;
    }

  private:
    int fd_ = -1;
    std::string path_;
    std::string why_;
};

#endif // MAVRID_TESTS_MOUNTS_H
