// Reading a KVR version 2 picture: its header, its judgement and its samples.
#ifndef TORVAN_KVR_READER_H
#define TORVAN_KVR_READER_H

#include <cstdint>
#include <cstdio>

#include "defs.h"

int readHeader(FILE* f_in, t_kvr_header* header);
int testHeader(const t_kvr_header* header);
uint64_t sampleCount(const t_kvr_header* header);
uint64_t expectedInputSize(const t_kvr_header* header);
int sizeMatches(const t_kvr_header* header, uint64_t inp_size);
int readSamples(FILE* f_in, unsigned char* block, int count);
int inputExhausted(FILE* f_in);

#endif
