// What the tests of the built programs share: running them through the shell as a user or a
// script would, pictures made to measure, what each should give, a temporary folder per test.
#ifndef TORVAN_TESTS_SUPPORT_H
#define TORVAN_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Rows that make files of other users, flags or capabilities need root.
#ifdef _WIN32
constexpr bool IS_WINDOWS = true;
inline bool isRoot() { return false; }
#else
#include <unistd.h>
constexpr bool IS_WINDOWS = false;
inline bool isRoot() { return geteuid() == 0; }
#endif

// What the programs put between a folder and a name they join; text with it for each '/'.
inline const std::string SEP = IS_WINDOWS ? "\\" : "/";
inline std::string joined(std::string text)
{
    for (char& c : text)
        c = c == '/' ? SEP[0] : c;
    return text;
}

// The programs as a shell runs them, where any user may run them.
extern const std::string PROGRAM, KVRINFO, KVR2FITS;
inline const std::string BANNER =
    "\nTORVAN verze 1.2 (09/10/2004): Konverze KVR obrazku verze 2 do formatu FITS.\n\n";
inline const std::string FAILED = "* Konverze se nezdarila!\n";
inline const std::string HELP =
    "Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n"
    "  <input.kvr>: vstupni soubor formatu KVR verze 2\n"
    "  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n"
    "  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n"
    "  [-h]: tato napoveda\n\n"
    "Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n";
inline const std::string TOO_FEW_ARGUMENTS = "* Nedostatecny pocet argumentu!\n\n" + HELP;

struct Outcome { std::string output; int status; };   // 128 + a signal that ended the run

// A program with args, as a shell runs it. POSIX only: before is shell text ahead of the
// program, during gets its process number.
Outcome run(const std::string& program, const std::string& args, const std::string& before = "",
            const std::function<void(long)>& during = nullptr);
// Names in UTF-8, as the programs take them on every host.
std::string readFile(const std::string& name);
void writeFile(const std::string& name, const std::string& bytes);

enum Field { VERSION = 3, COMPRESSION = 7, ENGINE = 8, SIGNATURE = 12, WIDTH = 52, HEIGHT = 56,
             YEAR = 60, MONTH = 64, DAY = 68, HOUR = 72, MINUTE = 76, SECOND = 80, MILLI = 84 };
using Fields = std::vector<std::pair<int, int32_t>>;
std::string patched(std::string bytes, const Fields& fields);
// A valid header, then width x height samples that use all 16 bits.
std::string picture(int32_t width, int32_t height);
void writeSparsePicture(const std::string& path, int32_t width, int32_t height);
// What picture(width, height) read from inp becomes: the cards (date: card 6 after its
// keyword), then each sample's upper 12 bits, high byte first, and zeros up to a block.
std::string fits(int32_t width, int32_t height, const std::string& date,
                 const std::string& time, const std::string& inp);
std::string report(const std::string& inp, const std::string& out, int32_t width,
                   int32_t height, uint64_t outSize, const std::string& taken);

inline const std::string ONE = picture(1, 1), OLDER = "SIMPLE  = an older output";
inline const std::string HEADER = ONE.substr(0, 88);
// A message with @ for its path.
std::string failed(std::string message, const std::string& path);
inline const char OPEN[] = "* Soubor `@' se nepodarilo otevrit!\n";
inline const char READ[] = "* Nelze cist ze souboru `@'!\n";
inline const char WRITE[] = "* Nelze zapisovat do `@'!";
inline const char SAME[] = "* Vystupni soubor `@' je totozny se vstupnim!\n";
inline const char PICTURE[] = "* Vystupni soubor `@' je obrazek KVR a nebude prepsan!\n";
inline const std::string FORMAT = failed("* Format souboru `@' neodpovida definici KVR!\n",
                                         "in.kvr");

// Shell text before a run. Read number `read` of in.kvr fails, as on a failing disk (LSan
// cannot work under strace).
#define FAILING_DISK(read) "exec env ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null " \
    "-P \"$PWD/in.kvr\" -e inject=read:error=EIO:when=" #read " sh -c '\"$@\"' sh "
// After HELD_AT_EXIT, a full pipe holds the run at its exit, its output in place;
// WITHOUT_UNNAMED_FILES hides /proc/self/fd, so that the new picture is written under a name
// from the start.
inline const std::string HELD_AT_EXIT = "head -c 65536 /dev/zero; ";
inline const std::string WITHOUT_UNNAMED_FILES =
    "exec unshare -rm sh -c 'mount -t tmpfs none /proc/$$/fd && \"$@\"' sh ";
// The run as another user, daemon, whom files and folders are given to by the row.
inline const std::string AS_DAEMON = "exec runuser -u daemon -- sh -c '\"$@\"' sh ";
// Any open of in.kvr kills the run: a FIFO is judged by its path, as opening it would release
// a writer waiting on it.
inline const std::string UNOPENED = "exec env ASAN_OPTIONS=detect_leaks=0 sh -c 'exec strace -qq "
    "-o /dev/null -P in.kvr -e inject=open,openat:signal=KILL sh -c \"exec 2>&1; \\\"\\$@\\\"\" "
    "sh \"$@\" 2>&-' sh ";

// A temporary output's name starts with a dot; none may stay.
void expectNoLeftovers(const std::string& folder = ".");
// What kvrinfo says of a file: said names it, then OK or CHYBA and why.
void expectKvrinfo(const std::string& inp, const std::string& said,
                   const std::string& before = "");
std::vector<std::string> listing();
// Every entry under the current folder: its type, and a regular file's bytes.
std::map<std::string, std::string> snapshot();

// Each test in an empty folder of its own; under wine, no test may have sent a byte to a port.
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
#ifdef TORVAN_PORTS
        for (int n = 1; n <= 10; n++)
            EXPECT_EQ(readFile(TORVAN_PORTS "/com" + std::to_string(n)) +
                      readFile(TORVAN_PORTS "/lpt" + std::to_string(n)), "") << n;
#endif
    }
};

#endif
