// The output's life. A regular output is written under a temporary name in
// its own folder and takes the output's name only once it is complete, so
// that the output path holds the older file or the new one, never a part.
// Devices, FIFOs and standard output are written directly and never deleted.
#ifndef TORVAN_OUTPUT_FILE_H
#define TORVAN_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>

#include "defs.h"

struct t_output {
    FILE* stream;
    int direct;                      // written in place, never deleted
    char target[PATH_BUFFER];        // the file the output path leads to
    char temporary[PATH_BUFFER];     // where it is written meanwhile
};

// Opens the output for a picture of size bytes, arming the interrupt cleanup.
int openOutput(t_output* output, const char* out, uint64_t size);
// Closes the output and gives it its name; on failure nothing of it is left.
int commitOutput(t_output* output);
void discardOutput(t_output* output);

#endif
