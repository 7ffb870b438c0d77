// Running the built converter as a user would, and the files around it.
#ifndef TORVAN_RUN_TORVAN_H
#define TORVAN_RUN_TORVAN_H

#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

#include "defs.h"

struct RunResult {
    std::string output;
    int status;
};

// Runs the program in folder cwd; a file-size limit makes writes past it
// fail as on a full medium (SIGXFSZ is ignored in the child).
RunResult runTorvan(const std::vector<std::string>& args, const std::string& cwd = ".",
                    rlim_t fileSizeLimit = RLIM_INFINITY);

std::string kvrBytes(const t_kvr_header& header, const std::vector<uint16_t>& samples);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string makeTempDir();

extern const char BANNER[];
extern const char FAILED[];

#endif
