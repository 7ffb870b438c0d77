// Writing the FITS output: the 36 header cards and the 12-bit data blocks.
#ifndef TORVAN_FITS_WRITER_H
#define TORVAN_FITS_WRITER_H

#include <cstdint>
#include <cstdio>

#include "defs.h"

// Scratch for a decimal value or a formatted card, with room for its terminator.
constexpr int TEXT_NUMBER_SIZE = CARD_LENGTH + 1;

// With isoDate, DATE-OBS holds the date and time in the FITS standard's form,
// which FITS software reads; without, the program's own day/month/year form.
int writeHeaderCards(FILE* f_ou, const t_kvr_header* header, const char* inp, int isoDate,
                     char* buff, char* textNumber);

int writeDataBlocks(FILE* f_in, FILE* f_ou, uint64_t samples, unsigned char* block,
                    int* readFailed);
uint64_t fitsSize(uint64_t samples);

#endif
