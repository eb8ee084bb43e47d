// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// run_mavrid.h -- running the mavrid under test as a child process.
#ifndef MAVRID_TESTS_RUN_MAVRID_H
#define MAVRID_TESTS_RUN_MAVRID_H

#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"

// The two banner lines and the empty line that open every run.  Inline, so
// that it is built before the tests' own constants that use it.
inline const std::string BANNER = "Intel Hex to Motorola S-Record Converter Ver 0.1\n"
                                  "Converts one Intel HEX file into one Motorola S-record file.\n"
                                  "\n";

// What one run left behind.
struct Outcome {
    int status = -1;     // exit status as a POSIX shell shows it, or 128 + signal number
    std::string console; // everything written to standard output
    std::string errors;  // everything written to standard error
    std::string output;  // the output file's bytes, if it exists
    bool output_exists = false;
    bool killed = false; // still running at its deadline, and stopped
    int left_behind = 0; // processes it left running when it ended, which were stopped
};

// The program under test is chosen when the tests run, so that one build
// of the suite checks every build of the program:
//   MAVRID_TEST_PROGRAM   the program (default: this build's mavrid), unless
//                         select_program names another first
//   MAVRID_TEST_LAUNCHER  words that start it, such as Wine's or QEMU's loader
//   MAVRID_TEST_SANITIZED set for a sanitizer build, whose shadow memory
//                         rules out the memory bound
const std::string& program();
void select_program(const std::string& path);

// Every later run gets exactly these variables (NAME=value), rather than
// the harness's own environment; the program must then be named by an
// absolute path.
void choose_environment(const std::vector<std::string>& variables);

// A program whose name ends in .exe is a Windows build, whose console and
// output lines end in CR LF.
bool windows();

// Whether this suite itself is a Windows program, which starts the program
// under test through CreateProcess rather than fork and exec.
#ifdef _WIN32
inline constexpr bool WINDOWS_HARNESS = true;
#else
inline constexpr bool WINDOWS_HARNESS = false;
#endif

// A native, unsanitized program on POSIX runs under this limit on its data
// segment, heap and private mappings: it converts files of any length in
// a few hundred KiB, so a buffer grown large or memory kept per record
// makes its runs fail.
inline constexpr long DATA_LIMIT_KIB = 1024;

// Whether runs are held to DATA_LIMIT_KIB; if not, why not.
bool data_limited(std::string& why_not);

// Name the requirements (REQ-NNN, separated by blanks) that the current
// test verifies whenever it passes, whichever of its rows could be set up:
// those that a row that may be left out verifies are named by left_out.
// Call first in every test, before anything can skip it.  A test that is
// skipped (GTEST_SKIP) does not apply to the program under test, and
// verifies nothing.
void verifies(const char* requirements);

// Every run is checked for the processes it leaves running, so every test
// that is not skipped verifies this requirement as well, by its runs
// alone: a run that leaves one records the property "left_behind" in its
// test (saying what was left) and, unless the validator judges that
// property itself (judge_left_behind_apart), fails the test.
inline constexpr const char* EVERY_RUN_VERIFIES = "REQ-047";
void judge_left_behind_apart();

// Record that a part of the current test (a row of its table, say) could
// not be set up here, and why; the test goes on with the rest.  Those of
// the requirements named that this part verifies count as not tested here,
// whatever else passed.
void left_out(const char* requirements, const std::string& why);

// A file name of the harness, which is UTF-8 on every platform, as the
// file system takes it.
std::filesystem::path as_path(const std::string& utf8);

// Whether this process runs as root, for whom permission bits do not count.
bool running_as_root();

