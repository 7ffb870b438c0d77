// The built program end to end, run through the shell as a user or a script
// would, each test in an empty temporary folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
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
// date: card 6 after its keyword.
static std::string fits(int32_t width, int32_t height, const std::string& date,
                        const std::string& time, const std::string& inp)
{
    auto card = [](std::string text) { return text + std::string(80 - text.size(), ' '); };
    auto value = [](std::string v) { return std::string(21 - v.size(), ' ') + v; };
    std::string out = card("SIMPLE  =" + value("T")) + card("BITPIX  =" + value("16")) +
                      card("NAXIS   =" + value("2")) +
                      card("NAXIS1  =" + value(std::to_string(width))) +
                      card("NAXIS2  =" + value(std::to_string(height))) +
                      card("DATE-OBS" + date) + card("TIME    ='" + time + "'") +
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
// Control characters and ~ at the edges of printable ASCII; then, each after a letter that
// shows where it starts, the edges of UTF-8: a stray continuation, overlong forms of two,
// three and four bytes, the least and the greatest character of each length, the
// surrogates' edges, past U+10FFFF, a lead byte past F4, a character cut short by the end.
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

// What kvrinfo says of a file: said names it, then OK or CHYBA and why.
static void expectKvrinfo(const std::string& inp, const std::string& said)
{
    const Outcome info = runTorvan("\"" + inp + "\"", "", nullptr, KVRINFO);
    EXPECT_EQ(info.output, said + "\n");
    EXPECT_EQ(info.status, said.find(": OK ") == std::string::npos);
}

TEST_F(InTempDir, ArgumentRules)
{
    const struct { const char* args; std::string output; int status; } cases[] = {
        {"", FEW, 1}, {"-h", FEW, 1}, {"a.kvr", FEW, 1}, {"a.kvr b.fit -h", HELP, 0},
        {"a.kvr b.fit -i -h -i", HELP, 0},   // -i converts, but -h wins
        {"a.kvr b.fit -h -x", "* Neznamy argument `-x'!\n\n" + HELP, 1},
        {"a.kvr b.fit -i -x", "* Neznamy argument `-x'!\n\n" + HELP, 1},
        {"a.kvr b.fit -H", "* Neznamy argument `-H'!\n\n" + HELP, 1},
        {"a.kvr b.fit -help", "* Neznamy argument `-help'!\n\n" + HELP, 1},
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
    // kvrinfo's options come first, -- ends them; its help names the version. A field
    // list (-p) holds every field with its value, its rule and whether the rule holds; a
    // FIFO without a writer is not judged, nor waited for, and the next file is. Rows with
    // shell text before the run need POSIX.
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
        {"-t p b.kvr", "CHYBA\t\t\t\tneni obycejny soubor\tp\nCHYBA\t2\t2\t2004-13-09T11:21:04.050\t"
         "mesic 13 (povoleno 1 az 12)\tb.kvr\n", 1, "mkfifo p; "},
        {"-t \"x: CHYBA\ty.kvr\"", "OK\t2\t2\t2004-10-09T11:21:04.050\t\tx: CHYBA\ty.kvr\n", 0,
         "cp a.kvr \"x: CHYBA\ty.kvr\"; "},
        {"a.kvr >&-", "", 1, "true; "},   // a report that reaches no one is a failure
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

// Each row converts over the row before's output; a 9-character path fills card 8, which
// names the input in ASCII (card) when its name is not. On POSIX, rows may say what
// stands at out (shell text before the run), where the run's output goes (redirections
// after the paths; result: the file that then holds the picture) and what the shell then
// finds true of out.
TEST_F(InTempDir, ConvertsIntoCardsAndWholeBlocks)
{
    const struct Case {
        int32_t width, height;
        const char* out = "out.fit";
        struct {
            std::string before = "", after = "", result = "", check = "";
            int pictures = 1;   // in result, one after another
        } shell = {};
        const char *inp = "a.kvr", *card = "";
        int32_t taken[7] = {9, 10, 2004, 11, 21, 4, 50};   // day, month, year, hour, ...
        const char *date = "09/10/04", *time = "11:21:04.050";
        const char* iso = "";   // converted with -i, card 6 in the FITS standard's form
    } cases[] = {
        {768, 576}, {720, 576}, {1441, 1}, {40, 36}, {1, 1},
        {1, 1, "-h"},   // a file name: only the arguments after the two paths are switches
        // Links: relative from here, absolute and relative from a folder.
        {2, 2, "o", {"mkdir s; echo older > s/t.fit; ln -s t.fit s/m; ln -s $PWD/s/m s/l; "
                     "ln -s s/l o; ", "", "", "test -L o -a -L s/l -a -L s/m -a -f s/t.fit"}},
        {2, 2, "o", {"rm o; echo older > o; ln o snap; ", "", "", "test $(cat snap) = older"}},
        // Without /proc/self/fd, a named temporary file: private while written, then as any
        // new file. The shell's process number is the run's, after exec.
        {2, 2, "o", {"rm o; umask 002; exec unshare -rm sh -c "
                     "'mount -t tmpfs none /proc/$$/fd && \"$@\"' sh ", "", "",
                     "test $(stat -c %a o) = 664"}},
        {2, 2, "o", {"chmod 645 o; ", "", "", "test $(stat -c %a o) = 645"}},
        {2, 2, "o", {"rm o; umask 077; ", "", "", "test $(stat -c %a o) = 600"}},
        // The access list (its mask wider than the group bits) and the attributes stay.
        {2, 2, "o", {"{ setfacl -m u:nobody:r,m::rw o && setfattr -n user.night -v 7 o && "
                     "getfacl -c o >acl; } 2>&- || echo 'no ACL here: not checked' >&2; ", "", "",
                     "test ! -f acl || { getfacl -c o | cmp -s - acl && "
                     "test $(getfattr --only-values -n user.night o) = 7; }"}},
        // Standard output closed: the input does not take its number, and is not written.
        {2, 2, "so", {"ln -sf /proc/self/fd/1 so; ", "2>&1 >&-", "nothing", "", 0}},
        {2, 2, "so", {"ln -s /proc/self/fd/1 so; ", "2>&1 >x.fit", "x.fit", "test -L so"}},
        {2, 2, "so", {"exec 3>&1; ", "2>&3 | cat >x.fit", "x.fit"}},
        // Standard output is written as it is: grouped runs follow each other, >> appends.
        {2, 2, "so", {"ln -sf /proc/self/fd/1 so; { " + PROGRAM + " a.kvr so; " + PROGRAM +
                      " a.kvr so; } 2>&- >x.fit; ", "2>&1 >>x.fit", "x.fit", "", 3}},
        {2, 2, "o", {"ulimit -s 256; "}},   // nothing large on the stack
        {2, 2, LONG_NAME.c_str(), {}, LONG_INPUT.c_str()},   // temporary name within 255 bytes
        {2, 2, LONG_PATH.c_str()},
        // Names beyond any ANSI code page; cut at column 80 once they are ASCII.
        {2, 2, "Měsíc.fit", {}, "Měsíc úplněk.kvr", "Mesic uplnek.kvr"},
        {2, 2, "Луна.fit", {}, "Ωμέγα ÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ.kvr", "????? AACDEEILLNOORRSTUUYZ.kvr"},
        {2, 2, "o", {}, "Луна áäčďéěíĺľňóôŕřšťúůýž nad Ondřejovem.kvr",
         "???? aacdeeillnoorrstuuyz nad Ondrejovem.kvr"},
        {2, 2, "o", {}, EDGES.c_str(), "a?~??A?B??C?D?E???F?G?H???I???J?K?"},
        {2, 2, "o", {}, LONG_EDGES.c_str(), "?L????M?N?O????P????Q?"},
        {10, 3, "o", {}, "././a.kvr", "", {31, 12, 1999, 23, 59, 59, 999}, "31/12/99",
         "23:59:59.999"},
        {1000000, 1, "o", {}, "./././a.kvr", "", {1, 1, 2050, 20, 0, 0, 0}, "01/01/50",
         "20:00:00.000"},
        {1, 1, "o", {}, "a.kvr", "", {19, 9, 2090, 9, 10, 43, 100}, "19/09/90", "09:10:43.100"},
        {1, 1, "o", {}, "a.kvr", "", {31, 2, -1999, 0, 21, 4, 7}, "31/02/-9-9", "00:21:04.007"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, -2004, 11, 21, 4, 50}, "09/10/0-4"},
        // Each byte of the year reaches its last two places.
        {1, 1, "o", {}, "a.kvr", "", {9, 10, 0x04030201, 11, 21, 4, 50}, "09/10/85"},
        // The full year, four places from 0 to 9999, else signed and five.
        {1, 1, "o", {}, "a.kvr", "", {9, 10, 0, 11, 21, 4, 50}, "", "11:21:04.050",
         "0000-10-09T11:21:04.050"},
        {1, 1, "o", {}, "a.kvr", "", {1, 2, 7, 3, 4, 5, 6}, "", "03:04:05.006",
         "0007-02-01T03:04:05.006"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, 1904, 11, 21, 4, 50}, "", "11:21:04.050",
         "1904-10-09T11:21:04.050"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, 2004, 11, 21, 4, 50}, "", "11:21:04.050",
         "2004-10-09T11:21:04.050"},
        {1, 1, "o", {}, "a.kvr", "", {31, 12, 9999, 23, 59, 59, 999}, "", "23:59:59.999",
         "9999-12-31T23:59:59.999"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, 10000, 11, 21, 4, 50}, "", "11:21:04.050",
         "+10000-10-09T11:21:04.050"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, -1, 11, 21, 4, 50}, "", "11:21:04.050",
         "-00001-10-09T11:21:04.050"},
        {1, 1, "o", {}, "a.kvr", "", {9, 10, -2004, 11, 21, 4, 50}, "", "11:21:04.050",
         "-02004-10-09T11:21:04.050"},
    };
    fs::create_directories(LONG_FOLDER);
    for (const Case& c : cases) {
        const auto& shell = c.shell;
        // Windows names hold no tab and are always UTF-8: a tab marks the rows that are not.
        if (IS_WINDOWS && (!(shell.before + shell.after).empty() || strchr(c.inp, '\t')))
            continue;
        const int32_t* t = c.taken;
        writeFile(c.inp, patched(picture(c.width, c.height), {{DAY, t[0]}, {MONTH, t[1]},
                  {YEAR, t[2]}, {HOUR, t[3]}, {MINUTE, t[4]}, {SECOND, t[5]}, {MILLI, t[6]}}));
        const std::string taken = std::to_string(t[0]) + "." + std::to_string(t[1]) + "." +
            std::to_string(t[2]) + "; " + std::to_string(t[3]) + ":" + std::to_string(t[4]) +
            ":" + std::to_string(t[5]) + "." + std::to_string(t[6]);
        SCOPED_TRACE(shell.before + c.inp + " " + c.out + " " + shell.after + ", " + c.time);
        const Outcome run = runTorvan("\"" + std::string(c.inp) + "\" \"" + c.out + "\" " +
                                      (*c.iso ? "-i " : "") + shell.after, shell.before);
        const std::string expected =
            fits(c.width, c.height, *c.iso ? "= '" + std::string(c.iso) + "'" : "='" +
                 std::string(c.date) + "'", c.time, *c.card ? c.card : c.inp);
        EXPECT_EQ(run.output, report(c.inp, c.out, c.width, c.height, expected.size(), taken));
        std::string pictures;
        for (int i = 0; i < shell.pictures; i++)
            pictures += expected;
        EXPECT_TRUE(readFile(shell.result.empty() ? c.out : shell.result) == pictures);
        EXPECT_EQ(shell.check.empty() ? 0 : std::system(shell.check.c_str()), 0);
        expectNoLeftovers(fs::u8path(c.out).parent_path().empty() ? "."
                          : fs::u8path(c.out).parent_path().u8string());
        char full[80];   // the capture time in full, as kvrinfo writes it
        snprintf(full, sizeof full, "%02d.%02d.%04d %02d:%02d:%02d.%03d", (int)t[0], (int)t[1],
                 (int)t[2], (int)t[3], (int)t[4], (int)t[5], (int)t[6]);
        std::string name = c.inp;
        std::replace_if(name.begin(), name.end(),
                        [](unsigned char b) { return b < 0x20 || b == 0x7f; }, '?');
        expectKvrinfo(c.inp, name + ": OK " + std::to_string(c.width) + " x " +
                             std::to_string(c.height) + ", " + full);
    }
    fs::rename(LONG_FOLDER.substr(0, 100), "d");   // short enough for the C++ library to remove
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
static const std::string MISSING = "(no file)", FOLDER = "(a folder)", FIFO_INPUT = "(a FIFO)";
static const std::string ONE = picture(1, 1), OLDER = "SIMPLE  = an older output";
static const std::string HEADER = ONE.substr(0, 88);
enum Before { NOTHING, OLDER_FILE, SUBFOLDER, LINK_TO_INPUT, SYMBOLIC_LINK_TO_INPUT,
              HARD_LINK_TO_OLDER, SYMBOLIC_LINK_TO_OLDER, READ_ONLY_FILE, READ_ONLY_FOLDER, FIFO,
              STANDARD_OUTPUT, RAW_PICTURE, LINK_TO_FD3, STANDARD_OUTPUT_INTO_RAW };

