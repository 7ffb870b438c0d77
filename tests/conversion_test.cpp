// Conversions that succeed: every byte of the FITS file, the report, and where the file lands.
#include "conversions.h"

// Each conversion runs in an empty folder of its own.
void expectConversions(std::initializer_list<Conversion> rows)
{
    int row = 0;
    for (const Conversion& c : rows) {
        const fs::path folder = std::to_string(++row), parent = fs::u8path(c.out).parent_path();
        const std::array<int32_t, 7>& t = c.taken;
        fs::create_directory(folder);
        fs::current_path(folder);
        if (!parent.empty())
            fs::create_directories(parent);
        writeFile(c.inp, patched(picture(c.width, c.height), {{DAY, t[0]}, {MONTH, t[1]},
                  {YEAR, t[2]}, {HOUR, t[3]}, {MINUTE, t[4]}, {SECOND, t[5]}, {MILLI, t[6]}}));
        const auto when = [&t](const char* form) {   // the capture time in a form of the programs'
            char text[80];
            snprintf(text, sizeof text, form, t[0], t[1], t[2], t[3], t[4], t[5], t[6]);
            return std::string(text);
        };
        SCOPED_TRACE(c.before + c.inp + " " + c.out + " " + c.options + c.after + ", " + c.time);
        const Outcome outcome = run(PROGRAM, "\"" + c.inp + "\" \"" + c.out + "\" " + c.options + c.after,
                                      c.before);
        const std::string expected =
            fits(c.width, c.height, c.date, c.time, c.card.empty() ? c.inp : c.card);
        const std::string name = c.shown.empty() ? c.inp : c.shown;
        EXPECT_EQ(outcome.output, report(name, c.out, c.width, c.height, expected.size(),
                                     when("%d.%d.%d; %d:%d:%d.%d")));
        std::string pictures;
        for (int i = 0; i < c.pictures; i++)
            pictures += expected;
        EXPECT_TRUE(readFile(c.result.empty() ? c.out : c.result) == pictures);
        EXPECT_EQ(c.check.empty() ? 0 : std::system(c.check.c_str()), 0);
        expectNoLeftovers(parent.empty() ? "." : parent.u8string());
        expectKvrinfo(c.inp, name + ": OK " + std::to_string(c.width) + " x " +
                      std::to_string(c.height) + ", " + when("%02d.%02d.%04d %02d:%02d:%02d.%03d") +
                      c.note);
        if (c.out == LONG_PATH)   // short enough then for the C++ library to remove, on Windows too
            fs::rename(LONG_FOLDER.substr(0, 100), "d");
        fs::current_path("..");
    }
}


TEST_F(InTempDir, ConvertsIntoWholeBlocksAndCards)
{
    expectConversions({
        Conversion().size(768, 576),    // 307.2 data blocks: the last one topped up
        Conversion().size(720, 576),    // exactly 288 data blocks
        Conversion().size(1441, 1),     // one sample past a block: a second block of zeros
        Conversion().size(40, 36),      // exactly one data block
        Conversion().size(1, 1),        // one sample and 2878 zero bytes
        Conversion().size(1000000, 1),  // a width of seven places still ends in column 30
        // Every time field at its greatest, at its least, and in between.
        Conversion().size(10, 3).at({31, 12, 1999, 23, 59, 59, 999}, "31/12/99", "23:59:59.999"),
        Conversion().at({1, 1, 2050, 20, 0, 0, 0}, "01/01/50", "20:00:00.000"),
        Conversion().at({19, 9, 2090, 9, 10, 43, 100}, "19/09/90", "09:10:43.100"),
        // A negative year's places come out negative; each byte of the year reaches them.
        Conversion().at({31, 2, -1999, 0, 21, 4, 7}, "31/02/-9-9", "00:21:04.007")
            .noted("; pozor: den 31.02.-1999 neexistuje"),   // as ever; kvr2fits refuses it
        Conversion().at({9, 10, -2004, 11, 21, 4, 50}, "09/10/0-4", "11:21:04.050"),
        Conversion().at({9, 10, 0x04030201, 11, 21, 4, 50}, "09/10/85", "11:21:04.050"),
        // -i: the full year, four places from 0 to 9999, else signed and five.
        Conversion().iso("0000-02-01T03:04:05.006", {1, 2, 0, 3, 4, 5, 6}),
        Conversion().iso("9999-12-31T23:59:59.999", {31, 12, 9999, 23, 59, 59, 999}),
        Conversion().iso("+10000-10-09T11:21:04.050", {9, 10, 10000, 11, 21, 4, 50}),
        Conversion().iso("-00001-10-09T11:21:04.050", {9, 10, -1, 11, 21, 4, 50}),
        Conversion().iso("-02004-10-09T11:21:04.050", {9, 10, -2004, 11, 21, 4, 50}),
    });
}

// A file name, or a path longer than any Windows path was.
TEST_F(InTempDir, OutputLandsWhereItsPathLeads)
{
    expectConversions({
        Conversion().into("-h"),   // a file name: only the arguments after the paths are switches
        Conversion().into(LONG_PATH),   // past the 260 characters of a plain Windows path
    });
}

