#include "kvr_reader.h"

#include <cstring>

static const char KVR_MAGIC[] = "KVR";
static const char KVR_SIGNATURE[] = "KVR picture file - raster signature 0002";

// Little-endian two's complement, byte by byte, whatever the host.
static int32_t decodeInt32(const unsigned char* bytes)
{
    uint32_t value = (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
                     (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
    return (int32_t)value;
}

static int readBytes(FILE* f_in, void* field, size_t size)
{
    return fread(field, 1, size, f_in) == size;
}

static int readInt32(FILE* f_in, int32_t* field)
{
    unsigned char bytes[4];

    if (!readBytes(f_in, bytes, sizeof bytes))
        return 0;
    *field = decodeInt32(bytes);
    return 1;
}

int readHeader(FILE* f_in, t_kvr_header* header)
{
    header->tri[KVR_MAGIC_LENGTH] = '\0';
    header->copyright[KVR_SIGNATURE_LENGTH] = '\0';

    return readBytes(f_in, header->tri, KVR_MAGIC_LENGTH) &&
           readInt32(f_in, &header->version) &&
           readBytes(f_in, &header->compressed, 1) &&
           readInt32(f_in, &header->compr_eng_ver) &&
           readBytes(f_in, header->copyright, KVR_SIGNATURE_LENGTH) &&
           readInt32(f_in, &header->ruva_width) &&
           readInt32(f_in, &header->ruva_height) &&
           readInt32(f_in, &header->year) &&
           readInt32(f_in, &header->month) &&
           readInt32(f_in, &header->day) &&
           readInt32(f_in, &header->hour) &&
           readInt32(f_in, &header->minute) &&
           readInt32(f_in, &header->second) &&
           readInt32(f_in, &header->ssecond);
}

static int outside(int32_t value, int32_t low, int32_t high)
{
    return value < low || value > high;
}

int testHeader(const t_kvr_header* header)
{
    // The magic and the signature are raw bytes: a zero inside them must
    // not end the comparison early.
    int broken[12] = {
        memcmp(header->tri, KVR_MAGIC, KVR_MAGIC_LENGTH) != 0,
        header->version != 2,
        header->compressed != ' ',
        header->compr_eng_ver != 0,
        memcmp(header->copyright, KVR_SIGNATURE, KVR_SIGNATURE_LENGTH) != 0,
        header->ruva_width <= 0 || header->ruva_height <= 0,
        outside(header->month, 1, 12),
        outside(header->day, 1, 31),
        outside(header->hour, 0, 23),
        outside(header->minute, 0, 59),
        outside(header->second, 0, 59),
        outside(header->ssecond, 0, 999),
    };

    for (int rule : broken)
        if (rule)
            return 0;
    return 1;
}

// Only meaningful once testHeader has made width and height positive: two
// 31-bit values, their product and the byte count then fit in 64 bits.
uint64_t sampleCount(const t_kvr_header* header)
{
    return (uint64_t)header->ruva_width * (uint64_t)header->ruva_height;
}

uint64_t expectedInputSize(const t_kvr_header* header)
{
    return KVR_HEADER_SIZE + sampleCount(header) * KVR_SAMPLE_SIZE;
}

int sizeMatches(const t_kvr_header* header, uint64_t inp_size)
{
    return inp_size == expectedInputSize(header);
}

int readSamples(FILE* f_in, unsigned char* block, int count)
{
    return fread(block, KVR_SAMPLE_SIZE, count, f_in) == (size_t)count;
}

// After the announced samples the input must end: anything more means the
// file changed after its size was checked.
int inputExhausted(FILE* f_in)
{
    return fgetc(f_in) == EOF && !ferror(f_in);
}
