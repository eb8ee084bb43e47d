// SPDX-License-Identifier: MIT
// Safety: neither the input nor the console's file is destroyed by naming it
// as the output, files that only look alike still convert, a directory is
// not taken for an input, and addresses past FFFF roll over.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "run_mavrid.h"

#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

static const std::string INPUT = ":0300300002337A1E\n:00000001FF\n";
static const std::string REFUSED = BANNER + "Error -- Could not create S-record file\n";

TEST(Safety, OutputNamingTheInputIsRefusedAndTheInputKept)
{
    struct Call {
        const char* why;
        std::vector<std::string> args;
        std::string stdin_path;
    };
    const Call calls[] = {
        {"same path", {"in.hex", "in.hex"}, ""},
        {"dot prefix", {"in.hex", "./in.hex"}, ""},
        {"absolute path", {"in.hex", ""}, ""},
        {"hard link", {"in.hex", "hard.hex"}, ""},
        {"hard link named outside the ANSI code page", {"fw-日本-ü.hex", "in.hex"}, ""},
        {"symbolic link as output", {"in.hex", "soft.hex"}, ""},
        {"symbolic link as input", {"soft.hex", "in.hex"}, ""},
        {"standard input redirected from it", {"/dev/stdin", "in.hex"}, "in.hex"},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // Windows has no file name for standard input; under Wine the name
        // reaches the Wine server's own standard input instead.
        if (WINDOWS && call.args[0] == "/dev/stdin")
            continue;
        Sandbox box;
        box.write("in.hex", INPUT);
        ASSERT_EQ(link(box.path("in.hex").c_str(), box.path("hard.hex").c_str()), 0);
        ASSERT_EQ(link(box.path("in.hex").c_str(), box.path("fw-日本-ü.hex").c_str()), 0);
        ASSERT_EQ(symlink("in.hex", box.path("soft.hex").c_str()), 0);
        std::vector<std::string> args = call.args;
        if (args[1].empty())
            args[1] = box.path("in.hex");
        Outcome run = box.run(args, "", call.stdin_path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_EQ(box.read("in.hex"), INPUT);
    }
}

// S-records and console text written into one file through two opens
// overwrite each other, so an output that is standard output's own regular
// file is refused; the file then holds the console text alone.  Devices,
// the null device above all, are no such file.
TEST(Safety, OutputThatIsTheConsoleFileIsRefused)
{
    struct Call {
        const char* why;
        std::string outfile, stdout_path;
        int status;
        std::string console_file;
    };
    const Call calls[] = {
        {"standard output redirected to outfile", "out.s19", "out.s19", 255, REFUSED},
        {"/dev/stdout redirected to a file", "/dev/stdout", "out.s19", 255, REFUSED},
        {"/dev/null as both", "/dev/null", "/dev/null", 0, ""},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // A standard output that Wine inherits from a Unix process has no
        // volume, so its identity cannot be read; it is redirected through
        // cmd.exe below instead.
        if (WINDOWS && call.status != 0)
            continue;
        Sandbox box;
        box.write("in.hex", INPUT);
        Outcome run = box.run({"in.hex", call.outfile}, "out.s19", "", call.stdout_path);
        EXPECT_EQ(run.status, call.status);
        EXPECT_EQ(run.output, call.console_file);
        EXPECT_EQ(box.read("in.hex"), INPUT);
    }
    if (WINDOWS) {
        // (Wine's cmd.exe shares no writes on the file it redirects to, so
        // there the program's own open is what fails.)
        Sandbox box;
        box.write("in.hex", INPUT);
        Outcome run = box.run_in_cmd({"in.hex", "out.s19", ">", "out.s19", "&", "type", "out.s19"});
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_EQ(box.read("in.hex"), INPUT);
    }
}

// Mounts made for one case in this test process's own mount namespace,
// detached before the case's sandbox is removed.  Mount namespaces are
// Linux's; elsewhere the cases that need them are skipped.
class Mounts {
  public:
    Mounts() = default;
    Mounts(const Mounts&) = delete;
    Mounts& operator=(const Mounts&) = delete;

    // Why this process may not mount, or empty.  The first call moves it
    // into a private mount namespace, so nothing mounted here is seen
    // outside it.
    static const char* unavailable();

#ifdef __linux__
    ~Mounts()
    {
        for (auto dir = dirs_.rbegin(); dir != dirs_.rend(); ++dir)
            umount2(dir->c_str(), MNT_DETACH);
    }

    // A fresh, empty file system on dir.
    void tmpfs(const std::string& dir)
    {
        std::filesystem::create_directory(dir);
        ASSERT_EQ(mount("mavrid-test", dir.c_str(), "tmpfs", 0, nullptr), 0);
        dirs_.push_back(dir);
    }

    // dir made read-only, for root too.
    void read_only(const std::string& dir)
    {
        ASSERT_EQ(mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
        dirs_.push_back(dir);
        ASSERT_EQ(mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr),
                  0);
    }

  private:
    std::vector<std::string> dirs_;
#else
    void tmpfs(const std::string&) {}
    void read_only(const std::string&) {}
#endif
};

const char* Mounts::unavailable()
{
#ifdef __linux__
    static const bool allowed = unshare(CLONE_NEWNS) == 0
                                && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return allowed ? "" : "mounting needs CAP_SYS_ADMIN";
#else
    return "mount namespaces are Linux-only";
#endif
}

static ino_t inode_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Files that only look alike are not the same file, and a name in any
// script is a name: each output is written whole and the input is left as
// it was.
TEST(Safety, DistinctFilesConvert)
{
    enum Setup {
        COPY,
        NAMES_OUTSIDE_THE_ANSI_CODE_PAGE,
        READ_ONLY_INPUT,
        SAME_INODE_ON_ANOTHER_FILE_SYSTEM
    };
    std::string skipped;
    for (Setup setup : {COPY, NAMES_OUTSIDE_THE_ANSI_CODE_PAGE, READ_ONLY_INPUT,
                        SAME_INODE_ON_ANOTHER_FILE_SYSTEM}) {
        SCOPED_TRACE(setup);
        // Wine opens files in its server, which runs outside this test's
        // mount namespace and so sees none of its mounts.
        if (WINDOWS && setup >= READ_ONLY_INPUT && geteuid() == 0) {
            skipped += " mounts under Wine;";
            continue;
        }
        Sandbox box;
        Mounts mounts;
        std::string in = "in.hex";
        std::string out = "out.s19";
        if (setup == COPY) {
            out = "copy.hex";
            box.write(in, INPUT);
            box.write(out, INPUT);
        } else if (setup == NAMES_OUTSIDE_THE_ANSI_CODE_PAGE) {
            in = "fw-日本-ü.hex";
            out = "fw-日本-ü.s19";
            box.write(in, INPUT);
        } else if (setup == READ_ONLY_INPUT) {
            // Mode bits do not bind root; a read-only mount does.
            if (geteuid() == 0 && *Mounts::unavailable() != '\0') {
                skipped +=
                    std::string(" a read-only input for root (") + Mounts::unavailable() + ");";
                continue;
            }
            std::filesystem::create_directory(box.path("ro"));
            in = "ro/in.hex";
            box.write(in, INPUT);
            chmod(box.path(in).c_str(), 0444);
            if (geteuid() == 0)
                mounts.read_only(box.path("ro"));
        } else {
            // Two fresh tmpfs mounts number their files alike.
            if (*Mounts::unavailable() != '\0') {
                skipped += std::string(" two file systems (") + Mounts::unavailable() + ");";
                continue;
            }
            mounts.tmpfs(box.path("a"));
            mounts.tmpfs(box.path("b"));
            in = "a/in.hex";
            out = "b/out.s19";
            box.write(in, INPUT);
            box.write(out, "");
            ASSERT_EQ(inode_of(box.path(in)), inode_of(box.path(out)));
        }
        if (HasFatalFailure())
            return;
        Outcome run = box.run({in, out}, out);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
        EXPECT_EQ(run.output, S0_LINE + "S106003002337A1A\nS9030000FC\n");
        EXPECT_EQ(box.read(in), INPUT);
    }
    if (!skipped.empty())
        GTEST_SKIP() << "not set up:" << skipped;
}

TEST(Safety, DirectoryAsInputIsNotOpened)
{
    Sandbox box;
    std::filesystem::create_directory(box.path("dir"));
    Outcome run = box.run({"dir", "out.s19"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Could not open Intel hex file\n");
    EXPECT_FALSE(run.output_exists);
}

TEST(Safety, ChunksPastFFFFRollOverToSixteenBits)
{
    // 64 bytes at FFF0: chunks at FFF0, 1000E and 1002C are written as
    // FFF0, 000E and 002C.
    std::vector<int> data(64);
    std::iota(data.begin(), data.end(), 0);
    Outcome run = run_mavrid(ihex_record(0, 0xFFF0, data) + END_RECORD);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, S0_LINE + srec_line(1, 0xFFF0, {data.begin(), data.begin() + 30})
                              + srec_line(1, 0x000E, {data.begin() + 30, data.begin() + 60})
                              + srec_line(1, 0x002C, {data.begin() + 60, data.end()}) + S9_LINE);
    // Every S1 address field is four digits: each line is as long as its count says.
    EXPECT_EQ(run.output.find("S1210FFF0"), std::string::npos);
}
