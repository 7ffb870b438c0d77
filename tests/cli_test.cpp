// The built program, end to end: argument rules, reports, output bytes, and
// every way a conversion can fail, including a full medium.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "kvr_encode.h"
#include "run_torvan.h"

namespace fs = std::filesystem;

static const std::string HELP =
    "Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n"
    "  <input.kvr>: vstupni soubor formatu KVR verze 2\n"
    "  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n"
    "  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n"
    "  [-h]: tato napoveda\n\n"
    "Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n";

static std::string picture(int32_t width, int32_t height)
{
    std::vector<uint16_t> samples((size_t)width * height);
    for (size_t i = 0; i < samples.size(); i++)
        samples[i] = (uint16_t)(i * 7919);
    return kvrBytes(validKvrHeader(width, height), samples);
}

static std::string report(const std::string& inp, const std::string& out, int32_t width,
                          int32_t height, uint64_t outSize)
{
    return "`" + inp + "' (" + std::to_string(88 + 2ull * width * height) + " B) -> `" + out +
           "' (" + std::to_string(outSize) + " B)\nVerze KVR: 2\nKomprese KVR: NE\n"
           "Rozmery (S x V): " + std::to_string(width) + " x " + std::to_string(height) +
           "\nCas porizeni: 9.10.2004; 11:21:4.50\n";
}

static void makeNullDevice(const std::string& path)
{
    ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0) << "tests run as root";
}

class Torvan : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override { dir = makeTempDir(); ASSERT_FALSE(dir.empty()); }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const std::string& name) const { return dir + "/" + name; }
    RunResult run(const std::vector<std::string>& args, rlim_t limit = RLIM_INFINITY)
    {
        return runTorvan(args, dir, limit);
    }
};

TEST_F(Torvan, ArgumentRules)
{
    const struct { std::vector<std::string> args; std::string output; int status; } cases[] = {
        {{}, "* Nedostatecny pocet argumentu!\n\n" + HELP, 1},
        {{"-h"}, "* Nedostatecny pocet argumentu!\n\n" + HELP, 1},
        {{"a.kvr"}, "* Nedostatecny pocet argumentu!\n\n" + HELP, 1},
        {{"a.kvr", "b.fit", "-h"}, HELP, 0},
        {{"a.kvr", "b.fit", "-h", "-h"}, HELP, 0},
        {{"a.kvr", "b.fit", "-h", "-x"}, "* Neznamy argument `-x'!\n\n" + HELP, 1},
        {{"a.kvr", "b.fit", "-H"}, "* Neznamy argument `-H'!\n\n" + HELP, 1},
        {{"a.kvr", "b.fit", "-x", "-h"}, "* Neznamy argument `-x'!\n\n" + HELP, 1},
    };
    writeFile(at("a.kvr"), picture(2, 2));
    for (const auto& c : cases) {
        RunResult result = run(c.args);
        EXPECT_EQ(result.output, BANNER + c.output) << c.args.size() << " arguments";
        EXPECT_EQ(result.status, c.status);
        EXPECT_FALSE(exists(at("b.fit"))) << "no conversion is attempted";
    }
}

TEST_F(Torvan, ConvertsAndReportsWholeBlocks)
{
    const struct { int32_t width, height; uint64_t outSize; } cases[] = {
        {1, 1, 5760}, {40, 36, 5760}, {1441, 1, 8640}, {720, 576, 289 * 2880}, {768, 576, 309 * 2880},
    };
    for (const auto& c : cases) {
        writeFile(at("in.kvr"), picture(c.width, c.height));
        RunResult result = run({"in.kvr", "out.fit"});
        EXPECT_EQ(result.output, BANNER + report("in.kvr", "out.fit", c.width, c.height, c.outSize));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(fs::file_size(at("out.fit")), c.outSize) << c.width << " x " << c.height;
    }
}