// Whatever stands at the output path stays as it was, and so does the input. A
// file-size limit, in 512-byte blocks, makes writes past it fail as on a full medium.
// Then kvrinfo says info of the input, where the row gives it.
enum Host { ANY_HOST, WINDOWS_ONLY, POSIX_ONLY };
// The third read of the input fails, in the middle of the samples, as on a failing disk
// (the leak checker of a sanitizer build cannot work under strace).
static const char FAILING_DISK[] = "exec env ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null "
    "-P \"$PWD/in.kvr\" -e inject=read:error=EIO:when=3 sh -c '\"$@\"' sh ";
struct Failure {
    std::string input; const char* out; Before before; std::string message, info = "";
    int limit = 0;
    bool banner = true;
    Host host = ANY_HOST;
    const char* shell = "";   // before the run
};

static const Failure FAILURES[] = {
    {MISSING, "out.fit", OLDER_FILE, failed(OPEN, "in.kvr"), "CHYBA nelze otevrit"},
    {ONE, "no/out.fit", NOTHING, failed(OPEN, "no/out.fit"), "OK 1 x 1, 09.10.2004 11:21:04.050"},
    {MISSING, "no/out.fit", NOTHING, failed(OPEN, "in.kvr")},
    {ONE, "sub", SUBFOLDER, failed(OPEN, "sub")},
    {ONE, "out.fit", READ_ONLY_FILE, failed(OPEN, "out.fit")},
    {ONE, "ro/out.fit", READ_ONLY_FOLDER, failed(OPEN, "ro/out.fit")},
    {HEADER.substr(0, 87), "out.fit", OLDER_FILE, failed(READ, "in.kvr"),
     "CHYBA kratsi nez hlavicka: 87 B z 88 B"},
    {FOLDER, "out.fit", NOTHING, failed(IS_WINDOWS ? OPEN : READ, "in.kvr"),   // opens on POSIX
     IS_WINDOWS ? "CHYBA nelze otevrit" : "CHYBA neni obycejny soubor"},
    {FIFO_INPUT, "out.fit", OLDER_FILE, FORMAT, "CHYBA neni obycejny soubor"},   // no writer
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
    {patched(HEADER, {{WIDTH, 0}}), "out.fit", NOTHING, FORMAT},
    {patched(HEADER, {{HEIGHT, 0}}), "out.fit", NOTHING, FORMAT},
    {ONE, "in.kvr", NOTHING, failed(SAME, "in.kvr")},
    {ONE, "./in.kvr", NOTHING, failed(SAME, "./in.kvr")},
    {ONE, "hard.fit", LINK_TO_INPUT, failed(SAME, "hard.fit")},
    {ONE, "soft.fit", SYMBOLIC_LINK_TO_INPUT, failed(SAME, "soft.fit")},
    {ONE, "fd3", LINK_TO_FD3, failed(SAME, "fd3")},   // a link that leads to the input once open
    {ONE, "out.fit >>in.kvr", NOTHING, failed(SAME, "in.kvr"), "", 0, false},
    {ONE, "f0002.kvr", RAW_PICTURE, failed(PICTURE, "f0002.kvr")},   // torvan *.kvr
    {ONE, "so >>f.kvr", STANDARD_OUTPUT_INTO_RAW, failed(PICTURE, "so")},   // appended to
    {ONE, "\"\"", NOTHING, failed(OPEN, "")},
    // Windows' devices by name, with any extension, and a stream in a file: nothing is
    // opened, made or sent (a port leads to a file of the test's own under wine).
    {ONE, "COM1.fit", NOTHING, failed(OPEN, "COM1.fit"), "", 0, true, WINDOWS_ONLY},
    {ONE, "aux", NOTHING, failed(OPEN, "aux"), "", 0, true, WINDOWS_ONLY},
    {ONE, "con.fit", NOTHING, failed(OPEN, "con.fit"), "", 0, true, WINDOWS_ONLY},
    {ONE, "o.fit:x", NOTHING, failed(OPEN, "o.fit:x"), "", 0, true, WINDOWS_ONLY},
    {MISSING, "out.fifo", FIFO, failed(OPEN, "in.kvr")},   // no reader: must not wait for one
    {HEADER, "so", STANDARD_OUTPUT, FORMAT},
    {picture(512, 512), "out.fit", OLDER_FILE, failed(READ, "in.kvr"), "", 0, true, POSIX_ONLY,
     FAILING_DISK},
    // Limits: the second flush fails, in the data; the close fails, in the last bytes.
    {picture(512, 512), "out.fit", HARD_LINK_TO_OLDER, failed(WRITE, "out.fit"), "", 512},
    {picture(100, 100), "out.fit", SYMBOLIC_LINK_TO_OLDER, failed(WRITE, "out.fit"), "", 2},
    {ONE, "out.fit", OLDER_FILE, failed(WRITE, "out.fit"), "", 10},
};

