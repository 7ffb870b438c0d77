#include "support.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#endif

#include "kvr_encode.h"

// Rows run as daemon need programs daemon may run, which a clone in a private folder is not: as
// root, each test's process runs copies from a folder of its own, removed at its exit.
static const fs::path COPIES =
    fs::temp_directory_path() / ("torvan-programs-" + std::to_string(std::random_device()()));
static const struct Removal { ~Removal() { std::error_code gone; fs::remove_all(COPIES, gone); } }
    removal;

// Made absolute while the working folder is still the build's.
static std::string runnable(const char* built)
{
    fs::path program = fs::absolute(built);
    if (isRoot()) {
        fs::create_directory(COPIES);
        fs::permissions(COPIES, fs::perms(0755));
        fs::copy_file(program, COPIES / program.filename());
        program = COPIES / program.filename();
    }
    return TORVAN_EMULATOR "\"" + program.string() + "\"";
}

const std::string PROGRAM = runnable(TORVAN_PATH), KVRINFO = runnable(KVRINFO_PATH),
                  KVR2FITS = runnable(KVR2FITS_PATH);

Outcome run(const std::string& program, const std::string& args, const std::string& before,
            const std::function<void(long)>& during)
{
#ifdef _WIN32
    // cmd.exe drops the outermost quotes; text mode turns the console's CR LF into LF. The
    // command goes in UTF-16, so that names outside the ANSI code page reach the program.
    const std::string command = "\"" + program + " " + args + "\"";
    FILE* pipe = _wpopen(fs::u8path(command).wstring().c_str(), L"rt");
    (void)before, (void)during;
    // 9009: cmd.exe could not start the program (wine's, once under load); it never ran.
    static int startsLeft = 3;
#else
    // The shell tells its process number, which the program then takes over.
    FILE* pipe = popen(("echo $$; " + before + "exec " + program + " " + args).c_str(), "r");
    char pid[32] = "";
    setvbuf(pipe, nullptr, _IONBF, 0);
    if (fgets(pid, sizeof pid, pipe) != nullptr && during)
        during(atol(pid));
#endif
    Outcome outcome = {"", -1};
    for (int c; (c = fgetc(pipe)) != EOF;)
        outcome.output += (char)c;
#ifdef _WIN32
    outcome.status = _pclose(pipe);
    if (outcome.status == 9009 && startsLeft-- > 0)
        return run(program, args, before, during);
#else
    const int status = pclose(pipe);
    outcome.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
#endif
    return outcome;
}

std::string readFile(const std::string& name)
{
    std::ostringstream content;
    content << std::ifstream(fs::u8path(name), std::ios::binary).rdbuf();
    return content.str();
}

void writeFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(fs::u8path(name), std::ios::binary) << bytes;
}

std::string patched(std::string bytes, const Fields& fields)
{
    for (const auto& [offset, value] : fields)
        encodeInt32((unsigned char*)&bytes[offset], value);
    return bytes;
}

std::string picture(int32_t width, int32_t height)
{
    const t_kvr_header header = validKvrHeader(width, height);
    std::string bytes(KVR_HEADER_SIZE, '\0');
    encodeKvrHeader(&header, (unsigned char*)&bytes[0]);
    for (uint32_t i = 0; i < (uint32_t)width * height; i++)
        bytes += {(char)(i * 7919 & 0xFF), (char)(i * 7919 >> 8 & 0xFF)};
    return bytes;
}

void writeSparsePicture(const std::string& path, int32_t width, int32_t height)
{
    writeFile(path, patched(picture(1, 1).substr(0, 88), {{WIDTH, width}, {HEIGHT, height}}));
    fs::resize_file(path, KVR_HEADER_SIZE + 2ull * width * height);
}

// Card 7's value indicator is card 6's.
std::string fits(int32_t width, int32_t height, const std::string& date, const std::string& time,
                 const std::string& inp)
{
    auto card = [](std::string text) { return text + std::string(80 - text.size(), ' '); };
    auto value = [](std::string v) { return std::string(21 - v.size(), ' ') + v; };
    std::string out = card("SIMPLE  =" + value("T")) + card("BITPIX  =" + value("16")) +
                      card("NAXIS   =" + value("2")) +
                      card("NAXIS1  =" + value(std::to_string(width))) +
                      card("NAXIS2  =" + value(std::to_string(height))) + card("DATE-OBS" + date) +
                      card("TIME    " + date.substr(0, date.find('\'')) + "'" + time + "'") +
                      card(("COMMENT Soubor vytvoren z predlohy `" + inp +
                            "' ve formatu KVR programem `TORVAN'").substr(0, 80)) +
                      card("END") + std::string(27 * 80, ' ');
    for (uint32_t i = 0; i < (uint32_t)width * height; i++)
        out += {(char)((uint16_t)(i * 7919) >> 12), (char)((uint16_t)(i * 7919) >> 4 & 0xFF)};
    return out + std::string((2880 - out.size() % 2880) % 2880, '\0');
}

std::string report(const std::string& inp, const std::string& out, int32_t width,
                   int32_t height, uint64_t outSize, const std::string& taken)
{
    return BANNER + "`" + inp + "' (" + std::to_string(88 + 2ull * width * height) + " B) -> `" +
           out + "' (" + std::to_string(outSize) + " B)\nVerze KVR: 2\nKomprese KVR: NE\n" +
           "Rozmery (S x V): " + std::to_string(width) + " x " + std::to_string(height) +
           "\nCas porizeni: " + taken + "\n";
}

std::string failed(std::string message, const std::string& path)
{
    return message.replace(message.find('@'), 1, path);
}

void expectNoLeftovers(const std::string& folder)
{
    for (const auto& entry : fs::directory_iterator(fs::u8path(folder)))
        EXPECT_NE(entry.path().filename().u8string()[0], '.') << entry.path().u8string();
}

void expectKvrinfo(const std::string& inp, const std::string& said, const std::string& before)
{
    const Outcome info = run(KVRINFO, "\"" + inp + "\"", before);
    EXPECT_EQ(info.output, said + "\n");
    EXPECT_EQ(info.status, said.find(": OK ") == std::string::npos);
}

std::vector<std::string> listing()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("."))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> snapshot()
{
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
        const fs::file_type type = entry.symlink_status().type();
        found[entry.path().u8string()] = std::to_string((int)type) +
            (type == fs::file_type::regular ? readFile(entry.path().u8string()) : "");
    }
    return found;
}
