// Reading a KVR version 2 picture: its header, its judgement and its samples.
#ifndef TORVAN_KVR_READER_H
#define TORVAN_KVR_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "defs.h"
#include "os_files.h"

// One header field and what a picture that converts holds in it: a text of
// length bytes, or a number from low to high.
struct t_header_rule {
    const char* name;     // the field as a user knows it, in Czech ASCII
    size_t offset;        // where it lies in t_kvr_header
    int length;           // of a text; 0 for a number
    const char* text;
    int32_t low, high;
};

// What an input is to both programs, from the worst to a picture that converts.
enum t_input_verdict {
    INPUT_FOLDER, INPUT_SPECIAL, INPUT_UNREADABLE, INPUT_BROKEN_RULES, INPUT_WRONG_SIZE,
    INPUT_CONVERTS
};

// Judges an input by its path, before it is opened: a folder, a FIFO or a
// device is refused at once. 1 when it is to be opened and judged.
int judgeInputPath(const char* path, int* verdict);
// Judges an open input: first its kind and state, before any byte is read,
// then its header, the rules and its size. 1 when it converts.
int judgeInput(FILE* f_in, t_kvr_header* header, t_file_state* state, int* verdict);
int readHeader(FILE* f_in, t_kvr_header* header);
// Whether the first bytes of a file, length of them, are a KVR picture's.
int isKvrMagic(const char* bytes, size_t length);
// Whether an open file begins as a KVR picture does.
int beginsAsKvr(FILE* f);
// Every field with its rule, in file order; a picture converts when all hold.
const t_header_rule* headerRules(int* count);
int ruleHolds(const t_header_rule* rule, const t_kvr_header* header);
int32_t ruleNumber(const t_header_rule* rule, const t_kvr_header* header);
int testHeader(const t_kvr_header* header);
uint64_t sampleCount(const t_kvr_header* header);
// The capture time in the FITS standard's form, 2004-10-09T11:21:04.050: a
// year of 0 to 9999 in four places, any other with its sign and at least five.
void captureTime(const t_kvr_header* header, char* text, size_t size);
uint64_t expectedInputSize(const t_kvr_header* header);
int sizeMatches(const t_kvr_header* header, uint64_t inp_size);
int readSamples(FILE* f_in, unsigned char* block, int count);

#endif
