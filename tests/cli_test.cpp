// The built program end to end: its arguments, the bytes it writes, what it
// reports, and every way a conversion can fail.
#include "harness.h"

#include <chrono>
#include <thread>
#include <vector>

static const std::string HELP =
    "Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n"
    "  <input.kvr>: vstupni soubor formatu KVR verze 2\n"
    "  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n"
    "  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n"
    "  [-h]: tato napoveda\n\n"
    "Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n";
static const std::string FEW = "* Nedostatecny pocet argumentu!\n\n" + HELP;

enum { COMPRESSION = 7, SIGNATURE = 12 };

static std::string card(const std::string& text)
{
    return text + std::string(80 - text.size(), ' ');
}

static std::string valueCard(const std::string& keyword, const std::string& value)
{
    return card(keyword + std::string(21 - value.size(), ' ') + value);
}

// What picture(width, height) read from inp becomes: the header, then each
// sample's upper 12 bits, high byte first, and zeros up to a whole block.
static std::string fits(int32_t width, int32_t height, const std::string& date,
                        const std::string& time, const std::string& inp)
{
    const std::string comment = "COMMENT Soubor vytvoren z predlohy `" + inp + "' ve formatu KVR";
    std::string out = valueCard("SIMPLE  =", "T") + valueCard("BITPIX  =", "16") +
                      valueCard("NAXIS   =", "2") + valueCard("NAXIS1  =", std::to_string(width)) +
                      valueCard("NAXIS2  =", std::to_string(height)) +
                      card("DATE-OBS='" + date + "'") + card("TIME    ='" + time + "'") +
                      card((comment + " programem `TORVAN'").substr(0, 80)) + card("END") +
                      std::string(27 * 80, ' ');
    for (uint32_t i = 0; i < (uint32_t)width * height; i++) {
        const uint16_t value = (uint16_t)(i * 7919) >> 4;
        out += {(char)(value >> 8), (char)(value & 0xFF)};
    }
    return out + std::string((2880 - out.size() % 2880) % 2880, '\0');
}

static std::string report(const std::string& inp, const std::string& out, int32_t width,
                          int32_t height, uint64_t outSize, const std::string& taken)
{
    return BANNER + ("`" + inp + "' (" + std::to_string(88 + 2ull * width * height) + " B) -> `") +
           out + "' (" + std::to_string(outSize) + " B)\nVerze KVR: 2\nKomprese KVR: NE\n" +
           "Rozmery (S x V): " + std::to_string(width) + " x " + std::to_string(height) +
           "\nCas porizeni: " + taken + "\n";
}

