// The KVR header record and the fixed counts of both file formats.
#ifndef TORVAN_DEFS_H
#define TORVAN_DEFS_H

#include <cstdint>

// KVR version 2: an 88-byte little-endian header, then 16-bit samples.
constexpr int KVR_HEADER_SIZE = 88;
constexpr int KVR_SAMPLE_SIZE = 2;
constexpr int KVR_MAGIC_LENGTH = 3;
constexpr int KVR_SIGNATURE_LENGTH = 40;

// FITS: everything comes in 2880-byte blocks of 36 cards or 1440 samples.
constexpr int FITS_BLOCK = 2880;
constexpr int BLOCK_HALF = FITS_BLOCK / 2;
constexpr int CARD_LENGTH = 80;
constexpr int CARD_COUNT = FITS_BLOCK / CARD_LENGTH;
constexpr int VALUE_END_COLUMN = 30;

// Each stream moves this much per system call, so that the 2880-byte reads
// and writes cost memory copies rather than system calls.
constexpr int STREAM_BUFFER = 256 * 1024;

// The header as read, field by field, in file order. The texts carry one
// more character than on disk, a terminating zero, as the record always has:
// no rule reads it (they compare the bytes read), but code that prints a
// field as a C string, a debugger among it, stays within the field.
struct t_kvr_header {
    char tri[KVR_MAGIC_LENGTH + 1];              // the magic, "KVR"
    int32_t version;                             // the format's version, 2
    char compressed;                             // ' ' for an uncompressed picture
    int32_t compr_eng_ver;                       // the compression engine's version, 0
    char copyright[KVR_SIGNATURE_LENGTH + 1];    // the signature, "KVR picture file - ..."
    int32_t ruva_width;                          // samples per row: FITS's first axis
    int32_t ruva_height;                         // rows: FITS's second axis
    int32_t year;                                // the capture time, by the station's clock
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t ssecond;                             // its thousandths of a second
};

#endif
