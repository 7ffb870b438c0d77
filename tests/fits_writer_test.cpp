// Card layout, sample reduction and block topping-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fits_writer.h"
#include "kvr_encode.h"

static std::string card(int number, const t_kvr_header& header, const char* inp = "a.kvr")
{
    char buff[CARD_LENGTH + 8];
    char textNumber[TEXT_NUMBER_SIZE];

    memset(buff, '#', sizeof buff);
    composeCard(number, &header, inp, buff, textNumber);
    // Nothing may land past the 80 columns.
    EXPECT_EQ(std::string(buff + CARD_LENGTH, 8), std::string(8, '#'));
    return std::string(buff, CARD_LENGTH);
}

static std::string padded(const std::string& text)
{
    return text + std::string(CARD_LENGTH - text.size(), ' ');
}

static std::string fixed(const std::string& keyword, const std::string& value)
{
    return padded(keyword + std::string(VALUE_END_COLUMN - keyword.size() - value.size(), ' ') + value);
}

TEST(AlignText, RightTextEndsJustBeforeTheLength)
{
    char buffer[12];
    memset(buffer, '.', sizeof buffer);
    alignText("AB", "xyz", buffer, 10);
    EXPECT_EQ(std::string(buffer, 12), "AB.....xyz..");

    // A text longer than the space keeps its end and stays inside it.
    memset(buffer, '.', sizeof buffer);
    alignText("", "0123456789AB", buffer, 10);
    EXPECT_EQ(std::string(buffer, 12), "23456789AB..");
}

