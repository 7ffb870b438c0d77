#include "harness.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#endif

// Made absolute while the working folder is still the build's; a cross build
// runs the program through its emulator.
const std::string PROGRAM = TORVAN_EMULATOR "\"" + fs::absolute(TORVAN_PATH).string() + "\"";
const char BANNER[] =
    "\nTORVAN verze 1.2 (09/10/2004): Konverze KVR obrazku verze 2 do formatu FITS.\n\n";
const char FAILED[] = "* Konverze se nezdarila!\n";

Outcome runTorvan(const std::string& args, const std::string& before)
{
#ifdef _WIN32
    // cmd.exe drops the outermost quotes; text mode turns the console's CR LF into LF.
    FILE* pipe = _popen(("\"" + PROGRAM + " " + args + "\"").c_str(), "rt");
    (void)before;
#else
    FILE* pipe = popen((before + PROGRAM + " " + args).c_str(), "r");
#endif
    Outcome run = {"", -1};
    for (int c; (c = fgetc(pipe)) != EOF;)
        run.output += (char)c;
#ifdef _WIN32
    run.status = _pclose(pipe);
#else
    run.status = WEXITSTATUS(pclose(pipe));
#endif
    return run;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool makeNullDevice(const char* path)
{
#ifdef _WIN32
    return path == nullptr;
#else
    return mknod(path, S_IFCHR | 0666, makedev(1, 3)) == 0;
#endif
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
    std::vector<uint16_t> samples((size_t)width * height);
    std::string bytes(KVR_HEADER_SIZE + 2 * samples.size(), '\0');
    for (size_t i = 0; i < samples.size(); i++)
        samples[i] = (uint16_t)(i * 7919);
    encodeKvrHeader(&header, (unsigned char*)&bytes[0]);
    encodeSamples(samples.data(), samples.size(), (unsigned char*)&bytes[KVR_HEADER_SIZE]);
    return bytes;
}

void writeSparsePicture(const fs::path& path, int32_t width, int32_t height)
{
    writeFile(path, patched(picture(1, 1).substr(0, 88), {{WIDTH, width}, {HEIGHT, height}}));
    fs::resize_file(path, KVR_HEADER_SIZE + 2ull * width * height);
}

void InTempDir::SetUp()
{
    home = fs::current_path();
    dir = fs::temp_directory_path() / ("torvan-test-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(dir));
    fs::current_path(dir);
}

void InTempDir::TearDown()
{
    fs::current_path(home);
    fs::remove_all(dir);
}
