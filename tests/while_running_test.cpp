// Conversions disturbed while they run, once more than the header is out: an
// interrupt deletes the partial output (a device stays) and the run ends by its
// signal, so that the shell sees it; an input that changes is a read failure.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "harness.h"

// What a process has written so far, to whatever output.
static uint64_t bytesWritten(long pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value && key != "wchar:")
        value = 0;
    return value;
}

// Converts a sparse picture into out and disturbs the run. A run that ends
// before it is disturbed proves nothing: it is retried with a larger picture.
static Outcome disturbed(const char* out, int32_t side, const std::function<void(long)>& disturb,
                         std::string* input = nullptr)
{
    for (;; side *= 2) {
        writeSparsePicture("in.kvr", side, side);
        if (input != nullptr)
            *input = readFile("in.kvr");
        FILE* shell = popen(("echo $$; exec " + PROGRAM + " in.kvr " + out).c_str(), "r");
        char line[32] = "";
        EXPECT_TRUE(fgets(line, sizeof line, shell) != nullptr);
        const long pid = atol(line);
        Outcome run = {"", 0};
        for (int waited = 0; bytesWritten(pid) <= 2880 && waited < 10000; waited++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        disturb(pid);
        for (int c; (c = fgetc(shell)) != EOF;)
            run.output += (char)c;
        const int status = pclose(shell);
        run.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        if (run.status != 0 || side >= 16384)
            return run;
    }
}

TEST_F(InTempDir, InterruptDeletesThePartialOutput)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        std::string input;
        EXPECT_EQ(disturbed("out.fit", 2048, [sig](long pid) { kill(pid, sig); }, &input).status,
                  128 + sig);
        EXPECT_FALSE(fs::exists("out.fit")) << "signal " << sig;
        EXPECT_TRUE(readFile("in.kvr") == input) << "signal " << sig;
    }
}

TEST_F(InTempDir, InterruptLeavesADevice)
{
    if (!makeNullDevice("null.dev"))
        GTEST_SKIP() << "making a device node is not permitted here: run as root for this test";
    EXPECT_EQ(disturbed("null.dev", 32768, [](long pid) { kill(pid, SIGTERM); }).status,
              128 + SIGTERM);
    EXPECT_EQ(fs::status("null.dev").type(), fs::file_type::character);
}

// Short by a sample, one byte or one sample more.
TEST_F(InTempDir, InputChangedDuringTheRunIsAReadFailure)
{
    for (int change : {-2, 1, 2}) {
        const Outcome run = disturbed("out.fit", 2048, [change](long) {
            fs::resize_file("in.kvr", fs::file_size("in.kvr") + change);
        });
        EXPECT_EQ(run.output, BANNER + std::string("* Nelze cist ze souboru `in.kvr'!\n") + FAILED);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(fs::exists("out.fit")) << "changed by " << change;
    }
}
