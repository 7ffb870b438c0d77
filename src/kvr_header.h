// The KVR version 2 header: its record decoded from bytes, the rules a
// picture that converts meets, and the sizes they imply. Bytes in, answers
// out: no file is opened here.
#ifndef TORVAN_KVR_HEADER_H
#define TORVAN_KVR_HEADER_H

#include <cstddef>
#include <cstdint>

#include "defs.h"

// One header field and what a picture that converts holds in it: a text of
// length bytes, or a number from low to high.
struct t_header_rule {
    const char* name;     // the field as a user knows it, in Czech ASCII
    size_t offset;        // where it lies in t_kvr_header
    int length;           // of a text; 0 for a number
    const char* text;
    int32_t low, high;
};

// What an input is to every program, from the worst to a picture that converts.
enum t_input_verdict {
    INPUT_UNOPENED,
    INPUT_FOREIGN_LINK,   // a link on the way that the kernel's rule forbids following
    INPUT_FOLDER, INPUT_SPECIAL, INPUT_UNREADABLE,
    INPUT_NOT_KVR,        // read in full, but no KVR picture: nothing of it is shown
    INPUT_BROKEN_RULES, INPUT_WRONG_SIZE, INPUT_CONVERTS
};

// The record of the KVR_HEADER_SIZE bytes at the start of a file.
void decodeHeader(const unsigned char* bytes, t_kvr_header* header);
// Whether the first bytes of a file, length of them, are a KVR picture's.
bool isKvrMagic(const char* bytes, size_t length);
// Every field with its rule, in file order; a picture converts when all hold.
const t_header_rule* headerRules(int* count);
bool ruleHolds(const t_header_rule* rule, const t_kvr_header* header);
int32_t ruleNumber(const t_header_rule* rule, const t_kvr_header* header);
int testHeader(const t_kvr_header* header);
// The verdict on a header read in full from a file of size bytes.
t_input_verdict judgeHeader(const t_kvr_header* header, uint64_t size);
uint64_t sampleCount(const t_kvr_header* header);
// The capture time in the FITS standard's form, 2004-10-09T11:21:04.050: a
// year of 0 to 9999 in four places, any other with its sign and at least five.
void captureTime(const t_kvr_header* header, char* text, size_t size);
uint64_t expectedInputSize(const t_kvr_header* header);
bool sizeMatches(const t_kvr_header* header, uint64_t inp_size);

#endif
