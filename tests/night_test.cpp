// kvr2fits: a night of pictures converted into a folder, each as torvan converts it.
#include "support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

static const std::string CZECH = "Měsíc nad Ondřejovem.kvr";

// The night n: three pictures that convert, in any case and any language, three broken ones,
// a subfolder and a file that are no pictures of the night.
static void makeNight()
{
    fs::create_directories(fs::u8path("n/sub.kvr"));
    writeFile("n/a.kvr", picture(2, 2));
    writeFile("n/B.KVR", picture(3, 1));
    writeFile("n/" + CZECH, picture(1, 1));
    writeFile("n/short.kvr", picture(1, 1).substr(0, 87));
    writeFile("n/month.kvr", patched(picture(1, 1), {{MONTH, 13}}));
    writeFile("n/size.kvr", picture(2, 2) + "ab");
    writeFile("n/notes.txt", "");
}

// Standard error's lines, in kvrinfo's words, in any order (CR LF on Windows).
static std::vector<std::string> sorted(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line.substr(0, line.find('\r')));
    std::sort(all.begin(), all.end());
    return all;
}
static const std::string REFUSED = "n/month.kvr: mesic 13 (povoleno 1 az 12)\n"
    "n/short.kvr: kratsi nez hlavicka: 87 B z 88 B\n"
    "n/size.kvr: velikost 98 B, hlavicka ohlasuje 96 B: prebyva 2 B\n";

static std::string foreign(const std::string& name)
{
    return "n/" + name + (name == "B" ? ".KVR" : ".kvr") + ": vystup `out/" + name +
           ".fit' existuje a neni prevodem tohoto snimku (-f jej nahradi)\n";
}

// What torvan -i makes of a picture of the night, with SATURATE and the checksums after its eight
// cards (their values as sealed has them: the reference library checks those), or what torvan
// without -i makes of it under --classic.
static std::string converted(const std::string& name, bool classic, const std::string& sealed)
{
    const std::string date = classic ? "='09/10/04'" : "= '2004-10-09T11:21:04.050'";
    const std::string card = "n" + SEP + (name == CZECH ? "Mesic nad Ondrejovem.kvr" : name);
    const int32_t width = name == "a.kvr" ? 2 : name == "B.KVR" ? 3 : 1;
    std::string bytes = fits(width, name == "a.kvr" ? 2 : 1, date, "11:21:04.050", card);
    if (classic || sealed.size() < 2880)
        return bytes;
    bytes.insert(8 * 80, "SATURATE=                 4095" + std::string(50, ' ') +
                             sealed.substr(9 * 80, 2 * 80));
    return bytes.erase(36 * 80, 3 * 80);
}

// The value of a card of a FITS file's header, after its equals sign and blanks, or "" where
// no card has its keyword.
static std::string cardOf(const std::string& file, const std::string& keyword)
{
    const std::string header = readFile(file).substr(0, 2880);
    for (size_t at = 0; at + 80 <= header.size(); at += 80)
        if (header.compare(at, 8, (keyword + "        ").substr(0, 8)) == 0) {
            const size_t value = header.find_first_not_of(' ', at + 9);
            return header.substr(value, header.find_last_not_of(' ', at + 79) + 1 - value);
        }
    return "";
}

// kvr2fits with args, after more files are made and shell text; then its summary, status and
// standard error, the pictures of the night that out must hold as torvan would write them, and
// what holds.
struct Night {
    std::string args, summary;
    int status;
    std::string errors;
    std::vector<std::string> fresh;
    std::function<void()> made = [] {};
    std::function<bool()> holds = [] { return true; };
    std::string before = "";
};

