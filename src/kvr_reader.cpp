#include "kvr_reader.h"

#include <cstddef>
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

int isKvrMagic(const char* bytes, size_t length)
{
    return length == KVR_MAGIC_LENGTH && memcmp(bytes, KVR_MAGIC, length) == 0;
}

int beginsAsKvr(FILE* f)
{
    char magic[KVR_MAGIC_LENGTH];

    return isKvrMagic(magic, fread(magic, 1, sizeof magic, f));
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

int ruleHolds(const t_header_rule* rule, const t_kvr_header* header)
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

int judgeInputPath(const char* path, int* verdict)
{
    int kind = fileKind(path);

    if (kind == KIND_FOLDER)
        *verdict = INPUT_FOLDER;
    else if (kind == KIND_SPECIAL)
        *verdict = INPUT_SPECIAL;
    return kind != KIND_FOLDER && kind != KIND_SPECIAL;
}

int judgeInput(FILE* f_in, t_kvr_header* header, t_file_state* state, int* verdict)
{
    if (!regularFileState(f_in, state))
        *verdict = isFolder(f_in) ? INPUT_FOLDER : INPUT_SPECIAL;
    else if (!readHeader(f_in, header))
        *verdict = INPUT_UNREADABLE;
    else if (!testHeader(header))
        *verdict = INPUT_BROKEN_RULES;
    else if (!sizeMatches(header, state->size))
        *verdict = INPUT_WRONG_SIZE;
    else
        *verdict = INPUT_CONVERTS;
    return *verdict == INPUT_CONVERTS;
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

int sizeMatches(const t_kvr_header* header, uint64_t inp_size)
{
    return inp_size == expectedInputSize(header);
}

int readSamples(FILE* f_in, unsigned char* block, int count)
{
    return fread(block, KVR_SAMPLE_SIZE, count, f_in) == (size_t)count;
}
