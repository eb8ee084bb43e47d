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

#include <array>
#include <cstring>
#else
#include <climits>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#endif
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

// Whether this Windows program runs under Wine, whose ntdll says so; asked
// once.  (A plain variable: a static with an initializer would need the
// C++ runtime's thread-safe guard, linked in for nothing.)
static int wine = -1; // not yet asked

static bool under_wine()
{
    if (wine < 0) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr ? 1 : 0;
    }
    return wine == 1;
}

// A volume serial number of 0 is no answer: Wine gives it for a file whose
// name was unlinked or renamed since it was opened, and for every file
// reached through a drive letter of its own.  Nor is any serial under Wine,
// which takes it from the drive the file was opened through, so that one
// file reached through two drives (a hard link in drive_c's tree and in
// Z:'s, say) has two.  The file IDs alone then decide; under Wine a file ID
// is the Unix inode number, which does say which file it is.  A refusal
// that was not needed costs a rerun, a file written over costs the user's
// data.
static bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return std::memcmp(a.id.Identifier, b.id.Identifier, sizeof a.id.Identifier) == 0
           && (a.volume == b.volume || a.volume == 0 || b.volume == 0 || under_wine());
}

// A case-insensitive file system in FUSE, as exfat-fuse and fusefat are,
// gives each spelling of a name its own inode number, which Wine gives as
// the file ID: in.hex and IN.HEX in one folder look like two files.  So
// under Wine two files whose paths differ only in letter case are taken for
// one, as Windows itself names one file.
static std::array<std::array<WCHAR, 32768>, 2> final_paths; // the longest a path can be

static bool case_variants(HANDLE a, HANDLE b)
{
    if (!under_wine())
        return false;
    for (int i = 0; i < 2; ++i) {
        const auto size = static_cast<DWORD>(final_paths[i].size());
        const DWORD length = GetFinalPathNameByHandleW(i == 0 ? a : b, final_paths[i].data(), size,
                                                       FILE_NAME_NORMALIZED);
        if (length == 0 || length >= size)
            return false; // as a standard stream inherited from a Unix process: the IDs decide
    }
    return CompareStringOrdinal(final_paths[0].data(), -1, final_paths[1].data(), -1, TRUE)
           == CSTR_EQUAL;
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
           && identity_of(in, in_id)
           && (same_file(console_id, in_id) || case_variants(console, in));
}

bool standard_stream_is_named(StandardStream stream, char* const names[], int count)
{
    HANDLE console = GetStdHandle(stream == STANDARD_OUTPUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    FileIdentity console_id;
    if (!is_disk_file(console) || !identity_of(console, console_id))
        return false;
    for (int i = 0; i < count; ++i) {
        // Opened for no access at all, only to be identified; a folder too.
        HANDLE named =
            CreateFileA(names[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (named == INVALID_HANDLE_VALUE)
            continue;
        FileIdentity named_id;
        const bool same = identity_of(named, named_id)
                          && (same_file(console_id, named_id) || case_variants(console, named));
        CloseHandle(named);
        if (same)
            return true;
    }
    return false;
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
    if (is_disk_file(in)
        && (!identity_of(in, in_id) || same_file(out_id, in_id) || case_variants(out, in)))
        return nullptr;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_disk_file(console) && identity_of(console, console_id)
        && (same_file(out_id, console_id) || case_variants(out, console)))
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

// An open file as the checks see it: some of them need more than its
// status, and ask the open file itself.
struct OpenFile {
    int fd;
    struct stat st;
};

#ifdef __linux__
// Whether writing one of the two files changes the other's bytes through a
// loop device: device is a loop device whose backing file is file, or file
// lives on a file system that a loop device over device holds.  A loop
// device says which file backs it; the kernel names the backing file of a
// file system's loop device in /sys, by path.
static bool loop_backed(const OpenFile& device, const OpenFile& file)
{
    // Left zero, which is no file's identity, when the device is no loop
    // device or has no backing file.
    loop_info64 loop{};
    if (S_ISBLK(device.st.st_mode)) {
        ioctl(device.fd, LOOP_GET_STATUS64, &loop);
        if (loop.lo_device == file.st.st_dev && loop.lo_inode == file.st.st_ino)
            return true;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/sys/dev/block/%u:%u/loop/backing_file",
                  major(file.st.st_dev), minor(file.st.st_dev));
    std::FILE* sysfs = std::fopen(name, "r");
    if (sysfs == nullptr)
        return false;
    // Left empty, and then no file is found by it, when the read fails.
    char backing[PATH_MAX + 2];
    backing[std::fread(backing, 1, sizeof backing - 1, sysfs)] = '\0';
    std::fclose(sysfs);
    backing[std::strcspn(backing, "\n")] = '\0';
    struct stat st {};
    stat(backing, &st);
    return same_identity(st, device.st);
}

static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A case-insensitive file system in FUSE, as exfat-fuse and fusefat are,
// gives each spelling of a name a node and an inode number of its own, so
// in.hex and IN.HEX in one folder look like two files.  Two files of one
// FUSE mount whose paths differ only in letter case are taken for one.
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
static bool loop_backed(const OpenFile& /*device*/, const OpenFile& /*file*/)
{
    return false;
}

static bool case_variants(const OpenFile& /*a*/, const OpenFile& /*b*/)
{
    return false;
}
#endif

// Whether writing through one of the two open files could change what the
// other holds.
static bool same_file(const OpenFile& a, const OpenFile& b)
{
    return same_identity(a.st, b.st) || loop_backed(a, b) || loop_backed(b, a)
           || case_variants(a, b);
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

#ifdef __linux__
// A block device that a mounted file system, swap or the device mapper
// holds is a disk in use: opened exclusively, as mkfs opens one, it is
// busy (EBUSY) and refused rather than written over.  It is opened again
// through what is open, so the device claimed is the device checked.
static int claim_block_device(int fd)
{
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    const int claimed = open(name, O_WRONLY | O_EXCL);
    close(fd);
    return claimed;
}
#else
static int claim_block_device(int fd)
{
    return fd;
}
#endif

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
    if (same_file(out, in) || (is_a_file(console.st) && same_file(out, console)))
        return nullptr;
    if (S_ISBLK(out.st.st_mode)) {
        out.fd = claim_block_device(out.fd);
        return out.fd == -1 ? nullptr : fdopen(out.fd, "w");
    }
    if (!S_ISREG(out.st.st_mode))
        return fdopen(out.fd, "w");
    // GCOVR_EXCL_START: emptying a regular file open for writing does not fail in practice
    if (ftruncate(out.fd, 0) != 0)
        return nullptr;
    // GCOVR_EXCL_STOP
    return fdopen(out.fd, "w");
}
#endif