// Every header rule just broken: one field, its upper bytes too, or one text byte.
static const Fields REJECTED[] = {
    {{VERSION, 1}}, {{VERSION, 3}}, {{ENGINE, 1}}, {{WIDTH, -1}, {HEIGHT, -1}}, {{MONTH, 0}},
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
    {COMPRESSION, '0', "CHYBA komprese \"0\" (povoleno \" \")"},
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

static void expectFailure(const Failure& c)
{
    if ((c.host == WINDOWS_ONLY && !IS_WINDOWS) || (c.host == POSIX_ONLY && IS_WINDOWS))
        return;
    SCOPED_TRACE(std::string(c.out) + " after " + c.message);
    fs::remove_all("in.kvr");
    if (c.input == FOLDER)
        fs::create_directory("in.kvr");
#ifndef _WIN32
    else if (c.input == FIFO_INPUT)
        mkfifo("in.kvr", 0666);
#endif
    else if (c.input != MISSING)
        writeFile("in.kvr", c.input);
    std::string locked;
    switch (c.before) {
    case OLDER_FILE: writeFile(c.out, OLDER); break;
    case RAW_PICTURE: writeFile(c.out, ONE); break;
    case LINK_TO_FD3: fs::create_symlink("/proc/self/fd/3", c.out); break;
    case SUBFOLDER: fs::create_directory(c.out); break;
    case LINK_TO_INPUT: fs::create_hard_link("in.kvr", c.out); break;
    case SYMBOLIC_LINK_TO_INPUT: fs::create_symlink("in.kvr", c.out); break;
    case HARD_LINK_TO_OLDER: writeFile("older", OLDER); fs::create_hard_link("older", c.out); break;
    case SYMBOLIC_LINK_TO_OLDER: writeFile("older", OLDER); fs::create_symlink("older", c.out); break;
    case READ_ONLY_FILE: writeFile(locked = c.out, OLDER); break;
    case READ_ONLY_FOLDER: fs::create_directory(locked = "ro"); writeFile(c.out, OLDER); break;
#ifndef _WIN32
    case FIFO: mkfifo(c.out, 0666); break;
#endif
    case STANDARD_OUTPUT: fs::create_symlink("/proc/self/fd/1", c.out); break;
    case STANDARD_OUTPUT_INTO_RAW:
        fs::create_symlink("/proc/self/fd/1", "so");
        writeFile("f.kvr", ONE);
        break;
    default: break;
    }
    if (!locked.empty())
        setReadOnly(locked, true);
    const auto content = [&c] { return fs::is_regular_file(c.out) ? readFile(c.out) : ""; };
    const std::string input = c.input == FIFO_INPUT ? "" : readFile("in.kvr"), older = content();
    const fs::file_type outType = fs::symlink_status(c.out).type();
    const std::string limit = "ulimit -f " + std::to_string(c.limit) + "; ";
    const std::vector<std::string> standing = listing();

    const Outcome run = runTorvan("2>&1 in.kvr " + std::string(c.out),
                                  (c.limit ? limit : "") + "exec 3<&-; " + c.shell);

    EXPECT_EQ(run.output, (c.banner ? BANNER : "") + c.message + FAILED);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(fs::symlink_status(c.out).type(), outType);
    EXPECT_EQ(content(), older);
    EXPECT_EQ(c.input == FIFO_INPUT ? "" : readFile("in.kvr"), input);
    EXPECT_EQ(listing(), standing) << "nothing made, nothing removed";
#ifdef TORVAN_PORTS
    EXPECT_EQ(readFile(TORVAN_PORTS "/com1") + readFile(TORVAN_PORTS "/lpt1"), "");
#endif
    if (!c.info.empty())
        expectKvrinfo("in.kvr", "in.kvr: " + c.info);
    if (c.before == STANDARD_OUTPUT_INTO_RAW) {
        EXPECT_EQ(readFile("f.kvr"), ONE);
    }
    if (!locked.empty())
        setReadOnly(locked, false);
    for (const char* made : {c.out, "ro", "so", "f.kvr"})
        fs::remove_all(made);
}

TEST_F(InTempDir, FailuresLeaveTheOutputPathAndTheInputAsTheyWere)
{
    // What needs POSIX: file-size limits, symbolic links, FIFOs, /proc, read-only folders.
    for (const Failure& c : FAILURES)
        if (!IS_WINDOWS || !(c.limit || c.before == SYMBOLIC_LINK_TO_INPUT || c.before == FIFO ||
                             c.before == STANDARD_OUTPUT || c.before == READ_ONLY_FOLDER ||
                             c.before == STANDARD_OUTPUT_INTO_RAW ||
                             c.before == LINK_TO_FD3 || c.input == FIFO_INPUT))
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

// Disturbs a run once more than the header is written or, after shell text, once its
// output is in place; a run that ends undisturbed, or that had replaced the older output
// standing at a regular out when it was disturbed, is retried with a larger picture.
static Outcome disturbed(const char* out, int32_t& side, const std::string& before,
                         const std::function<void(long)>& disturb)
{
    for (;; side *= 2) {
        const uint64_t size = 2880 * (2 + (2ull * side * side - 1) / 2880);
        writeSparsePicture("in.kvr", side, side);
        if (fs::is_regular_file(out))
            writeFile(out, OLDER);
        const Outcome run = runTorvan("in.kvr " + std::string(out), before, [&](long pid) {
            for (int waited = 0; waited < 10000 && (before.empty() ? written(pid) <= 2880
                                 : !fs::is_regular_file(out) || fs::file_size(out) != size);
                 waited++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            disturb(pid);
        });
        const bool replaced = fs::is_regular_file(out) && readFile(out) != OLDER;
        if (!before.empty() || (!replaced && (run.status != 0 || !fs::exists(out))) ||
            side >= 16384)
            return run;
    }
}

// A signal mid-way, or late: the output in place and the run held at its exit by a full
// pipe, or ignored from the start. Or the input changed by -2, 1 or 2 bytes, or (0)
// rewritten in place with its modification time put back, a while after it was made.
TEST_F(InTempDir, DisturbedRuns)
{
    const std::string late = "head -c 65536 /dev/zero; ";
    const struct { int sig, change; std::string before; int status; } cases[] = {
        {SIGINT, 0, "", 130}, {SIGTERM, 0, "", 143}, {SIGHUP, 0, "", 129},
        {SIGQUIT, 0, "", 131}, {SIGPIPE, 0, "", 141}, {SIGTERM, 0, late, 143},
        {SIGINT, 0, late + "trap '' INT; ", 0}, {0, -2, "", 1}, {0, 1, "", 1}, {0, 2, "", 1},
        {0, 0, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.sig) + ", change " + std::to_string(c.change));
        int32_t side = 2048;
        writeFile("out.fit", OLDER);
        const Outcome run = disturbed("out.fit", side, c.before, [&c](long pid) {
            if (c.sig != 0) {
                kill(pid, c.sig);
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
        if (c.sig == 0) {
            EXPECT_EQ(run.output, BANNER + "* Nelze cist ze souboru `in.kvr'!\n" + FAILED);
        } else if (c.before.empty()) {
            EXPECT_EQ(readFile("out.fit"), OLDER) << "the older output";
        } else {   // too late to stop it: the new picture stays, whole
            EXPECT_EQ(fs::file_size("out.fit"), 2880 * (2 + (2ull * side * side - 1) / 2880));
        }
        if (c.sig != 0) {
            EXPECT_EQ(fs::file_size("in.kvr"), 88 + 2ull * side * side) << "input changed";
        }
    }
    // The output's folder renamed and a new one made, with files of a temporary's name, while
    // the run is stopped: the picture lands in the folder the run opened, and nothing else
    // is renamed, deleted or left behind.
    fs::create_directory("d");
    writeFile("d/out.fit", OLDER);
    int32_t side = 2048;
    const Outcome moved = disturbed("d/out.fit", side, "", [](long pid) {
        kill(pid, SIGSTOP);
        if (readFile("d/out.fit") == OLDER) {
            fs::rename("d", "d.old");
            fs::create_directory("d");
            for (const auto& entry : fs::directory_iterator("d.old"))   // a named temporary
                if (entry.path().filename().u8string()[0] == '.')
                    writeFile("d/" + entry.path().filename().u8string(), "planted");
            writeFile("d/.out.fit.Xq3z9A", "planted");
        }
        kill(pid, SIGCONT);
    });
    EXPECT_EQ(moved.status, 0);
    EXPECT_EQ(fs::file_size("d.old/out.fit"), 2880 * (2 + (2ull * side * side - 1) / 2880));
    for (const auto& entry : fs::directory_iterator("d"))
        EXPECT_EQ(readFile(entry.path().u8string()), "planted") << entry.path().u8string();
    fs::remove_all("d");
    fs::current_path("d.old");
    expectNoLeftovers();
    fs::current_path(dir);
    // An output FIFO without a reader holds the run until a signal ends it.
    writeFile("in.kvr", ONE);
    EXPECT_EQ(runTorvan("in.kvr out.fifo", "mkfifo out.fifo; ", [](long pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, SIGTERM);
    }).status, 143);
    EXPECT_TRUE(fs::is_fifo("out.fifo"));
}

// A device at the output path is written directly: an interrupt leaves it.
TEST_F(InTempDir, DeviceOutputStays)
{
    if (mknod("null.dev", S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node is not permitted here: run as root for this test";
    int32_t side = 16384;
    EXPECT_EQ(disturbed("null.dev", side, "", [](long pid) { kill(pid, SIGTERM); }).status, 143);
    EXPECT_EQ(fs::status("null.dev").type(), fs::file_type::character);
}
#endif

#ifdef _WIN32
// A run ended from outside (TerminateProcess, as taskkill /F does) leaves nothing behind:
// the new file is marked for deletion until it is complete.
TEST_F(InTempDir, KilledRunLeavesNothing)
{
    writeSparsePicture("in.kvr", 32768, 32768);
    writeFile("out.fit", OLDER);
    std::wstring command = fs::u8path("\"" + fs::absolute(TORVAN_PATH).u8string() +
                                      "\" in.kvr out.fit").wstring();
    STARTUPINFOW startup = {};
    PROCESS_INFORMATION run;
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &run));
    for (int waited = 0; waited < 1000 && listing().size() < 3; waited++)
        Sleep(10);
    EXPECT_EQ(listing().size(), 3u) << "the new file, beside in.kvr and out.fit";
    TerminateProcess(run.hProcess, 1);
    WaitForSingleObject(run.hProcess, INFINITE);
    CloseHandle(run.hThread);
    CloseHandle(run.hProcess);
    for (int waited = 0; waited < 200 && listing().size() > 2; waited++)
        Sleep(10);
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.kvr", "out.fit"}));
    EXPECT_EQ(readFile("out.fit"), OLDER);
}
#endif

#ifdef TORVAN_CFITSIO
// Every pixel of the shipped 320 x 240 sample is its input sample shifted right by 4, and
// with -i the capture time is read as such; the file then passes fitsverify clean.
TEST_F(InTempDir, ReferenceLibraryReadsTheSampleBack)
{
    ASSERT_EQ(runTorvan("\"" SAMPLE_PATH "\" sample.fit -i").status, 0);
    const std::string kvr = readFile(SAMPLE_PATH);
    fitsfile* file = nullptr;
    int status = 0, anynul = 0, year, month, day, hour, minute;
    double second;
    char date[FLEN_VALUE];
    std::vector<unsigned short> pixels(320 * 240);
    fits_open_file(&file, "sample.fit", READONLY, &status);
    fits_read_img(file, TUSHORT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
    fits_read_key(file, TSTRING, "DATE-OBS", date, nullptr, &status);
    fits_str2time(date, &year, &month, &day, &hour, &minute, &second, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
    for (size_t i = 0; i < pixels.size(); i++)
        ASSERT_EQ(pixels[i], ((uint8_t)kvr[88 + 2 * i] | (uint8_t)kvr[89 + 2 * i] << 8) >> 4) << i;
    EXPECT_EQ(std::vector<int>({year, month, day, hour, minute}),
              std::vector<int>({2004, 10, 9, 11, 21}));
    EXPECT_DOUBLE_EQ(second, 4.050);
    if (std::system("command -v fitsverify >/dev/null") != 0)
        GTEST_SKIP() << "fitsverify is not installed (apt-get install fitsverify)";
    EXPECT_EQ(std::system("fitsverify sample.fit | grep -q '0 warning(s) and 0 error(s)'"), 0);
}
#endif
