// The rooms that take and give bytes, called directly: the text rules, the KVR header, the FITS
// cards and their checksums, the progress line and the user's cards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fits_checksum.h"
#include "fits_writer.h"
#include "kvr_encode.h"
#include "kvr_header.h"
#include "progress.h"
#include "text_rules.h"
#include "user_cards.h"

// Every name a program prints: a terminal's controls as '?' on a line, escaped in a field.
TEST(TextRules, NamesAsPrinted)
{
    const struct { std::string name, line, field; } rows[] = {
        {"f\x1b]2;x\x07.kvr", "f?]2;x?.kvr", "f\\033]2;x\\007.kvr"},
        {"a\tb\nc\\", "a?b?c\\", "a\\tb\\nc\\\\"},
        {"\x7f\xc2\x80\xc2\x9f\xc2\xa0", "???\xc2\xa0", "\\177\\302\\200\\302\\237\xc2\xa0"},
        {"\x9d" "2;t\x9c \x80\xa0\xff", "?2;t? ?\xa0\xff", "\\2352;t\\234 \\200\xa0\xff"},
        {"M\xc4\x9bs\xc3\xad" "c", "M\xc4\x9bs\xc3\xad" "c", "M\xc4\x9bs\xc3\xad" "c"},
    };
    for (const auto& row : rows) {
        char line[64], field[64];
        lineSafe(row.name.c_str(), line, sizeof line);
        EXPECT_EQ(line, row.line) << row.name;
        EXPECT_EQ(fieldSafe(row.name.c_str(), field, sizeof field), row.name.size());
        EXPECT_EQ(field, row.field) << row.name;
    }
}

// The progress line fits any terminal, shortened by its last parts; its rate and the time left
// are counted over conversions alone, not over pictures skipped.
TEST(Progress, LineForAWidth)
{
    const t_progress converting = {100, 15, 5, 200, 2.0}, resumed = {20, 99, 1, 200, 2.0};
    const struct { t_progress progress; int width; std::string line; } rows[] = {
        {converting, 42, "120/200 snimku, 50.0 snimku/s, zbyva 0:02"},
        {converting, 0, "120/200 snimku, 50.0 snimku/s, zbyva 0:02"},   // a width not told
        {converting, 41, "120/200 snimku, 50.0 snimku/s"}, {converting, 20, "120/200 snimku"},
        {converting, 8, "120/200"}, {converting, 1, ""},
        {resumed, 80, "120/200 snimku, 10.0 snimku/s, zbyva 0:08"},
        {{80, 40, 0, 200, 7.45}, 80, "120/200 snimku, 10.7 snimku/s, zbyva 0:07"},   // 7.45 s
        {{0, 0, 3, 200, 0.5}, 80, "3/200 snimku, 0.0 snimku/s, zbyva ?"},
    };
    for (const auto& row : rows) {
        char line[PROGRESS_LINE];
        EXPECT_EQ(composeProgress(&row.progress, row.width, line), row.line.size()) << row.width;
        EXPECT_EQ(line, row.line) << row.width;
    }
}

