// SPDX-License-Identifier: MIT
// file_checks.cpp -- the checks that keep a run from harming the user's files.
//
// A file is known by its identity, not its name: device and inode number on
// POSIX, volume serial number and file index on Windows.  Any name, link or
// redirection of the same file then matches.  (The status calls on a stream
// or descriptor already open do not fail in practice; no test reaches those
// branches.)
#include "file_checks.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows hands out no closed standard slot to a new file, and refuses to
// open a directory as a file.
void hold_standard_descriptors() {}

bool is_directory(std::FILE* /*stream*/)
{
    return false;
}

static bool names_open_file(HANDLE open, const char* path)
{
    BY_HANDLE_FILE_INFORMATION open_id{};
    BY_HANDLE_FILE_INFORMATION path_id{};
    if (GetFileInformationByHandle(open, &open_id) == 0)
        return false;
    // No access asked for: only the file's identity is read, so neither a
    // sharing mode nor a read-only attribute stands in the way.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(file, &path_id) != 0;
    CloseHandle(file);
    return known && open_id.dwVolumeSerialNumber == path_id.dwVolumeSerialNumber
           && open_id.nFileIndexHigh == path_id.nFileIndexHigh
           && open_id.nFileIndexLow == path_id.nFileIndexLow;
}

bool is_same_file(std::FILE* stream, const char* path)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the CRT hands out handles as integers
    return names_open_file(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), path);
}

bool is_console_file(const char* path)
{
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    return GetFileType(console) == FILE_TYPE_DISK && names_open_file(console, path);
}
#else
// A standard descriptor closed by the caller would be handed to the first
// file opened, and console text flushed at exit would then land in the
// S-record file.
void hold_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", O_RDWR); // takes the lowest free slot: fd
    }
}

// Opening a directory for reading succeeds on POSIX and only the first read
// fails, by which time the output would have been created.
bool is_directory(std::FILE* stream)
{
    struct stat st {};
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether path names the file whose status is open_st.
static bool names_open_file(const struct stat& open_st, const char* path)
{
    struct stat path_st {};
    return stat(path, &path_st) == 0 && open_st.st_dev == path_st.st_dev
           && open_st.st_ino == path_st.st_ino;
}

bool is_same_file(std::FILE* stream, const char* path)
{
    struct stat open_st {};
    return fstat(fileno(stream), &open_st) == 0 && names_open_file(open_st, path);
}

// Only a regular file is written through two opens at once: the null device,
// a terminal or a pipe may well be both the console and the output.
bool is_console_file(const char* path)
{
    struct stat console {};
    return fstat(STDOUT_FILENO, &console) == 0 && S_ISREG(console.st_mode)
           && names_open_file(console, path);
}
#endif
