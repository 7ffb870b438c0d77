// The acceptance rules at their edges, on headers built in memory or read from bytes.
#include <gtest/gtest.h>

#include "kvr_encode.h"
#include "kvr_reader.h"

TEST(TestHeader, NumberRulesAtTheirEdges)
{
    using H = t_kvr_header;
    const struct { int32_t H::*field; int32_t value; int valid; } cases[] = {
        {&H::month, 1, 1}, {&H::month, 12, 1}, {&H::month, 0, 0}, {&H::month, 13, 0},
        {&H::day, 1, 1}, {&H::day, 31, 1}, {&H::day, 0, 0}, {&H::day, 32, 0},
        {&H::hour, 0, 1}, {&H::hour, 23, 1}, {&H::hour, -1, 0}, {&H::hour, 24, 0},
        {&H::minute, 59, 1}, {&H::minute, 60, 0}, {&H::second, 59, 1}, {&H::second, 60, 0},
        {&H::second, INT32_MIN, 0}, {&H::ssecond, 999, 1}, {&H::ssecond, 1000, 0},
        {&H::ssecond, -1, 0}, {&H::ruva_width, 0, 0}, {&H::ruva_width, -1, 0},
        {&H::ruva_height, INT32_MIN, 0}, {&H::version, 1, 0}, {&H::version, 3, 0},
        {&H::compr_eng_ver, 1, 0}, {&H::year, 0, 1}, {&H::year, 12345, 1}, {&H::year, -2004, 1},
    };
    for (const auto& c : cases) {
        t_kvr_header header = validKvrHeader(320, 240);
        header.month = 2;   // the day is never checked against the month
        header.*c.field = c.value;
        EXPECT_EQ(testHeader(&header), c.valid) << "value " << c.value;
    }
}

TEST(TestHeader, TextRulesAreExactBytes)
{
    const struct { const char* name; size_t at; char byte; } cases[] = {
        {"magic in lower case", 0, 'k'},
        {"compression N", 7, 'N'},
        {"compression 0", 7, '0'},
        {"signature in lower case", 12, 'k'},
        {"signature's last byte", 51, '3'},
        {"a zero inside the signature", 30, '\0'},
    };
    for (const auto& c : cases) {
        t_kvr_header valid = validKvrHeader(1, 1), read;
        unsigned char raw[KVR_HEADER_SIZE];
        encodeKvrHeader(&valid, raw);
        raw[c.at] = (unsigned char)c.byte;
        FILE* f = fmemopen(raw, sizeof raw, "rb");
        ASSERT_EQ(readHeader(f, &read), 1);
        fclose(f);
        EXPECT_EQ(testHeader(&read), 0) << c.name;
    }
}

TEST(SizeMatches, ExactByteCountWithoutWrapAround)
{
    const struct { int32_t width, height; uint64_t size; int matches; } cases[] = {
        {1, 1, 90, 1}, {1, 1, 89, 0}, {1, 1, 91, 0},
        {65536, 32768, 88, 0},   // 2^32 bytes of samples: 88 in 32-bit arithmetic
        {65536, 32768, 88 + (1ull << 32), 1},
        {INT32_MAX, INT32_MAX, 88 + 2 * (uint64_t)INT32_MAX * INT32_MAX, 1},
    };
    for (const auto& c : cases) {
        t_kvr_header header = validKvrHeader(c.width, c.height);
        EXPECT_EQ(sizeMatches(&header, c.size), c.matches) << c.width << " x " << c.height;
    }
}
