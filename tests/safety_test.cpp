// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// Safety: neither the input nor the console's file is destroyed by naming it
// as the output, files that only look alike still convert, a directory is
// not taken for an input, and addresses past FFFF roll over.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
// And for files as a run without root's privileges finds them: in.hex and
// out.s19 given to another user, which no lease is granted on, and an
// in.hex that may not be read.
static const std::string OTHERS_INPUT = "<in.hex, another user's>";
static const std::string OTHERS_OUTPUT = "<out.s19, another user's>";
static const std::string UNREADABLE_INPUT = "<in.hex, which may not be read>";

// Give name, which is made if need be, to another user, for later runs of
// box without privileges; false, and the row left out, where only root
// can do that.
static bool give_to_another_user(Sandbox& box, const std::string& name, const char* requirement,
                                 const std::string& why)
{
    if (!box.exists(name))
        box.write(name, "");
#ifdef _WIN32
    left_out(requirement, why + ": the Windows harness gives no files away");
    return false;
#else
    // Root in a user namespace of its own has no other user to give to.
    if (chown(box.path(name).c_str(), 65534, 65534) != 0) {
        left_out(requirement,
                 why + ": needs root, to give a file to another user: " + std::strerror(errno));
        return false;
    }
    using std::filesystem::perms;
    std::filesystem::permissions(box.file(name), perms::owner_read | perms::owner_write
                                                     | perms::group_read | perms::group_write
                                                     | perms::others_read | perms::others_write);
    box.drop_privileges();
    return true;
#endif
}

