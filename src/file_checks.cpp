// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// file_checks.cpp -- the checks that keep a run from harming the user's files.
//
// A file is known by its identity, not its name: device and inode number on
// POSIX (a block device by its device number), volume serial number and
// file ID on Windows.  Any name, link or redirection of the same file then
// matches.  The output is opened without being emptied, compared by what is
// open, and emptied only after that, so the file checked is the file
// written.  (Status calls on a descriptor already open do not fail in
// practice; should one fail, the output is refused rather than written
// unchecked.)
#include "file_checks.h"

#include "converter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstring>
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

// A file's volume serial number and file ID.  FileIdInfo gives the
// 128-bit ID that ReFS needs; the older call, which every version answers,
// gives a 64-bit index.
struct FileIdentity {
    ULONGLONG volume = 0;
    FILE_ID_128 id{};
};

static bool identity_of(HANDLE file, FileIdentity& identity)
{
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info) != 0) {
        identity.volume = info.VolumeSerialNumber;
        identity.id = info.FileId;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION old{};
    if (GetFileInformationByHandle(file, &old) == 0)
        return false;
    identity.volume = old.dwVolumeSerialNumber;
    const ULONGLONG index = (ULONGLONG{old.nFileIndexHigh} << 32) | old.nFileIndexLow;
    std::memcpy(identity.id.Identifier, &index, sizeof index);
    return true;
}

// A volume serial number of 0 is no answer: Wine gives it for a file whose
// name was unlinked or renamed since it was opened, and for every file
// reached through a drive letter of its own.  The file IDs alone then
// decide: a refusal that was not needed costs a rerun, a file written over
// costs the user's data.
static bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return std::memcmp(a.id.Identifier, b.id.Identifier, sizeof a.id.Identifier) == 0
           && (a.volume == b.volume || a.volume == 0 || b.volume == 0);
}

// Only disk files have an identity to compare: a device such as NUL, the
// console or a pipe is neither compared nor emptied.
static bool is_disk_file(HANDLE file)
{
    return GetFileType(file) == FILE_TYPE_DISK;
}

// A standard stream whose identity cannot be read, as one that Wine
// inherits from a Unix process, is taken for no file of this run's.
bool standard_stream_is_input(StandardStream stream, std::FILE* input)
{
    HANDLE console = GetStdHandle(stream == STANDARD_OUTPUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    HANDLE in = handle_of(_fileno(input));
    FileIdentity console_id;
    FileIdentity in_id;
    return is_disk_file(console) && is_disk_file(in) && identity_of(console, console_id)
           && identity_of(in, in_id) && same_file(console_id, in_id);
}

// A standard output whose identity cannot be read is left out, as above.
std::FILE* create_output(const char* path, std::FILE* input)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd == -1)
        return nullptr;
    HANDLE out = handle_of(fd);
    if (!is_disk_file(out))
        return _fdopen(fd, "w");
    FileIdentity out_id;
    FileIdentity in_id;
    FileIdentity console_id;
    HANDLE in = handle_of(_fileno(input));
    if (!identity_of(out, out_id))
        return nullptr;
    if (is_disk_file(in) && (!identity_of(in, in_id) || same_file(out_id, in_id)))
        return nullptr;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_disk_file(console) && identity_of(console, console_id) && same_file(out_id, console_id))
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

// Two device nodes of one block device have inodes of their own: the
// device number says which device they are.
static bool same_file(const struct stat& a, const struct stat& b)
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

// Unknown counts as the input: nothing is written to a stream that may be.
bool standard_stream_is_input(StandardStream stream, std::FILE* input)
{
    struct stat console {};
    struct stat in {};
    // GCOVR_EXCL_START: fstat does not fail on open descriptors in practice
    if (fstat(stream, &console) != 0 || fstat(fileno(input), &in) != 0)
        return true;
    // GCOVR_EXCL_STOP
    return is_a_file(console) && same_file(console, in);
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
    if (same_file(out, in) || (is_a_file(console) && same_file(out, console)))
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