// One setting each: its card of 80 bytes (blanks after what is shown), or why none.
TEST(UserCards, SettingsAsCards)
{
    const struct { std::string setting; t_card_refusal refusal; std::string card; } rows[] = {
        {"EXPTIME = 10", CARD_TAKEN, "EXPTIME =                   10"},
        {" \tazimuth=1.5e-3 ", CARD_TAKEN, "AZIMUTH =               1.5E-3"},
        {"SITELONG=-.5d+2", CARD_TAKEN, "SITELONG=               -.5D+2"},
        {"CCD-TEMP=-12.25", CARD_TAKEN, "CCD-TEMP=               -12.25"},
        {"NUMBER=1E5", CARD_TAKEN, "NUMBER  =                  1E5"},
        {"NUMBER=12345678901234567890", CARD_TAKEN, "NUMBER  = 12345678901234567890"},
        {"FLIPPED=T", CARD_TAKEN, "FLIPPED =                    T"},
        {"OBJECT = T CrB", CARD_TAKEN, "OBJECT  = 'T CrB   '"},
        {"FILTER = 'V'", CARD_TAKEN, "FILTER  = 'V       '"},
        {"NICKNAME='''Bob'''", CARD_TAKEN, "NICKNAME= '''Bob'' '"},
        {"NOTE=it's 'x'", CARD_TAKEN, "NOTE    = 'it''s ''x'''"},
        {"X_1-Y=''", CARD_TAKEN, "X_1-Y   = ''"},
        {"TELESCOP='  C14  '", CARD_TAKEN, "TELESCOP= '  C14   '"},
        {"NAXISA=1.2.3", CARD_TAKEN, "NAXISA  = '1.2.3   '"},
        {"NAXI1=+.E5", CARD_TAKEN, "NAXI1   = '+.E5    '"},
        {"EXP=1E", CARD_TAKEN, "EXP     = '1E      '"},
        {"OBJECT=" + std::string(67, 'x') + "~", CARD_TAKEN, "OBJECT  = '" + std::string(67, 'x') + "~'"},
        {"EXPTIME 10", CARD_NO_EQUALS, ""},
        {" \t= 10", CARD_NO_KEYWORD, ""},
        {"@RA=1", CARD_KEYWORD_CHARACTER, ""},
        {"OBSERVERS=x", CARD_LONG_KEYWORD, ""},
        {"naxis12=1", CARD_PROGRAM_KEYWORD, ""},
        {"OBJECT= \t", CARD_NO_VALUE, ""},
        {"OBJECT='SS Cyg''", CARD_UNCLOSED_QUOTE, ""},
        {"FILTER='V'x", CARD_AFTER_QUOTE, ""},
        {"OBSERVER=Ji\xc5\x99\xc3\xad", CARD_NOT_ASCII, ""},
        {"NOTE=a\x1f", CARD_NOT_ASCII, ""},
        {"NOTE='\x7f'", CARD_NOT_ASCII, ""},
        {"OBJECT='" + std::string(67, 'x') + "yz'", CARD_LONG_STRING, ""},
        {"OBJECT=" + std::string(67, 'x') + "'", CARD_LONG_STRING, ""},
        {"GAIN=123456789012345678901", CARD_LONG_NUMBER, ""},
        {"EXPTIME='10'", CARD_NUMBER_ONLY, ""},
        {"SITELAT=+49:12:00", CARD_NUMBER_ONLY, ""},
    };
    for (const auto& row : rows)
        for (const char* past : {"'", " ", "1", ".", "E"}) {   // never read
            const std::string text = row.setting + past;
            t_user_card card;
            EXPECT_EQ(parseCardSetting(text.data(), row.setting.size(), &card), row.refusal) << row.setting;
            const std::string shown(card.text, row.refusal == CARD_TAKEN ? CARD_LENGTH : 0);
            EXPECT_EQ(shown.substr(0, shown.find_last_not_of(' ') + 1), row.card) << row.setting;
        }
}

// A cards file: its cards, blanks squeezed, each ended by |, or the line refused with nothing added.
TEST(UserCards, CardsFile)
{
    auto many = [](int n) { std::string s; for (int i = 0; i < n; i++) s += "K" + std::to_string(i) + "=1\n"; return s; };
    const struct { std::string bytes; int room; t_card_refusal refusal; uint64_t line; std::string cards; } rows[] = {
        {"\xEF\xBB\xBF# station\r\nEXPTIME = 10\r\n\r\n \t\n  # night\nFILTER='V'", 2, CARD_TAKEN, 0, "EXPTIME = 10 |FILTER = 'V ' |"},
        {"EXPTIME=10\nDARK=F\nexptime=30\n", 2, CARD_TAKEN, 0, "EXPTIME = 30 |DARK = F |"},
        {"\xEF\xBB\xBF", 0, CARD_TAKEN, 0, ""},
        {"\nA=1\nB=2\nC=3\n", 2, CARD_NO_ROOM, 4, ""},
        {many(USER_CARDS_MOST + 1), 99, CARD_NO_ROOM, USER_CARDS_MOST + 1u, ""},
        {"A=1\r\nB=\r", 9, CARD_NO_VALUE, 2, ""},
        {"A=1\n\xEF\xBB\xBF" "B=2", 9, CARD_KEYWORD_CHARACTER, 2, ""},
        {"A=x\rB=2\n", 9, CARD_NOT_ASCII, 1, ""},
    };
    for (const auto& row : rows) {
        const std::string text = "\r" + row.bytes + "x\n";   // bytes around, never read
        t_user_cards settings = {};
        for (auto& unused : settings.cards) strcpy(unused.keyword, "DARK");   // past the count: never looked at
        uint64_t line = 99;
        std::string cards;
        EXPECT_EQ(parseCardsFile(text.data() + 1, row.bytes.size(), &settings, row.room, &line), row.refusal) << row.bytes;
        EXPECT_EQ(line, row.line) << row.bytes;
        for (int i = 0; i < settings.count; i++)
            for (char c : std::string(settings.cards[i].text, CARD_LENGTH) + "|")
                if (c != ' ' || cards.empty() || cards.back() != ' ')
                    cards += c;
        EXPECT_EQ(cards, row.cards) << row.bytes;
    }
}

