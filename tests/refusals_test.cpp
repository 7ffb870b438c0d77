// Refused inputs and outputs, and failures while a picture is written: each leaves every file
// and folder as it was, the input and the output path too, and says why in one message.
#include "support.h"

static const std::string MISSING = "(no file)", FOLDER = "(a folder)";
enum Before { NOTHING, OLDER_FILE, RAW_PICTURE, SUBFOLDER, LINK_TO_INPUT, HARD_LINK_TO_OLDER,
              READ_ONLY_FILE, READ_ONLY_FOLDER };

// Every file and folder stays as it was, the input too, and nothing is made; then kvrinfo
// says info of the input, where the row gives it.
enum Host { ANY_HOST, WINDOWS_ONLY, POSIX_ONLY, AS_ROOT };
struct Failure {
    std::string input; const char* out; Before before; std::string message, info = "";
    int limit = 0;   // a file-size limit, in 512-byte blocks
    bool banner = true;
    Host host = ANY_HOST;
    std::string shell = "", setup = "";   // shell text before the run; that makes more files
    Failure& limited(int blocks) { limit = blocks; return posix(); }
    Failure& withoutBanner() { banner = false; return *this; }
    Failure& under(const std::string& text) { shell = text; return posix(); }
    Failure& made(const std::string& text) { setup = text; return posix(); }
    Failure& posix() { host = POSIX_ONLY; return *this; }   // symbolic links, FIFOs, /proc
    Failure& windows() { host = WINDOWS_ONLY; return *this; }
    Failure& asRoot() { host = AS_ROOT; return *this; }   // other users, flags, mounts
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
     "CHYBA neni obrazek KVR"},
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
        .made("chmod 777 .; chown daemon f.kvr; chmod 200 f.kvr").under(AS_DAEMON).asRoot(),
    // Links that lead nowhere, or that another user made in a shared folder.
    Failure{ONE, "out.fit", NOTHING, failed(OPEN, "out.fit")}.made("ln -s nowhere out.fit"),
    Failure{ONE, "t/o.fit", NOTHING, failed(OPEN, "t/o.fit")}.made("echo older >x.fit; mkdir "
        "-m 1777 t; chown nobody t; ln -s ../x.fit t/o.fit; chown -h daemon t/o.fit").asRoot(),
    // Her link to a FIFO or a device, or as a folder on the way; her FIFO there: never opened.
    Failure{ONE, "t/o.fit", NOTHING, failed(OPEN, "t/o.fit")}.made("mkfifo f; mkdir -m 1777 t; "
        "ln -s ../f t/o.fit; chown -h daemon t/o.fit").asRoot(),
    Failure{ONE, "t/o.fit", NOTHING, failed(OPEN, "t/o.fit")}.made("mknod d c 1 3; mkdir -m 1777 "
        "t; ln -s ../d t/o.fit; chown -h daemon t/o.fit").asRoot(),
    Failure{ONE, "t/l/o.fit", NOTHING, failed(OPEN, "t/l/o.fit")}.made("mkdir -m 1777 t d; "
        "ln -s ../d t/l; chown -h daemon t/l").asRoot(),
    Failure{ONE, "t/p", NOTHING, failed(OPEN, "t/p")}.made("mkdir -m 1777 t; mkfifo t/p; "
        "chown daemon t/p").asRoot(),
    // Refused before the picture is written (a limit would fail its writing): another user's
    // file in a sticky folder, an append-only file, another group that had access.
    Failure{picture(100, 100), "s/o.fit", NOTHING, failed(OPEN, "s/o.fit")}.limited(2)
        .made("mkdir -m 1777 s; echo older >s/o.fit; chmod 606 s/o.fit").under(AS_DAEMON).asRoot(),
    Failure{picture(100, 100), "out.fit", OLDER_FILE, failed(OPEN, "out.fit")}.limited(2)
        .made("chattr +a out.fit").asRoot(),
    Failure{picture(100, 100), "out.fit", OLDER_FILE, failed(OPEN, "out.fit")}.limited(2)
        .made("chmod 777 .; chown nobody:bin out.fit; chmod 666 out.fit").under(AS_DAEMON)
        .asRoot(),
    Failure{ONE, "so >>f.kvr", NOTHING, failed(PICTURE, "so")}
        .made("ln -s /proc/self/fd/1 so; cp in.kvr f.kvr"),
    {ONE, "\"\"", NOTHING, failed(OPEN, "")},
    Failure{ONE, "out.fit/", NOTHING, failed(OPEN, "out.fit/")}.made("echo older >out.fit"),
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
        .under("exec unshare -m sh -c 'mount --bind nul /dev/null && \"$@\"' sh ").asRoot(),
    Failure{picture(512, 512), "out.fit", OLDER_FILE, failed(READ, "in.kvr")}
        .under(FAILING_DISK(3)),
    // Limits: the second flush fails, in a named temporary's data; the close, in the last bytes.
    Failure{picture(512, 512), "out.fit", HARD_LINK_TO_OLDER, failed(WRITE, "out.fit")}
        .limited(512).under(WITHOUT_UNNAMED_FILES),
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
    {0, 'k', "CHYBA neni obrazek KVR"},   // and not a byte of it shown
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

static void expectFailure(const Failure& c)
{
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

    const Outcome outcome = run(PROGRAM, "2>&1 in.kvr " + std::string(c.out),
        (c.limit ? "ulimit -f " + std::to_string(c.limit) + "; " : "") + "exec 3<&-; " + c.shell);

    EXPECT_EQ(outcome.output, (c.banner ? BANNER : "") + c.message + FAILED);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(snapshot() == standing) << "nothing made, changed or removed";
    if (!c.info.empty())
        expectKvrinfo("in.kvr", "in.kvr: " + c.info, c.shell);
    if (!locked.empty())
        setReadOnly(locked, false);
    EXPECT_EQ(IS_WINDOWS ? 0 : std::system("find . -type f -exec chattr -a {} +"), 0);
    for (const std::string& name : listing())
        fs::remove_all(fs::u8path(name));
}

static void expectFailures(Host host)
{
    for (const Failure& c : FAILURES)
        if (c.host == host)
            expectFailure(c);
}

TEST_F(InTempDir, FailuresLeaveTheOutputPathAndTheInputAsTheyWere)
{
    expectFailures(ANY_HOST);
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

TEST_F(InTempDir, FailuresOfWhatTheShellMakes)
{
    if (IS_WINDOWS)
        GTEST_SKIP() << "symbolic links, FIFOs, /proc, file-size limits and strace: POSIX only";
    expectFailures(POSIX_ONLY);
}

TEST_F(InTempDir, FailuresOfOtherUsersFilesAndFlags)
{
    if (!isRoot())
        GTEST_SKIP() << "other users' files, runuser, chattr and mounts: as root on POSIX only";
    expectFailures(AS_ROOT);
}

TEST_F(InTempDir, FailuresOfWindowsDevicesAndNames)
{
    if (!IS_WINDOWS)
        GTEST_SKIP() << "Windows' device names and streams: Windows only";
    expectFailures(WINDOWS_ONLY);
}