// Make name writable only, for later runs of box without privileges.
static void make_unreadable(Sandbox& box, const std::string& name)
{
    std::filesystem::permissions(box.file(name), std::filesystem::perms::owner_write);
    box.drop_privileges();
}

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
        } else if (WINDOWS_HARNESS) {
            // Windows may tell case apart in a folder made so.
            box.write(input, "");
            if (!box.exists(variant))
                why = "this folder tells letter case apart: IN.HEX is not in.hex";
            std::filesystem::remove(box.file(input));
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
        {"same path, a file of another user's, which no lease is granted on",
         {OTHERS_INPUT, OTHERS_INPUT},
         ""},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // Windows has no file name for standard input (under Wine the name
        // reaches the Wine server's own standard input instead), nor block
        // devices as files; drive letters are Windows' alone.
        if (windows() ? call.args[0] == "/dev/stdin" || call.args[0] == LOOP
                            || call.args[0] == OTHERS_INPUT
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
        if (args[0] == OTHERS_INPUT) {
            if (!give_to_another_user(box, "in.hex", "REQ-051", call.why))
                continue;
            args = {"in.hex", "in.hex"};
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

// What the input is kept on is refused as the output, at any depth: a
// loop device keeps its bytes in its backing file, a file system keeps its
// files on its device, and an overlay reads its files from the layer
// below.  No block device is an output at all: an S-record file is text.
// Nothing is written, neither the input nor the output, which are read
// back through themselves, so that what a device's cache holds is seen.
TEST(Safety, StorageThatHoldsTheInputIsRefused)
{
    verifies("REQ-050 REQ-057");
    if (windows())
        GTEST_SKIP() << "Windows has no block devices or overlays";
    // How disk.img is kept, and what is mounted on it.
    enum Stack {
        PLAIN,          // the input's bytes, then zeros, under LOOP
        FREE,           // zeros, under LOOP, which nothing else holds
        LOOP_OVER_LOOP, // as PLAIN, with OUTER_LOOP over LOOP
        FILE_SYSTEM,    // ext4 with in.hex, mounted from LOOP on mnt
        RELINKED,       // as FILE_SYSTEM, then linked as link.img and disk.img removed
        NESTED,         // ext4 with inner.img, ext4 with in.hex, mounted in turn on mnt and inner
        OVERLAY,        // no disk: lower/in.hex read through an overlay on merged
    };
    const std::string OUTER_LOOP = "<loop device over the loop device>";
    struct Call {
        const char* why;
        std::string infile, outfile;
        Stack stack;
    };
    const Call calls[] = {
        {"a loop device over the input", "disk.img", LOOP, PLAIN},
        {"a loop device as the input, its backing file as the output", LOOP, "disk.img", PLAIN},
        {"a loop device that nothing holds, over a file of its own", "in.hex", LOOP, FREE},
        {"a loop device over a loop device over the input", "disk.img", OUTER_LOOP, LOOP_OVER_LOOP},
        {"the loop device that holds the input's file system", "mnt/in.hex", LOOP, FILE_SYSTEM},
        {"the backing file of the loop device that holds the input's file system", "mnt/in.hex",
         "disk.img", FILE_SYSTEM},
        {"a second hard link to that backing file, the first removed", "mnt/in.hex", "link.img",
         RELINKED},
        {"the outer image of two nested loops, the input inside the inner", "inner/in.hex",
         "disk.img", NESTED},
        {"the lower layer's file of an overlay that the input is read through", "merged/in.hex",
         "lower/in.hex", OVERLAY},
    };
    // An ext4 image of the files in folder, written at image.
    auto ext4_image = [](const Sandbox& box, const std::string& folder, const std::string& image,
                         std::size_t size, std::string& why) {
        box.write(image, std::string(size, '\0'));
        return run_tool({"mkfs.ext4", "-q", "-d", box.path(folder), box.path(image)}, why);
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        Sandbox box;
        box.write("in.hex", INPUT);
        std::optional<LoopDevice> loop;
        std::optional<LoopDevice> second; // the outer loop, or the inner one of NESTED
        Mounts mounts;                    // unmounted before the loops go
        // The stack, set up; or why it could not be.
        auto set_up = [&]() -> std::string {
            std::string why;
            const bool mounted = call.stack >= FILE_SYSTEM;
            if (mounted && *Mounts::unavailable() != '\0')
                return Mounts::unavailable();
            if (call.stack == OVERLAY) {
                std::filesystem::create_directory(box.file("lower"));
                box.write("lower/in.hex", INPUT);
                return mounts.overlay(box.path("lower"), box.path("merged"), why) ? "" : why;
            }
            std::filesystem::create_directory(box.file("files"));
            box.write("files/in.hex", INPUT);
            if (call.stack == NESTED) {
                std::filesystem::create_directory(box.file("outer"));
                if (!ext4_image(box, "files", "outer/inner.img", 256 * 1024, why)
                    || !ext4_image(box, "outer", "disk.img", 1024 * 1024, why))
                    return why;
            } else if (mounted) {
                if (!ext4_image(box, "files", "disk.img", 256 * 1024, why))
                    return why;
            } else {
                box.write("disk.img", call.stack == FREE ? std::string(65536, '\0') : DISK);
            }
            loop.emplace(box.path("disk.img"));
            if (loop->path().empty())
                return loop->why();
            if (mounted && !mounts.device(loop->path(), "ext4", box.path("mnt"), why))
                return why;
            if (call.stack == RELINKED) {
                std::filesystem::create_hard_link(box.file("disk.img"), box.file("link.img"));
                std::filesystem::remove(box.file("disk.img"));
            }
            if (call.stack == NESTED || call.stack == LOOP_OVER_LOOP) {
                second.emplace(call.stack == NESTED ? box.path("mnt/inner.img") : loop->path());
                if (second->path().empty())
                    return second->why();
                if (call.stack == NESTED
                    && !mounts.device(second->path(), "ext4", box.path("inner"), why))
                    return why;
            }
            return "";
        };
        const std::string why = set_up();
        if (!why.empty()) {
            left_out("REQ-057", std::string(call.why) + ": " + why);
            continue;
        }
        auto named = [&](const std::string& name) {
            return name == LOOP ? loop->path() : name == OUTER_LOOP ? second->path() : name;
        };
        const std::string infile = named(call.infile);
        const std::string outfile = named(call.outfile);
        const std::string input = box.read(infile);
        const std::string output = box.read(outfile);
        Outcome run = box.run({infile, outfile}, "");
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, REFUSED);
        EXPECT_TRUE(box.read(infile) == input);
        EXPECT_TRUE(box.read(outfile) == output);
        EXPECT_EQ(box.read(call.stack == OVERLAY ? "lower/in.hex" : "in.hex"), INPUT);
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
        {"standard output appended to an input that may not be read", "REQ-056", UNREADABLE_INPUT,
         "out.s19", "in.hex", 255, INPUT, ON_INPUT, APPENDED},
        {"standard output redirected to outfile, a file of another user's", "REQ-052", "in.hex",
         OTHERS_OUTPUT, "out.s19", 255, REFUSED},
        {"standard output redirected to outfile's name in other letter case", "REQ-058", "in.hex",
         CASE_INPUT, CASE_VARIANT, 255, REFUSED},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        // A standard output that Wine inherits from a Unix process has no
        // volume, so its identity cannot be read; it is redirected through
        // cmd.exe below instead.  Windows has no /dev/stdout, nor block
        // devices as files.
        if (windows() && call.status != 0
            && (!WINDOWS_HARNESS || call.outfile == "/dev/stdout" || call.outfile == LOOP
                || call.outfile == NODE || call.infile == LOOP || call.infile == UNREADABLE_INPUT
                || call.outfile == OTHERS_OUTPUT || call.outfile == CASE_INPUT))
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
        if (call.infile == CASE_INPUT || call.outfile == CASE_INPUT) {
            folder.emplace(box);
            if (!folder->why.empty()) {
                left_out(call.requirement, std::string(call.why) + ": " + folder->why);
                continue;
            }
            if (call.infile == CASE_INPUT)
                box.write(folder->input, INPUT);
        }
        if (call.infile == UNREADABLE_INPUT)
            make_unreadable(box, "in.hex");
        if (call.outfile == OTHERS_OUTPUT
            && !give_to_another_user(box, "out.s19", call.requirement, call.why))
            continue;
        auto named = [&loop, &folder](const std::string& name) {
            return name == LOOP               ? loop->path()
                   : name == NODE             ? "node"
                   : name == CASE_INPUT       ? folder->input
                   : name == CASE_VARIANT     ? folder->variant
                   : name == UNREADABLE_INPUT ? "in.hex"
                   : name == OTHERS_OUTPUT    ? "out.s19"
                                              : name;
        };
        const std::string console = named(call.stdout_path);
        Outcome run =
            box.run({named(call.infile), named(call.outfile)}, "", "", call.opening + console);
        std::filesystem::permissions(box.file("in.hex"), std::filesystem::perms::owner_read,
                                     std::filesystem::perm_options::add);
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
        OUTPUT_OF_ANOTHER_USER,
        NAMES_OUTSIDE_THE_ANSI_CODE_PAGE,
        ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE,
        READ_ONLY_INPUT,
        SAME_INODE_ON_ANOTHER_FILE_SYSTEM
    };
    for (Setup setup : {OUTPUT_OF_ANOTHER_USER, NAMES_OUTSIDE_THE_ANSI_CODE_PAGE,
                        ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE, READ_ONLY_INPUT,
                        SAME_INODE_ON_ANOTHER_FILE_SYSTEM}) {
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
        if (setup == OUTPUT_OF_ANOTHER_USER) {
            if (windows())
                continue; // no leases, and files are shared as they are opened
            box.write(in, INPUT);
            if (!give_to_another_user(box, out, "REQ-054", "an output of another user's"))
                continue;
        } else if (setup == ANOTHER_NAME_WHERE_NAMES_ARE_CASE_INSENSITIVE) {
            folder.emplace(box);
            if (!folder->why.empty()) {
                left_out("REQ-054", "a case-insensitive folder: " + folder->why);
                continue;
            }
            in = folder->input;
            out = in.substr(0, in.size() - 6) + "in.s19"; // as long as in.hex, and as alike
            box.write(in, INPUT);
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

// What an existing outfile holds decides: any text, or the S-records of an
// earlier run, is replaced whole; Intel HEX is an input, named as the
// output because the arguments were given the wrong way round, and is
// refused and kept as it was.
TEST(Safety, ExistingOutputIsReplacedUnlessItHoldsIntelHex)
{
    verifies("REQ-006 REQ-008 REQ-042");
    const std::string CONVERTED = S0_LINE + "S106003002337A1A\nS9030000FC\n";
    struct Call {
        const char* why;
        std::string input, output; // what fw.s19 and fw.hex hold before the run
        bool readable = true;      // whether fw.hex may be read, and so looked into
    };
    const Call calls[] = {
        {"text of any length", INPUT, std::string(5000, 'x')},
        {"the S-records of an earlier, longer run", INPUT, CONVERTED + CONVERTED},
        {"Intel HEX that may be written but not read", INPUT, INPUT, false},
        {"Intel HEX: the arguments swapped", CONVERTED, INPUT},
        {"Intel HEX after blank lines, its mark with bit 7 set", CONVERTED,
         " \t\r\n\n\xBA" + INPUT.substr(1)},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.why);
        if (!call.readable && windows())
            continue; // mode bits are POSIX's
        Sandbox box;
        box.write("fw.s19", call.input);
        box.write("fw.hex", call.output);
        if (!call.readable)
            make_unreadable(box, "fw.hex");
        Outcome run = box.run({"fw.s19", "fw.hex"}, "");
        std::filesystem::permissions(box.file("fw.hex"), std::filesystem::perms::owner_read,
                                     std::filesystem::perm_options::add);
        run.output = box.read_text("fw.hex");
        EXPECT_EQ(box.read("fw.s19"), call.input);
        if (call.input == INPUT) {
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.console, BANNER + "File successfully converted\n");
            EXPECT_EQ(run.output, CONVERTED);
            continue;
        }
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.console, BANNER + "Error -- S-record file is an Intel hex file\n");
        EXPECT_EQ(box.read("fw.hex"), call.output);
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