TEST_F(Torvan, OutputIsByteExact)
{
    t_kvr_header header = validKvrHeader(3, 1);
    header.year = 1999; header.month = 2; header.day = 31;
    header.hour = 0; header.minute = 5; header.second = 59; header.ssecond = 7;
    writeFile(at("in.kvr"), kvrBytes(header, {0x1234, 0xFFFF, 0x000F}));
    ASSERT_EQ(run({"in.kvr", "o.fit"}).status, 0);

    auto card = [](const std::string& text) { return text + std::string(80 - text.size(), ' '); };
    std::string expected =
        card("SIMPLE  =                    T") + card("BITPIX  =                   16") +
        card("NAXIS   =                    2") + card("NAXIS1  =                    3") +
        card("NAXIS2  =                    1") + card("DATE-OBS='31/02/99'") +
        card("TIME    ='00:05:59.007'") +
        card("COMMENT Soubor vytvoren z predlohy `in.kvr' ve formatu KVR programem `TORVAN'") +
        card("END") + std::string(27 * 80, ' ') + std::string("\x01\x23\x0F\xFF\x00\x00", 6) +
        std::string(2874, '\0');
    EXPECT_EQ(readFile(at("o.fit")), expected);
}

TEST_F(Torvan, OutputNamedDashHIsAPath)
{
    writeFile(at("a.kvr"), picture(1, 1));
    RunResult result = run({"a.kvr", "-h"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, BANNER + report("a.kvr", "-h", 1, 1, 5760));
    EXPECT_EQ(fs::file_size(at("-h")), 5760u);
}

TEST_F(Torvan, FileSizeLimitEqualToTheOutputSucceeds)
{
    writeFile(at("in.kvr"), picture(1, 1));
    RunResult result = run({"in.kvr", "out.fit"}, 5760);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, BANNER + report("in.kvr", "out.fit", 1, 1, 5760));
}

struct FailureCase {
    const char* name;
    std::function<void(const std::string& dir)> setup;
    std::string inp, out;
    std::string message;
    rlim_t limit;
    bool outputStays;
};

static std::string writeFailure(const std::string& out)
{
    return "* Nelze zapisovat do `" + out + "'!";
}

static const std::string SIGNATURE_ONLY = picture(1, 1).substr(0, 88);

