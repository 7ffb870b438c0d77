// The cards a user adds to the header to say what was observed (EXPTIME,
// FILTER, OBJECT, ...): each setting KEY=VALUE as one card in the FITS
// standard's fixed format, and the settings of a cards file, one a line.
// Text in, cards out: no file is opened and nothing printed.
#ifndef TORVAN_USER_CARDS_H
#define TORVAN_USER_CARDS_H

#include <cstddef>
#include <cstdint>

#include "defs.h"

constexpr int KEYWORD_LENGTH = 8;
// Between the quotes of a string that starts in column 11 and ends by column 80.
constexpr int STRING_MOST = CARD_LENGTH - 12;
// No header has room for more cards than its block holds.
constexpr int USER_CARDS_MOST = CARD_COUNT;

// Why a setting gives no card; CARD_TAKEN when it does.
enum t_card_refusal {
    CARD_TAKEN, CARD_NO_EQUALS, CARD_NO_KEYWORD, CARD_KEYWORD_CHARACTER, CARD_LONG_KEYWORD,
    CARD_PROGRAM_KEYWORD, CARD_NO_VALUE, CARD_UNCLOSED_QUOTE, CARD_AFTER_QUOTE,
    CARD_NOT_ASCII, CARD_LONG_STRING, CARD_LONG_NUMBER, CARD_NUMBER_ONLY, CARD_NO_ROOM
};

struct t_user_card {
    char keyword[KEYWORD_LENGTH + 1];   // upper case, terminated
    char text[CARD_LENGTH];             // the card as written, no terminator
};

// The settings in the order first given; a later one replaces its keyword's card.
struct t_user_cards {
    int count;
    t_user_card cards[USER_CARDS_MOST];
};

// The card of one setting, length bytes of text: KEY=VALUE, blanks (spaces
// and tabs) around the keyword, the '=' and the value being no part of them.
// The value is an integer or a real as written, T or F, or else a string;
// 'quoted' is always a string. Where the value is refused, card->keyword
// holds the keyword already.
t_card_refusal parseCardSetting(const char* text, size_t length, t_user_card* card);
// Adds card, or replaces the card of its keyword where it stands; at most
// room cards.
t_card_refusal addCard(t_user_cards* settings, const t_user_card* card, int room);
// Adds the settings of a cards file, length bytes: lines ending in LF, CR LF
// or the end, a byte-order mark at the start, blank lines and lines starting
// with '#' ignored. On a refusal, *line is its line, counted from 1, and the
// settings are as they were; else *line is 0.
t_card_refusal parseCardsFile(const char* bytes, size_t length, t_user_cards* settings,
                              int room, uint64_t* line);
// What is wrong, in a few Czech words.
const char* cardRefusalText(t_card_refusal refusal);

#endif
