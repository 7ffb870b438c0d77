// The FITS checksum convention: the 32-bit ones' complement sum of a header
// and data unit, kept in DATASUM for the data and in CHECKSUM, as 16 ASCII
// characters, for the whole, so that the whole then sums to zero. Bytes in,
// numbers and text out.
#ifndef TORVAN_FITS_CHECKSUM_H
#define TORVAN_FITS_CHECKSUM_H

#include <cstddef>
#include <cstdint>

// The sum of sum and the big-endian 32-bit words of bytes, length a multiple of 4.
uint32_t addToChecksum(uint32_t sum, const unsigned char* bytes, size_t length);
// Two sums added as the convention adds them: a carry out of 32 bits comes back in.
uint32_t addSums(uint32_t a, uint32_t b);
// The 16 characters (and a terminator) that CHECKSUM holds for an HDU whose
// words, CHECKSUM's value taken as "0000000000000000", sum to sum.
void checksumText(uint32_t sum, char text[17]);

#endif
