// Card layout and the data stage's failures; the output's bytes as a whole
// are checked end to end.
#include <gtest/gtest.h>

#include <string>

#include "fits_writer.h"
#include "kvr_encode.h"

static std::string card(int number, const t_kvr_header& header, const char* inp = "a.kvr")
{
    char buff[CARD_LENGTH + 8], textNumber[TEXT_NUMBER_SIZE];
    memset(buff, '#', sizeof buff);
    composeCard(number, &header, inp, buff, textNumber);
    EXPECT_EQ(std::string(buff + CARD_LENGTH, 8), "########") << "written past the card";
    return std::string(buff, CARD_LENGTH);
}

static std::string padded(const std::string& text)
{
    return text + std::string(CARD_LENGTH - text.size(), ' ');
}

TEST(AlignText, StaysInsideTheLengthWhateverTheTexts)
{
    char buffer[12];
    memset(buffer, '.', sizeof buffer);
    alignText("AB", "xyz", buffer, 10);
    EXPECT_EQ(std::string(buffer, 12), "AB.....xyz..");
    alignText("", "0123456789AB", buffer, 10);
    EXPECT_EQ(std::string(buffer, 12), "23456789AB..");
}

TEST(HeaderCards, ValuesDatesAndTimes)
{
    auto with = [](int32_t width, int32_t year) {
        t_kvr_header h = validKvrHeader(width, 1);
        h.year = year;
        return h;
    };
    t_kvr_header late = with(1, 1999);
    late.month = 12; late.day = 31; late.hour = 23; late.minute = 59; late.second = 59; late.ssecond = 999;

    const struct { int number; t_kvr_header header; std::string expected; } cases[] = {
        {4, with(1, 2004), padded("NAXIS1  =                    1")},
        {4, with(10, 2004), padded("NAXIS1  =                   10")},
        {4, with(1000000, 2004), padded("NAXIS1  =              1000000")},
        {6, with(1, 2004), padded("DATE-OBS='09/10/04'")},
        {6, with(1, 1904), padded("DATE-OBS='09/10/04'")},
        {6, with(1, 7), padded("DATE-OBS='09/10/07'")},
        {6, with(1, -2004), padded("DATE-OBS='09/10/0-4'")},
        {6, with(1, -1999), padded("DATE-OBS='09/10/-9-9'")},
        {6, late, padded("DATE-OBS='31/12/99'")},
        {7, with(1, 2004), padded("TIME    ='11:21:04.050'")},
        {7, late, padded("TIME    ='23:59:59.999'")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(card(c.number, c.header), c.expected) << "card " << c.number;
}

TEST(HeaderCards, CommentCardStopsAtColumn80)
{
    const t_kvr_header h = validKvrHeader(1, 1);
    const std::string start = "COMMENT Soubor vytvoren z predlohy `", end = "' ve formatu KVR programem `TORVAN'";
    const std::string longPath(5000, 'p');

    EXPECT_EQ(card(8, h, "a.kvr"), padded(start + "a.kvr" + end));
    EXPECT_EQ(card(8, h, "123456789"), start + "123456789" + end);
    EXPECT_EQ(card(8, h, "1234567890"), (start + "1234567890" + end).substr(0, 80));
    EXPECT_EQ(card(8, h, longPath.c_str()), (start + longPath).substr(0, 80));
}

TEST(DataBlocks, ExactlyTheAnnouncedSamplesOrAFailureSaysWhich)
{
    const struct { const char* name; size_t inputBytes; uint64_t samples; size_t room;
                   int result, readFailed; size_t written; } cases[] = {
        {"one full block", 2880, 1440, 8640, 1, 0, 2880},
        {"one sample over a block", 2882, 1441, 8640, 1, 0, 5760},
        {"input shrank", 2880, 1441, 8640, 0, 1, 2880},
        {"input grew by a sample", 2884, 1441, 8640, 0, 1, 5760},
        {"input grew by a byte", 2883, 1441, 8640, 0, 1, 5760},
        {"output full in the last block", 2882, 1441, 5000, 0, 0, 5000},
    };
    for (const auto& c : cases) {
        std::string input(c.inputBytes + 1, '\x7F'), output(c.room, '\0');
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
