// The FITS output as bytes: the header block of 36 cards and the data blocks
// of 12-bit samples. No file is written here.
#ifndef TORVAN_FITS_WRITER_H
#define TORVAN_FITS_WRITER_H

#include <cstdint>

#include "defs.h"

// Scratch for a decimal value or a formatted card, with room for its terminator.
constexpr int TEXT_NUMBER_SIZE = CARD_LENGTH + 1;
// The 12-bit samples' ceiling, where a star is clipped.
constexpr int SAMPLE_CEILING = 4095;

struct t_user_cards;

// What a header holds beside the picture's own cards.
struct t_header_plan {
    bool isoDate;                 // DATE-OBS and TIME in the FITS standard's form
    bool science;                 // SATURATE, and CHECKSUM and DATASUM, sealed at the end
    const t_user_cards* cards;    // the user's, or NULL
    const char* clock;            // the station's clock as a COMMENT names it; NULL where the
                                  // capture time is written as read
};

// The header block, FITS_BLOCK bytes, for the picture read from inp. With
// isoDate, DATE-OBS holds the date and time in the FITS standard's form and
// TIME a value indicator, as FITS software reads them; without, the classic
// cards: the day/month/year date and no blank after either equals sign. With
// a clock, utc is the capture time in UTC (a copy of header so moved) and the
// time as read goes into DATE-LOC.
void composeHeader(const t_kvr_header* header, const char* inp, const t_header_plan* plan,
                   const t_kvr_header* utc, unsigned char* block);
// How many of the user's cards a header of plan has room for.
int userCardRoom(const t_header_plan* plan);
// The CHECKSUM and DATASUM of a science header, for data that sums to dataSum.
void sealHeader(unsigned char* block, uint32_t dataSum);
// Whether two header blocks are the same but for their checksums' values.
bool sameHeader(const unsigned char* a, const unsigned char* b);
// A data block in place from the count samples at its start, as read.
void composeDataBlock(unsigned char* block, int count);
// The same, giving the sum the FITS checksum convention takes of the block.
uint32_t composeSummedDataBlock(unsigned char* block, int count);
uint64_t fitsSize(uint64_t samples);

#endif
