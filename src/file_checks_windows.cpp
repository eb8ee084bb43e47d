// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// file_checks_windows.cpp -- opening the two files without harming the
// user's, on Windows.
//
// Share modes answer for every name, drive, case and link of a file, and
// Wine enforces them on the Unix file too: the input is open denying
// writes, so no later open for writing reaches it; the output is opened
// sharing only reading, which fails while another open may write it, as
// standard output's file.
#include "file_checks.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

#include "converter.h"
#include "formats/ihex_reader.h"

// Windows hands out no closed standard slot to a new file, and has no
// file-size signal.
void hold_standard_descriptors() {}

void ignore_file_size_signal() {}

// A stream over a handle of ours, or nullptr.
static std::FILE* stream_of(HANDLE file, int flags, const char* mode)
{
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the CRT takes handles as integers
    return _fdopen(_open_osfhandle(reinterpret_cast<std::intptr_t>(file), flags), mode);
}

// A name as the narrow calls would take it, from the code page (UTF-8, by
// the manifest), but for the wide calls, which Wine does not hold to
// MAX_PATH characters.  Each call's name is used before the next.
static const WCHAR* wide(const char* name)
{
    static WCHAR converted[32768]; // the longest a path can be
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, converted, 32768) == 0)
        converted[0] = L'\0';
    return converted;
}

// A directory does not open as a file.
std::FILE* open_input(const char* path)
{
    return stream_of(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr),
                     _O_RDONLY | _O_BINARY, "rb");
}

static HANDLE handle_of(std::FILE* stream)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the CRT hands out handles as integers
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// The one case that share modes miss: a case-insensitive file system in
// FUSE, as exfat-fuse is, gives each spelling of a name an inode of its
// own, and Wine, which shares by inode, then takes in.hex and IN.HEX in
// one folder for two files.  Two disk files whose paths differ only in
// letter case are taken for one, as Windows names one file by any case.
static WCHAR final_paths[2][32768]; // the longest a path can be

static bool case_variants(HANDLE a, HANDLE b)
{
    // Only disk files have paths to compare (and Wine 8's server ends when
    // asked for the path of a pipe whose reader has gone).
    if (GetFileType(a) != FILE_TYPE_DISK || GetFileType(b) != FILE_TYPE_DISK)
        return false;
    for (int i = 0; i < 2; ++i) {
        const DWORD length =
            GetFinalPathNameByHandleW(i == 0 ? a : b, final_paths[i], 32768, FILE_NAME_NORMALIZED);
        if (length == 0 || length >= 32768)
            return false; // as a standard stream that Wine inherits from a Unix process
    }
    return CompareStringOrdinal(final_paths[0], -1, final_paths[1], -1, TRUE) == CSTR_EQUAL;
}

static HANDLE standard_handle(StandardStream stream)
{
    return GetStdHandle(stream == STANDARD_OUTPUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// Otherwise a standard stream on the input would be open for writing, and
// the input, which shares no writing, would not have opened.
bool standard_stream_is_input(StandardStream stream, std::FILE* input)
{
    return case_variants(standard_handle(stream), handle_of(input));
}

// Whether two handles are of one file: its volume serial number and file
// index.  (The index of a file on ReFS may be shared by another, which
// costs at most a needless refusal.)
static bool same_identity(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x{};
    BY_HANDLE_FILE_INFORMATION y{};
    return GetFileInformationByHandle(a, &x) != 0 && GetFileInformationByHandle(b, &y) != 0
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber
           && x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// Asked when no input is open, so no share mode answers: names are
// compared with the standard stream by identity.  Only disk files have
// one; a device such as NUL, the console or a pipe is no such file, nor is
// a standard stream whose identity cannot be read, as one that Wine
// inherits from a Unix process.
bool standard_stream_is_named(StandardStream stream, char* const names[], int count)
{
    HANDLE console = standard_handle(stream);
    if (GetFileType(console) != FILE_TYPE_DISK)
        return false;
    for (int i = 0; i < count; ++i) {
        // Opened for no access at all, only to be identified; a folder too.
        HANDLE named =
            CreateFileW(wide(names[i]), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (named == INVALID_HANDLE_VALUE)
            continue;
        const bool same = same_identity(console, named);
        CloseHandle(named);
        if (same)
            return true;
    }
    return false;
}

// Whether the disk file open as out already holds Intel HEX: it is then an
// input, and the arguments were probably given the wrong way round.  Read
// through a second handle of what is open; a file that may not be read is
// no input of the user's.
static bool holds_intel_hex(HANDLE out)
{
    return starts_with_record(
        stream_of(ReOpenFile(out, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0),
                  _O_RDONLY | _O_BINARY, "rb"));
}

// On nullptr the run ends at once, which closes the handle.
std::FILE* create_output(const char* path, std::FILE* input)
{
    HANDLE out = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return nullptr;
    // A device such as NUL, the console or a pipe is written as it is.
    if (GetFileType(out) == FILE_TYPE_DISK) {
        if (case_variants(out, handle_of(input))
            || case_variants(out, standard_handle(STANDARD_OUTPUT)))
            return nullptr;
        if (holds_intel_hex(out))
            error_exit("S-record file is an Intel hex file");
        if (SetEndOfFile(out) == 0)
            return nullptr;
    }
    return stream_of(out, _O_WRONLY | _O_TEXT, "w");
}
