// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Safety: neither the input nor the console's file is destroyed by naming it
// as the output, files that only look alike still convert, a directory is
// not taken for an input, and addresses past FFFF roll over.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>
#include <optional>

#include "mounts.h"
#include "run_mavrid.h"

static const std::string INPUT = ":0300300002337A1E\n:00000001FF\n";
static const std::string REFUSED = BANNER + "Error -- Could not create S-record file\n";

// Stand-ins in the tables below for what each case sets up: a loop device
// over disk.img, a second device node of it, and a drive letter of its own
// for a folder that holds a hard link to in.hex.
static const std::string LOOP = "<loop device>";
static const std::string NODE = "<second node of the loop device>";
static const std::string DRIVE = "<second drive letter>";
// And for in.hex and IN.HEX in a folder where names are case-insensitive
// (a FUSE file system on Linux, any folder on Windows), and for a hard
// link to in.hex in another of Wine's drive trees.
static const std::string CASE_INPUT = "<in.hex where names are case-insensitive>";
static const std::string CASE_VARIANT = "<IN.HEX there>";
static const std::string OTHER_DRIVE = "<a hard link in another of Wine's drives>";

// Where in.hex and IN.HEX are one file: the sandbox on Windows, or a FUSE
// file system that box sets up (or why it could not) on Linux.
struct CaseFolder {
    std::optional<CaseInsensitiveFolder> fuse;
    std::string input = "in.hex";
    std::string variant = "IN.HEX";
    std::string why;

    explicit CaseFolder(const Sandbox& box)
    {
        if (!windows()) {
            fuse.emplace(box.path("fuse.img"), box.path("fuse"));
            why = fuse->why();
            input = "fuse/in.hex";
            variant = "fuse/IN.HEX";
        }
    }
};

// What disk.img, behind the loop device, holds: the input, then zeros.
static const std::string DISK = INPUT + std::string(65536 - INPUT.size(), '\0');

