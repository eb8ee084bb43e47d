// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
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

    // Make a second device node of the device at node, an absolute path;
    // false, with why() saying why, when it cannot be made.
    bool second_node(const std::string& node);

  private:
    int fd_ = -1;
    std::string path_;
    std::string why_;
};

// A drive letter of Wine's or Windows' own for a folder, as subst makes
// one, removed at destruction: the same files then have a second name
// through it.
class DriveLetter {
  public:
    // Map a free letter to folder, an absolute path; letter() is empty,
    // and why() says why, when that cannot be done.
    explicit DriveLetter(const std::string& folder);
    ~DriveLetter();
    DriveLetter(const DriveLetter&) = delete;
    DriveLetter& operator=(const DriveLetter&) = delete;

    // Such as "M:".
    const std::string& letter() const
    {
        return letter_;
    }
    const std::string& why() const
    {
        return why_;
    }

  private:
    std::string letter_;
    std::string why_;
    std::string link_; // Wine's dosdevices entry, when made from outside Wine
};

#endif // MAVRID_TESTS_MOUNTS_H
