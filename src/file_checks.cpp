// file_checks.cpp -- the checks that keep a run from harming the user's files.
//
// A file is known by its identity, not its name: device and inode number on
// POSIX, the file identity that the library reads on Windows.  Any name or
// link of the same file then matches.  (The status calls on a stream
// or descriptor already open do not fail in practice; no test reaches those
// branches.)
#include "file_checks.h"

#ifdef _WIN32
#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows hands out no closed standard slot to a new file, and refuses to
// open a directory as a file.  It has no inode numbers: the library compares
// the identities of the two named files instead.
void hold_standard_descriptors() {}

bool is_directory(std::FILE* /*stream*/)
{
    return false;
}

bool is_same_file(std::FILE* /*stream*/, const char* infile, const char* outfile)
{
    std::error_code error;
    return std::filesystem::equivalent(infile, outfile, error);
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

static bool names_open_file(int fd, const char* path)
{
    struct stat open_st {};
    struct stat path_st {};
    return fstat(fd, &open_st) == 0 && stat(path, &path_st) == 0 && open_st.st_dev == path_st.st_dev
           && open_st.st_ino == path_st.st_ino;
}

bool is_same_file(std::FILE* stream, const char* /*infile*/, const char* outfile)
{
    return names_open_file(fileno(stream), outfile);
}
#endif