TEST(Safety, OutputNamingTheInputIsRefusedAndTheInputKept)
{
    verifies("REQ-007 REQ-050 REQ-051 REQ-058");
    // A link to its own folder: through it, in.hex has names of any length.
    const std::string here(200, 'h');
    const std::string long_name = here + "/" + here + "/in.hex";
    struct Call {
        const char* why;
        std::vector<std::string> args;
        std::string stdin_path;
        bool symbolic = false; // needs symbolic links
    };
    const Call calls[] = {
        {"same path", {"in.hex", "in.hex"}, ""},
        {"dot prefix", {"in.hex", "./in.hex"}, ""},
        {"absolute path", {"in.hex", ""}, ""},
        {"hard link", {"in.hex", "hard.hex"}, ""},
        {"hard link named outside the ANSI code page", {"fw-日本-ü.hex", "in.hex"}, ""},
        {"symbolic link as output", {"in.hex", "soft.hex"}, "", true},
        {"symbolic link as input", {"soft.hex", "in.hex"}, "", true},
        {"standard input redirected from it", {"/dev/stdin", "in.hex"}, "in.hex"},
        {"a path longer than Windows' 260 characters", {long_name, long_name}, "", true},
        {"a hard link reached through a second drive letter", {"in.hex", DRIVE}, ""},
        {"a hard link in another of Wine's drive trees", {"in.hex", OTHER_DRIVE}, ""},
        {"a block device and a second node of it", {LOOP, NODE}, ""},
        {"its name in other letter case, where names are case-insensitive",
         {CASE_INPUT, CASE_VARIANT},
         ""},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // Windows has no file name for standard input (under Wine the name
        // reaches the Wine server's own standard input instead), nor block
        // devices as files; drive letters are Windows' alone.
        if (windows() ? call.args[0] == "/dev/stdin" || call.args[0] == LOOP
                      : call.args[1] == DRIVE || call.args[1] == OTHER_DRIVE)
            continue;
        Sandbox box;
        box.write("in.hex", INPUT);
        box.write("disk.img", DISK);
        std::filesystem::create_hard_link(box.file("in.hex"), box.file("hard.hex"));
        std::filesystem::create_hard_link(box.file("in.hex"), box.file("fw-日本-ü.hex"));
        // Windows makes symbolic links only with a privilege or in
        // developer mode.
        std::error_code no_link;
        std::filesystem::create_symlink("in.hex", box.file("soft.hex"), no_link);
        if (!no_link)
            std::filesystem::create_directory_symlink(".", box.file(here), no_link);
        if (call.symbolic && no_link) {
            left_out("REQ-051",
                     std::string(call.why) + ": no symbolic link (" + no_link.message() + ")");
            continue;
        }
        std::vector<std::string> args = call.args;
        if (args[1].empty())
            args[1] = box.path("in.hex");
        std::optional<DriveLetter> drive;
        if (args[1] == DRIVE) {
            std::filesystem::create_directory(box.file("dir"));
            std::filesystem::create_hard_link(box.file("in.hex"), box.file("dir/in.hex"));
            drive.emplace(box.path("dir"));
            if (drive->letter().empty()) {
                left_out("REQ-051", std::string(call.why) + ": " + drive->why());
                continue;
            }
            args[1] = drive->letter() + "\\in.hex";
        }
        std::optional<OtherWineDrive> other_drive;
        if (args[1] == OTHER_DRIVE) {
            other_drive.emplace(box.path("in.hex"));
            if (other_drive->name().empty()) {
                left_out("REQ-051", std::string(call.why) + ": " + other_drive->why());
                continue;
            }
            args[1] = other_drive->name();
        }
        std::optional<CaseFolder> folder;
        if (args[0] == CASE_INPUT) {
            folder.emplace(box);
            if (!folder->why.empty()) {
                left_out("REQ-058", std::string(call.why) + ": " + folder->why);
                continue;
            }
            box.write(folder->input, INPUT);
            args = {folder->input, folder->variant};
        }
        std::optional<LoopDevice> loop;
        if (args[0] == LOOP) {
            loop.emplace(box.path("disk.img"));
            if (loop->path().empty() || !loop->second_node(box.path("node"))) {
                left_out("REQ-051", std::string(call.why) + ": " + loop->why());
                continue;
            }
            args = {loop->path(), "node"};
        }
        Outcome run = box.run(args, "", call.stdin_path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_EQ(box.read("in.hex"), INPUT);
        EXPECT_TRUE(box.read("disk.img") == DISK);
        if (folder) {
            EXPECT_EQ(box.read(folder->input), INPUT);
        }
    }
}

// A loop device keeps its bytes in its backing file, and a file system
// keeps its files on its device, so writing the one writes the other; a
// block device that something holds is a disk in use.  Each is refused as
// the output, and neither the input nor the device changes; a device that
// nothing holds is written.  The device is read back through itself, so
// that what its cache holds is seen.
TEST(Safety, BlockDevicesInUseOrBackingTheInputAreRefused)
{
    verifies("REQ-050 REQ-057");
    if (windows())
        GTEST_SKIP() << "Windows has no block devices";
    struct Call {
        const char* why;
        std::string infile, outfile;
        bool file_system; // disk.img holds a file system with in.hex, mounted on mnt
        bool refused = true;
    };
    const Call calls[] = {
        {"a loop device over the input", "disk.img", LOOP, false},
        {"a loop device as the input, its backing file as the output", LOOP, "disk.img", false},
        {"the loop device that holds the input's file system", "mnt/in.hex", LOOP, true},
        {"the backing file of the loop device that holds the input's file system", "mnt/in.hex",
         "disk.img", true},
        {"a loop device that nothing holds, over a file of its own", "in.hex", LOOP, false, false},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        Sandbox box;
        box.write("in.hex", INPUT);
        std::string why;
        if (call.file_system) {
            std::filesystem::create_directory(box.file("files"));
            box.write("files/in.hex", INPUT);
            box.write("disk.img", std::string(256 * 1024, '\0'));
            if (!run_tool({"mkfs.ext4", "-q", "-d", box.path("files"), box.path("disk.img")},
                          why)) {
                left_out("REQ-057", std::string(call.why) + ": " + why);
                continue;
            }
        } else {
            box.write("disk.img", call.refused ? DISK : std::string(65536, '\0'));
        }
        LoopDevice loop(box.path("disk.img"));
        Mounts mounts;
        if (loop.path().empty()) {
            left_out("REQ-057", std::string(call.why) + ": " + loop.why());
            continue;
        }
        if (call.file_system
            && (*Mounts::unavailable() != '\0'
                    ? (why = Mounts::unavailable(), true)
                    : !mounts.device(loop.path(), "ext4", box.path("mnt"), why))) {
            left_out("REQ-057", std::string(call.why) + ": " + why);
            continue;
        }
        const std::string image = box.read("disk.img");
        auto named = [&loop](const std::string& name) { return name == LOOP ? loop.path() : name; };
        Outcome run = box.run({named(call.infile), named(call.outfile)}, "");
        if (!call.refused) {
            const std::string converted = S0_LINE + "S106003002337A1A\nS9030000FC\n";
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
            EXPECT_TRUE(box.read(loop.path()) == converted + image.substr(converted.size()));
            continue;
        }
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_TRUE(box.read("disk.img") == image);
        EXPECT_TRUE(box.read(loop.path()) == image);
        if (call.file_system) {
            EXPECT_EQ(box.read("mnt/in.hex"), INPUT);
        }
    }
}

// S-records and console text written into one file through two opens
// overwrite each other, so an output that is standard output's own regular
// file or block device is refused; it then holds the console text alone.
// Other devices, the null device above all, are no such file.  Nor may
// console text be written into the input: when standard output is the
// input, however it was opened, nothing is written to it, and the one line
// of the run goes to standard error.
TEST(Safety, ConsoleFileIsNeitherOutputNorInput)
{
    verifies("REQ-052 REQ-053 REQ-056 REQ-058");
    const std::string ON_INPUT = "Error -- Standard output is the Intel hex file\n";
    struct Call {
        const char* why;
        const char* requirement;
        std::string infile, outfile, stdout_path;
        int status;
        std::string console_file; // what standard output's file then holds
        std::string errors = "";
        std::string opening = ""; // how standard output's file is opened, if not emptied
    };
    const Call calls[] = {
        {"standard output redirected to outfile", "REQ-052", "in.hex", "out.s19", "out.s19", 255,
         REFUSED},
        {"/dev/stdout redirected to a file", "REQ-052", "in.hex", "/dev/stdout", "out.s19", 255,
         REFUSED},
        {"the null device as both", "REQ-053", "in.hex", NULL_DEVICE, NULL_DEVICE, 0, ""},
        {"a block device as both", "REQ-052", "in.hex", LOOP, LOOP, 255, REFUSED},
        {"a block device as both, by two of its nodes", "REQ-052", "in.hex", NODE, LOOP, 255,
         REFUSED},
        {"standard output appended to the input", "REQ-056", "in.hex", "out.s19", "in.hex", 255,
         INPUT, ON_INPUT, APPENDED},
        {"standard output reading and writing the input", "REQ-056", "in.hex", "out.s19", "in.hex",
         255, INPUT, ON_INPUT, READ_WRITE},
        {"standard output and standard error on the input", "REQ-056", "in.hex", "out.s19",
         "in.hex", 255, INPUT, "", WITH_ERRORS + READ_WRITE},
        {"standard output on a second node of the input's block device", "REQ-056", LOOP, "out.s19",
         NODE, 255, INPUT, ON_INPUT, READ_WRITE},
        {"standard output appended to the input's name in other letter case", "REQ-058", CASE_INPUT,
         "out.s19", CASE_VARIANT, 255, INPUT, ON_INPUT, APPENDED},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // A standard output that Wine inherits from a Unix process has no
        // volume, so its identity cannot be read; it is redirected through
        // cmd.exe below instead.  Windows has no /dev/stdout, nor block
        // devices as files.
        if (windows() && call.status != 0
            && (!WINDOWS_HARNESS || call.outfile == "/dev/stdout" || call.outfile == LOOP
                || call.outfile == NODE || call.infile == LOOP))
            continue;
        Sandbox box;
        box.write("in.hex", INPUT);
        box.write("disk.img", call.infile == LOOP ? DISK : std::string(65536, '\0'));
        std::optional<LoopDevice> loop;
        if (call.infile == LOOP || call.outfile == LOOP || call.outfile == NODE) {
            loop.emplace(box.path("disk.img"));
            if (loop->path().empty() || !loop->second_node(box.path("node"))) {
                left_out(call.requirement, std::string(call.why) + ": " + loop->why());
                continue;
            }
        }
        std::optional<CaseFolder> folder;
        if (call.infile == CASE_INPUT) {
            folder.emplace(box);
            if (!folder->why.empty()) {
                left_out(call.requirement, std::string(call.why) + ": " + folder->why);
                continue;
            }
            box.write(folder->input, INPUT);
        }
        auto named = [&loop, &folder](const std::string& name) {
            return name == LOOP           ? loop->path()
                   : name == NODE         ? "node"
                   : name == CASE_INPUT   ? folder->input
                   : name == CASE_VARIANT ? folder->variant
                                          : name;
        };
        const std::string console = named(call.stdout_path);
        Outcome run =
            box.run({named(call.infile), named(call.outfile)}, "", "", call.opening + console);
        EXPECT_EQ(run.status, call.status);
        EXPECT_EQ(run.errors, call.errors);
        // Standard output's file is the input where it was not emptied:
        // bytes of the test's, not text of the program's.
        std::string console_file =
            call.opening.empty() ? box.read_text(console) : box.read(console);
        console_file.erase(console_file.find_last_not_of('\0') + 1); // a device's unwritten rest
        EXPECT_EQ(console_file, call.console_file);
        EXPECT_EQ(box.read(call.infile == CASE_INPUT ? folder->input : "in.hex"), INPUT);
        if (call.infile == LOOP) {
            EXPECT_TRUE(box.read("disk.img") == DISK);
        }
    }
    if (windows()) {
        // (Wine's cmd.exe shares no writes on the file it redirects to, so
        // there the program's own open is what fails.)
        Sandbox box;
        box.write("in.hex", INPUT);
        Outcome run = box.run_in_cmd({"in.hex", "out.s19", ">", "out.s19", "&", "type", "out.s19"});
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_EQ(box.read("in.hex"), INPUT);
        run = box.run_in_cmd({"in.hex", "out.s19", ">>", "in.hex"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, "");
        EXPECT_EQ(run.errors, ON_INPUT);
        EXPECT_EQ(box.read("in.hex"), INPUT);
    }
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
    verifies("REQ-007 REQ-054");
    enum Setup {
        COPY,
        NAMES_OUTSIDE_THE_ANSI_CODE_PAGE,
        ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE,
        READ_ONLY_INPUT,
        SAME_INODE_ON_ANOTHER_FILE_SYSTEM
    };
    for (Setup setup :
         {COPY, NAMES_OUTSIDE_THE_ANSI_CODE_PAGE, ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE,
          READ_ONLY_INPUT, SAME_INODE_ON_ANOTHER_FILE_SYSTEM}) {
        SCOPED_TRACE(setup);
        // Wine opens files in its server, which runs outside this test's
        // mount namespace and so sees none of its mounts.
        if (windows() && !WINDOWS_HARNESS && setup >= READ_ONLY_INPUT && running_as_root()) {
            left_out("REQ-054", "mounts under Wine, whose server sees none of them");
            continue;
        }
        Sandbox box;
        Mounts mounts;
        std::optional<CaseFolder> folder;
        std::string in = "in.hex";
        std::string out = "out.s19";
        if (setup == ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE) {
            folder.emplace(box);
            if (!folder->why.empty()) {
                left_out("REQ-054", "a case-insensitive folder: " + folder->why);
                continue;
            }
            in = folder->input;
            out = in.substr(0, in.size() - 6) + "in.s19"; // as long as in.hex, and as alike
            box.write(in, INPUT);
        } else if (setup == COPY) {
            out = "copy.hex";
            box.write(in, INPUT);
            box.write(out, INPUT);
        } else if (setup == NAMES_OUTSIDE_THE_ANSI_CODE_PAGE) {
            in = "fw-日本-ü.hex";
            out = "fw-日本-ü.s19";
            box.write(in, INPUT);
        } else if (setup == READ_ONLY_INPUT) {
            // Mode bits do not bind root; a read-only mount does.
            if (running_as_root() && *Mounts::unavailable() != '\0') {
                left_out("REQ-054",
                         std::string("a read-only input for root: ") + Mounts::unavailable());
                continue;
            }
            std::filesystem::create_directory(box.file("ro"));
            in = "ro/in.hex";
            box.write(in, INPUT);
            using std::filesystem::perms;
            std::filesystem::permissions(box.file(in), perms::owner_read | perms::group_read
                                                           | perms::others_read);
            if (running_as_root())
                mounts.read_only(box.path("ro"));
        } else {
            // Two fresh tmpfs mounts number their files alike.
            if (*Mounts::unavailable() != '\0') {
                left_out("REQ-054", std::string("two file systems: ") + Mounts::unavailable());
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
}

TEST(Safety, DirectoryAsInputIsNotOpened)
{
    verifies("REQ-004");
    Sandbox box;
    std::filesystem::create_directory(box.file("dir"));
    Outcome run = box.run({"dir", "out.s19"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.console, BANNER + "Error -- Could not open Intel hex file\n");
    EXPECT_FALSE(run.output_exists);
}

TEST(Safety, ChunksPastFFFFRollOverToSixteenBits)
{
    verifies("REQ-035");
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
