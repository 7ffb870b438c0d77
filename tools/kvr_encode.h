// Writing KVR version 2 pictures, for the picture generator and the tests.
#ifndef TORVAN_KVR_ENCODE_H
#define TORVAN_KVR_ENCODE_H

#include <cstdint>
#include <cstring>

#include "defs.h"

// A header that every rule accepts: 9 October 2004, 11:21:04.050.
inline t_kvr_header validKvrHeader(int32_t width, int32_t height)
{
    t_kvr_header header;

    memset(&header, 0, sizeof header);
    memcpy(header.tri, "KVR", KVR_MAGIC_LENGTH);
    header.version = 2;
    header.compressed = ' ';
    header.compr_eng_ver = 0;
    memcpy(header.copyright, "KVR picture file - raster signature 0002", KVR_SIGNATURE_LENGTH);
    header.ruva_width = width;
    header.ruva_height = height;
    header.year = 2004;
    header.month = 10;
    header.day = 9;
    header.hour = 11;
    header.minute = 21;
    header.second = 4;
    header.ssecond = 50;
    return header;
}

inline unsigned char* encodeInt32(unsigned char* out, int32_t value)
{
    uint32_t bits = (uint32_t)value;

    for (int i = 0; i < 4; i++)
        out[i] = (unsigned char)(bits >> (8 * i));
    return out + 4;
}

// The 88 on-disk bytes of a header, little-endian, without terminators.
inline void encodeKvrHeader(const t_kvr_header* h, unsigned char* out)
{
    memcpy(out, h->tri, KVR_MAGIC_LENGTH);
    out = encodeInt32(out + KVR_MAGIC_LENGTH, h->version);
    *out++ = (unsigned char)h->compressed;
    out = encodeInt32(out, h->compr_eng_ver);
    memcpy(out, h->copyright, KVR_SIGNATURE_LENGTH);
    out += KVR_SIGNATURE_LENGTH;
    const int32_t rest[] = {h->ruva_width, h->ruva_height, h->year, h->month, h->day,
                            h->hour, h->minute, h->second, h->ssecond};
    for (int32_t value : rest)
        out = encodeInt32(out, value);
}

// Samples as they lie in the file: unsigned 16-bit, little-endian.
inline void encodeSamples(const uint16_t* samples, size_t count, unsigned char* out)
{
    for (size_t i = 0; i < count; i++) {
        out[2 * i] = (unsigned char)(samples[i] & 0xFF);
        out[2 * i + 1] = (unsigned char)(samples[i] >> 8);
    }
}

#endif
