// The built program end to end, run through the shell as a user or a script
// would, each test in an empty temporary folder of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#endif
#ifdef TORVAN_CFITSIO
#include <fitsio.h>
#endif

#include "kvr_encode.h"

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool IS_WINDOWS = true;
#else
constexpr bool IS_WINDOWS = false;
#endif

// Made absolute while the working folder is still the build's.
static const std::string PROGRAM =
    TORVAN_EMULATOR "\"" + fs::absolute(TORVAN_PATH).string() + "\"";
static const std::string BANNER =
    "\nTORVAN verze 1.2 (09/10/2004): Konverze KVR obrazku verze 2 do formatu FITS.\n\n";
static const std::string FAILED = "* Konverze se nezdarila!\n";

struct Outcome { std::string output; int status; };   // 128 + a signal that ended the run

// POSIX only: before is shell text ahead of the program, during gets its process number.
static Outcome runTorvan(const std::string& args, const std::string& before = "",
                         const std::function<void(long)>& during = nullptr)
{
#ifdef _WIN32
    // cmd.exe drops the outermost quotes; text mode turns the console's CR LF into LF.
    FILE* pipe = _popen(("\"" + PROGRAM + " " + args + "\"").c_str(), "rt");
    (void)before, (void)during;
#else
    // The shell tells its process number, which the program then takes over.
    FILE* pipe = popen(("echo $$; " + before + "exec " + PROGRAM + " " + args).c_str(), "r");
    char pid[32] = "";
    setvbuf(pipe, nullptr, _IONBF, 0);
    if (fgets(pid, sizeof pid, pipe) != nullptr && during)
        during(atol(pid));
#endif
    Outcome run = {"", -1};
    for (int c; (c = fgetc(pipe)) != EOF;)
        run.output += (char)c;
#ifdef _WIN32
    run.status = _pclose(pipe);
#else
    const int status = pclose(pipe);
    run.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
#endif
    return run;
}

