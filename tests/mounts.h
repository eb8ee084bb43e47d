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

    // The file system of type on a block device mounted on dir, read-only,
    // so that it writes nothing to the device; false, with why saying why,
    // when that cannot be done.
    bool device(const std::string& device, const char* type, const std::string& dir,
                std::string& why);

    // An overlay on dir of lower, with an upper folder beside dir, so
    // that a file of lower is read through dir; false, with why saying
    // why, when that cannot be done.
    bool overlay(const std::string& lower, const std::string& dir, std::string& why);

    // A file system in FUSE mounted on dir by command, whose last word is
    // dir; false, with why saying why, when that cannot be done.
    bool fuse(const std::vector<std::string>& command, const std::string& dir, std::string& why);

  private:
    std::vector<std::string> dirs_;
};

// A loop device over a file, detached at destruction.
class LoopDevice {
  public:
    // Attach backing, an existing file or device, read-only where it may
    // not be written; path() is empty, and why() says why, when no loop
    // device could be set up.
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

// Run a program of the system, such as mkfs, with its output discarded;
// false, with why saying why, when it cannot be run or fails.  It is looked
// for on PATH and in the system's own folders.
bool run_tool(const std::vector<std::string>& words, std::string& why);

// A case-insensitive file system, exFAT in FUSE (exfat-fuse), on dir, over
// a loop device over image, which is made here; unmounted and detached at
// destruction.  The file system gives each spelling of a name a node of
// its own, so in.hex and IN.HEX have two inode numbers; it reads and
// writes every file directly, so that no cache hides what was written.
class CaseInsensitiveFolder {
  public:
    CaseInsensitiveFolder(const std::string& image, const std::string& dir);
    CaseInsensitiveFolder(const CaseInsensitiveFolder&) = delete;
    CaseInsensitiveFolder& operator=(const CaseInsensitiveFolder&) = delete;

    // Why it could not be set up, or empty.
    const std::string& why() const
    {
        return why_;
    }

  private:
    std::string why_;
    LoopDevice loop_; // destroyed after the mount, which holds it
    Mounts mounts_;
};

// A second name of a file, a hard link in the tree of another of Wine's
// drives than the one the harness reaches it by: from outside Wine, in
// drive C:'s; from inside, where the harness's folders are on C:, in
// Z:\tmp, the Unix /tmp.  Wine gives one file a volume serial number for
// each drive it is reached through.  The link goes at destruction.
class OtherWineDrive {
  public:
    // file: an absolute path, as the harness names it.
    explicit OtherWineDrive(const std::string& file);
    ~OtherWineDrive();
    OtherWineDrive(const OtherWineDrive&) = delete;
    OtherWineDrive& operator=(const OtherWineDrive&) = delete;

    // The file's Windows name through the other drive, or empty, and then
    // why() says why.
    const std::string& name() const
    {
        return name_;
    }
    const std::string& why() const
    {
        return why_;
    }

  private:
    std::string name_;
    std::string why_;
    std::string folder_; // the folder made for the link, if any
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
