#include "user_cards.h"

#include <algorithm>
#include <cstring>

// The keywords of the program's own cards, and of cards that describe its data
// or its checksums; NAXIS with any digits after it is among them too. Those
// that describe another file's structure (an extension's), that would make
// readers take a pixel value for none (BLANK) or that would join the next card
// to a string (CONTINUE) are no user's either.
static const char* const PROGRAM_KEYWORDS[] = {
    "SIMPLE", "BITPIX", "EXTEND", "BZERO", "BSCALE", "DATE-OBS", "TIME", "TIMESYS",
    "DATE-LOC", "SATURATE", "CHECKSUM", "DATASUM", "COMMENT", "HISTORY", "END",
    "XTENSION", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP", "BLANK", "CONTINUE",
};

// Readers compute with these: a string in them would break a reduction later.
static const char* const NUMBER_KEYWORDS[] = {
    "EXPTIME", "GAIN", "SITELAT", "SITELONG", "SITEELEV", "LATITUDE", "LONGITUD",
};

// The fixed format: a value from column 11, a number or logical ending in
// column 30, a string padded to 8 characters between its quotes.
static const int VALUE_COLUMN = 11;
static const int NUMBER_MOST = VALUE_END_COLUMN - VALUE_COLUMN + 1;
static const size_t STRING_LEAST = 8;

static bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

static bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Moves *text past its leading blanks; the length left without trailing ones.
static size_t trimBlanks(const char** text, size_t length)
{
    while (length > 0 && isBlank(**text))
        (*text)++, length--;
    while (length > 0 && isBlank((*text)[length - 1]))
        length--;
    return length;
}

template <size_t N>
static bool listed(const char* keyword, const char* const (&list)[N])
{
    for (const char* listedKeyword : list)
        if (strcmp(keyword, listedKeyword) == 0)
            return true;
    return false;
}

static bool isProgramKeyword(const char* keyword)
{
    if (strncmp(keyword, "NAXIS", 5) == 0 && keyword[5 + strspn(keyword + 5, "0123456789")] == '\0')
        return true;
    return listed(keyword, PROGRAM_KEYWORDS);
}

// FITS keywords are upper case; a lower-case letter is taken as its capital.
static char upperCase(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - ('a' - 'A')) : c;
}

static bool isKeywordCharacter(char c)
{
    c = upperCase(c);
    return (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-' || c == '_';
}

static t_card_refusal takeKeyword(const char* text, size_t length, t_user_card* card)
{
    if (length == 0)
        return CARD_NO_KEYWORD;
    for (size_t i = 0; i < length; i++)
        if (!isKeywordCharacter(text[i]))
            return CARD_KEYWORD_CHARACTER;
    if (length > KEYWORD_LENGTH)
        return CARD_LONG_KEYWORD;
    memset(card->keyword, '\0', sizeof card->keyword);
    for (size_t i = 0; i < length; i++)
        card->keyword[i] = upperCase(text[i]);
    return isProgramKeyword(card->keyword) ? CARD_PROGRAM_KEYWORD : CARD_TAKEN;
}

static const char* skipSign(const char* at, const char* end)
{
    return at < end && (*at == '+' || *at == '-') ? at + 1 : at;
}

static const char* skipDigits(const char* at, const char* end)
{
    while (at < end && isDigit(*at))
        at++;
    return at;
}

static bool isExponentLetter(char c)
{
    return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// The FITS standard's integer or real: a sign, digits with at most one decimal
// point among them, then perhaps an exponent letter, a sign and digits.
static bool isNumber(const char* text, size_t length)
{
    const char* end = text + length;
    const char* whole = skipSign(text, end);
    const char* at = skipDigits(whole, end);
    bool digits = at > whole;

    if (at < end && *at == '.') {
        const char* fraction = at + 1;
        at = skipDigits(fraction, end);
        digits = digits || at > fraction;
    }
    if (!digits)
        return false;
    if (at < end && isExponentLetter(*at)) {
        const char* exponent = skipSign(at + 1, end);
        at = skipDigits(exponent, end);
        if (at == exponent)
            return false;
    }
    return at == end;
}

// As written, but the exponent letter, which FITS wants upper case.
static t_card_refusal writeNumber(const char* text, size_t length, char* card)
{
    if (length > NUMBER_MOST)
        return CARD_LONG_NUMBER;
    char* at = card + VALUE_END_COLUMN - length;
    for (size_t i = 0; i < length; i++)
        at[i] = isExponentLetter(text[i]) ? (char)(text[i] & ~0x20) : text[i];
    return CARD_TAKEN;
}

// A string from column 11, each quote of an unquoted value doubled. The null
// string '' stays as it is: padded, it would become a blank. Trailing blanks
// the user quoted are kept: readers ignore them, and without them a string of
// blanks would become the null string.
static t_card_refusal writeString(const char* text, size_t length, bool doubling, char* card)
{
    size_t written = 0;

    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x20 || c > 0x7E)
            return CARD_NOT_ASCII;
        written += doubling && c == '\'' ? 2 : 1;
    }
    if (written > STRING_MOST)
        return CARD_LONG_STRING;
    char* at = card + VALUE_COLUMN - 1;
    *at++ = '\'';
    for (size_t i = 0; i < length; i++) {
        *at++ = text[i];
        if (doubling && text[i] == '\'')
            *at++ = '\'';
    }
    size_t padded = written > 0 ? std::max(written, STRING_LEAST) : 0;
    card[VALUE_COLUMN + padded] = '\'';
    return CARD_TAKEN;
}

