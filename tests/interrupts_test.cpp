// Runs disturbed while they write: signals, a kill, the input changed, the output's folder
// renamed, a raw picture put in the output's place, standard streams closed.
#include "support.h"

#ifdef __linux__
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

// What a run has written so far, to any file.
static uint64_t written(long pid)
{
    std::string rchar, wchar;
    uint64_t read = 0, bytes = 0;
    std::ifstream("/proc/" + std::to_string(pid) + "/io") >> rchar >> read >> wchar >> bytes;
    return bytes;
}

// Disturbs a run once more than the header is written or, after HELD_AT_EXIT, once its output is in
// place; a run that ended or replaced the older output first is retried, larger.
static Outcome disturbed(const char* out, int32_t& side, const std::string& before,
                         const std::function<void(long)>& disturb)
{
    const bool late = before.rfind(HELD_AT_EXIT, 0) == 0;
    for (;; side *= 2) {
        const uint64_t size = 2880 * (2 + (2ull * side * side - 1) / 2880);
        writeSparsePicture("in.kvr", side, side);
        if (fs::is_regular_file(out))
            writeFile(out, OLDER);
        const Outcome outcome = run(PROGRAM, "in.kvr " + std::string(out), before, [&](long pid) {
            for (int waited = 0; waited < 10000 && (late ? !fs::is_regular_file(out) ||
                                 fs::file_size(out) != size : written(pid) <= 2880);
                 waited++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            disturb(pid);
        });
        char card[30] = "";   // a new picture's first card, up to its value
        std::ifstream(out, std::ios::binary).read(card, sizeof card);
        const bool replaced =
            std::string(card, sizeof card) == "SIMPLE  =" + std::string(20, ' ') + "T";
        if (late || (!replaced && (outcome.status != 0 || !fs::exists(out))) || side >= 16384)
            return outcome;
    }
}

// Signals and changes to the input or to the output's name while a run writes its picture.
TEST_F(InTempDir, DisturbedRuns)
{
    enum Disturbance { SIGNAL, RAW_AT_OUTPUT, RESIZED, REWRITTEN };   // by a signal or bytes
    const struct { const char* what; Disturbance disturbance; int by; std::string before;
                   int status; } cases[] = {
        {"a raw picture moved to the output's name before the rename", RAW_AT_OUTPUT, 0, "", 1},
        {"SIGINT", SIGNAL, SIGINT, "", 130}, {"SIGTERM", SIGNAL, SIGTERM, "", 143},
        {"SIGHUP", SIGNAL, SIGHUP, "", 129}, {"SIGQUIT", SIGNAL, SIGQUIT, "", 131},
        {"SIGPIPE", SIGNAL, SIGPIPE, "", 141},
        {"SIGTERM after the rename", SIGNAL, SIGTERM, HELD_AT_EXIT, 143},
        {"SIGKILL: nothing named is left", SIGNAL, SIGKILL, "", 137},
        {"SIGINT ignored from the start", SIGNAL, SIGINT, HELD_AT_EXIT + "trap '' INT; ", 0},
        {"SIGTERM to a run writing a named temporary file", SIGNAL, SIGTERM,
         WITHOUT_UNNAMED_FILES, 143},
        {"input cut by 2 bytes", RESIZED, -2, "", 1}, {"input grown by 1 byte", RESIZED, 1, "", 1},
        {"input grown by 2 bytes", RESIZED, 2, "", 1},
        {"input rewritten in place, its modification time put back", REWRITTEN, 0, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t side = 2048;
        writeFile("out.fit", OLDER);
        const Outcome outcome = disturbed("out.fit", side, c.before, [&c](long pid) {
            if (c.disturbance == SIGNAL) {
                kill(pid, c.by);
            } else if (c.disturbance == RAW_AT_OUTPUT) {
                writeFile("f.kvr", ONE);
                fs::rename("f.kvr", "out.fit");
            } else if (c.disturbance == RESIZED) {
                fs::resize_file("in.kvr", fs::file_size("in.kvr") + c.by);
            } else {
                const auto modified = fs::last_write_time("in.kvr");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::fstream("in.kvr", std::ios::in | std::ios::out).seekp(100).put('x');
                fs::last_write_time("in.kvr", modified);
            }
        });
        EXPECT_EQ(outcome.status, c.status);
        expectNoLeftovers();
        if (c.disturbance == RAW_AT_OUTPUT) {
            EXPECT_EQ(outcome.output, BANNER + failed(PICTURE, "out.fit") + FAILED);
            EXPECT_EQ(readFile("out.fit"), ONE);
        } else if (c.disturbance != SIGNAL) {
            EXPECT_EQ(outcome.output, BANNER + "* Nelze cist ze souboru `in.kvr'!\n" + FAILED);
        } else if (c.before.rfind(HELD_AT_EXIT, 0) != 0) {
            EXPECT_EQ(readFile("out.fit"), OLDER) << "the older output";
        } else {   // too late to stop it: the new picture stays, whole
            EXPECT_EQ(fs::file_size("out.fit"), 2880 * (2 + (2ull * side * side - 1) / 2880));
        }
        EXPECT_TRUE(c.disturbance != SIGNAL || fs::file_size("in.kvr") == 88 + 2ull * side * side)
            << "input";
    }
    // The output's folder renamed and a new one made while the run is stopped: the picture
    // lands in the folder the run opened, and nothing in the new one.
    fs::create_directory("d");
    writeFile("d/out.fit", OLDER);
    int32_t side = 2048;
    const Outcome moved = disturbed("d/out.fit", side, "", [](long pid) {
        kill(pid, SIGSTOP);
        std::error_code renamed, made;   // no exception: the run must go on
        if (readFile("d/out.fit") == OLDER) {
            fs::rename("d", "d.old", renamed);
            EXPECT_TRUE(!renamed && fs::create_directory("d", made)) << renamed << made;
        }
        kill(pid, SIGCONT);
    });
    EXPECT_EQ(moved.status, 0);
    EXPECT_EQ(fs::file_size("d.old/out.fit"), 2880 * (2 + (2ull * side * side - 1) / 2880));
    EXPECT_TRUE(fs::is_empty("d"));
    expectNoLeftovers("d.old");
    // Standard streams closed: the null device takes their numbers, not the input (which a link
    // to /proc/self/fd/1 would then lead to).
    side = 8192;
    EXPECT_EQ(disturbed("c.fit <&- >&- 2>&-", side, "", [](long pid) {
        std::error_code gone;
        for (const char* fd : {"/0", "/1", "/2"})
            EXPECT_TRUE(fs::is_character_file("/proc/" + std::to_string(pid) + "/fd" + fd, gone));
    }).status, 0);
}

// Made append-only while the run is stopped: the rename is refused, which says the open message.
TEST_F(InTempDir, RenameRefusedAfterTheWork)
{
    if (!isRoot())
        GTEST_SKIP() << "chattr: as root only";
    int32_t side = 2048;
    writeFile("out.fit", OLDER);
    const Outcome outcome = disturbed("out.fit", side, "", [](long pid) {
        kill(pid, SIGSTOP);   // so that it cannot rename first
        EXPECT_EQ(readFile("out.fit") != OLDER || !std::system("chattr +a out.fit"), 1);
        kill(pid, SIGCONT);
    });
    EXPECT_EQ(outcome.output, BANNER + failed(OPEN, "out.fit") + FAILED);
    EXPECT_EQ(readFile("out.fit"), OLDER);
    EXPECT_EQ(std::system("chattr -a out.fit"), 0);
    expectNoLeftovers();
}
// kvr2fits gives a new output its name by the one call that refuses to replace: a link put at
// the name while it works stays, and what it leads to is untouched; a kill at that call leaves
// nothing.
TEST_F(InTempDir, NightDisturbedAtItsCommit)
{
    fs::create_directories("n"), fs::create_directory("out"), writeFile("victim", "secret");
    writeSparsePicture("n/a.kvr", 16384, 4096);
    const Outcome planted = run(KVR2FITS, "-q n out 2>&1", "", [](long pid) {
        for (int waited = 0; waited < 10000 && written(pid) <= 2880; waited++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, SIGSTOP);
        std::error_code made;
        fs::create_symlink("../victim", "out/a.fit", made);
        EXPECT_FALSE(made) << "planted before the commit";
        kill(pid, SIGCONT);
    });
    EXPECT_EQ(planted.output, "n/a.kvr: vystup `out/a.fit' existuje a neni prevodem tohoto "
              "snimku (-f jej nahradi)\nprevedeno 0, preskoceno 0, selhalo 1, celkem 1\n");
    EXPECT_TRUE(fs::is_symlink("out/a.fit") && readFile("victim") == "secret");
    // Killed at the link, nothing is left; there is no rename to be killed at.
    for (const auto& [call, status] : {std::pair{"linkat", 128 + SIGKILL}, {"renameat,renameat2", 0}}) {
        fs::remove("out/a.fit");
        EXPECT_EQ(run(KVR2FITS, "-q n out", "exec env ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o "
                            "/dev/null -e inject=" + std::string(call) + ":signal=KILL sh -c "
                            "'\"$@\"' sh ").status, status) << call;
        fs::current_path("out");
        EXPECT_EQ(listing(), std::vector<std::string>(status == 0, "a.fit")) << call;
        fs::current_path("..");
    }
}
#else
TEST_F(InTempDir, DisturbedRuns)
{
    GTEST_SKIP() << "signals and /proc: Linux only; on Windows, KilledRunLeavesNothing";
}
#endif
