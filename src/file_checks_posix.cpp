// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// file_checks_posix.cpp -- opening the two files without harming the user's.
//
// On Linux a write lease on the output is granted only when no other open
// file refers to its inode: not this run's input by any name, link, bind
// mount or overlay, nor standard output's file, nor a loop device at any
// depth, nor another process.  Where no lease can be had (NFS, a file of
// another user's), the output is compared with this run's own files by
// identity: device and inode number, a block device by its device number.
#include "file_checks.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <climits>
#include <sys/statfs.h>
#endif

#include "converter.h"
#include "formats/ihex_reader.h"

// A standard descriptor closed by the caller would be handed to the first
// file opened, and console text flushed at exit would then land in the
// S-record file.  Where there is no null device, the root folder opened
// read-only holds the slot: nothing can be written through it.
void hold_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        // Each open takes the lowest free slot: fd.
        if (open("/dev/null", O_RDWR) != -1)
            continue;
        // GCOVR_EXCL_START: the root folder can always be opened for reading
        if (open("/", O_RDONLY) == -1)
            error_exit("Could not create S-record file");
        // GCOVR_EXCL_STOP
    }
}

// Past the limit a write then fails with EFBIG, and the run ends with
// "Disk or directory full" as on a full disk.
void ignore_file_size_signal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

// Opening a directory for reading succeeds on POSIX and only the first read
// fails, by which time the output would have been created.
std::FILE* open_input(const char* path)
{
    std::FILE* input = std::fopen(path, "rb");
    struct stat st {}; // left zero, no directory, if fstat fails
    if (input != nullptr)
        fstat(fileno(input), &st);
    if (S_ISDIR(st.st_mode)) {
        std::fclose(input);
        return nullptr;
    }
    return input;
}

// Two device nodes of one block device have inodes of their own: the
// device number says which device they are.
static bool same_identity(const struct stat& a, const struct stat& b)
{
    if (S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Only a regular file or a block device is written through two opens at
// once, each with its own offset: the null device, a terminal or a pipe
// may well be both.
static bool is_a_file(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
}

// An open file as the checks see it.
struct OpenFile {
    int fd;
    struct stat st;
};

#ifdef __linux__
static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The one case the system cannot answer: a case-insensitive file system in
// FUSE, as exfat-fuse and fusefat are, gives each spelling of a name an
// inode of its own, so in.hex and IN.HEX in one folder are two open files
// to the kernel and one file on the disk.  Two files of one FUSE mount
// whose paths differ only in letter case are taken for one.
static bool case_variants(const OpenFile& a, const OpenFile& b)
{
    constexpr long FUSE_SUPER_MAGIC = 0x65735546;
    if (a.st.st_dev != b.st.st_dev)
        return false;
    struct statfs file_system {}; // left zero, no FUSE, if fstatfs fails
    fstatfs(a.fd, &file_system);
    if (file_system.f_type != FUSE_SUPER_MAGIC)
        return false;
    char path[2][PATH_MAX + 1];
    for (int i = 0; i < 2; ++i) {
        char link[32];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", i == 0 ? a.fd : b.fd);
        const ssize_t length = readlink(link, path[i], PATH_MAX);
        // GCOVR_EXCL_START: reading /proc/self/fd fails only where /proc is not mounted
        if (length < 0)
            return true; // unknown counts as the same file
        // GCOVR_EXCL_STOP
        path[i][length] = '\0';
    }
    for (int i = 0; ascii_lower(path[0][i]) == ascii_lower(path[1][i]); ++i)
        if (path[0][i] == '\0')
            return true;
    return false;
}
#else
static bool case_variants(const OpenFile& /*a*/, const OpenFile& /*b*/)
{
    return false;
}
#endif

// Whether writing through one of the two open files could change what the
// other holds, as far as their identities tell.
static bool same_file(const OpenFile& a, const OpenFile& b)
{
    return same_identity(a.st, b.st) || case_variants(a, b);
}

// Unknown counts as the input: nothing is written to a stream that may be.
bool standard_stream_is_input(StandardStream stream, std::FILE* input)
{
    OpenFile console{stream, {}};
    OpenFile in{fileno(input), {}};
    // GCOVR_EXCL_START: fstat does not fail on open descriptors in practice
    if (fstat(console.fd, &console.st) != 0 || fstat(in.fd, &in.st) != 0)
        return true;
    // GCOVR_EXCL_STOP
    return is_a_file(console.st) && same_file(console, in);
}

bool standard_stream_is_named(StandardStream stream, char* const names[], int count)
{
    struct stat console {};
    // GCOVR_EXCL_START: fstat does not fail on open descriptors in practice
    if (fstat(stream, &console) != 0)
        return true;
    // GCOVR_EXCL_STOP
    if (!is_a_file(console))
        return false;
    for (int i = 0; i < count; ++i) {
        struct stat named {};
        if (stat(names[i], &named) == 0 && same_identity(console, named))
            return true;
    }
    return false;
}

// Whether the system knows of an open file but out that refers to the
// regular file open as out.  No answer (NFS, a file of another user's,
// a system without leases) is taken for none.
static bool held_elsewhere(const OpenFile& out)
{
#ifdef F_SETLEASE
    // Another open meanwhile would break the lease by SIGIO, which must not end the run.
    std::signal(SIGIO, SIG_IGN);
    if (fcntl(out.fd, F_SETLEASE, F_WRLCK) == 0) {
        fcntl(out.fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
#else
    return false;
#endif
}

// Whether the regular file open as out already holds Intel HEX: it is then
// an input, and the arguments were probably given the wrong way round.  On
// Linux it is read through what is open; elsewhere by its name.  A file
// that may not be read is no input of the user's.
static bool holds_intel_hex(const char* path, const OpenFile& out)
{
#ifdef __linux__
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", out.fd);
    path = name;
#endif
    return starts_with_record(fdopen(open(path, O_RDONLY | O_NONBLOCK), "rb"));
}

// On nullptr the run ends at once, which closes the descriptor.
std::FILE* create_output(const char* path, std::FILE* input)
{
    OpenFile out{open(path, O_WRONLY | O_CREAT, 0666), {}};
    if (out.fd == -1)
        return nullptr;
    OpenFile in{fileno(input), {}};
    OpenFile console{STDOUT_FILENO, {}};
    // GCOVR_EXCL_START: fstat does not fail on open descriptors in practice
    if (fstat(out.fd, &out.st) != 0 || fstat(in.fd, &in.st) != 0
        || fstat(console.fd, &console.st) != 0)
        return nullptr;
    // GCOVR_EXCL_STOP
    // An S-record file is text: no disk is written over, in use or not.
    if (S_ISBLK(out.st.st_mode))
        return nullptr;
    // A terminal, a pipe or the null device is written as it is.
    if (!S_ISREG(out.st.st_mode))
        return fdopen(out.fd, "w");
    // This run's own files are known without the system's answer.
    if (held_elsewhere(out) || same_file(out, in) || same_file(out, console))
        return nullptr;
    if (holds_intel_hex(path, out))
        error_exit("S-record file is an Intel hex file");
    // GCOVR_EXCL_START: emptying a regular file open for writing does not fail in practice
    if (ftruncate(out.fd, 0) != 0)
        return nullptr;
    // GCOVR_EXCL_STOP
    return fdopen(out.fd, "w");
}