// Where the quote that closes the value at its start stands, a pair of quotes
// being one quote inside it; 0 where none does.
static size_t closingQuote(const char* value, size_t length)
{
    size_t at = 1;

    while (at < length) {
        if (value[at] != '\'')
            at++;
        else if (at + 1 < length && value[at + 1] == '\'')
            at += 2;
        else
            return at;
    }
    return 0;
}

// Between its outer quotes a quoted value is already as the card holds it.
static t_card_refusal writeQuoted(const char* value, size_t length, bool numberOnly, char* card)
{
    size_t close = closingQuote(value, length);

    if (close == 0)
        return CARD_UNCLOSED_QUOTE;
    if (close + 1 < length)
        return CARD_AFTER_QUOTE;
    if (numberOnly)
        return CARD_NUMBER_ONLY;
    return writeString(value + 1, close - 1, false, card);
}

static t_card_refusal writeValue(const char* value, size_t length, bool numberOnly, char* card)
{
    if (length == 0)
        return CARD_NO_VALUE;
    if (value[0] == '\'')
        return writeQuoted(value, length, numberOnly, card);
    if (isNumber(value, length))
        return writeNumber(value, length, card);
    if (numberOnly)
        return CARD_NUMBER_ONLY;
    if (length == 1 && (value[0] == 'T' || value[0] == 'F')) {
        card[VALUE_END_COLUMN - 1] = value[0];
        return CARD_TAKEN;
    }
    return writeString(value, length, true, card);
}

t_card_refusal parseCardSetting(const char* text, size_t length, t_user_card* card)
{
    const char* equals = (const char*)memchr(text, '=', length);

    if (equals == NULL)
        return CARD_NO_EQUALS;
    const char* keyword = text;
    size_t keywordLength = trimBlanks(&keyword, (size_t)(equals - text));
    t_card_refusal refusal = takeKeyword(keyword, keywordLength, card);
    if (refusal != CARD_TAKEN)
        return refusal;
    memset(card->text, ' ', CARD_LENGTH);
    memcpy(card->text, card->keyword, strlen(card->keyword));
    card->text[KEYWORD_LENGTH] = '=';
    const char* value = equals + 1;
    size_t valueLength = trimBlanks(&value, text + length - value);
    return writeValue(value, valueLength, listed(card->keyword, NUMBER_KEYWORDS), card->text);
}

t_card_refusal addCard(t_user_cards* settings, const t_user_card* card, int room)
{
    int most = std::min(room, USER_CARDS_MOST);

    for (int i = 0; i < settings->count; i++)
        if (strcmp(settings->cards[i].keyword, card->keyword) == 0) {
            settings->cards[i] = *card;
            return CARD_TAKEN;
        }
    if (settings->count >= most)
        return CARD_NO_ROOM;
    settings->cards[settings->count++] = *card;
    return CARD_TAKEN;
}

// A line without its end; blank lines and comments add nothing.
static t_card_refusal addLine(const char* text, size_t length, t_user_cards* settings, int room)
{
    if (length > 0 && text[length - 1] == '\r')
        length--;
    const char* first = text;
    if (trimBlanks(&first, length) == 0 || *first == '#')
        return CARD_TAKEN;
    t_user_card card;
    t_card_refusal refusal = parseCardSetting(text, length, &card);
    return refusal == CARD_TAKEN ? addCard(settings, &card, room) : refusal;
}

// The lines go into a copy, so that a refused file adds nothing.
t_card_refusal parseCardsFile(const char* bytes, size_t length, t_user_cards* settings,
                              int room, uint64_t* line)
{
    static const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
    const size_t markLength = sizeof BYTE_ORDER_MARK - 1;
    t_user_cards taken = *settings;
    size_t start = length >= markLength && memcmp(bytes, BYTE_ORDER_MARK, markLength) == 0
                   ? markLength : 0;

    *line = 0;
    while (start < length) {
        const char* end = (const char*)memchr(bytes + start, '\n', length - start);
        size_t stop = end != NULL ? (size_t)(end - bytes) : length;
        ++*line;
        t_card_refusal refusal = addLine(bytes + start, stop - start, &taken, room);
        if (refusal != CARD_TAKEN)
            return refusal;
        start = stop + 1;
    }
    *settings = taken;
    *line = 0;
    return CARD_TAKEN;
}

const char* cardRefusalText(t_card_refusal refusal)
{
    switch (refusal) {
    case CARD_TAKEN: return "v poradku";
    case CARD_NO_EQUALS: return "chybi rovnitko (KLIC=HODNOTA)";
    case CARD_NO_KEYWORD: return "chybi klicove slovo";
    case CARD_KEYWORD_CHARACTER: return "klicove slovo smi mit jen A-Z, 0-9, - a _";
    case CARD_LONG_KEYWORD: return "klicove slovo delsi nez 8 znaku";
    case CARD_PROGRAM_KEYWORD: return "klicove slovo zapisuje program sam, nebo popisuje soubor";
    case CARD_NO_VALUE: return "chybi hodnota";
    case CARD_UNCLOSED_QUOTE: return "neuzavrene uvozovky";
    case CARD_AFTER_QUOTE: return "text za uzavrenymi uvozovkami";
    case CARD_NOT_ASCII: return "znak mimo tisknutelne ASCII (ani UTF-8, ani tabulator)";
    case CARD_LONG_STRING: return "retezec delsi nez 68 znaku (apostrof se pocita dvakrat)";
    case CARD_LONG_NUMBER: return "cislo delsi nez 20 znaku";
    case CARD_NUMBER_ONLY: return "klicove slovo bere jen cislo";
    case CARD_NO_ROOM: return "v hlavicce uz neni misto pro dalsi kartu";
    }
    return "";
}
