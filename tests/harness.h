// Running the built program through the shell, as a user or a script would,
// each test in an empty temporary folder of its own.
#ifndef TORVAN_HARNESS_H
#define TORVAN_HARNESS_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kvr_encode.h"

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool IS_WINDOWS = true;
#else
constexpr bool IS_WINDOWS = false;
#endif

struct Outcome {
    std::string output;
    int status;   // as the shell reports it: 128 + the signal that ended a run
};

extern const std::string PROGRAM;   // the program's path, quoted for the shell
extern const char BANNER[];
extern const char FAILED[];

// before: shell text ahead of the program, such as a limit (POSIX only).
Outcome runTorvan(const std::string& args, const std::string& before = "");
std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& bytes);
bool makeNullDevice(const char* path);   // refused to users other than root

// Offsets of the header's 32-bit fields, and values to put there.
enum Field { VERSION = 3, ENGINE = 8, WIDTH = 52, HEIGHT = 56, YEAR = 60, MONTH = 64, DAY = 68,
             HOUR = 72, MINUTE = 76, SECOND = 80, MILLI = 84 };
using Fields = std::vector<std::pair<int, int32_t>>;
std::string patched(std::string bytes, const Fields& fields);
// A valid header, then width x height samples that use all 16 bits, or
// samples of 0 that take no disk space.
std::string picture(int32_t width, int32_t height);
void writeSparsePicture(const fs::path& path, int32_t width, int32_t height);

class InTempDir : public ::testing::Test {
protected:
    fs::path home, dir;
    void SetUp() override;
    void TearDown() override;
};

#endif
