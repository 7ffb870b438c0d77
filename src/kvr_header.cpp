#include "kvr_header.h"

#include <cstddef>
#include <cstdio>
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

// Field by field at its offset in the file; the texts get their terminating zero.
void decodeHeader(const unsigned char* bytes, t_kvr_header* header)
{
    memcpy(header->tri, bytes, KVR_MAGIC_LENGTH);
    header->tri[KVR_MAGIC_LENGTH] = '\0';
    header->version = decodeInt32(bytes + 3);
    header->compressed = (char)bytes[7];
    header->compr_eng_ver = decodeInt32(bytes + 8);
    memcpy(header->copyright, bytes + 12, KVR_SIGNATURE_LENGTH);
    header->copyright[KVR_SIGNATURE_LENGTH] = '\0';
    header->ruva_width = decodeInt32(bytes + 52);
    header->ruva_height = decodeInt32(bytes + 56);
    header->year = decodeInt32(bytes + 60);
    header->month = decodeInt32(bytes + 64);
    header->day = decodeInt32(bytes + 68);
    header->hour = decodeInt32(bytes + 72);
    header->minute = decodeInt32(bytes + 76);
    header->second = decodeInt32(bytes + 80);
    header->ssecond = decodeInt32(bytes + 84);
}

bool isKvrMagic(const char* bytes, size_t length)
{
    return length == KVR_MAGIC_LENGTH && memcmp(bytes, KVR_MAGIC, length) == 0;
}

// Every field of the header and what a picture that converts holds in it.
// The magic and the signature are raw bytes: a zero inside them must not end
// the comparison early. The year may hold anything.
static const t_header_rule HEADER_RULES[] = {
    {"znacka", offsetof(t_kvr_header, tri), KVR_MAGIC_LENGTH, KVR_MAGIC, 0, 0},
    {"verze", offsetof(t_kvr_header, version), 0, NULL, 2, 2},
    {"komprese", offsetof(t_kvr_header, compressed), 1, " ", 0, 0},
    {"verze_komprese", offsetof(t_kvr_header, compr_eng_ver), 0, NULL, 0, 0},
    {"podpis", offsetof(t_kvr_header, copyright), KVR_SIGNATURE_LENGTH, KVR_SIGNATURE, 0, 0},
    {"sirka", offsetof(t_kvr_header, ruva_width), 0, NULL, 1, INT32_MAX},
    {"vyska", offsetof(t_kvr_header, ruva_height), 0, NULL, 1, INT32_MAX},
    {"rok", offsetof(t_kvr_header, year), 0, NULL, INT32_MIN, INT32_MAX},
    {"mesic", offsetof(t_kvr_header, month), 0, NULL, 1, 12},
    {"den", offsetof(t_kvr_header, day), 0, NULL, 1, 31},
    {"hodina", offsetof(t_kvr_header, hour), 0, NULL, 0, 23},
    {"minuta", offsetof(t_kvr_header, minute), 0, NULL, 0, 59},
    {"sekunda", offsetof(t_kvr_header, second), 0, NULL, 0, 59},
    {"tisiciny", offsetof(t_kvr_header, ssecond), 0, NULL, 0, 999},
};

const t_header_rule* headerRules(int* count)
{
    *count = sizeof HEADER_RULES / sizeof *HEADER_RULES;
    return HEADER_RULES;
}

int32_t ruleNumber(const t_header_rule* rule, const t_kvr_header* header)
{
    int32_t value;

    memcpy(&value, (const char*)header + rule->offset, sizeof value);
    return value;
}

bool ruleHolds(const t_header_rule* rule, const t_kvr_header* header)
{
    const char* field = (const char*)header + rule->offset;
    int32_t value;

    if (rule->length > 0)
        return memcmp(field, rule->text, rule->length) == 0;
    value = ruleNumber(rule, header);
    return value >= rule->low && value <= rule->high;
}

int testHeader(const t_kvr_header* header)
{
    for (const t_header_rule& rule : HEADER_RULES)
        if (!ruleHolds(&rule, header))
            return 0;
    return 1;
}

t_input_verdict judgeHeader(const t_kvr_header* header, uint64_t size)
{
    if (!isKvrMagic(header->tri, KVR_MAGIC_LENGTH))
        return INPUT_NOT_KVR;
    if (!testHeader(header))
        return INPUT_BROKEN_RULES;
    return sizeMatches(header, size) ? INPUT_CONVERTS : INPUT_WRONG_SIZE;
}

void captureTime(const t_kvr_header* h, char* text, size_t size)
{
    snprintf(text, size, h->year >= 0 && h->year <= 9999 ? "%04d" : "%+06d", (int)h->year);
    size_t length = strlen(text);
    snprintf(text + length, size - length, "-%02d-%02dT%02d:%02d:%02d.%03d", (int)h->month,
             (int)h->day, (int)h->hour, (int)h->minute, (int)h->second, (int)h->ssecond);
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

bool sizeMatches(const t_kvr_header* header, uint64_t inp_size)
{
    return inp_size == expectedInputSize(header);
}
