// The built program, end to end: argument rules, reports, output bytes, and
// every way a conversion can fail, including a full medium.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
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
        EXPECT_FALSE(fs::exists(at("b.fit"))) << "no conversion is attempted";
    }
}

// A file-size limit equal to the output's size is no failure, and an output
// named -h is just a path.
TEST_F(Torvan, ConvertsAndReportsWholeBlocks)
{
    const struct { int32_t width, height; std::string out; rlim_t limit; uint64_t outSize; } cases[] = {
        {1, 1, "out.fit", RLIM_INFINITY, 5760},
        {1, 1, "out.fit", 5760, 5760},
        {1, 1, "-h", RLIM_INFINITY, 5760},
        {40, 36, "out.fit", RLIM_INFINITY, 5760},
        {1441, 1, "out.fit", RLIM_INFINITY, 8640},
        {720, 576, "out.fit", RLIM_INFINITY, 289 * 2880},
        {768, 576, "out.fit", RLIM_INFINITY, 309 * 2880},
    };
    for (const auto& c : cases) {
        writeFile(at("in.kvr"), picture(c.width, c.height));
        RunResult result = run({"in.kvr", c.out}, c.limit);
        EXPECT_EQ(result.output, BANNER + report("in.kvr", c.out, c.width, c.height, c.outSize));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(fs::file_size(at(c.out)), c.outSize) << c.width << " x " << c.height;
    }
}

TEST_F(Torvan, OutputIsByteExact)
{
    t_kvr_header header = validKvrHeader(3, 1);
    header.year = -1999; header.month = 2; header.day = 31;
    header.hour = 0; header.minute = 5; header.second = 59; header.ssecond = 7;
    writeFile(at("in.kvr"), kvrBytes(header, {0x1234, 0xFFFF, 0x000F}));
    ASSERT_EQ(run({"in.kvr", "o.fit"}).status, 0);

    auto card = [](const std::string& text) { return text + std::string(80 - text.size(), ' '); };
    std::string expected =
        card("SIMPLE  =                    T") + card("BITPIX  =                   16") +
        card("NAXIS   =                    2") + card("NAXIS1  =                    3") +
        card("NAXIS2  =                    1") + card("DATE-OBS='31/02/-9-9'") +
        card("TIME    ='00:05:59.007'") +
        card("COMMENT Soubor vytvoren z predlohy `in.kvr' ve formatu KVR programem `TORVAN'") +
        card("END") + std::string(27 * 80, ' ') + std::string("\x01\x23\x0F\xFF\x00\x00", 6) +
        std::string(2874, '\0');
    EXPECT_EQ(readFile(at("o.fit")), expected);
}

static std::string openFailed(const std::string& path) { return "* Soubor `" + path + "' se nepodarilo otevrit!\n"; }
static std::string readFailed(const std::string& path) { return "* Nelze cist ze souboru `" + path + "'!\n"; }
static std::string formatFailed(const std::string& path) { return "* Format souboru `" + path + "' neodpovida definici KVR!\n"; }
static std::string writeFailed(const std::string& path) { return "* Nelze zapisovat do `" + path + "'!"; }
static std::string sameFailed(const std::string& path) { return "* Vystupni soubor `" + path + "' je totozny se vstupnim!\n"; }

static const std::string MISSING = "(no file)", FOLDER = "(a folder)", HEADER = picture(1, 1).substr(0, 88);
static t_kvr_header month13() { t_kvr_header h = validKvrHeader(1, 1); h.month = 13; return h; }

