// The FITS output as bytes: the header block of 36 cards and the data blocks
// of 12-bit samples. No file is written here.
#ifndef TORVAN_FITS_WRITER_H
#define TORVAN_FITS_WRITER_H

#include <cstdint>

#include "defs.h"

// Scratch for a decimal value or a formatted card, with room for its terminator.
constexpr int TEXT_NUMBER_SIZE = CARD_LENGTH + 1;

// The header block, FITS_BLOCK bytes, for the picture read from inp. With
// isoDate, DATE-OBS holds the date and time in the FITS standard's form and
// TIME a value indicator, as FITS software reads them; without, the classic
// cards: the day/month/year date and no blank after either equals sign.
void composeHeader(const t_kvr_header* header, const char* inp, int isoDate,
                   unsigned char* block);
// A data block in place from the count samples at its start, as read.
void composeDataBlock(unsigned char* block, int count);
uint64_t fitsSize(uint64_t samples);

#endif