static const FailureCase failureCases[] = {
    {"missing input, existing output",
     [](const std::string& d) { writeFile(d + "/out.fit", "an older file"); },
     "missing.kvr", "out.fit", "* Soubor `missing.kvr' se nepodarilo otevrit!\n", RLIM_INFINITY, false},
    {"output in a missing folder", [](const std::string& d) { writeFile(d + "/in.kvr", picture(2, 2)); },
     "in.kvr", "nowhere/out.fit", "* Soubor `nowhere/out.fit' se nepodarilo otevrit!\n", RLIM_INFINITY, false},
    {"output is a folder",
     [](const std::string& d) { writeFile(d + "/in.kvr", picture(2, 2)); fs::create_directory(d + "/sub"); },
     "in.kvr", "sub", "* Soubor `sub' se nepodarilo otevrit!\n", RLIM_INFINITY, true},
    {"empty input", [](const std::string& d) { writeFile(d + "/in.kvr", ""); },
     "in.kvr", "out.fit", "* Nelze cist ze souboru `in.kvr'!\n", RLIM_INFINITY, false},
    {"87-byte input", [](const std::string& d) { writeFile(d + "/in.kvr", SIGNATURE_ONLY.substr(0, 87)); },
     "in.kvr", "out.fit", "* Nelze cist ze souboru `in.kvr'!\n", RLIM_INFINITY, false},
    {"input is a folder", [](const std::string& d) { fs::create_directory(d + "/in.kvr"); },
     "in.kvr", "out.fit", "* Nelze cist ze souboru `in.kvr'!\n", RLIM_INFINITY, false},
    {"header only", [](const std::string& d) { writeFile(d + "/in.kvr", SIGNATURE_ONLY); },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"one sample too few",
     [](const std::string& d) { writeFile(d + "/in.kvr", picture(3, 3).substr(0, 88 + 16)); },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"one sample too many", [](const std::string& d) { writeFile(d + "/in.kvr", picture(3, 3) + "ab"); },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"one byte too many", [](const std::string& d) { writeFile(d + "/in.kvr", picture(3, 3) + "a"); },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"month 13",
     [](const std::string& d) {
         t_kvr_header h = validKvrHeader(1, 1);
         h.month = 13;
         writeFile(d + "/in.kvr", kvrBytes(h, {0}));
     },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"byte count wrapping 32 bits",
     [](const std::string& d) { writeFile(d + "/in.kvr", kvrBytes(validKvrHeader(65536, 32768), {})); },
     "in.kvr", "out.fit", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, false},
    {"output is the input", [](const std::string& d) { writeFile(d + "/in.kvr", picture(2, 2)); },
     "in.kvr", "in.kvr", "* Vystupni soubor `in.kvr' je totozny se vstupnim!\n", RLIM_INFINITY, true},
    {"output is the input by ./", [](const std::string& d) { writeFile(d + "/in.kvr", picture(2, 2)); },
     "in.kvr", "./in.kvr", "* Vystupni soubor `./in.kvr' je totozny se vstupnim!\n", RLIM_INFINITY, true},
    {"output is a hard link to the input",
     [](const std::string& d) {
         writeFile(d + "/in.kvr", picture(2, 2));
         fs::create_hard_link(d + "/in.kvr", d + "/hard.fit");
     },
     "in.kvr", "hard.fit", "* Vystupni soubor `hard.fit' je totozny se vstupnim!\n", RLIM_INFINITY, true},
    {"output is a symbolic link to the input",
     [](const std::string& d) {
         writeFile(d + "/in.kvr", picture(2, 2));
         fs::create_symlink("in.kvr", d + "/soft.fit");
     },
     "in.kvr", "soft.fit", "* Vystupni soubor `soft.fit' je totozny se vstupnim!\n", RLIM_INFINITY, true},
    {"device output, invalid input",
     [](const std::string& d) { writeFile(d + "/in.kvr", SIGNATURE_ONLY); makeNullDevice(d + "/null.dev"); },
     "in.kvr", "null.dev", "* Format souboru `in.kvr' neodpovida definici KVR!\n", RLIM_INFINITY, true},
    {"device output, missing input", [](const std::string& d) { makeNullDevice(d + "/null.dev"); },
     "missing.kvr", "null.dev", "* Soubor `missing.kvr' se nepodarilo otevrit!\n", RLIM_INFINITY, true},
    {"medium full during the header cards",
     [](const std::string& d) { writeFile(d + "/in.kvr", picture(100, 100)); },
     "in.kvr", "out.fit", writeFailure("out.fit"), 1000, false},
    {"medium full during the data", [](const std::string& d) { writeFile(d + "/in.kvr", picture(100, 100)); },
     "in.kvr", "out.fit", writeFailure("out.fit"), 2880 + 5000, false},
    {"medium full for the last bytes", [](const std::string& d) { writeFile(d + "/in.kvr", picture(1, 1)); },
     "in.kvr", "out.fit", writeFailure("out.fit"), 5759, false},
};

static std::map<std::string, std::string> regularFiles(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[entry.path().filename()] = readFile(entry.path());
    return files;
}

TEST_F(Torvan, FailuresLeaveNoOutputAndTheInputUntouched)
{
    for (const FailureCase& c : failureCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directory(dir);
        c.setup(dir);
        const auto before = regularFiles(dir);
        const fs::file_type outType = fs::symlink_status(at(c.out)).type();

        RunResult result = run({c.inp, c.out}, c.limit);

        EXPECT_EQ(result.output, BANNER + c.message + FAILED);
        EXPECT_EQ(result.status, 1);
        if (c.outputStays)
            EXPECT_EQ(fs::symlink_status(at(c.out)).type(), outType);
        else
            EXPECT_FALSE(exists(at(c.out)));
        for (const auto& [name, content] : before)
            if (name != c.out || c.outputStays) {
                EXPECT_EQ(readFile(at(name)), content) << name << " changed";
            }
    }
}
