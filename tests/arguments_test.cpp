// The command lines of torvan and kvr2fits: what each accepts, refuses, and says.
#include "support.h"

TEST_F(InTempDir, TorvanArgumentRules)
{
    const struct { const char* args; std::string output; int status; } cases[] = {
        {"", TOO_FEW_ARGUMENTS, 1}, {"-h", TOO_FEW_ARGUMENTS, 1}, {"a.kvr b.fit -i -h -i", HELP, 0},   // -h wins over -i
        // Switches are whole words: neither is known by its first letters.
        {"a.kvr b.fit -h -ix", "* Neznamy argument `-ix'!\n\n" + HELP, 1},
        {"a.kvr b.fit -i -hx", "* Neznamy argument `-hx'!\n\n" + HELP, 1},
        // A stream in the input, and the console, which wine cannot open: refused at once.
        {"a.kvr:x b.fit", "* Soubor `a.kvr:x' se nepodarilo otevrit!\n" + FAILED, 1},
        {"CON b.fit", "* Soubor `CON' se nepodarilo otevrit!\n" + FAILED, 1},
    };
    writeFile("a.kvr", picture(2, 2));
    for (const auto& c : cases) {
        const Outcome outcome = run(PROGRAM, c.args);
        EXPECT_EQ(outcome.output, BANNER + c.output) << c.args;
        EXPECT_EQ(outcome.status, c.status) << c.args;
        EXPECT_FALSE(fs::exists("b.fit")) << c.args;
    }
}

// GNU's way: options anywhere before --, --help and --version on standard output with status 0,
// a refused command line on standard error with status 2 and nothing made.
TEST_F(InTempDir, Kvr2fitsArgumentRules)
{
    const std::string tryHelp = "Zkuste `kvr2fits --help'.\n";
    const struct { const char* args; std::string output; int status; } cases[] = {
        {"--help", "Pouziti:  kvr2fits [-j N] [-f] [-q] [-r] [-n] [--classic] [--set KLIC=", 0},
        {"a.kvr -h out", "Pouziti:  kvr2fits ", 0},
        {"a.kvr out --version", "kvr2fits (TORVAN) 1.2\n", 0},
        {"", "kvr2fits: chybi zdroj a slozka\n" + tryHelp, 2},
        {"a.kvr", "kvr2fits: chybi zdroj nebo slozka\n" + tryHelp, 2},
        {"-x a.kvr out", "kvr2fits: neznamy prepinac `-x'\n" + tryHelp, 2},
        {"-j 65 a.kvr out", "kvr2fits: pocet prevodu musi byt 1 az 64, ne `65'\n" + tryHelp, 2},
        {"-j0 a.kvr out", "kvr2fits: pocet prevodu musi byt 1 az 64, ne `0'\n" + tryHelp, 2},
        {"-j a.kvr out", "kvr2fits: pocet prevodu musi byt 1 az 64, ne `a.kvr'\n" + tryHelp, 2},
        // The cards and the clock: each refused before anything is done, naming what it refuses.
        {"--set EXPTIME=ten a.kvr out", "kvr2fits: --set `EXPTIME=ten': klicove slovo bere jen "
         "cislo\n" + tryHelp, 2},
        {"--cards none.txt a.kvr out", "kvr2fits: soubor karet `none.txt': nelze cist\n", 2},
        {"--classic --set=FILTER=V a.kvr out", "kvr2fits: karty `FILTER=V': --classic zadne "
         "dalsi karty nepise\n", 2},
        {"--clock-zone Europe/Atlantis a.kvr out", "kvr2fits: --clock-zone `Europe/Atlantis': "
         "zona neni v databazi zon systemu (TZDIR)\n", 2},
        {"--clock-zone ../etc a.kvr out", "kvr2fits: --clock-zone `../etc': neni jmeno", 2},
        {"--clock-zone /UTC a.kvr out", "kvr2fits: --clock-zone `/UTC': neni jmeno", 2},
        {"--clock-offset +1:00 a.kvr out", "kvr2fits: --clock-offset `+1:00': posun je", 2},
        {"--clock-offset -14:01 a.kvr out", "kvr2fits: --clock-offset `-14:01': posun je", 2},
        {"--clock-offset=+01:00 --clock-zone UTC a.kvr out", "kvr2fits: --clock-zone `UTC': "
         "hodiny stanice uz jsou dane\n", 2},
        {"-q - out", "-: nelze otevrit\nprevedeno 0, preskoceno 0, selhalo 1, celkem 1\n", 1},
        {"-j2 -q a.kvr -- -f", "prevedeno 1, preskoceno 0, selhalo 0, celkem 1\n", 0},
    };
    writeFile("a.kvr", picture(2, 2));
    for (const auto& c : cases) {
        const Outcome outcome = run(KVR2FITS, std::string(c.args) + " 2>&1");
        EXPECT_EQ(outcome.output.substr(0, c.output.size()), c.output) << c.args;
        EXPECT_EQ(outcome.status, c.status) << c.args;
        EXPECT_EQ(fs::exists("out"), false) << c.args;
        EXPECT_EQ(fs::exists("-f/a.fit"), c.status == 0 && c.args[1] == 'j') << c.args;
    }
}
