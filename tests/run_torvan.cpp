#include "run_torvan.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kvr_encode.h"

const char BANNER[] = "\nTORVAN verze 1.2 (09/10/2004): Konverze KVR obrazku verze 2 do formatu FITS.\n\n";
const char FAILED[] = "* Konverze se nezdarila!\n";

RunResult runTorvan(const std::vector<std::string>& args, const std::string& cwd,
                    rlim_t fileSizeLimit)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {"pipe failed", -1};

    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        argv.push_back((char*)TORVAN_PATH);
        for (const std::string& arg : args)
            argv.push_back((char*)arg.c_str());
        argv.push_back(nullptr);
        struct rlimit limit = {fileSizeLimit, fileSizeLimit};
        signal(SIGXFSZ, SIG_IGN);
        if (dup2(pipeEnds[1], STDOUT_FILENO) < 0 || chdir(cwd.c_str()) != 0 ||
            setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(TORVAN_PATH, argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    RunResult result = {"", -1};
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        result.output.append(chunk, got);
    close(pipeEnds[0]);
    int status;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string kvrBytes(const t_kvr_header& header, const std::vector<uint16_t>& samples)
{
    unsigned char raw[KVR_HEADER_SIZE];
    encodeKvrHeader(&header, raw);
    std::string bytes((const char*)raw, sizeof raw);
    for (uint16_t sample : samples) {
        bytes += (char)(sample & 0xFF);
        bytes += (char)(sample >> 8);
    }
    return bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string makeTempDir()
{
    char name[] = "/tmp/torvan-test-XXXXXX";
    return mkdtemp(name) ? name : "";
}