// The input is always in.kvr. What stands at the output path beforehand:
// nothing, an older file (both must be gone afterwards), or a folder, a
// device, a link to the input or the input itself (all must stay).
static const struct FailureCase {
    const char* name;
    std::string input;
    std::string out, outBefore, message;
    rlim_t limit;
} failureCases[] = {
    {"missing input", MISSING, "out.fit", "file", openFailed("in.kvr"), RLIM_INFINITY},
    {"output in a missing folder", picture(2, 2), "no/out.fit", "", openFailed("no/out.fit"), RLIM_INFINITY},
    {"output is a folder", picture(2, 2), "sub", "folder", openFailed("sub"), RLIM_INFINITY},
    {"empty input", "", "out.fit", "", readFailed("in.kvr"), RLIM_INFINITY},
    {"87-byte input", HEADER.substr(0, 87), "out.fit", "", readFailed("in.kvr"), RLIM_INFINITY},
    {"input is a folder", FOLDER, "out.fit", "", readFailed("in.kvr"), RLIM_INFINITY},
    {"header only", HEADER, "out.fit", "", formatFailed("in.kvr"), RLIM_INFINITY},
    {"one sample too few", picture(3, 3).substr(0, 88 + 16), "out.fit", "", formatFailed("in.kvr"), RLIM_INFINITY},
    {"one sample too many", picture(3, 3) + "ab", "out.fit", "", formatFailed("in.kvr"), RLIM_INFINITY},
    {"one byte too many", picture(3, 3) + "a", "out.fit", "", formatFailed("in.kvr"), RLIM_INFINITY},
    {"month 13", kvrBytes(month13(), {0}), "out.fit", "", formatFailed("in.kvr"), RLIM_INFINITY},
    {"byte count wrapping 32 bits", kvrBytes(validKvrHeader(65536, 32768), {}), "out.fit", "",
     formatFailed("in.kvr"), RLIM_INFINITY},
    {"output is the input", picture(2, 2), "in.kvr", "input", sameFailed("in.kvr"), RLIM_INFINITY},
    {"output is the input by ./", picture(2, 2), "./in.kvr", "input", sameFailed("./in.kvr"), RLIM_INFINITY},
    {"output is a hard link", picture(2, 2), "hard.fit", "hard link", sameFailed("hard.fit"), RLIM_INFINITY},
    {"output is a symbolic link", picture(2, 2), "soft.fit", "symbolic link", sameFailed("soft.fit"), RLIM_INFINITY},
    {"device output, invalid input", HEADER, "null.dev", "device", formatFailed("in.kvr"), RLIM_INFINITY},
    {"device output, missing input", MISSING, "null.dev", "device", openFailed("in.kvr"), RLIM_INFINITY},
    {"medium full in the header cards", picture(100, 100), "out.fit", "", writeFailed("out.fit"), 1000},
    {"medium full in the data", picture(100, 100), "out.fit", "", writeFailed("out.fit"), 2880 + 5000},
    {"medium full for the last bytes", picture(1, 1), "out.fit", "", writeFailed("out.fit"), 5759},
};

static void prepare(const std::string& dir, const FailureCase& c)
{
    const std::string inp = dir + "/in.kvr", out = dir + "/" + c.out;
    if (c.input == FOLDER)
        fs::create_directory(inp);
    else if (c.input != MISSING)
        writeFile(inp, c.input);
    if (c.outBefore == "file")
        writeFile(out, "an older file");
    else if (c.outBefore == "folder")
        fs::create_directory(out);
    else if (c.outBefore == "device")
        makeNullDevice(out);
    else if (c.outBefore == "hard link")
        fs::create_hard_link(inp, out);
    else if (c.outBefore == "symbolic link")
        fs::create_symlink("in.kvr", out);
}

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
        prepare(dir, c);
        const auto before = regularFiles(dir);
        const fs::file_type outType = fs::symlink_status(at(c.out)).type();
        const bool outputStays = !c.outBefore.empty() && c.outBefore != "file";

        RunResult result = run({"in.kvr", c.out}, c.limit);

        EXPECT_EQ(result.output, BANNER + c.message + FAILED);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(fs::symlink_status(at(c.out)).type(), outputStays ? outType : fs::file_type::not_found);
        for (const auto& [name, content] : before)
            if (name != fs::path(c.out).filename() || outputStays) {
                EXPECT_EQ(readFile(at(name)), content) << name << " changed";
            }
    }
}

// Seconds of work: registered under its own label so that a quick run can
// leave it out. A sparse picture over 2 GiB goes into a null device made for
// the test, costing no disk space; the report gives the true 64-bit sizes.
using TorvanSlow = Torvan;

TEST_F(TorvanSlow, SparsePictureOverTwoGibibytes)
{
    writeFile(at("big.kvr"), kvrBytes(validKvrHeader(32768, 32768), {}));
    fs::resize_file(at("big.kvr"), 88 + 2ull * 32768 * 32768);
    makeNullDevice(at("null.dev"));

    RunResult result = run({"big.kvr", "null.dev"});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, BANNER + report("big.kvr", "null.dev", 32768, 32768, 2147489280));
}