static std::string readFile(const fs::path& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

static void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

enum Field { VERSION = 3, COMPRESSION = 7, ENGINE = 8, SIGNATURE = 12, WIDTH = 52, HEIGHT = 56,
             YEAR = 60, MONTH = 64, DAY = 68, HOUR = 72, MINUTE = 76, SECOND = 80, MILLI = 84 };
using Fields = std::vector<std::pair<int, int32_t>>;

static std::string patched(std::string bytes, const Fields& fields)
{
    for (const auto& [offset, value] : fields)
        encodeInt32((unsigned char*)&bytes[offset], value);
    return bytes;
}

// A valid header, then width x height samples that use all 16 bits.
static std::string picture(int32_t width, int32_t height)
{
    const t_kvr_header header = validKvrHeader(width, height);
    std::string bytes(KVR_HEADER_SIZE, '\0');
    encodeKvrHeader(&header, (unsigned char*)&bytes[0]);
    for (uint32_t i = 0; i < (uint32_t)width * height; i++)
        bytes += {(char)(i * 7919 & 0xFF), (char)(i * 7919 >> 8 & 0xFF)};
    return bytes;
}

static void writeSparsePicture(const fs::path& path, int32_t width, int32_t height)
{
    writeFile(path, patched(picture(1, 1).substr(0, 88), {{WIDTH, width}, {HEIGHT, height}}));
    fs::resize_file(path, KVR_HEADER_SIZE + 2ull * width * height);
}

class InTempDir : public ::testing::Test {
protected:
    fs::path home = fs::current_path();
    fs::path dir = fs::temp_directory_path() / ("torvan-" + std::to_string(std::random_device()()));
    void SetUp() override
    {
        ASSERT_TRUE(fs::create_directory(dir));
        fs::current_path(dir);
    }
    void TearDown() override
    {
        fs::current_path(home);
        fs::remove_all(dir);
    }
};

static const std::string HELP =
    "Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n"
    "  <input.kvr>: vstupni soubor formatu KVR verze 2\n"
    "  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n"
    "  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n"
    "  [-h]: tato napoveda\n\n"
    "Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n";
static const std::string FEW = "* Nedostatecny pocet argumentu!\n\n" + HELP;

// What picture(width, height) read from inp becomes: the cards, then each sample's
// upper 12 bits, high byte first, and zeros up to a whole block.
static std::string fits(int32_t width, int32_t height, const std::string& date,
                        const std::string& time, const std::string& inp)
{
    auto card = [](std::string text) { return text + std::string(80 - text.size(), ' '); };
    auto value = [](std::string v) { return std::string(21 - v.size(), ' ') + v; };
    std::string out = card("SIMPLE  =" + value("T")) + card("BITPIX  =" + value("16")) +
                      card("NAXIS   =" + value("2")) +
                      card("NAXIS1  =" + value(std::to_string(width))) +
                      card("NAXIS2  =" + value(std::to_string(height))) +
                      card("DATE-OBS='" + date + "'") + card("TIME    ='" + time + "'") +
                      card(("COMMENT Soubor vytvoren z predlohy `" + inp +
                            "' ve formatu KVR programem `TORVAN'").substr(0, 80)) +
                      card("END") + std::string(27 * 80, ' ');
    for (uint32_t i = 0; i < (uint32_t)width * height; i++)
        out += {(char)((uint16_t)(i * 7919) >> 12), (char)((uint16_t)(i * 7919) >> 4 & 0xFF)};
    return out + std::string((2880 - out.size() % 2880) % 2880, '\0');
}

static std::string report(const std::string& inp, const std::string& out, int32_t width,
                          int32_t height, uint64_t outSize, const std::string& taken)
{
    return BANNER + "`" + inp + "' (" + std::to_string(88 + 2ull * width * height) + " B) -> `" +
           out + "' (" + std::to_string(outSize) + " B)\nVerze KVR: 2\nKomprese KVR: NE\n" +
           "Rozmery (S x V): " + std::to_string(width) + " x " + std::to_string(height) +
           "\nCas porizeni: " + taken + "\n";
}

TEST_F(InTempDir, ArgumentRules)
{
    const struct { const char* args; std::string output; int status; } cases[] = {
        {"", FEW, 1}, {"-h", FEW, 1}, {"a.kvr", FEW, 1}, {"a.kvr b.fit -h", HELP, 0},
        {"a.kvr b.fit -h -h", HELP, 0},
        {"a.kvr b.fit -h -x", "* Neznamy argument `-x'!\n\n" + HELP, 1},
        {"a.kvr b.fit -x -h", "* Neznamy argument `-x'!\n\n" + HELP, 1},
        {"a.kvr b.fit -H", "* Neznamy argument `-H'!\n\n" + HELP, 1},
        {"a.kvr b.fit -help", "* Neznamy argument `-help'!\n\n" + HELP, 1},
    };
    writeFile("a.kvr", picture(2, 2));
    for (const auto& c : cases) {
        const Outcome run = runTorvan(c.args);
        EXPECT_EQ(run.output, BANNER + c.output) << c.args;
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_FALSE(fs::exists("b.fit")) << c.args;
    }
}

// Each row converts over the row before's larger output; a 9-character path fills card 8.
TEST_F(InTempDir, ConvertsIntoCardsAndWholeBlocks)
{
    const struct Case {
        int32_t width, height;
        const char* out = "out.fit";
        int32_t taken[7] = {9, 10, 2004, 11, 21, 4, 50};   // day, month, year, hour, ...
        const char *inp = "a.kvr", *date = "09/10/04", *time = "11:21:04.050";
    } cases[] = {
        {768, 576}, {720, 576}, {1441, 1}, {40, 36}, {1, 1}, {1, 1, "-h"},
        {10, 3, "o", {31, 12, 1999, 23, 59, 59, 999}, "././a.kvr", "31/12/99", "23:59:59.999"},
        {1000000, 1, "o", {1, 1, 2050, 20, 0, 0, 0}, "./././a.kvr", "01/01/50", "20:00:00.000"},
        {1, 1, "o", {19, 9, 2090, 9, 10, 43, 100}, "a.kvr", "19/09/90", "09:10:43.100"},
        {1, 1, "o", {31, 2, -1999, 0, 21, 4, 7}, "a.kvr", "31/02/-9-9", "00:21:04.007"},
        {1, 1, "o", {9, 10, -2004, 11, 21, 4, 50}, "a.kvr", "09/10/0-4"},
        {1, 1, "o", {9, 10, 0x04030201, 11, 21, 4, 50}, "a.kvr", "09/10/85"},
    };
    for (const Case& c : cases) {
        const int32_t* t = c.taken;
        writeFile("a.kvr", patched(picture(c.width, c.height), {{DAY, t[0]}, {MONTH, t[1]},
                  {YEAR, t[2]}, {HOUR, t[3]}, {MINUTE, t[4]}, {SECOND, t[5]}, {MILLI, t[6]}}));
        const std::string taken = std::to_string(t[0]) + "." + std::to_string(t[1]) + "." +
            std::to_string(t[2]) + "; " + std::to_string(t[3]) + ":" + std::to_string(t[4]) +
            ":" + std::to_string(t[5]) + "." + std::to_string(t[6]);
        const Outcome run = runTorvan(c.inp + std::string(" ") + c.out);
        const std::string expected = fits(c.width, c.height, c.date, c.time, c.inp);
        EXPECT_EQ(run.output, report(c.inp, c.out, c.width, c.height, expected.size(), taken));
        EXPECT_TRUE(readFile(c.out) == expected) << c.width << " x " << c.height << ", " << c.time;
    }
}

static std::string failed(std::string message, const std::string& path)
{
    return message.replace(message.find('@'), 1, path);
}

static const char OPEN[] = "* Soubor `@' se nepodarilo otevrit!\n";
static const char READ[] = "* Nelze cist ze souboru `@'!\n";
static const char WRITE[] = "* Nelze zapisovat do `@'!";
static const char SAME[] = "* Vystupni soubor `@' je totozny se vstupnim!\n";
static const std::string FORMAT =
    failed("* Format souboru `@' neodpovida definici KVR!\n", "in.kvr");
static const std::string MISSING = "(no file)", FOLDER = "(a folder)", ONE = picture(1, 1);
static const std::string HEADER = ONE.substr(0, 88);
enum Before { NOTHING, OLDER_FILE, SUBFOLDER, HARD_LINK, SYMBOLIC_LINK, DEVICE };

// What stands at the output path stays, unless it is a regular file of its own. A
// file-size limit, in 512-byte blocks, makes writes past it fail as on a full medium.
struct Failure {
    std::string input; const char* out; Before before; std::string message; int limit = 0;
};

static const Failure FAILURES[] = {
    {MISSING, "out.fit", OLDER_FILE, failed(OPEN, "in.kvr")},
    {ONE, "no/out.fit", NOTHING, failed(OPEN, "no/out.fit")},
    {MISSING, "no/out.fit", NOTHING, failed(OPEN, "in.kvr")},
    {ONE, "sub", SUBFOLDER, failed(OPEN, "sub")},
    {HEADER.substr(0, 87), "out.fit", NOTHING, failed(READ, "in.kvr")},
    {FOLDER, "out.fit", NOTHING, failed(IS_WINDOWS ? OPEN : READ, "in.kvr")},   // opens on POSIX
    {HEADER, "out.fit", NOTHING, FORMAT}, {picture(3, 3) + "ab", "out.fit", NOTHING, FORMAT},
    {picture(3, 3).substr(0, 104), "out.fit", NOTHING, FORMAT},
    {picture(3, 3) + "a", "out.fit", OLDER_FILE, FORMAT},
    {patched(HEADER, {{WIDTH, 65536}, {HEIGHT, 32768}}), "out.fit", NOTHING, FORMAT},
    {patched(HEADER, {{WIDTH, 0}}), "out.fit", NOTHING, FORMAT},
    {patched(HEADER, {{HEIGHT, 0}}), "out.fit", NOTHING, FORMAT},
    {ONE, "in.kvr", NOTHING, failed(SAME, "in.kvr")},
    {ONE, "./in.kvr", NOTHING, failed(SAME, "./in.kvr")},
    {ONE, "hard.fit", HARD_LINK, failed(SAME, "hard.fit")},
    {ONE, "soft.fit", SYMBOLIC_LINK, failed(SAME, "soft.fit")},
    {picture(100, 100), "out.fit", NOTHING, failed(WRITE, "out.fit"), 2},
    {picture(512, 512), "out.fit", NOTHING, failed(WRITE, "out.fit"), 512},
    {ONE, "out.fit", OLDER_FILE, failed(WRITE, "out.fit"), 10},
};

// Every header rule just broken: one field, its upper bytes too, or one text byte.
static const Fields REJECTED[] = {
    {{VERSION, 1}}, {{VERSION, 3}}, {{ENGINE, 1}}, {{WIDTH, -1}, {HEIGHT, -1}}, {{MONTH, 0}},
    {{MONTH, 13}}, {{DAY, 0}}, {{DAY, 32}}, {{HOUR, -1}}, {{HOUR, 24}}, {{MINUTE, -1}},
    {{MINUTE, 60}}, {{SECOND, -1}}, {{SECOND, 60}}, {{SECOND, INT32_MIN}}, {{MILLI, -1}},
    {{MILLI, 1000}}, {{MONTH, 0x101}}, {{DAY, 0x10001}}, {{HOUR, 0x1000000}},
};
static const std::pair<int, char> REJECTED_BYTES[] = {
    {0, 'k'}, {COMPRESSION, 'N'}, {COMPRESSION, '0'}, {SIGNATURE, 'k'}, {SIGNATURE + 39, '3'},
    {SIGNATURE + 20, '\0'},
};

static void expectFailure(const Failure& c)
{
    SCOPED_TRACE(std::string(c.out) + " after " + c.message);
    fs::remove_all("in.kvr");
    if (c.input == FOLDER)
        fs::create_directory("in.kvr");
    else if (c.input != MISSING)
        writeFile("in.kvr", c.input);
    switch (c.before) {
    case OLDER_FILE: writeFile(c.out, "an older file"); break;
    case SUBFOLDER: fs::create_directory(c.out); break;
    case HARD_LINK: fs::create_hard_link("in.kvr", c.out); break;
    case SYMBOLIC_LINK: fs::create_symlink("in.kvr", c.out); break;
    default: break;
    }
    const std::string input = readFile("in.kvr");
    const fs::file_type outType = fs::symlink_status(c.out).type();
    const bool stays = c.before > OLDER_FILE || fs::path(c.out).filename() == "in.kvr";
    const std::string limit = "ulimit -f " + std::to_string(c.limit) + "; trap '' XFSZ; ";

    const Outcome run = runTorvan("in.kvr " + std::string(c.out), c.limit ? limit : "");

    EXPECT_EQ(run.output, BANNER + c.message + FAILED);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(fs::symlink_status(c.out).type(), stays ? outType : fs::file_type::not_found);
    EXPECT_EQ(readFile("in.kvr"), input);
    if (c.before != DEVICE)
        fs::remove_all(c.out);
}

TEST_F(InTempDir, FailuresLeaveNoOutputAndTheInputUntouched)
{
    for (const Failure& c : FAILURES)
        if (!IS_WINDOWS || (c.limit == 0 && c.before != SYMBOLIC_LINK))
            expectFailure(c);
    for (const Fields& fields : REJECTED)
        expectFailure({patched(ONE, fields), "out.fit", OLDER_FILE, FORMAT});
    for (const auto& [offset, byte] : REJECTED_BYTES)
        expectFailure({std::string(ONE).replace(offset, 1, 1, byte), "out.fit", NOTHING, FORMAT});
}

// A sparse picture over 2 GiB converts with its true sizes into a drained FIFO (or NUL).
using Slow = InTempDir;
TEST_F(Slow, SparsePictureOverTwoGibibytes)
{
    const std::string out = IS_WINDOWS ? "NUL" : "out.fifo";
    writeSparsePicture("big.kvr", 32768, 32768);
    const Outcome run = runTorvan("big.kvr " + out, "mkfifo out.fifo; cat out.fifo >/dev/null & ");
    EXPECT_EQ(run.output, report("big.kvr", out, 32768, 32768, 2147489280,
                                 "9.10.2004; 11:21:4.50"));
}

#ifdef __linux__
// How far a run has got: the size of its output file, or what it has written to a device.
static uint64_t progress(long pid, const char* out)
{
    std::string rchar, wchar;
    uint64_t read = 0, written = 0;
    if (fs::is_regular_file(out))
        return fs::file_size(out);
    std::ifstream("/proc/" + std::to_string(pid) + "/io") >> rchar >> read >> wchar >> written;
    return written;
}

// Disturbs a run once more than the header is out, or, after shell text, once all is; a
// run that ends undisturbed or with its output whole is retried with a larger picture.
static Outcome disturbed(const char* out, int32_t& side, const std::string& before,
                         const std::function<void(long)>& disturb)
{
    for (;; side *= 2) {
        const uint64_t due = before.empty() ? 2881 : 2880 * (2 + (2ull * side * side - 1) / 2880);
        writeSparsePicture("in.kvr", side, side);
        if (fs::is_regular_file(out))
            fs::remove(out);
        const Outcome run = runTorvan("in.kvr " + std::string(out), before, [&](long pid) {
            for (int waited = 0; progress(pid, out) < due && waited < 10000; waited++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            disturb(pid);
        });
        if (!before.empty() || (run.status != 0 && !fs::is_regular_file(out)) || side >= 16384)
            return run;
    }
}

// A signal mid-way, or late: the output complete and the run held at its exit by a
// full pipe, or ignored from the start. Or the input changed by -2, 1 or 2 bytes.
TEST_F(InTempDir, DisturbedRuns)
{
    const std::string late = "head -c 65536 /dev/zero; ";
    const struct { int sig, change; std::string before; int status; } cases[] = {
        {SIGINT, 0, "", 130}, {SIGTERM, 0, "", 143}, {SIGHUP, 0, "", 129}, {SIGTERM, 0, late, 143},
        {SIGINT, 0, late + "trap '' INT; ", 0}, {0, -2, "", 1}, {0, 1, "", 1}, {0, 2, "", 1},
    };
    for (const auto& c : cases) {
        int32_t side = 2048;
        const Outcome run = disturbed("out.fit", side, c.before, [&c](long pid) {
            c.sig ? (void)kill(pid, c.sig)
                  : fs::resize_file("in.kvr", fs::file_size("in.kvr") + c.change);
        });
        EXPECT_EQ(run.status, c.status) << "signal " << c.sig << ", change " << c.change;
        EXPECT_EQ(fs::exists("out.fit"), !c.before.empty()) << c.sig << ", " << c.change;
        if (c.sig == 0) {
            EXPECT_EQ(run.output, BANNER + "* Nelze cist ze souboru `in.kvr'!\n" + FAILED);
        } else {
            EXPECT_EQ(fs::file_size("in.kvr"), 88 + 2ull * side * side) << "input changed";
        }
    }
}
#endif

// A device at the output path stays after a failure or an interrupt.
TEST_F(InTempDir, DeviceOutputStays)
{
    const char* device = IS_WINDOWS ? "NUL" : "null.dev";
#ifndef _WIN32
    if (mknod(device, S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node is not permitted here: run as root for this test";
#endif
    expectFailure({HEADER, device, DEVICE, FORMAT});
    expectFailure({MISSING, device, DEVICE, failed(OPEN, "in.kvr")});
#ifdef __linux__
    int32_t side = 16384;
    EXPECT_EQ(disturbed(device, side, "", [](long pid) { kill(pid, SIGTERM); }).status, 143);
    EXPECT_EQ(fs::status(device).type(), fs::file_type::character);
#endif
}

#ifdef TORVAN_CFITSIO
// Every pixel of the shipped 320 x 240 sample is its input sample shifted right by 4.
TEST_F(InTempDir, ReferenceLibraryReadsTheSampleBack)
{
    ASSERT_EQ(runTorvan("\"" SAMPLE_PATH "\" sample.fit").status, 0);
    const std::string kvr = readFile(SAMPLE_PATH);
    fitsfile* file = nullptr;
    int status = 0, anynul = 0;
    std::vector<unsigned short> pixels(320 * 240);
    fits_open_file(&file, "sample.fit", READONLY, &status);
    fits_read_img(file, TUSHORT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
    for (size_t i = 0; i < pixels.size(); i++)
        ASSERT_EQ(pixels[i], ((uint8_t)kvr[88 + 2 * i] | (uint8_t)kvr[89 + 2 * i] << 8) >> 4) << i;
}
#endif
