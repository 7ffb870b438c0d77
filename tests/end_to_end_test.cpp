// The built program end to end, run through the shell as a user or a script
// would, each test in an empty temporary folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#include <sddl.h>
#else
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
static const std::string KVRINFO =
    TORVAN_EMULATOR "\"" + fs::absolute(KVRINFO_PATH).string() + "\"";
static const std::string BANNER =
    "\nTORVAN verze 1.2 (09/10/2004): Konverze KVR obrazku verze 2 do formatu FITS.\n\n";
static const std::string FAILED = "* Konverze se nezdarila!\n";

struct Outcome { std::string output; int status; };   // 128 + a signal that ended the run

// POSIX only: before is shell text ahead of the program, during gets its process number.
static Outcome runTorvan(const std::string& args, const std::string& before = "",
                         const std::function<void(long)>& during = nullptr,
                         const std::string& program = PROGRAM)
{
#ifdef _WIN32
    // cmd.exe drops the outermost quotes; text mode turns the console's CR LF into LF. The
    // command goes in UTF-16, so that names outside the ANSI code page reach the program.
    const std::string command = "\"" + program + " " + args + "\"";
    FILE* pipe = _wpopen(fs::u8path(command).wstring().c_str(), L"rt");
    (void)before, (void)during;
#else
    // The shell tells its process number, which the program then takes over.
    FILE* pipe = popen(("echo $$; " + before + "exec " + program + " " + args).c_str(), "r");
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

// Names in UTF-8, as the program takes them on every host.
static std::string readFile(const std::string& name)
{
    std::ostringstream content;
    content << std::ifstream(fs::u8path(name), std::ios::binary).rdbuf();
    return content.str();
}

static void writeFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(fs::u8path(name), std::ios::binary) << bytes;
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

static void writeSparsePicture(const std::string& path, int32_t width, int32_t height)
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
    void TearDown() override   // under wine, no test may have sent a byte to a port
    {
        fs::current_path(home);
        fs::remove_all(dir);
#ifdef TORVAN_PORTS
        for (int n = 1; n <= 10; n++)
            EXPECT_EQ(readFile(TORVAN_PORTS "/com" + std::to_string(n)) +
                      readFile(TORVAN_PORTS "/lpt" + std::to_string(n)), "") << n;
#endif
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

// What picture(width, height) read from inp becomes: the cards (date: card 6 after its
// keyword), then each sample's upper 12 bits, high byte first, and zeros up to a block.
static std::string fits(int32_t width, int32_t height, const std::string& date,
                        const std::string& time, const std::string& inp)
{
    auto card = [](std::string text) { return text + std::string(80 - text.size(), ' '); };
    auto value = [](std::string v) { return std::string(21 - v.size(), ' ') + v; };
    std::string out = card("SIMPLE  =" + value("T")) + card("BITPIX  =" + value("16")) +
                      card("NAXIS   =" + value("2")) +
                      card("NAXIS1  =" + value(std::to_string(width))) +
                      card("NAXIS2  =" + value(std::to_string(height))) +
                      card("DATE-OBS" + date) + card("TIME    " + date.substr(0, date.find('\'')) + "'" + time + "'") +
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

static const std::string LONG_NAME(250, 'n'), LONG_INPUT = LONG_NAME + ".kvr";
// Past the 260 characters of a plain Windows path.
static const std::string LONG_FOLDER = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" +
                                       std::string(100, 'f'), LONG_PATH = LONG_FOLDER + "/o.fit";
// The edges of printable ASCII, then those of UTF-8, each after a letter that shows where it
// starts: overlong forms, each length's least and greatest, surrogates, past U+10FFFF, cut.
static const std::string EDGES = std::string("a\t~\x1f\x7f") + "A\x80" "B\xc1\xbf" "C\xc2\x80"
    "D\xdf\xbf" "E\xe0\x9f\xbf" "F\xe0\xa0\x80" "G\xed\x9f\xbf" "H\xed\xa0\x80" "I\xed\xbf\xbf"
    "J\xee\x80\x80" "K\xef\xbf\xbf";
static const std::string LONG_EDGES = std::string("\tL\xf0\x8f\xbf\xbf") + "M\xf0\x90\x80\x80"
    "N\xf4\x8f\xbf\xbf" "O\xf4\x90\x80\x80" "P\xf5\x80\x80\x80" "Q\xc3";

// A temporary output is named after its output with a dot in front; none may stay.
static void expectNoLeftovers(const std::string& folder = ".")
{
    for (const auto& entry : fs::directory_iterator(fs::u8path(folder)))
        EXPECT_NE(entry.path().filename().u8string()[0], '.') << entry.path().u8string();
}

// Read number `read` of in.kvr fails, as on a failing disk (the leak checker of a sanitizer
// build cannot work under strace).
#define FAILING_DISK(read) "exec env ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null " \
    "-P \"$PWD/in.kvr\" -e inject=read:error=EIO:when=" #read " sh -c '\"$@\"' sh "

// Shell text before a run. After LATE, a full pipe holds the run at its exit, its output in place;
// NAMED hides /proc/self/fd, so that the new picture is written under a name from the start.
static const std::string LATE = "head -c 65536 /dev/zero; ";
static const std::string NAMED =
    "exec unshare -rm sh -c 'mount -t tmpfs none /proc/$$/fd && \"$@\"' sh ";
// The run as another user, daemon, whom files and folders are given to by the row.
static const std::string AS_DAEMON = "exec runuser -u daemon -- sh -c '\"$@\"' sh ";
// Any open of in.kvr kills the run: a FIFO is judged by its path, as opening it would release
// a writer waiting on it.
static const std::string UNOPENED = "exec env ASAN_OPTIONS=detect_leaks=0 sh -c 'exec strace -qq "
    "-o /dev/null -P in.kvr -e inject=open,openat:signal=KILL sh -c \"exec 2>&1; \\\"\\$@\\\"\" "
    "sh \"$@\" 2>&-' sh ";

// What kvrinfo says of a file: said names it, then OK or CHYBA and why.
static void expectKvrinfo(const std::string& inp, const std::string& said,
                          const std::string& before = "")
{
    const Outcome info = runTorvan("\"" + inp + "\"", before, nullptr, KVRINFO);
    EXPECT_EQ(info.output, said + "\n");
    EXPECT_EQ(info.status, said.find(": OK ") == std::string::npos);
}

TEST_F(InTempDir, ArgumentRules)
{
    const struct { const char* args; std::string output; int status; } cases[] = {
        {"", FEW, 1}, {"-h", FEW, 1}, {"a.kvr b.fit -i -h -i", HELP, 0},   // -h wins over -i
        {"a.kvr b.fit -h -x", "* Neznamy argument `-x'!\n\n" + HELP, 1},
        // A stream in the input, and the console, which wine cannot open: refused at once.
        {"a.kvr:x b.fit", "* Soubor `a.kvr:x' se nepodarilo otevrit!\n" + FAILED, 1},
        {"CON b.fit", "* Soubor `CON' se nepodarilo otevrit!\n" + FAILED, 1},
    };
    writeFile("a.kvr", picture(2, 2));
    for (const auto& c : cases) {
        const Outcome run = runTorvan(c.args);
        EXPECT_EQ(run.output, BANNER + c.output) << c.args;
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_FALSE(fs::exists("b.fit")) << c.args;
    }
    // kvrinfo's options come first, -- ends them. -p lists every field, its rule and verdict; a
    // FIFO without a writer is not waited for. Rows with shell text before the run need POSIX.
    const std::string help = "kvrinfo (TORVAN 1.2): ";
    const std::string broken = "b.kvr: CHYBA mesic 13 (povoleno 1 az 12)\n";
    const std::string signature = "\"KVR picture file - raster signature 0002\"";
    std::string fields = broken;
    for (const std::string& field : std::initializer_list<std::string>{
             "znacka \"KVR\" (povoleno \"KVR\"): OK", "verze 2 (povoleno 2): OK",
             "komprese \" \" (povoleno \" \"): OK", "verze_komprese 0 (povoleno 0): OK",
             "podpis " + signature + " (povoleno " + signature + "): OK",
             "sirka 2 (povoleno 1 az 2147483647): OK", "vyska 2 (povoleno 1 az 2147483647): OK",
             "rok 2004 (povoleno cokoli): OK", "mesic 13 (povoleno 1 az 12): CHYBA"})
        fields += "  " + field + "\n";
    const struct { const char* args; std::string output; int status; std::string before = ""; }
    kvrinfo[] = {
        {"", "* Nedostatecny pocet argumentu!\n\n" + help, 1}, {"-p -h a.kvr", help, 0},
        {"-x a.kvr", "* Neznamy argument `-x'!\n\n" + help, 1},
        {"-- -p", "-p: CHYBA nelze otevrit\n", 1}, {"-", "-: CHYBA nelze otevrit\n", 1},
        {"b.kvr -p", broken + "-p: CHYBA nelze otevrit\n", 1}, {"-p b.kvr", fields, 1},
        // -t: tab-separated, the name last as given, whatever it holds.
        {"-t p b.kvr", "CHYBA\t\t\t\tneni obycejny soubor\tp\n"
         "CHYBA\t2\t2\t2004-13-09T11:21:04.050\tmesic 13 (povoleno 1 az 12)\tb.kvr\n", 1,
         "mkfifo p; "},
        // The name's backslash, tab, line break, carriage return and other controls escaped.
        {"-t \"$n\"", "OK\t2\t2\t2004-10-09T11:21:04.050\t\tx\\\\: CHYBA\\t\\n\\r\\001\\177\n", 0,
         "n=$(printf 'x\\\\: CHYBA\\t\\n\\r\\001\\177'); cp a.kvr \"$n\"; "},
        {"a.kvr >&-", "", 1, "true; "},   // a report that reaches no one is a failure
        {"in.kvr", "in.kvr: CHYBA nelze cist\n", 1, "head -c 88 a.kvr >in.kvr; " FAILING_DISK(1)},
        // A folder: each file whose name ends in .kvr in any case, sorted, its subfolders not.
        {"d", "d/a.KVR: OK 2 x 2, 09.10.2004 11:21:04.050\nd/b.kvr: CHYBA mesic 13", 1,
         "mkdir -p d/s.kvr; cp b.kvr d/b.kvr; cp a.kvr d/a.KVR; cp a.kvr d/c.kvr.txt; "},
        {"CON", "CON: CHYBA ", 1},
    };
    writeFile("b.kvr", patched(picture(2, 2), {{MONTH, 13}}));
    for (const auto& c : kvrinfo) {
        if (IS_WINDOWS && !c.before.empty())
            continue;
        const Outcome run = runTorvan(c.args, c.before, nullptr, KVRINFO);
        EXPECT_EQ(run.output.substr(0, c.output.size()), c.output) << c.args;
        EXPECT_EQ(run.status, c.status) << c.args;
    }
}

// One conversion: a picture of width x height, taken at taken (day first), read from inp, written
// to out, card 8 naming it as card. POSIX only: shell text before the run, redirections after
// it, the file that then holds the picture (pictures times over) and what the shell finds true.
struct Conversion {
    int32_t width = 2, height = 2;
    std::string inp = "a.kvr", card = "", out = "o", options = "";
    std::array<int32_t, 7> taken = {9, 10, 2004, 11, 21, 4, 50};
    std::string date = "='09/10/04'", time = "11:21:04.050";
    std::string before = "", after = "", result = "", check = "";
    int pictures = 1;
    bool posixOnly = false;

    using Text = const std::string&;
    Conversion& size(int32_t w, int32_t h) { width = w, height = h; return *this; }
    Conversion& from(Text name, Text inCard = "") { inp = name, card = inCard; return *this; }
    Conversion& into(Text name) { out = name; return *this; }
    Conversion& at(std::array<int32_t, 7> when, Text shortDate, Text cardTime)
    {
        taken = when, date = "='" + shortDate + "'", time = cardTime;
        return *this;
    }
    // With -i, card 6 holds value, the time of card 7 follows from it.
    Conversion& iso(Text value, std::array<int32_t, 7> when)
    {
        taken = when, options = "-i ", date = "= '" + value + "'";
        time = value.substr(value.find('T') + 1);
        return *this;
    }
    Conversion& shell(Text text, Text redirected = "", Text holder = "", Text truth = "",
                      int count = 1)
    {
        before = text, after = redirected, result = holder, check = truth, pictures = count;
        return posix();
    }
    Conversion& posix() { posixOnly = true; return *this; }
};

// Each conversion runs in an empty folder of its own.
static void expectConversions(std::initializer_list<Conversion> rows)
{
    int row = 0;
    for (const Conversion& c : rows) {
        const fs::path folder = std::to_string(++row), parent = fs::u8path(c.out).parent_path();
        if (IS_WINDOWS && c.posixOnly)
            continue;
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
        const Outcome run = runTorvan("\"" + c.inp + "\" \"" + c.out + "\" " + c.options + c.after,
                                      c.before);
        const std::string expected =
            fits(c.width, c.height, c.date, c.time, c.card.empty() ? c.inp : c.card);
        EXPECT_EQ(run.output, report(c.inp, c.out, c.width, c.height, expected.size(),
                                     when("%d.%d.%d; %d:%d:%d.%d")));
        std::string pictures;
        for (int i = 0; i < c.pictures; i++)
            pictures += expected;
        EXPECT_TRUE(readFile(c.result.empty() ? c.out : c.result) == pictures);
        EXPECT_EQ(c.check.empty() ? 0 : std::system(c.check.c_str()), 0);
        expectNoLeftovers(parent.empty() ? "." : parent.u8string());
        std::string name = c.inp;
        std::replace_if(name.begin(), name.end(),
                        [](unsigned char b) { return b < 0x20 || b == 0x7f; }, '?');
        expectKvrinfo(c.inp, name + ": OK " + std::to_string(c.width) + " x " +
                      std::to_string(c.height) + ", " + when("%02d.%02d.%04d %02d:%02d:%02d.%03d"));
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
        Conversion().at({31, 2, -1999, 0, 21, 4, 7}, "31/02/-9-9", "00:21:04.007"),
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

TEST_F(InTempDir, OutputLandsWhereItsPathLeads)
{
    const std::string standardOutput = "ln -s /proc/self/fd/1 so; ";
    expectConversions({
        Conversion().into("-h"),   // a file name: only the arguments after the paths are switches
        Conversion().into(LONG_PATH),   // past the 260 characters of a plain Windows path
        // Links, relative from here, absolute and relative from a folder (a shorter path than
        // the one before it), stay links.
        Conversion().shell("mkdir s; echo older > s/t; ln -s t s/mid; ln -s $PWD/s/mid s/l; "
                           "ln -s s/l o; ", "", "", "test -L o -a -L s/l -a -L s/mid"),
        // A hard link elsewhere keeps the older content.
        Conversion().shell("echo older > o; ln o snap; ", "", "", "test $(cat snap) = older"),
        // A replaced output keeps its owner, group and mode, setuid among them; a new one gets
        // what any new file gets there, a folder's default access list too; capabilities never.
        Conversion().shell("echo older > o; chown nobody:bin o; chmod 4645 o; setcap cap_kill+ep o; ",
                           "", "", "test $(stat -c %U:%G:%a o) = nobody:bin:4645 -a -z \"$(getcap o)\""),
        Conversion().shell("umask 002; ", "", "", "test $(stat -c %a o) = 664"),
        Conversion().shell("umask 002; " + NAMED, "", "", "test $(stat -c %a o) = 664"),
        Conversion().shell("setfacl -d -m u::rwx,g::---,o::---,u:0:rw- . && touch t || echo "
                           "'no ACL here: not checked' >&2; " + NAMED, "", "", "test ! -f t || { "
                           "getfacl -c o >o.acl; getfacl -c t | cmp -s - o.acl; }"),
        // Another user's file: the group kept alone; setuid and setgid go with the owner.
        Conversion().shell("chmod 777 .; echo older > o; chown nobody:daemon o; chmod 6770 o; " +
                           AS_DAEMON, "", "", "test $(stat -c %U:%G:%a o) = daemon:daemon:770"),
        // The access list (its mask wider than the group bits) and the attributes stay.
        Conversion().shell("echo older > o; { setfacl -m u:nobody:r,m::rw o && "
                           "setfattr -n user.night -v 7 o && getfacl -c o >acl; } 2>&- || "
                           "echo 'no ACL here: not checked' >&2; ", "", "",
                           "test ! -f acl || { getfacl -c o | cmp -s - acl && "
                           "test $(getfattr --only-values -n user.night o) = 7; }"),
        // Standard output, through a link of the test's own, written as it is: >> appends.
        Conversion().into("so").shell(standardOutput, "2>&1 >x.fit", "x.fit", "test -L so"),
        Conversion().into("so").shell(standardOutput + "exec 3>&1; ", "2>&3 | cat >x.fit",
                                      "x.fit"),
        Conversion().into("so").shell(standardOutput + "{ " + PROGRAM + " a.kvr so; " +
                                      PROGRAM + " a.kvr so; } 2>&- >x.fit; ", "2>&1 >>x.fit",
                                      "x.fit", "", 3),
        // Any descriptor the run holds, appended to, never replaced.
        Conversion().into("/dev/fd/3").shell(PROGRAM + " a.kvr /dev/fd/3 3>>x.fit >&-; ",
                                             "3>>x.fit", "x.fit", "", 2),
        Conversion().shell("ulimit -s 256; "),   // nothing large on the stack
    });
}

// Names beyond any ANSI code page, in ASCII in card 8, cut at column 80 once they are.
TEST_F(InTempDir, NamesReachCardsAndMessages)
{
    expectConversions({
        Conversion().from("././a.kvr"),     // 9 characters fill card 8 to column 80
        Conversion().from("./././a.kvr"),   // 11: the card is cut
        Conversion().from(LONG_INPUT).into(LONG_NAME),   // the temporary name within 255 bytes
        Conversion().from("Ωμέγα ÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ.kvr", "????? AACDEEILLNOORRSTUUYZ.kvr")
            .into("Луна.fit"),
        Conversion().from("Луна áäčďéěíĺľňóôŕřšťúůýž nad Ondřejovem.kvr",
                          "???? aacdeeillnoorrstuuyz nad Ondrejovem.kvr").into("Měsíc.fit"),
        // Windows names hold no control character and are always UTF-8.
        Conversion().from(EDGES, "a?~??A?B??C?D?E???F?G?H???I???J?K?").posix(),
        Conversion().from(LONG_EDGES, "?L????M?N?O????P????Q?").posix(),
    });
}

static std::string failed(std::string message, const std::string& path)
{
    return message.replace(message.find('@'), 1, path);
}

static const char OPEN[] = "* Soubor `@' se nepodarilo otevrit!\n";
static const char READ[] = "* Nelze cist ze souboru `@'!\n";
static const char WRITE[] = "* Nelze zapisovat do `@'!";
static const char SAME[] = "* Vystupni soubor `@' je totozny se vstupnim!\n";
static const char PICTURE[] = "* Vystupni soubor `@' je obrazek KVR a nebude prepsan!\n";
static const std::string FORMAT =
    failed("* Format souboru `@' neodpovida definici KVR!\n", "in.kvr");
static const std::string MISSING = "(no file)", FOLDER = "(a folder)";
static const std::string ONE = picture(1, 1), OLDER = "SIMPLE  = an older output";
static const std::string HEADER = ONE.substr(0, 88);
enum Before { NOTHING, OLDER_FILE, RAW_PICTURE, SUBFOLDER, LINK_TO_INPUT, HARD_LINK_TO_OLDER,
              READ_ONLY_FILE, READ_ONLY_FOLDER };

// Every file and folder stays as it was, the input too, and nothing is made; then kvrinfo
// says info of the input, where the row gives it.
enum Host { ANY_HOST, WINDOWS_ONLY, POSIX_ONLY };
struct Failure {
    std::string input; const char* out; Before before; std::string message, info = "";
    int limit = 0;   // a file-size limit, in 512-byte blocks
    bool banner = true;
    Host host = ANY_HOST;
    std::string shell = "";   // before the run
    std::string setup = "";   // shell text that makes more files first
    Failure& limited(int blocks) { limit = blocks; return posix(); }
    Failure& withoutBanner() { banner = false; return *this; }
    Failure& under(const std::string& text) { shell = text; return posix(); }
    Failure& made(const std::string& text) { setup = text; return posix(); }
    Failure& posix() { host = POSIX_ONLY; return *this; }   // symbolic links, FIFOs, /proc
    Failure& windows() { host = WINDOWS_ONLY; return *this; }
};

static const Failure FAILURES[] = {
    {MISSING, "out.fit", OLDER_FILE, failed(OPEN, "in.kvr"), "CHYBA nelze otevrit"},
    {ONE, "no/out.fit", NOTHING, failed(OPEN, "no/out.fit"), "OK 1 x 1, 09.10.2004 11:21:04.050"},
    {MISSING, "no/out.fit", NOTHING, failed(OPEN, "in.kvr")},
    {ONE, "sub", SUBFOLDER, failed(OPEN, "sub")},
    {ONE, "out.fit", READ_ONLY_FILE, failed(OPEN, "out.fit")},
    Failure{ONE, "ro/out.fit", READ_ONLY_FOLDER, failed(OPEN, "ro/out.fit")}.posix(),
    {HEADER.substr(0, 87), "out.fit", OLDER_FILE, failed(READ, "in.kvr"),
     "CHYBA kratsi nez hlavicka: 87 B z 88 B"},
    {FOLDER, "out.fit", NOTHING, failed(IS_WINDOWS ? OPEN : READ, "in.kvr")},
    Failure{MISSING, "out.fit", OLDER_FILE, FORMAT, "CHYBA neni obycejny soubor"}
        .made("mkfifo in.kvr").under(UNOPENED),
    {HEADER, "out.fit", NOTHING, FORMAT, "CHYBA velikost 88 B, hlavicka ohlasuje 90 B: chybi 2 B"},
    {picture(3, 3) + "ab", "out.fit", NOTHING, FORMAT,
     "CHYBA velikost 108 B, hlavicka ohlasuje 106 B: prebyva 2 B"},
    {picture(3, 3) + "a", "out.fit", OLDER_FILE, FORMAT},
    // A converted picture given as the input, and the raw picture as the output.
    {fits(1, 1, "='09/10/04'", "11:21:04.050", "a.kvr"), "out.kvr", OLDER_FILE, FORMAT,
     "CHYBA neni obrazek KVR: znacka \"SIM\" (povoleno \"KVR\")"},
    // Sample counts that a 32-bit product would wrap to a half and to nothing.
    {patched(HEADER, {{WIDTH, 65536}, {HEIGHT, 32768}}), "out.fit", NOTHING, FORMAT},
    {patched(HEADER, {{WIDTH, 65536}, {HEIGHT, 65536}}), "out.fit", NOTHING, FORMAT,
     "CHYBA velikost 88 B, hlavicka ohlasuje 8589934680 B: chybi 8589934592 B"},
    {ONE, "hard.fit", LINK_TO_INPUT, failed(SAME, "hard.fit")},
    Failure{ONE, "soft.fit", NOTHING, failed(SAME, "soft.fit")}.made("ln -s in.kvr soft.fit"),
    // A link that leads to the input only once the input is open, as descriptor 3.
    Failure{ONE, "fd3", NOTHING, failed(SAME, "fd3")}.made("ln -s /proc/self/fd/3 fd3"),
    // Standard output, or error, appended to the input: refused before the banner.
    Failure{ONE, "out.fit >>in.kvr", NOTHING, failed(SAME, "in.kvr")}.withoutBanner(),
    Failure{ONE, "out.fit 2>>in.kvr", NOTHING, failed(SAME, "in.kvr")}.withoutBanner(),
    {ONE, "f0002.kvr", RAW_PICTURE, failed(PICTURE, "f0002.kvr")},   // torvan *.kvr
    // An older output that its runner cannot read may be a raw picture.
    Failure{ONE, "f.kvr", RAW_PICTURE, failed(OPEN, "f.kvr")}
        .made("chmod 777 .; chown daemon f.kvr; chmod 200 f.kvr").under(AS_DAEMON),
    // Links that lead nowhere, or that another user made in a shared folder.
    Failure{ONE, "out.fit", NOTHING, failed(OPEN, "out.fit")}.made("ln -s nowhere out.fit"),
    Failure{ONE, "t/o.fit", NOTHING, failed(OPEN, "t/o.fit")}.made("echo older >x.fit; mkdir "
        "-m 1777 t; chown nobody t; ln -s ../x.fit t/o.fit; chown -h daemon t/o.fit"),
    // Refused before the picture is written (a limit would fail its writing): another user's
    // file in a sticky folder, an append-only file, another group that had access.
    Failure{picture(100, 100), "s/o.fit", NOTHING, failed(OPEN, "s/o.fit")}.limited(2)
        .made("mkdir -m 1777 s; echo older >s/o.fit; chmod 606 s/o.fit").under(AS_DAEMON),
    Failure{picture(100, 100), "out.fit", OLDER_FILE, failed(OPEN, "out.fit")}.limited(2)
        .made("chattr +a out.fit"),
    Failure{picture(100, 100), "out.fit", OLDER_FILE, failed(OPEN, "out.fit")}.limited(2)
        .made("chmod 777 .; chown nobody:bin out.fit; chmod 666 out.fit").under(AS_DAEMON),
    Failure{ONE, "so >>f.kvr", NOTHING, failed(PICTURE, "so")}
        .made("ln -s /proc/self/fd/1 so; cp in.kvr f.kvr"),
    {ONE, "\"\"", NOTHING, failed(OPEN, "")},
    // Windows' devices by name, with any extension, and a stream in a file: nothing is sent.
    Failure{ONE, "COM1.fit", NOTHING, failed(OPEN, "COM1.fit")}.windows(),
    Failure{ONE, "aux", NOTHING, failed(OPEN, "aux")}.windows(),
    Failure{ONE, "con.fit", NOTHING, failed(OPEN, "con.fit")}.windows(),
    Failure{ONE, "o.fit:x", NOTHING, failed(OPEN, "o.fit:x")}.windows(),
    Failure{ONE, "\\\\.\\COM10", NOTHING, failed(OPEN, "\\\\.\\COM10")}.windows(),
    Failure{ONE, "COM¹", NOTHING, failed(OPEN, "COM¹")}.windows(),
#ifdef TORVAN_PORTS
    Failure{ONE, TORVAN_PORTS "/device.fit", NOTHING, failed(OPEN, TORVAN_PORTS "/device.fit")}
        .windows(),
#endif
    // An output FIFO without a reader, after a missing input: not waited for.
    Failure{MISSING, "out.fifo", NOTHING, failed(OPEN, "in.kvr")}.made("mkfifo out.fifo"),
    Failure{HEADER, "so", NOTHING, FORMAT}.made("ln -s /proc/self/fd/1 so"),
    // Standard output closed: the run's own null device (the row's file here) is not written.
    Failure{ONE, "so >&-", NOTHING, failed(OPEN, "so")}.made("ln -s /proc/self/fd/1 so; :>nul")
        .under("exec unshare -m sh -c 'mount --bind nul /dev/null && \"$@\"' sh "),
    Failure{picture(512, 512), "out.fit", OLDER_FILE, failed(READ, "in.kvr")}
        .under(FAILING_DISK(3)),
    // Limits: the second flush fails, in a named temporary's data; the close, in the last bytes.
    Failure{picture(512, 512), "out.fit", HARD_LINK_TO_OLDER, failed(WRITE, "out.fit")}
        .limited(512).under(NAMED),
    Failure{picture(100, 100), "out.fit", NOTHING, failed(WRITE, "out.fit")}
        .limited(2).made("echo older >older; ln -s older out.fit"),
    Failure{ONE, "out.fit", OLDER_FILE, failed(WRITE, "out.fit")}.limited(10),
};

// Every header rule just broken: one field, its upper bytes too, or one text byte.
static const Fields REJECTED[] = {
    {{VERSION, 1}}, {{VERSION, 3}}, {{ENGINE, 1}}, {{WIDTH, 0}, {HEIGHT, 0}}, {{MONTH, 0}},
    {{MONTH, 13}}, {{DAY, 0}}, {{DAY, 32}}, {{HOUR, -1}}, {{HOUR, 24}}, {{MINUTE, -1}},
    {{MINUTE, 60}}, {{SECOND, -1}}, {{SECOND, 60}}, {{SECOND, INT32_MIN}}, {{MILLI, -1}},
    {{MILLI, 1000}}, {{MONTH, 0x101}}, {{DAY, 0x10001}}, {{HOUR, 0x1000000}},
};
// How kvrinfo names a field, its value and its rule.
static const std::map<int, std::string> RULES = {
    {VERSION, "verze @ (povoleno 2)"}, {ENGINE, "verze_komprese @ (povoleno 0)"},
    {WIDTH, "sirka @ (povoleno 1 az 2147483647)"}, {HEIGHT, "vyska @ (povoleno 1 az 2147483647)"},
    {MONTH, "mesic @ (povoleno 1 az 12)"}, {DAY, "den @ (povoleno 1 az 31)"},
    {HOUR, "hodina @ (povoleno 0 az 23)"}, {MINUTE, "minuta @ (povoleno 0 az 59)"},
    {SECOND, "sekunda @ (povoleno 0 az 59)"}, {MILLI, "tisiciny @ (povoleno 0 az 999)"},
};
static std::string signatureBroken(const std::string& found)
{
    return "CHYBA podpis \"" + found + "\" (povoleno \"KVR picture file - raster signature 0002\")";
}
static const struct { int offset; char byte; std::string info; } REJECTED_BYTES[] = {
    {0, 'k', "CHYBA neni obrazek KVR: znacka \"kVR\" (povoleno \"KVR\")"},
    {COMPRESSION, 'N', "CHYBA komprese \"N\" (povoleno \" \")"},
    {COMPRESSION, '\x1f', "CHYBA komprese \"\\x1F\" (povoleno \" \")"},
    {SIGNATURE, '\x7f', signatureBroken("\\x7FVR picture file - raster signature 0002")},
    {SIGNATURE + 39, '~', signatureBroken("KVR picture file - raster signature 000~")},
    {SIGNATURE + 20, '\0', signatureBroken("KVR picture file - r\\x00ster signature 0002")},
};

// A file or a folder that takes no writing, for root too: root needs chattr for that.
static void setReadOnly(const std::string& path, bool readOnly)
{
    const std::string chattr = std::string("{ chattr ") + (readOnly ? "+i " : "-i ") + path +
                               " || test $(id -u) != 0; } 2>&-";
    const auto setImmutable = [&] { EXPECT_EQ(IS_WINDOWS ? 0 : std::system(chattr.c_str()), 0); };
    if (!readOnly)
        setImmutable();
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
    if (readOnly)
        setImmutable();
}

static std::vector<std::string> listing()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("."))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every entry under the current folder: its type, and a regular file's bytes.
static std::map<std::string, std::string> snapshot()
{
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
        const fs::file_type type = entry.symlink_status().type();
        found[entry.path().u8string()] = std::to_string((int)type) +
            (type == fs::file_type::regular ? readFile(entry.path().u8string()) : "");
    }
    return found;
}

static void expectFailure(const Failure& c)
{
    if ((c.host == WINDOWS_ONLY && !IS_WINDOWS) || (c.host == POSIX_ONLY && IS_WINDOWS))
        return;
    SCOPED_TRACE(std::string(c.out) + " after " + c.message);
    if (c.input == FOLDER)
        fs::create_directory("in.kvr");
    else if (c.input != MISSING)
        writeFile("in.kvr", c.input);
    std::string locked;
    switch (c.before) {
    case OLDER_FILE: writeFile(c.out, OLDER); break;
    case RAW_PICTURE: writeFile(c.out, ONE); break;
    case SUBFOLDER: fs::create_directory(c.out); break;
    case LINK_TO_INPUT: fs::create_hard_link("in.kvr", c.out); break;
    case HARD_LINK_TO_OLDER: writeFile("older", OLDER); fs::create_hard_link("older", c.out); break;
    case READ_ONLY_FILE: writeFile(locked = c.out, OLDER); break;
    case READ_ONLY_FOLDER: fs::create_directory(locked = "ro"); writeFile(c.out, OLDER); break;
    default: break;
    }
    EXPECT_EQ(c.setup.empty() ? 0 : std::system(c.setup.c_str()), 0);
    if (!locked.empty())
        setReadOnly(locked, true);
    const auto standing = snapshot();

    const Outcome run = runTorvan("2>&1 in.kvr " + std::string(c.out),
        (c.limit ? "ulimit -f " + std::to_string(c.limit) + "; " : "") + "exec 3<&-; " + c.shell);

    EXPECT_EQ(run.output, (c.banner ? BANNER : "") + c.message + FAILED);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(snapshot() == standing) << "nothing made, changed or removed";
    if (!c.info.empty())
        expectKvrinfo("in.kvr", "in.kvr: " + c.info, c.shell);
    if (!locked.empty())
        setReadOnly(locked, false);
    EXPECT_EQ(IS_WINDOWS ? 0 : std::system("find . -type f -exec chattr -a {} +"), 0);
    for (const std::string& name : listing())
        fs::remove_all(fs::u8path(name));
}

TEST_F(InTempDir, FailuresLeaveTheOutputPathAndTheInputAsTheyWere)
{
    for (const Failure& c : FAILURES)
        expectFailure(c);
    for (const Fields& fields : REJECTED) {
        std::string broken = "CHYBA ";
        for (const auto& [offset, value] : fields)
            broken += (broken.size() > 6 ? "; " : "") +
                      failed(RULES.at(offset), std::to_string(value));
        expectFailure({patched(ONE, fields), "out.fit", OLDER_FILE, FORMAT, broken});
    }
    for (const auto& [offset, byte, info] : REJECTED_BYTES)
        expectFailure(
            {std::string(ONE).replace(offset, 1, 1, byte), "out.fit", NOTHING, FORMAT, info});
    // A signature of nothing but unprintable bytes: kvrinfo quotes every one.
    std::string escaped;
    for (int i = 0; i < 40; i++)
        escaped += "\\x01";
    expectFailure({std::string(ONE).replace(SIGNATURE, 40, 40, '\x01'), "out.fit", NOTHING,
                   FORMAT, signatureBroken(escaped)});
}

// A sparse picture over 2 GiB converts with its true sizes into a drained FIFO (or NUL).
using Slow = InTempDir;
TEST_F(Slow, SparsePictureOverTwoGibibytes)
{
    const std::string out = IS_WINDOWS ? "NUL" : "out.fifo";
    writeSparsePicture("big.kvr", 32768, 32768);
    // The reader has a time limit: a run that never opens the FIFO must not leave it behind.
    const Outcome run =
        runTorvan("big.kvr " + out, "mkfifo out.fifo; timeout 300 cat out.fifo >/dev/null & ");
    EXPECT_EQ(run.output, report("big.kvr", out, 32768, 32768, 2147489280,
                                 "9.10.2004; 11:21:4.50"));
    EXPECT_TRUE(IS_WINDOWS || fs::is_fifo(out)) << "a FIFO is written, never replaced";
}

#ifdef __linux__
// What a run has written so far, to any file.
static uint64_t written(long pid)
{
    std::string rchar, wchar;
    uint64_t read = 0, bytes = 0;
    std::ifstream("/proc/" + std::to_string(pid) + "/io") >> rchar >> read >> wchar >> bytes;
    return bytes;
}

// Disturbs a run once more than the header is written or, after LATE, once its output is in
// place; a run that ended or replaced the older output first is retried, larger.
static Outcome disturbed(const char* out, int32_t& side, const std::string& before,
                         const std::function<void(long)>& disturb)
{
    const bool late = before.rfind(LATE, 0) == 0;
    for (;; side *= 2) {
        const uint64_t size = 2880 * (2 + (2ull * side * side - 1) / 2880);
        writeSparsePicture("in.kvr", side, side);
        if (fs::is_regular_file(out))
            writeFile(out, OLDER);
        const Outcome run = runTorvan("in.kvr " + std::string(out), before, [&](long pid) {
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
        if (late || (!replaced && (run.status != 0 || !fs::exists(out))) || side >= 16384)
            return run;
    }
}

// Signals and changes to the input or to the output's name while a run writes its picture.
TEST_F(InTempDir, DisturbedRuns)
{
    constexpr int RAW_AT_OUTPUT = 99;   // change: a raw picture moved to the output's name
    constexpr int APPEND_ONLY = 98;     // change: the older output made append-only
    const struct { const char* what; int sig, change; std::string before; int status; } cases[] = {
        {"a raw picture moved to the output's name before the rename", 0, RAW_AT_OUTPUT, "", 1},
        {"the older output made append-only: the rename is refused", 0, APPEND_ONLY, "", 1},
        {"SIGINT", SIGINT, 0, "", 130}, {"SIGTERM", SIGTERM, 0, "", 143},
        {"SIGHUP", SIGHUP, 0, "", 129}, {"SIGQUIT", SIGQUIT, 0, "", 131},
        {"SIGPIPE", SIGPIPE, 0, "", 141}, {"SIGTERM after the rename", SIGTERM, 0, LATE, 143},
        {"SIGKILL: nothing named is left", SIGKILL, 0, "", 137},
        {"SIGINT ignored from the start", SIGINT, 0, LATE + "trap '' INT; ", 0},
        {"SIGTERM to a run writing a named temporary file", SIGTERM, 0, NAMED, 143},
        {"input cut by 2 bytes", 0, -2, "", 1}, {"input grown by 1 byte", 0, 1, "", 1},
        {"input grown by 2 bytes", 0, 2, "", 1},
        {"input rewritten in place, its modification time put back", 0, 0, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t side = 2048;
        writeFile("out.fit", OLDER);
        const Outcome run = disturbed("out.fit", side, c.before, [&c](long pid) {
            if (c.sig != 0) {
                kill(pid, c.sig);
            } else if (c.change == RAW_AT_OUTPUT) {
                writeFile("f.kvr", ONE);
                fs::rename("f.kvr", "out.fit");
            } else if (c.change == APPEND_ONLY) {   // stopped, so that it cannot rename first
                kill(pid, SIGSTOP);
                EXPECT_EQ(readFile("out.fit") != OLDER || !std::system("chattr +a out.fit"), 1);
                kill(pid, SIGCONT);
            } else if (c.change != 0) {
                fs::resize_file("in.kvr", fs::file_size("in.kvr") + c.change);
            } else {
                const auto modified = fs::last_write_time("in.kvr");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::fstream("in.kvr", std::ios::in | std::ios::out).seekp(100).put('x');
                fs::last_write_time("in.kvr", modified);
            }
        });
        EXPECT_EQ(run.status, c.status);
        expectNoLeftovers();
        if (c.change == RAW_AT_OUTPUT) {
            EXPECT_EQ(run.output, BANNER + failed(PICTURE, "out.fit") + FAILED);
            EXPECT_EQ(readFile("out.fit"), ONE);
        } else if (c.change == APPEND_ONLY) {
            EXPECT_EQ(run.output, BANNER + failed(OPEN, "out.fit") + FAILED);
            EXPECT_EQ(readFile("out.fit"), OLDER);
            EXPECT_EQ(std::system("chattr -a out.fit"), 0);
        } else if (c.sig == 0) {
            EXPECT_EQ(run.output, BANNER + "* Nelze cist ze souboru `in.kvr'!\n" + FAILED);
        } else if (c.before.rfind(LATE, 0) != 0) {
            EXPECT_EQ(readFile("out.fit"), OLDER) << "the older output";
        } else {   // too late to stop it: the new picture stays, whole
            EXPECT_EQ(fs::file_size("out.fit"), 2880 * (2 + (2ull * side * side - 1) / 2880));
        }
        EXPECT_TRUE(c.sig == 0 || fs::file_size("in.kvr") == 88 + 2ull * side * side) << "input";
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
#endif

#ifdef _WIN32
// A file's access list in the system's own text (SDDL).
static std::string accessList(const std::string& path)
{
    char descriptor[4096];
    DWORD size = 0;
    LPSTR text = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &size) || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "(unreadable)";
    const std::string list = text;
    LocalFree(text);
    return list;
}

// A run ended from outside (TerminateProcess, as taskkill /F does) leaves nothing behind, while
// it writes and while its rename waits for an older output that another program holds: the new
// file is hidden, marked for deletion and its owner's alone until it takes its name.
TEST_F(InTempDir, KilledRunLeavesNothing)
{
    writeFile("out.fit", OLDER);
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "killed while the rename waits" : "killed while writing");
        if (held)
            writeFile("in.kvr", picture(2, 2));
        else
            writeSparsePicture("in.kvr", 32768, 32768);
        const HANDLE holder = CreateFileA("out.fit", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (!held)
            CloseHandle(holder);
        const HANDLE run = (HANDLE)_wspawnl(_P_NOWAIT, fs::absolute(TORVAN_PATH).wstring().c_str(),
                                            L"torvan", L"in.kvr", L"out.fit", nullptr);
        ASSERT_NE(run, INVALID_HANDLE_VALUE);
        std::error_code gone;   // complete, when held
        for (int waited = 0; waited < 1000 && (listing().size() < 3 ||
             (held && fs::file_size(fs::u8path(listing()[0]), gone) != 5760)); waited++)
            Sleep(10);
        EXPECT_EQ(listing().size(), 3u) << "the new file, beside in.kvr and out.fit";
        for (const char* other : {";WD)", ";BU)", ";AU)"})   // everyone, users, any signed-in user
            EXPECT_TRUE(held || accessList(listing()[0]).find(other) == std::string::npos) << other;
        Sleep(held ? 300 : 0);   // well into the second of attempts
        TerminateProcess(run, 1);
        WaitForSingleObject(run, INFINITE);
        CloseHandle(run);
        for (int waited = 0; waited < 200 && listing().size() > 2; waited++)
            Sleep(10);
        EXPECT_EQ(listing(), (std::vector<std::string>{"in.kvr", "out.fit"}));
        if (held) {   // held to the end, the rename is refused: the open message
            EXPECT_EQ(runTorvan("in.kvr out.fit").output, BANNER + failed(OPEN, "out.fit") + FAILED);
            CloseHandle(holder);
        }
        EXPECT_EQ(readFile("out.fit"), OLDER);
    }
}

// A replaced output keeps its access list and attributes; a new one gets what any new file
// in its folder gets.
TEST_F(InTempDir, OutputKeepsItsAccessListAndAttributes)
{
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    PSECURITY_DESCRIPTOR own = nullptr;
    writeFile("in.kvr", picture(2, 2));
    writeFile("any.fit", "");
    writeFile("kept.fit", OLDER);
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;FA;;;SY)(A;;FA;;;OW)(A;;FRFW;;;WD)", SDDL_REVISION_1, &own, nullptr));
    ASSERT_TRUE(SetFileSecurityA("kept.fit", DACL_SECURITY_INFORMATION, own));
    LocalFree(own);
    ASSERT_TRUE(SetFileAttributesA("kept.fit", hiddenSystem));
    const std::string kept = accessList("kept.fit");
    EXPECT_NE(kept, accessList("any.fit")) << kept;
    for (const char* out : {"kept.fit", "new.fit"})
        EXPECT_EQ(runTorvan(std::string("in.kvr ") + out).status, 0) << out;
    EXPECT_EQ(accessList("kept.fit"), kept);
    EXPECT_EQ(GetFileAttributesA("kept.fit") & hiddenSystem, hiddenSystem);
    EXPECT_EQ(accessList("new.fit"), accessList("any.fit"));
    EXPECT_EQ(GetFileAttributesA("new.fit") & hiddenSystem, 0u);
}
#endif

#ifdef TORVAN_CFITSIO
// Every pixel of the shipped 320 x 240 sample is its input sample shifted right by 4; with
// -i the file passes fitsverify clean, which reads DATE-OBS through the same library.
TEST_F(InTempDir, ReferenceLibraryReadsTheSampleBack)
{
    ASSERT_EQ(runTorvan("\"" SAMPLE_PATH "\" sample.fit -i").status, 0);
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
    if (std::system("command -v fitsverify >/dev/null") != 0)
        GTEST_SKIP() << "fitsverify is not installed (apt-get install fitsverify)";
    EXPECT_EQ(std::system("fitsverify sample.fit | grep -q '0 warning(s) and 0 error(s)'"), 0);
}
#endif
