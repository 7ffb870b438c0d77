// Header reading and the acceptance rules, at their edges.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "kvr_encode.h"
#include "kvr_reader.h"

static int readFromBytes(const unsigned char* bytes, size_t size, t_kvr_header* header)
{
    // fmemopen refuses a zero size, so an empty file is one byte cut off.
    unsigned char spare[1] = {0};
    FILE* f = size > 0 ? fmemopen((void*)bytes, size, "rb") : fmemopen(spare, 1, "rb");
    if (size == 0)
        fgetc(f);
    int result = readHeader(f, header);
    fclose(f);
    return result;
}

TEST(ReadHeader, DecodesEveryFieldLittleEndian)
{
    t_kvr_header written = validKvrHeader(768, -576);
    written.year = -2004;
    written.ssecond = 0x12345678;
    unsigned char raw[KVR_HEADER_SIZE];
    encodeKvrHeader(&written, raw);

    t_kvr_header read;
    ASSERT_EQ(readFromBytes(raw, sizeof raw, &read), 1);
    EXPECT_STREQ(read.tri, "KVR");
    EXPECT_STREQ(read.copyright, "KVR picture file - raster signature 0002");
    EXPECT_EQ(read.compressed, ' ');
    EXPECT_EQ(read.ruva_width, 768);
    EXPECT_EQ(read.ruva_height, -576);
    EXPECT_EQ(read.year, -2004);
    EXPECT_EQ(read.ssecond, 0x12345678);
}

TEST(ReadHeader, FailsOnAnyShortFile)
{
    unsigned char raw[KVR_HEADER_SIZE];
    t_kvr_header valid = validKvrHeader(1, 1), read;
    encodeKvrHeader(&valid, raw);

    for (size_t size : {0, 1, 3, 50, 87})
        EXPECT_EQ(readFromBytes(raw, size, &read), 0) << size << " bytes";
}

TEST(DecodeInt32, TwosComplementWhateverTheHost)
{
    const struct { unsigned char bytes[4]; int32_t value; } cases[] = {
        {{0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {{0x00, 0x00, 0x00, 0x80}, INT32_MIN},
        {{0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeInt32(c.bytes), c.value);
}

struct RuleCase {
    const char* name;
    void (*change)(t_kvr_header*);
    int valid;
};

static const RuleCase ruleCases[] = {
    {"untouched", [](t_kvr_header*) {}, 1},
    {"latest moment", [](t_kvr_header* h) { h->month = 12; h->day = 31; h->hour = 23;
                                             h->minute = 59; h->second = 59; h->ssecond = 999; }, 1},
    {"earliest moment", [](t_kvr_header* h) { h->month = 1; h->day = 1; h->hour = 0;
                                               h->minute = 0; h->second = 0; h->ssecond = 0; }, 1},
    {"31 February", [](t_kvr_header* h) { h->month = 2; h->day = 31; }, 1},
    {"year 0", [](t_kvr_header* h) { h->year = 0; }, 1},
    {"year of five places", [](t_kvr_header* h) { h->year = 12345; }, 1},
    {"negative year", [](t_kvr_header* h) { h->year = INT32_MIN; }, 1},
    {"magic in lower case", [](t_kvr_header* h) { h->tri[0] = 'k'; }, 0},
    {"version 1", [](t_kvr_header* h) { h->version = 1; }, 0},
    {"version 3", [](t_kvr_header* h) { h->version = 3; }, 0},
    {"compressed N", [](t_kvr_header* h) { h->compressed = 'N'; }, 0},
    {"compressed 0", [](t_kvr_header* h) { h->compressed = '0'; }, 0},
    {"engine 1", [](t_kvr_header* h) { h->compr_eng_ver = 1; }, 0},
    {"signature last byte", [](t_kvr_header* h) { h->copyright[39] = '3'; }, 0},
    {"signature lower case", [](t_kvr_header* h) { h->copyright[0] = 'k'; }, 0},
    {"signature with a zero", [](t_kvr_header* h) { h->copyright[20] = '\0'; }, 0},
    {"width 0", [](t_kvr_header* h) { h->ruva_width = 0; }, 0},
    {"width negative", [](t_kvr_header* h) { h->ruva_width = -1; }, 0},
    {"height 0", [](t_kvr_header* h) { h->ruva_height = 0; }, 0},
    {"height most negative", [](t_kvr_header* h) { h->ruva_height = INT32_MIN; }, 0},
    {"month 0", [](t_kvr_header* h) { h->month = 0; }, 0},
    {"month 13", [](t_kvr_header* h) { h->month = 13; }, 0},
    {"day 0", [](t_kvr_header* h) { h->day = 0; }, 0},
    {"day 32", [](t_kvr_header* h) { h->day = 32; }, 0},
    {"hour negative", [](t_kvr_header* h) { h->hour = -1; }, 0},
    {"hour 24", [](t_kvr_header* h) { h->hour = 24; }, 0},
    {"minute 60", [](t_kvr_header* h) { h->minute = 60; }, 0},
    {"second 60", [](t_kvr_header* h) { h->second = 60; }, 0},
    {"second most negative", [](t_kvr_header* h) { h->second = INT32_MIN; }, 0},
    {"thousandths 1000", [](t_kvr_header* h) { h->ssecond = 1000; }, 0},
    {"thousandths negative", [](t_kvr_header* h) { h->ssecond = -1; }, 0},
};

TEST(TestHeader, TwelveRulesAtTheirEdges)
{
    for (const RuleCase& c : ruleCases) {
        t_kvr_header header = validKvrHeader(320, 240);
        c.change(&header);
        EXPECT_EQ(testHeader(&header), c.valid) << c.name;
    }
}

TEST(SizeMatches, ExactByteCountWithoutWrapAround)
{
    const struct { int32_t width, height; uint64_t size; int matches; } cases[] = {
        {1, 1, 90, 1},
        {1, 1, 89, 0},
        {1, 1, 91, 0},
        {768, 576, 88 + 768 * 576 * 2, 1},
        {768, 576, 88 + 768 * 576 * 2 - 2, 0},
        {65536, 32768, 88, 0},             // the byte count is 2^32: wraps to 88 in 32 bits
        {65536, 32768, 88 + (1ull << 32), 1},
        {INT32_MAX, INT32_MAX, 88, 0},
        {INT32_MAX, INT32_MAX, 88 + 2 * (uint64_t)INT32_MAX * INT32_MAX, 1},
    };
    for (const auto& c : cases) {
        t_kvr_header header = validKvrHeader(c.width, c.height);
        EXPECT_EQ(sizeMatches(&header, c.size), c.matches)
            << c.width << " x " << c.height << " in " << c.size << " B";
    }
}