static void expectNights(std::initializer_list<Night> rows)
{
    for (const Night& c : rows) {
        SCOPED_TRACE("kvr2fits " + c.args);
        makeNight();
        c.made();
        const Outcome outcome = run(KVR2FITS, c.args + " 2>err", c.before);
        EXPECT_EQ(outcome.output, c.summary.empty() ? "" : c.summary + "\n");
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(sorted(readFile("err")), sorted(joined(c.errors)));
        for (const std::string& name : c.fresh) {
            const std::string out = "out/" + name.substr(0, name.size() - 4) + ".fit";
            const std::string written = readFile(out);
            EXPECT_TRUE(written == converted(name, c.args.find("--classic") == 0, written)) << out;
        }
        EXPECT_TRUE(c.holds());
        if (fs::exists("out"))
            expectNoLeftovers("out");
        for (const std::string& name : listing())
            fs::remove_all(fs::u8path(name));
    }
}

TEST_F(InTempDir, NightIntoAFolder)
{
    const std::vector<std::string> all = {"a.kvr", "B.KVR", CZECH};
    const auto older = [] { fs::create_directory("out"), writeFile("out/a.fit", OLDER); };
    const auto cards24 = [] {
        std::string cards;
        for (int i = 1; i <= 24; i++)
            cards += "K" + std::to_string(i) + " = " + std::to_string(i) + "\n";
        writeFile("c.txt", cards);
    };
    expectNights({
        {"n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, all, [] {},
         [] { return std::distance(fs::directory_iterator("out"), {}) == 3; }},
        {"--classic -j 1 n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED,
         all},
        // An output that exists is skipped only where it is this run's own conversion, not a
        // forged one nor one of another header; -f replaces it, but never a raw picture.
        {"n out", "prevedeno 2, preskoceno 0, selhalo 4, celkem 6", 1, REFUSED + foreign("a"),
         {"B.KVR", CZECH}, older, [] { return readFile("out/a.fit") == OLDER; }},
        {"n out", "prevedeno 0, preskoceno 3, selhalo 3, celkem 6", 1, REFUSED, all,
         [] { run(KVR2FITS, "-q n out 2>&-"); }},
        {"n out", "prevedeno 0, preskoceno 0, selhalo 6, celkem 6", 1,
         REFUSED + foreign("a") + foreign("B") + foreign(CZECH.substr(0, CZECH.size() - 4)), {},
         [] { run(KVR2FITS, "-q --classic n out 2>&-"); }},
        {"-f n out", "prevedeno 2, preskoceno 0, selhalo 4, celkem 6", 1,
         REFUSED + "n/B.KVR: vystup `out/B.fit' je obrazek KVR a nebude prepsan\n",
         {"a.kvr", CZECH}, [older] { older(), writeFile("out/B.fit", ONE); },
         [] { return readFile("out/B.fit") == ONE; }},
        // Two sources with one output name, in any case: both refused, each naming the other.
        {"n m out", "prevedeno 2, preskoceno 0, selhalo 5, celkem 7", 1,
         REFUSED + "n/a.kvr: stejny vystup `out/a.fit' jako `m/A.KVR'\n"
                   "m/A.KVR: stejny vystup `out/A.fit' jako `n/a.kvr'\n", {"B.KVR", CZECH},
         [] { fs::create_directory("m"), writeFile("m/A.KVR", ONE); },
         [] { return !fs::exists("out/a.fit") && !fs::exists("out/A.fit"); }},
        // Files as sources, each once, a missing one, a wildcard that Windows leaves to the
        // program; the folder made with its parents, \ a separator on Windows alone.
        {joined("n/a.kvr n/missing.kvr n/a.kvr ") + R"("out/deep\er\\")", "prevedeno 1, preskoceno 0, "
         "selhalo 1, celkem 2", 1, "n/missing.kvr: nelze otevrit\n", {}, [] {},
         [] { return fs::exists(IS_WINDOWS ? "out/deep/er/a.fit" : "out/deep\\er\\/a.fit"); }},
        {joined("n/?.* out"), "prevedeno 2, preskoceno 0, selhalo 0, celkem 2", 0, "", {"a.kvr", "B.KVR"}},
        // A tree of nights into a tree of folders: names alike in two nights never clash, and a
        // link to a folder is not followed.
        {"-r t out", "prevedeno 3, preskoceno 0, selhalo 0, celkem 3", 0, "", {},
         [] {
             fs::create_directories("t/n1/dark"), fs::create_directory("t/n2");
             for (const char* frame : {"t/n1/a.kvr", "t/n2/a.kvr", "t/n1/dark/d.kvr"})
                 writeFile(frame, ONE);
             std::error_code linked;   // where the system has links
             fs::create_directory_symlink("../n", "t/n3", linked);
         },
         [] {
             return fs::exists("out/n1/a.fit") && fs::exists("out/n2/a.fit") &&
                    fs::exists("out/n1/dark/d.fit") && !fs::exists("out/n3");
         }},
        // The user's cards, from a file and the command line, the later winning; the header
        // with them is no longer the one a night without them has.
        {joined("--cards c.txt --set EXPTIME=30 --set \"OBJECT='SS Cyg'\" n/a.kvr out"), "prevedeno 0, "
         "preskoceno 0, selhalo 1, celkem 1", 1, foreign("a"), {},
         [] {
             writeFile("c.txt", "# station\nEXPTIME = 10\r\nFILTER = 'V'\n");
             run(KVR2FITS, "-q n/a.kvr out");
         }},
        {joined("--cards c.txt --set EXPTIME=30 --set \"OBJECT='SS Cyg'\" n/a.kvr out"), "prevedeno 1, "
         "preskoceno 0, selhalo 0, celkem 1", 0, "", {},
         [] { writeFile("c.txt", "# station\nEXPTIME = 10\r\nFILTER = 'V'\n"); },
         [] {
             return cardOf("out/a.fit", "EXPTIME") + cardOf("out/a.fit", "FILTER") +
                        cardOf("out/a.fit", "OBJECT") == "30'V       ''SS Cyg  '";
         }},
        // The header's room: 24 cards of the user's, 21 beside the clock's.
        {joined("--cards c.txt --clock-offset +01:00 n/a.kvr out"), "", 2, "kvr2fits: soubor karet `c.txt', "
         "radek 22: v hlavicce uz neni misto pro dalsi kartu\nZkuste `kvr2fits --help'.\n", {},
         cards24},
        {joined("--cards c.txt n/a.kvr out"), "prevedeno 1, preskoceno 0, selhalo 0, celkem 1", 0, "", {},
         cards24, [] { return cardOf("out/a.fit", "K24") == "24"; }},
        // A dry run says what would be done, and does nothing.
        {"-n -j1 n out", joined("n/B.KVR: prevede do `out/B.fit'\nn/" + CZECH + ": prevede do `out/" +
         CZECH.substr(0, CZECH.size() - 4) + ".fit'\nn/a.kvr: prevede do `out/a.fit'\n" + REFUSED +
         "nanecisto: prevedeno 3, preskoceno 0, selhalo 3, celkem 6"), 1, "", {}, [] {},
         [] { return !fs::exists("out"); }},
        // A lone folder, as Explorer drops it onto the program, goes into its subfolder fits.
        {"n", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, {}, [] {},
         [] { return fs::exists("n/fits/a.fit") && fs::exists("n/fits/B.fit"); }},
        // A source that gives no picture is a failure, and no folder is made for nothing.
        {joined("n/sub.kvr a n/missing.kvr out"), "prevedeno 0, preskoceno 0, selhalo 1, celkem 1", 1,
         "n/sub.kvr: zadny obrazek KVR\na: zadny obrazek KVR; podslozky se neprohledavaji\n"
         "n/missing.kvr: nelze otevrit\n", {},
         [] { fs::create_directories("a/2004-10-09"), writeFile("a/2004-10-09/f.kvr", ONE); },
         [] { return !fs::exists("out"); }},
        // A refused file clashes with no picture: it fails for what it is.
        {"n m out", "prevedeno 3, preskoceno 0, selhalo 4, celkem 7", 1,
         REFUSED + "m/A.KVR: kratsi nez hlavicka: 0 B z 88 B\n", all,
         [] { fs::create_directory("m"), writeFile("m/A.KVR", ""); }},
        // A new output takes the frame's read and write bits less the umask, as cp does.
        {"n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, all,
         [] { fs::permissions("n/a.kvr", fs::perms(0600)); },
         [] {
             return IS_WINDOWS || (fs::status("out/a.fit").permissions() == fs::perms(0600) &&
                                   fs::status("out/B.fit").permissions() == fs::perms(0640));
         }, "umask 027; "},
    });
}

