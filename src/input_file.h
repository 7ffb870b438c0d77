// The input's life: a KVR picture judged by its path before it is opened,
// judged again once open (its kind, its header, the rules and its size),
// then read once, front to back, and checked to be unchanged at the end.
#ifndef TORVAN_INPUT_FILE_H
#define TORVAN_INPUT_FILE_H

#include <cstdint>
#include <cstdio>

#include "defs.h"
#include "kvr_header.h"
#include "os/system.h"

// All zero is an input not yet opened.
struct t_input {
    FILE* stream;               // open only while the picture converts
    t_input_verdict verdict;
    t_kvr_header header;        // read in full where verdict >= INPUT_BROKEN_RULES
    t_file_state state;         // as opened: what the sizes of the verdict compare
    t_file_identity identity;   // the file the output never replaces
};

// Opens and judges the picture at path: true when it converts, its stream then
// at the first sample, reading through buffer (STREAM_BUFFER bytes) where
// one is given. Otherwise nothing stays open and the verdict says why.
bool openInput(t_input* input, const char* path, char* buffer);
// The next count samples as they lie in the file; false for a short or failed read.
bool readSamples(t_input* input, unsigned char* block, int count);
// Whether the file is as it was opened: no byte added, cut or rewritten.
bool inputUnchanged(t_input* input);
// Safe to repeat.
void closeInput(t_input* input);

#endif