// A fresh temporary folder, removed with everything in it at destruction.
// The program runs with it as its working directory.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::string path(const std::string& name) const;
    std::filesystem::path file(const std::string& name) const
    {
        return as_path(path(name));
    }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    // As read, with the Windows build's CR LF line ends given as LF.
    std::string read_text(const std::string& name) const;
    bool exists(const std::string& name) const;

    // Run mavrid with these arguments.  Standard input comes from stdin_path
    // and standard output goes to stdout_path when given (a path relative
    // to the sandbox, or absolute, or CLOSED; emptied first, unless the
    // path starts with one of the marks below).  With piped_input, standard
    // input is a pipe that the test writes those bytes into and then keeps
    // open until the run ends (POSIX only).  A run still going at its
    // deadline (run_deadline) is killed, and one that leaves a process
    // running when it ends has that process ended; either way the test
    // fails, saying so, and the output file is looked at only once every
    // process of the run has ended.  The output
    // file looked at afterwards is output_name; none when it is empty (a
    // device such as /dev/full).  Console text and output file are given
    // with LF line ends on every platform.
    Outcome run(const std::vector<std::string>& args, const std::string& output_name = "out.s19",
                const std::string& stdin_path = "", const std::string& stdout_path = "",
                const std::string* piped_input = nullptr) const;

    // Run cmd.exe (through the launcher, if any) on a command line that
    // starts with the program under test, named as Windows names it,
    // followed by these words: its arguments, redirections, "&" and further
    // commands.
    Outcome run_in_cmd(const std::vector<std::string>& words) const;

    // Later runs start under this limit on the size of any file they
    // write, in bytes (RLIMIT_FSIZE; POSIX only).
    void limit_file_size(long bytes)
    {
        file_size_limit_ = bytes;
    }

    // Later runs start without root's privileges, so that permission bits
    // bind them as they bind a normal user; root stays their user and the
    // owner of the sandbox's files (Linux; elsewhere, and for a normal
    // user, nothing changes).
    void drop_privileges()
    {
        unprivileged_ = true;
    }

  private:
    Outcome spawn(std::vector<std::string> words, const std::string& output_name,
                  const std::string& stdin_path, const std::string& stdout_path,
                  const std::string* piped_input) const;
    Outcome outcome(int status, const std::string& output_name, bool killed = false) const;
    // The process of a run: these words, in the run folder, with the
    // standard streams that spawn's paths name.
    Launch launch_of(const std::vector<std::string>& words, const std::string& stdin_path,
                     const std::string& stdout_path) const;

    // The program's working folder, and the files that spawn sends its
    // standard output (unless told otherwise) and standard error to.
    std::string run_folder() const
    {
        return root_ + "/run";
    }
    std::string console_file() const
    {
        return root_ + "/console.txt";
    }
    std::string errors_file() const
    {
        return root_ + "/errors.txt";
    }

    std::string root_;
    long file_size_limit_ = 0; // none
    bool unprivileged_ = false;
};

// How long a run may take: RUN_DEADLINE_S, until a run has been stopped at
// its deadline; then a few times the longest run that ended by itself, so
// that a program that hangs on every input is judged in bounded time.
inline constexpr int RUN_DEADLINE_S = 30;

// Put before a stdout_path: the file is opened as a shell's ">>" opens
// it, for appending, or as "1<>" does, for reading and writing from its
// start; either way it is not emptied.  WITH_ERRORS, put before either,
// sends standard error to the same open file, as "2>&1" does.
inline const std::string APPENDED = ">>";
inline const std::string READ_WRITE = "<>";
inline const std::string WITH_ERRORS = "2>&1";

// A stdout_path taken apart.
struct Redirection {
    Standard::Opening opening = Standard::EMPTIED;
    bool with_errors = false;
    std::string path; // without the marks
};
Redirection redirection_of(const std::string& stdout_path);

// An output that every write fails on, as on a full disk, for as long as
// it lives: Linux's /dev/full, or on Windows a named pipe whose reader
// has gone.  path() is empty where there is none.
class FullDevice {
  public:
    FullDevice();
    ~FullDevice();
    FullDevice(const FullDevice&) = delete;
    FullDevice& operator=(const FullDevice&) = delete;

    const std::string& path() const
    {
        return path_;
    }

  private:
    std::string path_;
#ifdef _WIN32
    void* server_ = nullptr; // the pipe's server end, and its thread
#endif
};

// A named pipe (a FIFO on POSIX) in the sandbox whose writer gives it
// these bytes as soon as a reader opens it, and then keeps it open, as a
// programmer's tool or a tail -f would, until this object goes.
class NamedPipe {
  public:
    NamedPipe(const Sandbox& box, const std::string& bytes);
    ~NamedPipe();
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    const std::string& path() const
    {
        return path_;
    }

  private:
    std::string path_;
#ifdef _WIN32
    void* server_ = nullptr; // the pipe's server end, and its thread
#else
    long writer_ = -1; // the writing process
#endif
};

// Convert input (as in.hex) to out.s19 in a fresh sandbox.
Outcome run_mavrid(const std::string& input);

// An Intel HEX record line with its checksum, ending in a line feed.
std::string ihex_record(int type, unsigned address, const std::vector<int>& data);

// An S-record line with its checksum, ending in a line feed; an oracle for
// the writer, built independently of it.
std::string srec_line(int type, unsigned address, const std::vector<int>& data);

// The header line that opens every output file.
inline const std::string S0_LINE = "S007000048445239E1\n";

// The usual end-of-file record, and the termination line it becomes.
inline const std::string END_RECORD = ":00000001FF\n";
inline const std::string S9_LINE = "S9030000FC\n";

#endif // MAVRID_TESTS_RUN_MAVRID_H