TEST(HeaderCards, LayoutOfEveryKindOfCard)
{
    t_kvr_header h = validKvrHeader(768, 576);
    t_kvr_header wide = validKvrHeader(1000000, 1);
    t_kvr_header narrow = validKvrHeader(1, 10);
    t_kvr_header late = validKvrHeader(1, 1);
    late.year = 1999; late.month = 12; late.day = 31;
    late.hour = 23; late.minute = 59; late.second = 59; late.ssecond = 999;
    t_kvr_header y1904 = h, y7 = h, minus2004 = h, minus1999 = h;
    y1904.year = 1904; y7.year = 7; minus2004.year = -2004; minus1999.year = -1999;

    const struct { int number; const t_kvr_header* header; std::string expected; } cases[] = {
        {1, &h, fixed("SIMPLE  =", "T")},
        {2, &h, fixed("BITPIX  =", "16")},
        {3, &h, fixed("NAXIS   =", "2")},
        {4, &h, "NAXIS1  =                  768" + std::string(50, ' ')},
        {5, &h, fixed("NAXIS2  =", "576")},
        {4, &narrow, fixed("NAXIS1  =", "1")},
        {5, &narrow, fixed("NAXIS2  =", "10")},
        {4, &wide, fixed("NAXIS1  =", "1000000")},
        {6, &h, padded("DATE-OBS='09/10/04'")},
        {6, &y1904, padded("DATE-OBS='09/10/04'")},
        {6, &y7, padded("DATE-OBS='09/10/07'")},
        {6, &late, padded("DATE-OBS='31/12/99'")},
        {6, &minus2004, padded("DATE-OBS='09/10/0-4'")},
        {6, &minus1999, padded("DATE-OBS='09/10/-9-9'")},
        {7, &h, padded("TIME    ='11:21:04.050'")},
        {7, &late, padded("TIME    ='23:59:59.999'")},
        {8, &h, padded("COMMENT Soubor vytvoren z predlohy `a.kvr' ve formatu KVR programem `TORVAN'")},
        {9, &h, padded("END")},
        {10, &h, std::string(80, ' ')},
        {36, &h, std::string(80, ' ')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(card(c.number, *c.header), c.expected) << "card " << c.number;
}

TEST(HeaderCards, CommentCardStopsAtColumn80)
{
    const t_kvr_header h = validKvrHeader(1, 1);
    const std::string start = "COMMENT Soubor vytvoren z predlohy `";
    const std::string end = "' ve formatu KVR programem `TORVAN'";

    EXPECT_EQ(card(8, h, "123456789"), start + "123456789" + end);
    EXPECT_EQ(card(8, h, "1234567890"), (start + "1234567890" + end).substr(0, 80));
    std::string longPath(5000, 'p');
    EXPECT_EQ(card(8, h, longPath.c_str()), (start + longPath).substr(0, 80));
}

TEST(HeaderCards, WholeHeaderIsOneBlockWithEndInCardNine)
{
    char written[FITS_BLOCK + 1] = {0};
    char buff[CARD_LENGTH], textNumber[TEXT_NUMBER_SIZE];
    const t_kvr_header h = validKvrHeader(40, 36);
    FILE* f = fmemopen(written, sizeof written, "wb");
    ASSERT_NE(f, nullptr);
    setvbuf(f, NULL, _IONBF, 0);

    ASSERT_EQ(writeHeaderCards(f, &h, "a.kvr", buff, textNumber), 1);
    EXPECT_EQ(ftell(f), FITS_BLOCK);
    fclose(f);
    EXPECT_EQ(std::string(written + 8 * CARD_LENGTH, CARD_LENGTH), padded("END"));
    EXPECT_EQ(std::string(written + 9 * CARD_LENGTH), std::string(27 * CARD_LENGTH, ' '));
}

TEST(DataBlock, SwapBytesExchangesTheTwoLowBytes)
{
    EXPECT_EQ(swap_bytes(0x0123) & 0xFFFF, 0x2301u);
    EXPECT_EQ(swap_bytes(0x0FFF) & 0xFFFF, 0xFF0Fu);
    EXPECT_EQ(swap_bytes(0), 0u);
}

TEST(DataBlock, SamplesKeepTwelveBitsHighByteFirst)
{
    const struct { unsigned char in[2], out[2]; } cases[] = {
        {{0x34, 0x12}, {0x01, 0x23}},
        {{0xFF, 0xFF}, {0x0F, 0xFF}},
        {{0x0F, 0x00}, {0x00, 0x00}},
        {{0x00, 0x00}, {0x00, 0x00}},
        {{0x10, 0x00}, {0x00, 0x01}},
        {{0x00, 0x80}, {0x08, 0x00}},
    };
    for (const auto& c : cases) {
        unsigned char block[FITS_BLOCK];
        memset(block, 0xAA, sizeof block);
        memcpy(block, c.in, 2);
        prepareDataBlock(block, 1);
        EXPECT_EQ(block[0], c.out[0]);
        EXPECT_EQ(block[1], c.out[1]);
    }
}

TEST(DataBlock, ShortBlockIsToppedUpWithZeros)
{
    for (int count : {0, 1, 1439, 1440}) {
        unsigned char block[FITS_BLOCK + 2];
        memset(block, 0xFF, sizeof block);
        prepareDataBlock(block, count);
        for (int i = 0; i < 2 * count; i += 2)
            ASSERT_TRUE(block[i] == 0x0F && block[i + 1] == 0xFF) << count << " at " << i;
        for (int i = 2 * count; i < FITS_BLOCK; i++)
            ASSERT_EQ(block[i], 0) << count << " at " << i;
        EXPECT_EQ(block[FITS_BLOCK], 0xFF) << "written past the block";
    }
}

TEST(DataBlock, OutputSizeIsWholeBlocks)
{
    const struct { uint64_t samples, size; } cases[] = {
        {1, 5760},
        {1440, 5760},
        {1441, 8640},
        {768 * 576, 309 * 2880},
        {720 * 576, 289 * 2880},
        {32768ull * 32768, (1 + (2 * 32768ull * 32768 + 2879) / 2880) * 2880},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fitsSize(c.samples), c.size) << c.samples << " samples";
}

TEST(DataBlocks, ExactlyTheAnnouncedSamplesOrAFailureSaysWhich)
{
    const struct { const char* name; size_t inputBytes; uint64_t samples; size_t room;
                   int result, readFailed; size_t written; } cases[] = {
        {"one sample", 2, 1, 8640, 1, 0, 2880},
        {"one full block", 2880, 1440, 8640, 1, 0, 2880},
        {"one sample over a block", 2882, 1441, 8640, 1, 0, 5760},
        {"input shrank", 2880, 1441, 8640, 0, 1, 2880},
        {"input grew by a sample", 2884, 1441, 8640, 0, 1, 5760},
        {"input grew by a byte", 2883, 1441, 8640, 0, 1, 5760},
        {"output full in the last block", 2882, 1441, 5000, 0, 0, 5000},
    };
    for (const auto& c : cases) {
        std::string input(c.inputBytes + 1, '\x7F');
        std::string output(c.room, '\0');
        unsigned char block[FITS_BLOCK];
        int readFailed = -1;
        FILE* in = fmemopen(&input[0], c.inputBytes, "rb");
        FILE* out = fmemopen(&output[0], c.room, "wb");
        setvbuf(out, NULL, _IONBF, 0);

        EXPECT_EQ(writeDataBlocks(in, out, c.samples, block, &readFailed), c.result) << c.name;
        EXPECT_EQ(readFailed, c.readFailed) << c.name;
        EXPECT_EQ((size_t)ftell(out), c.written) << c.name;
        fclose(in);
        fclose(out);
    }
}