// UTF-8 as names come: each length's least and greatest, and what is no character.
TEST(TextRules, Utf8Decoded)
{
    const struct { std::string bytes; int length; uint32_t code; } rows[] = {
        {"\x7f", 1, 0x7F}, {"\xc2\x80", 2, 0x80}, {"\xdf\xbf", 2, 0x7FF}, {"\xe0\xa0\x80", 3, 0x800},
        {"\xef\xbf\xbf", 3, 0xFFFF}, {"\xf0\x90\x80\x80", 4, 0x10000}, {"\xf4\x8f\xbf\xbf", 4, 0x10FFFF},
        {"\xc1\xbf", 0, 0}, {"\xe0\x9f\xbf", 0, 0}, {"\xed\xa0\x80", 0, 0}, {"\xf4\x90\x80\x80", 0, 0},
        {"\x80", 0, 0}, {"\xc3", 0, 0}, {"\xf8\x88\x80\x80\x80", 0, 0},
    };
    for (const auto& row : rows) {
        uint32_t code = 0;
        EXPECT_EQ(decodeUtf8((const unsigned char*)row.bytes.c_str(), &code), row.length) << row.bytes;
        EXPECT_EQ(code, row.code) << row.bytes;
    }
}

// The header's fields little-endian on every host, and the verdict on them and the size.
TEST(KvrHeader, DecodedAndJudged)
{
    const t_kvr_header valid = validKvrHeader(2, 3);
    unsigned char bytes[KVR_HEADER_SIZE];
    encodeKvrHeader(&valid, bytes);
    const struct { int at; uint32_t value; uint64_t size; t_input_verdict verdict; } rows[] = {
        {52, 0x01020304, 88 + 2ull * 0x01020304 * 3, INPUT_CONVERTS},
        {60, 0xFFFFFFFF, 100, INPUT_CONVERTS},   // the year -1: not judged
        {64, 0x0000010C, 100, INPUT_BROKEN_RULES}, {52, 0x80000000, 100, INPUT_BROKEN_RULES},
        {3, 2, 99, INPUT_WRONG_SIZE}, {0, 0x0052566B, 100, INPUT_NOT_KVR},
    };
    for (const auto& row : rows) {
        unsigned char patched[KVR_HEADER_SIZE];
        t_kvr_header header;
        memcpy(patched, bytes, sizeof patched);
        for (int i = 0; i < 4 && (row.at != 0 || i < 3); i++)
            patched[row.at + i] = (unsigned char)(row.value >> 8 * i);
        decodeHeader(patched, &header);
        EXPECT_EQ(judgeHeader(&header, row.size), row.verdict) << row.at;
    }
}

// A sealed header and its data sum to the convention's negative zero, whatever the data's sum.
TEST(FitsCards, SealedBySum)
{
    const t_header_plan plan = {true, true, nullptr, nullptr};
    const t_kvr_header header = validKvrHeader(2, 3);
    for (uint32_t dataSum : {0u, 1u, 0xFFFFFFFEu, 0xFFFFFFFFu, 944019134u}) {
        unsigned char block[FITS_BLOCK];
        composeHeader(&header, "a.kvr", &plan, &header, block);
        sealHeader(block, dataSum);
        EXPECT_EQ(addSums(addToChecksum(0, block, FITS_BLOCK), dataSum), 0xFFFFFFFFu) << dataSum;
        EXPECT_EQ(std::stoul(std::string((char*)block + 10 * 80 + 11, 10)), dataSum);
    }
}
