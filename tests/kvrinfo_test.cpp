// kvrinfo: one line per picture, whether it converts and why not; its options.
#include "support.h"

struct KvrinfoRow { const char* args; std::string output; int status; std::string before = ""; };

// a.kvr converts, b.kvr breaks one rule.
static void expectKvrinfoRows(std::initializer_list<KvrinfoRow> rows)
{
    writeFile("a.kvr", picture(2, 2));
    writeFile("b.kvr", patched(picture(2, 2), {{MONTH, 13}}));
    for (const KvrinfoRow& c : rows) {
        const Outcome outcome = run(KVRINFO, c.args, c.before);
        EXPECT_EQ(outcome.output.substr(0, c.output.size()), c.output) << c.args;
        EXPECT_EQ(outcome.status, c.status) << c.args;
    }
}

// Options come first, -- ends them; -p lists every field, its rule and verdict.
TEST_F(InTempDir, KvrinfoReports)
{
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
    expectKvrinfoRows({
        {"", "* Nedostatecny pocet argumentu!\n\n" + help, 2}, {"-p -h a.kvr", help, 0},
        {"--help", help, 0}, {"--version", "kvrinfo (TORVAN) 1.2\n", 0},
        {"-x a.kvr", "* Neznamy argument `-x'!\n\n" + help, 2},
        {"-- -p", "-p: CHYBA nelze otevrit\n", 1}, {"-", "-: CHYBA nelze otevrit\n", 1},
        {"b.kvr -p", broken + "-p: CHYBA nelze otevrit\n", 1}, {"-p b.kvr", fields, 1},
        {"CON", "CON: CHYBA ", 1},
    });
}

// Made by the shell: FIFOs, names with control bytes, a failing disk, closed streams.
TEST_F(InTempDir, KvrinfoReportsWhatTheShellMakes)
{
    if (IS_WINDOWS)
        GTEST_SKIP() << "FIFOs, control bytes in names and strace: POSIX only";
    expectKvrinfoRows({
        // -t: tab-separated; a FIFO without a writer is not waited for.
        {"-t p b.kvr", "CHYBA\t\t\t\tneni obycejny soubor\tp\n"
         "CHYBA\t2\t2\t2004-13-09T11:21:04.050\tmesic 13 (povoleno 1 az 12)\tb.kvr\n", 1,
         "mkfifo p; "},
        // The name's backslash, tab, line break, carriage return and other controls escaped.
        {"-t \"$n\"", "OK\t2\t2\t2004-10-09T11:21:04.050\t\tx\\\\: CHYBA\\t\\n\\r\\001\\177\n", 0,
         "n=$(printf 'x\\\\: CHYBA\\t\\n\\r\\001\\177'); cp a.kvr \"$n\"; "},
        {"a.kvr >&-", "", 1, "true; "},   // a report that reaches no one is a failure
        {"in.kvr", "in.kvr: CHYBA nelze cist\n", 1, "head -c 88 a.kvr >in.kvr; " FAILING_DISK(1)},
        // A folder with no picture is a failure of its own, its subfolders not searched.
        {"e", "e: CHYBA zadny obrazek KVR; podslozky se neprohledavaji\n", 1, "mkdir -p e/n; "},
        // A folder: each file whose name ends in .kvr in any case, sorted, its subfolders not.
        {"d", "d/a.KVR: OK 2 x 2, 09.10.2004 11:21:04.050\nd/b.kvr: CHYBA mesic 13", 1,
         "mkdir -p d/s.kvr; cp b.kvr d/b.kvr; cp a.kvr d/a.KVR; cp a.kvr d/c.kvr.txt; "},
    });
}