// A frame of one sample taken at a station time, YYYY-MM-DD hh:mm:ss.
static void frameAt(const std::string& name, const std::string& at)
{
    const auto part = [&at](size_t from, size_t length) { return std::stoi(at.substr(from, length)); };
    writeFile(name, patched(ONE, {{YEAR, part(0, 4)}, {MONTH, part(5, 2)}, {DAY, part(8, 2)},
                                  {HOUR, part(11, 2)}, {MINUTE, part(14, 2)}, {SECOND, part(17, 2)},
                                  {MILLI, 0}}));
}

// The station's clock: frames f1, f2, ... of the night c taken at the times given, and what
// kvr2fits makes of each, in UTC (DATE-OBS, as the offset or the zone's history has it, the date
// moving where it does) or the line that refuses it.
TEST_F(InTempDir, NightOnTheStationsClock)
{
    const std::string zone = "-j1 --clock-zone Europe/Prague ";
    const std::string twice = "2004-10-31 02:";
    const std::string undecided = "c/f1.kvr: cas 31.10.2004 02:10:00 ukazaly hodiny stanice dvakrat "
        "(02:00 az 03:00); poradi snimku to nerozhodne (--clock-repeat first|second)";
    const struct { std::string args; std::vector<std::string> taken, utc; } rows[] = {
        {"--clock-offset +01:00", {"1999-12-31 00:30:00"}, {"'1999-12-30T23:30:00.000'"}},
        {"--clock-offset -01:00", {"1999-12-31 23:30:00"}, {"'2000-01-01T00:30:00.000'"}},
        // 1995's summer time ended in September, by the zone's history.
        {zone, {"1995-09-24 01:30:00", "1995-09-24 03:30:00"},
         {"'1995-09-23T23:30:00.000'", "'1995-09-24T02:30:00.000'"}},
        {"--clock-zone Europe/Bratislava", {"2004-10-09 11:21:04"}, {"'2004-10-09T09:21:04.000'"}},
        {zone, {"2004-03-28 02:30:00"}, {"c/f1.kvr: cas 28.03.2004 02:30:00 na hodinach stanice "
                                         "nebyl (skok z 02:00 na 03:00)"}},
        // The night's order: a time that goes back in an hour shown twice is its second pass.
        {zone, {twice + "10:00", twice + "50:00", twice + "20:00"},
         {"'2004-10-31T00:10:00.000'", "'2004-10-31T00:50:00.000'", "'2004-10-31T01:20:00.000'"}},
        {zone, {twice + "10:00"}, {undecided}},
        {zone + "--clock-repeat second", {twice + "10:00"}, {"'2004-10-31T01:10:00.000'"}},
        // A day the calendar does not have: refused, but as torvan always wrote it.
        {"", {"2004-02-30 01:00:00"}, {"c/f1.kvr: den 30.02.2004 neexistuje"}},
        {"--classic", {"2004-02-30 01:00:00"}, {"'30/02/04'"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args + " " + row.taken[0]);
        fs::create_directory("c");
        for (size_t i = 0; i < row.taken.size(); i++)
            frameAt("c/f" + std::to_string(i + 1) + ".kvr", row.taken[i]);
        const Outcome outcome = run(KVR2FITS, "-q " + row.args + " c out 2>&1");
        for (size_t i = 0; i < row.utc.size(); i++) {
            const std::string out = "out/f" + std::to_string(i + 1) + ".fit";
            std::string local = "'" + row.taken[i] + ".000'";
            if (row.utc[i][0] != '\'') {
                EXPECT_NE(outcome.output.find(joined(row.utc[i]) + "\n"), std::string::npos)
                    << outcome.output;
                continue;
            }
            EXPECT_EQ(cardOf(out, "DATE-OBS"), row.utc[i]) << out;
            if (row.args.find("--clock") != std::string::npos) {
                EXPECT_EQ(cardOf(out, "TIMESYS") + cardOf(out, "DATE-LOC"),
                          "'UTC     '" + local.replace(11, 1, "T")) << out;
            }
        }
        fs::remove_all("c"), fs::remove_all("out");
    }
}

// Shell text that must succeed.
static std::function<void()> shell(const std::string& text)
{
    return [text] { EXPECT_EQ(std::system(text.c_str()), 0) << text; };
}

// Files, folders and links of another user, daemon, in folders all may write, as on a machine
// an observatory's members share; a night folder that takes no writing.
TEST_F(InTempDir, NightOnASharedMachine)
{
    if (!isRoot())
        GTEST_SKIP() << "other users' files, devices and chattr: as root on POSIX only";
    const std::vector<std::string> all = {"a.kvr", "B.KVR", CZECH};
    const std::string hers = "mkdir -m 1777 out; echo secret >victim; ";
    const auto kept = [] { return readFile("victim") == "secret\n"; };
    // The first picture to write stops the night.
    const std::string stopped = "prevedeno 0, preskoceno 0, selhalo 0, celkem 6, neprevedeno 6";
    expectNights({
        {"n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, all,
         shell("chattr +i n"), [] { return std::system("chattr -i n") == 0; }},
        // With -f her entry itself is replaced, whatever it is; never what it leads to.
        {"-f n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, all,
         shell(hers + "ln -s ../victim out/a.fit; chown -h daemon out/a.fit"), kept},
        {"-f n out", "prevedeno 3, preskoceno 0, selhalo 3, celkem 6", 1, REFUSED, all,
         shell(hers + "mkfifo out/a.fit; mknod out/B.fit c 1 3; chown daemon out/*")},
        // Without it nothing of hers is replaced, nor skipped: her copy of our conversion neither.
        {"n out", "prevedeno 1, preskoceno 0, selhalo 5, celkem 6", 1,
         REFUSED + foreign("a") + foreign("B"), {CZECH},
         shell(hers + "ln -s ../victim out/a.fit; " + KVR2FITS + " -q n/B.KVR out >&-; "
               "chown -h daemon out/*"), [kept] { return fs::is_symlink("out/a.fit") && kept(); }},
        // Her folder in a shared folder, or her link on the way to one, is never written into.
        {"-j1 n s/out", stopped, 1, "kvr2fits: slozka `s/out' patri jinemu uzivateli\n", {},
         shell("mkdir -m 1777 s; mkdir s/out; chown daemon s/out"),
         [] { return fs::is_empty("s/out"); }},
        {"-j1 n s/l/out", stopped, 1, "kvr2fits: slozka `s/l/out' vede pres odkaz jineho uzivatele\n",
         {},
         shell("mkdir -m 1777 s; mkdir d; ln -s ../d s/l; chown -h daemon s/l"),
         [] { return fs::is_empty("d"); }},
        // A full disk, or a folder the runner may not write, stops the night at once, said once.
        {"-j1 n out", "prevedeno 1, preskoceno 0, selhalo 0, celkem 6, neprevedeno 5", 1,
         "kvr2fits: do slozky `out' nelze zapisovat: disk je plny\n", {}, [] {},
         [] { return readFile("listing") == "B.fit\n"; },
         "mkdir out; exec unshare -m sh -c 'mount -t tmpfs -o size=8k none out && (\"$@\"); "
         "s=$?; ls -A out >listing; exit $s' sh "},
        {"-j1 n out", stopped, 1, "kvr2fits: slozka `out' neni zapisovatelna\n", {},
         shell("mkdir out"), [] { return fs::is_empty("out"); }, AS_DAEMON},
        {"-j1 n out/x", stopped, 1, "kvr2fits: slozka `out/x' neni zapisovatelna\n", {},
         shell("mkdir out"), [] { return fs::is_empty("out"); }, AS_DAEMON},
        // Her link in a shared night to a secret of root's: not followed, nothing of it shown.
        {"n out", "prevedeno 3, preskoceno 0, selhalo 4, celkem 7", 1,
         REFUSED + "n/s.kvr: odkaz jineho uzivatele ve sdilene slozce\n", all,
         shell("chmod 1777 n; head -c 100 /proc/self/environ >secret; chmod 600 secret; "
               "ln -s ../secret n/s.kvr; chown -h daemon n/s.kvr"),
         [] {
             return run(KVRINFO, "-p -t n/s.kvr").output ==
                    "CHYBA\t\t\t\todkaz jineho uzivatele ve sdilene slozce\tn/s.kvr\n";
         }},
    });
}

// An interrupt stops new work and removes what was in flight; the summary is printed, also after
// a failure into a pipe, and the run ends by the interrupt. On a terminal alone, a progress line
// that is cleared at the end.
#ifdef _WIN32
TEST_F(InTempDir, NightInterruptedAndOnATerminal)
{
    GTEST_SKIP() << "signals and a terminal of the test's own (script): POSIX only";
}
#else
TEST_F(InTempDir, NightInterruptedAndOnATerminal)
{
    fs::create_directory("n");
    writeFile("n/a.kvr", "");
    for (int i = 0; i < 6; i++)
        writeSparsePicture("n/f" + std::to_string(i) + ".kvr", 8192, 2048);
    const Outcome outcome = run(KVR2FITS, "-j 1 n out 2>&-", "", [](long pid) {
        for (int waited = 0; waited < 10000 && (!fs::exists("out") || fs::is_empty("out"));
             waited++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Standard error closed: no picture or output takes its number, or the lines go in it.
        if (std::string(TORVAN_EMULATOR).empty()) {
            EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/2"), "/dev/null");
        }
        kill(pid, SIGINT);
    });
    EXPECT_EQ(outcome.output.substr(0, 10), "prevedeno ");
    EXPECT_NE(outcome.output.find(", selhalo 1, celkem 7, neprevedeno "), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.substr(outcome.output.size() - 12), ", preruseno\n");
    EXPECT_EQ(outcome.status, 128 + SIGINT);
    for (const auto& entry : fs::directory_iterator("out"))
        EXPECT_EQ(fs::file_size(entry.path()), 2880u * (2 + (2ull * 8192 * 2048 - 1) / 2880));
    expectNoLeftovers("out");
    fs::remove_all("out");
    EXPECT_EQ(std::system(("script -qec '" + KVR2FITS + " -j 1 n out' typescript >/dev/null").c_str()),
              256);
    const std::string shown = readFile("typescript");
    EXPECT_NE(shown.find("/7 snimku, "), std::string::npos) << shown;
    fs::remove_all("out");
    EXPECT_EQ(std::system(("script -qec '" + KVR2FITS + " -q -j 1 n out' q >/dev/null").c_str()), 256);
    EXPECT_EQ(readFile("q").find("snimku"), std::string::npos) << "-q draws no progress line";
    EXPECT_NE(shown.find("\r" + std::string(30, ' ')), std::string::npos) << "cleared";
}
#endif