TEST_F(InTempDir, OutputThroughLinksDescriptorsAndModes)
{
    if (IS_WINDOWS)
        GTEST_SKIP() << "symbolic links, descriptors and umask: POSIX only";
    const std::string standardOutput = "ln -s /proc/self/fd/1 so; ";
    expectConversions({
        // Links, relative from here, absolute and relative from a folder (a shorter path than
        // the one before it), stay links.
        Conversion().first("mkdir s; echo older > s/t; ln -s t s/mid; ln -s $PWD/s/mid s/l; "
                           "ln -s s/l o; ").holding("test -L o -a -L s/l -a -L s/mid"),
        // A hard link elsewhere keeps the older content.
        Conversion().first("echo older > o; ln o snap; ").holding("test $(cat snap) = older"),
        // A new output gets what any new file gets there.
        Conversion().first("umask 002; ").holding("test $(stat -c %a o) = 664"),
        Conversion().first("umask 002; " + WITHOUT_UNNAMED_FILES).holding("test $(stat -c %a o) = 664"),
        // Standard output, through a link of the test's own, written as it is: >> appends.
        Conversion().into("so").first(standardOutput).redirected("2>&1 >x.fit").landing("x.fit")
            .holding("test -L so"),
        Conversion().into("so").first(standardOutput + "exec 3>&1; ")
            .redirected("2>&3 | cat >x.fit").landing("x.fit"),
        Conversion().into("so").first(standardOutput + "{ " + PROGRAM + " a.kvr so; " + PROGRAM +
                                      " a.kvr so; } 2>&- >x.fit; ")
            .redirected("2>&1 >>x.fit").landing("x.fit", 3),
        // Any descriptor the run holds, appended to, never replaced.
        Conversion().into("/dev/fd/3").first(PROGRAM + " a.kvr /dev/fd/3 3>>x.fit >&-; ")
            .redirected("3>>x.fit").landing("x.fit", 2),
        Conversion().first("ulimit -s 256; "),   // nothing large on the stack
    });
}

// A new output gets a folder's default access list as any new file; a replaced one keeps its own
// (its mask wider than the group bits) and its attributes.
TEST_F(InTempDir, OutputThroughAccessLists)
{
    if (IS_WINDOWS || std::system("touch p && setfacl -m u:$(id -u):r p && setfattr -n user.p "
                                  "-v 1 p && rm p && unshare -rm true 2>&-") != 0)
        GTEST_SKIP() << "access lists, attributes or user namespaces (setfacl, setfattr, "
                        "unshare -rm) not to be had here";
    expectConversions({
        Conversion().first("setfacl -d -m u::rwx,g::---,o::---,u:$(id -u):rw- . && touch t; " +
                           WITHOUT_UNNAMED_FILES).holding("getfacl -c o >o.acl; getfacl -c t | cmp -s - o.acl"),
        Conversion().first("echo older > o; setfacl -m u:nobody:r,m::rw o; setfattr -n user.night "
                           "-v 7 o; getfacl -c o >acl; ").holding("getfacl -c o | cmp -s - acl && "
                           "test $(getfattr --only-values -n user.night o) = 7"),
    });
}

// Another user's file replaced: by root, its owner, group, mode and setuid kept, no capability
// carried; by a user who may not give it away, its group kept alone, setuid and setgid dropped.
TEST_F(InTempDir, ReplacedOutputKeepsOwnerAndGroup)
{
    if (!isRoot())
        GTEST_SKIP() << "files of other users and capabilities: as root on POSIX only";
    expectConversions({
        Conversion().first("echo older > o; chown nobody:bin o; chmod 4645 o; setcap cap_kill+ep o; ")
            .holding("test $(stat -c %U:%G:%a o) = nobody:bin:4645 -a -z \"$(getcap o)\""),
        Conversion().first("chmod 777 .; echo older > o; chown nobody:daemon o; chmod 6770 o; " +
                           AS_DAEMON).holding("test $(stat -c %U:%G:%a o) = daemon:daemon:770"),
    });
}

// A sparse picture over 2 GiB converts with its true sizes into a drained FIFO (or NUL).
using Slow = InTempDir;
TEST_F(Slow, SparsePictureOverTwoGibibytes)
{
    const std::string out = IS_WINDOWS ? "NUL" : "out.fifo";
    writeSparsePicture("big.kvr", 32768, 32768);
    // The reader has a time limit: a run that never opens the FIFO must not leave it behind.
    const Outcome outcome =
        run(PROGRAM, "big.kvr " + out, "mkfifo out.fifo; timeout 300 cat out.fifo >/dev/null & ");
    EXPECT_EQ(outcome.output, report("big.kvr", out, 32768, 32768, 2147489280,
                                 "9.10.2004; 11:21:4.50"));
    EXPECT_TRUE(IS_WINDOWS || fs::is_fifo(out)) << "a FIFO is written, never replaced";
}

