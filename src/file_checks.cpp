// SPDX-License-Identifier: MIT
// file_checks.cpp -- the checks that keep a run from harming the user's files.
//
// A file is known by its identity, not its name: device and inode number on
// POSIX, volume serial number and file index on Windows.  Any name, link or
// redirection of the same file then matches.  The output is opened without
// being emptied, compared by what is open, and emptied only after that, so
// the file checked is the file written.  (Status calls on a descriptor
// already open do not fail in practice; should one fail, the output is
// refused rather than written unchecked.)
#include "file_checks.h"

#include "converter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows hands out no closed standard slot to a new file, refuses to open
// a directory as a file, and has no file-size signal.
void hold_standard_descriptors() {}

void ignore_file_size_signal() {}

bool is_directory(std::FILE* /*stream*/)
{
    return false;
}

static HANDLE handle_of(int fd)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the CRT hands out handles as integers
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

static bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
           && a.nFileIndexLow == b.nFileIndexLow;
}

// Only disk files have an identity to compare: a device such as NUL, the
// console or a pipe is neither compared nor emptied.  A standard output
// that Wine inherits from a Unix process is a disk file whose identity
// cannot be read; it is no file of this run's and is left out too.
std::FILE* create_output(const char* path, std::FILE* input)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd == -1)
        return nullptr;
    HANDLE out = handle_of(fd);
    if (GetFileType(out) != FILE_TYPE_DISK)
        return _fdopen(fd, "w");
    BY_HANDLE_FILE_INFORMATION out_id{};
    BY_HANDLE_FILE_INFORMATION in_id{};
    BY_HANDLE_FILE_INFORMATION console_id{};
    HANDLE in = handle_of(_fileno(input));
    if (GetFileInformationByHandle(out, &out_id) == 0)
        return nullptr;
    if (GetFileType(in) == FILE_TYPE_DISK) {
        if (GetFileInformationByHandle(in, &in_id) == 0 || same_file(out_id, in_id))
            return nullptr;
    }
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetFileType(console) == FILE_TYPE_DISK
        && GetFileInformationByHandle(console, &console_id) != 0 && same_file(out_id, console_id))
        return nullptr;
    if (_chsize(fd, 0) != 0)
        return nullptr;
    return _fdopen(fd, "w");
}
#else
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
bool is_directory(std::FILE* stream)
{
    struct stat st {}; // left zero, no directory, if fstat fails; create_output then refuses
    fstat(fileno(stream), &st);
    return S_ISDIR(st.st_mode);
}

static bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// On nullptr the run ends at once, which closes the descriptor.
std::FILE* create_output(const char* path, std::FILE* input)
{
    int fd = open(path, O_WRONLY | O_CREAT, 0666);
    if (fd == -1)
        return nullptr;
    struct stat out {};
    struct stat in {};
    struct stat console {};
    // GCOVR_EXCL_START: fstat does not fail on open descriptors in practice
    if (fstat(fd, &out) != 0 || fstat(fileno(input), &in) != 0
        || fstat(STDOUT_FILENO, &console) != 0)
        return nullptr;
    // GCOVR_EXCL_STOP
    // Only a regular file or a block device is written through two opens
    // at once, each with its own offset: the null device, a terminal or a
    // pipe may well be both the console and the output.
    bool console_is_a_file = S_ISREG(console.st_mode) || S_ISBLK(console.st_mode);
    if (same_file(out, in) || (console_is_a_file && same_file(out, console)))
        return nullptr;
    if (!S_ISREG(out.st_mode))
        return fdopen(fd, "w");
    // GCOVR_EXCL_START: emptying a regular file open for writing does not fail in practice
    if (ftruncate(fd, 0) != 0)
        return nullptr;
    // GCOVR_EXCL_STOP
    return fdopen(fd, "w");
}
#endif