// A file-size limit in 512-byte blocks: writes past it fail as on a full medium.
static std::string limited(int blocks)
{
    return blocks ? "ulimit -f " + std::to_string(blocks) + "; trap '' XFSZ;" : "";
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

// Each row converts over the larger output of the row before. A file-size
// limit equal to the output's size is no failure. Values end in column 30;
// a path of 9 characters fills the comment card, a longer one is cut.
TEST_F(InTempDir, ConvertsIntoCardsAndWholeBlocks)
{
    const struct Case {
        int32_t width, height;
        const char* out = "out.fit";
        int limit = 0;
        int32_t taken[7] = {9, 10, 2004, 11, 21, 4, 50};   // day, month, year, hour, ...
        const char *inp = "a.kvr", *date = "09/10/04", *time = "11:21:04.050";
    } cases[] = {
        {768, 576}, {720, 576}, {1441, 1}, {40, 36}, {1, 1}, {1, 1, "-h"},
        {100, 100, "out.fit", 45},
        {10, 3, "o", 0, {31, 12, 1999, 23, 59, 59, 999}, "././a.kvr", "31/12/99", "23:59:59.999"},
        {1000000, 1, "o", 0, {1, 1, 2050, 20, 0, 0, 0}, "./././././a.kvr", "01/01/50",
         "20:00:00.000"},
        {1, 1, "o", 0, {19, 9, 2090, 9, 10, 43, 100}, "a.kvr", "19/09/90", "09:10:43.100"},
        {1, 1, "o", 0, {31, 2, -1999, 0, 21, 4, 7}, "a.kvr", "31/02/-9-9", "00:21:04.007"},
        {1, 1, "o", 0, {9, 10, -2004, 11, 21, 4, 50}, "a.kvr", "09/10/0-4"},
        {1, 1, "o", 0, {9, 10, 7, 11, 21, 4, 50}, "a.kvr", "09/10/07"},
        {1, 1, "o", 0, {9, 10, 0x04030201, 11, 21, 4, 50}, "a.kvr", "09/10/85"},
    };
    for (const Case& c : cases) {
        if (c.limit && IS_WINDOWS)
            continue;
        const int32_t* t = c.taken;
        writeFile("a.kvr", patched(picture(c.width, c.height), {{DAY, t[0]}, {MONTH, t[1]},
                  {YEAR, t[2]}, {HOUR, t[3]}, {MINUTE, t[4]}, {SECOND, t[5]}, {MILLI, t[6]}}));
        const std::string taken = std::to_string(t[0]) + "." + std::to_string(t[1]) + "." +
            std::to_string(t[2]) + "; " + std::to_string(t[3]) + ":" + std::to_string(t[4]) +
            ":" + std::to_string(t[5]) + "." + std::to_string(t[6]);
        const Outcome run = runTorvan(c.inp + std::string(" ") + c.out, limited(c.limit));
        const std::string expected = fits(c.width, c.height, c.date, c.time, c.inp);
        EXPECT_EQ(run.output, report(c.inp, c.out, c.width, c.height, expected.size(), taken));
        ASSERT_EQ(fs::file_size(c.out), expected.size()) << c.width << " x " << c.height;
        const std::string written = readFile(c.out);
        EXPECT_EQ(written.substr(0, 2880), expected.substr(0, 2880)) << c.inp << ", " << c.time;
        EXPECT_TRUE(written == expected) << "data blocks of " << c.width << " x " << c.height;
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
static const char FORMAT_TEXT[] = "* Format souboru `@' neodpovida definici KVR!\n";
static const std::string FORMAT = failed(FORMAT_TEXT, "in.kvr");
static const std::string MISSING = "(no file)", FOLDER = "(a folder)", ONE = picture(1, 1);
static const std::string HEADER = ONE.substr(0, 88);
enum Before { NOTHING, OLDER_FILE, SUBFOLDER, HARD_LINK, SYMBOLIC_LINK, DEVICE };

// The input is in.kvr; what stands at the output path before the run stays
// unless it is a regular file of its own.
struct Failure {
    std::string input;
    const char* out;
    Before before;
    std::string message;
    int limit;
};

static const Failure FAILURES[] = {
    {MISSING, "out.fit", OLDER_FILE, failed(OPEN, "in.kvr"), 0},
    {ONE, "no/out.fit", NOTHING, failed(OPEN, "no/out.fit"), 0},
    {ONE, "sub", SUBFOLDER, failed(OPEN, "sub"), 0},
    {"", "out.fit", OLDER_FILE, failed(READ, "in.kvr"), 0},
    {HEADER.substr(0, 87), "out.fit", NOTHING, failed(READ, "in.kvr"), 0},
    {FOLDER, "out.fit", NOTHING, failed(IS_WINDOWS ? OPEN : READ, "in.kvr"), 0},   // opens on POSIX
    {HEADER, "out.fit", NOTHING, FORMAT, 0},
    {picture(3, 3).substr(0, 104), "out.fit", NOTHING, FORMAT, 0},
    {picture(3, 3) + "ab", "out.fit", NOTHING, FORMAT, 0},
    {picture(3, 3) + "a", "out.fit", OLDER_FILE, FORMAT, 0},
    {patched(HEADER, {{WIDTH, 65536}, {HEIGHT, 32768}}), "out.fit", NOTHING, FORMAT, 0},
    {patched(HEADER, {{WIDTH, 0}}), "out.fit", NOTHING, FORMAT, 0},
    {patched(HEADER, {{HEIGHT, 0}}), "out.fit", NOTHING, FORMAT, 0},
    {ONE, "in.kvr", NOTHING, failed(SAME, "in.kvr"), 0},
    {ONE, "./in.kvr", NOTHING, failed(SAME, "./in.kvr"), 0},
    {ONE, "hard.fit", HARD_LINK, failed(SAME, "hard.fit"), 0},
    {ONE, "soft.fit", SYMBOLIC_LINK, failed(SAME, "soft.fit"), 0},
    {picture(100, 100), "out.fit", NOTHING, failed(WRITE, "out.fit"), 2},
    {picture(512, 512), "out.fit", NOTHING, failed(WRITE, "out.fit"), 512},
    {ONE, "out.fit", OLDER_FILE, failed(WRITE, "out.fit"), 10},
};

// Every header rule just broken: one field at a time, its upper bytes too,
// or one byte of a text.
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
    if (c.before == OLDER_FILE)
        writeFile(c.out, "an older file");
    else if (c.before == SUBFOLDER)
        fs::create_directory(c.out);
    else if (c.before == HARD_LINK)
        fs::create_hard_link("in.kvr", c.out);
    else if (c.before == SYMBOLIC_LINK)
        fs::create_symlink("in.kvr", c.out);
    const std::string input = readFile("in.kvr");
    const fs::file_type outType = fs::symlink_status(c.out).type();
    const bool stays = c.before > OLDER_FILE || fs::path(c.out).filename() == "in.kvr";

    const Outcome run = runTorvan("in.kvr " + std::string(c.out), limited(c.limit));

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
        expectFailure({patched(ONE, fields), "out.fit", OLDER_FILE, FORMAT, 0});
    for (const auto& [offset, byte] : REJECTED_BYTES) {
        std::string input = ONE;
        input[offset] = byte;
        expectFailure({input, "out.fit", NOTHING, FORMAT, 0});
    }
}

TEST_F(InTempDir, DeviceOutputStays)
{
    const char* device = IS_WINDOWS ? "NUL" : "null.dev";
    if (!IS_WINDOWS && !makeNullDevice(device))
        GTEST_SKIP() << "making a device node is not permitted here: run as root for these rows";
    expectFailure({HEADER, device, DEVICE, FORMAT, 0});
    expectFailure({MISSING, device, DEVICE, failed(OPEN, "in.kvr"), 0});
}

// A sparse picture over 2 GiB converts with its true sizes, every byte drained
// through a FIFO (on Windows into NUL), so that it costs no disk space.
using Slow = InTempDir;
TEST_F(Slow, SparsePictureOverTwoGibibytes)
{
    const std::string out = IS_WINDOWS ? "NUL" : "out.fifo";
    writeSparsePicture("big.kvr", 32768, 32768);
    const Outcome run = runTorvan("big.kvr " + out, "mkfifo out.fifo; wc -c <out.fifo >drained &");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, report("big.kvr", out, 32768, 32768, 2147489280,
                                 "9.10.2004; 11:21:4.50"));
    // The reader writes its count once the program has closed its output.
    while (!IS_WINDOWS && readFile("drained").empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(IS_WINDOWS ? 2147489280 : std::stoull(readFile("drained")), 2147489280u);
}
