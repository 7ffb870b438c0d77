#include "fits_writer.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fits_checksum.h"
#include "kvr_header.h"
#include "text_rules.h"
#include "user_cards.h"

// Puts left at the start of the buffer and right so that it ends just before
// bufferLength. The caller has blanked the buffer; nothing outside
// [0, bufferLength) is ever written, whatever the lengths.
static void alignText(const char* left, const char* right, char* buffer, int bufferLength)
{
    int leftLength = (int)strlen(left);
    int rightLength = (int)strlen(right);

    if (bufferLength <= 0)
        return;
    if (leftLength > bufferLength)
        leftLength = bufferLength;
    memcpy(buffer, left, leftLength);
    if (rightLength > bufferLength) {
        right += rightLength - bufferLength;
        rightLength = bufferLength;
    }
    memcpy(buffer + bufferLength - rightLength, right, rightLength);
}

static void fixedCard(char* buff, const char* keyword, const char* value)
{
    memset(buff, ' ', CARD_LENGTH);
    alignText(keyword, value, buff, VALUE_END_COLUMN);
}

static void numberCard(char* buff, char* textNumber, const char* keyword, int32_t value)
{
    snprintf(textNumber, TEXT_NUMBER_SIZE, "%d", (int)value);
    fixedCard(buff, keyword, textNumber);
}

// Formats into the scratch text and keeps what fits in the card: a long
// input path is cut at column 80, and the terminator never reaches the card.
static void freeCard(char* buff, char* textNumber, const char* format, ...)
{
    va_list values;
    int length;

    va_start(values, format);
    length = vsnprintf(textNumber, TEXT_NUMBER_SIZE, format, values);
    va_end(values);
    if (length < 0)
        length = 0;
    if (length > CARD_LENGTH)
        length = CARD_LENGTH;
    memcpy(buff, textNumber, length);
    memset(buff + length, ' ', CARD_LENGTH - length);
}

// Tens and units apart, as earlier versions wrote them: a negative year's
// places come out negative (-1999 gives -9-9), and archives hold such cards.
static void dateCard(char* buff, char* textNumber, const t_kvr_header* h)
{
    freeCard(buff, textNumber, "DATE-OBS='%d%d/%d%d/%d%d'",
             h->day / 10, h->day % 10, h->month / 10, h->month % 10,
             h->year % 100 / 10, h->year % 10);
}

// The FITS standard's form: the value indicator, then the quoted date and time.
static void isoDateCard(char* buff, char* textNumber, const t_kvr_header* h)
{
    char taken[CARD_LENGTH];

    captureTime(h, taken, sizeof taken);
    freeCard(buff, textNumber, "DATE-OBS= '%s'", taken);
}

// The classic form has no blank after the equals sign, which FITS readers
// take for a value indicator; the standard's form has it.
static void timeCard(char* buff, char* textNumber, const t_kvr_header* h, int isoDate)
{
    freeCard(buff, textNumber, isoDate ? "TIME    = '%d%d:%d%d:%d%d.%d%d%d'"
                                       : "TIME    ='%d%d:%d%d:%d%d.%d%d%d'",
             h->hour / 10, h->hour % 10, h->minute / 10, h->minute % 10,
             h->second / 10, h->second % 10,
             h->ssecond / 100, h->ssecond / 10 % 10, h->ssecond % 10);
}

// A string card as the fixed format has it, a fixed comment after the value.
static void stringCard(char* buff, const char* keyword, const char* value, const char* comment)
{
    int length = snprintf(buff, CARD_LENGTH + 1, "%-8.8s= '%-8s'", keyword, value);

    if (length < 0 || length > CARD_LENGTH)
        length = CARD_LENGTH;
    memset(buff + length, ' ', CARD_LENGTH - length);
    if (comment != NULL && length < VALUE_END_COLUMN)
        memcpy(buff + VALUE_END_COLUMN, comment, strlen(comment));
}

// The header, card by card: each composed in buff and placed after the one before.
struct t_header_block {
    unsigned char* block;
    int cards;
    char buff[CARD_LENGTH + 1];
    char textNumber[TEXT_NUMBER_SIZE];
};

static void placeCard(t_header_block* header)
{
    memcpy(header->block + header->cards++ * CARD_LENGTH, header->buff, CARD_LENGTH);
}

static void placeText(t_header_block* header, const char* card)
{
    memcpy(header->buff, card, CARD_LENGTH);
    placeCard(header);
}

static const char CHECKSUM_COMMENT[] = " / HDU checksum";
static const char DATASUM_COMMENT[] = " / data unit checksum";

// The cards every header has, as earlier versions wrote them: the axes, the
// capture time and the input's name.
static void pictureCards(t_header_block* h, const t_kvr_header* header, const char* inp,
                         const t_header_plan* plan, const t_kvr_header* taken)
{
    char name[CARD_LENGTH + 1];   // no more of it fits in the card

    fixedCard(h->buff, "SIMPLE  =", "T"), placeCard(h);
    fixedCard(h->buff, "BITPIX  =", "16"), placeCard(h);
    fixedCard(h->buff, "NAXIS   =", "2"), placeCard(h);
    numberCard(h->buff, h->textNumber, "NAXIS1  =", header->ruva_width), placeCard(h);
    numberCard(h->buff, h->textNumber, "NAXIS2  =", header->ruva_height), placeCard(h);
    if (plan->isoDate)
        isoDateCard(h->buff, h->textNumber, taken);
    else
        dateCard(h->buff, h->textNumber, taken);
    placeCard(h);
    timeCard(h->buff, h->textNumber, taken, plan->isoDate), placeCard(h);
    asciiText(inp, name, sizeof name);
    freeCard(h->buff, h->textNumber,
             "COMMENT Soubor vytvoren z predlohy `%s' ve formatu KVR programem `TORVAN'", name);
    placeCard(h);
}

// The station's clock: the time system, the time as read, and the rule.
static void clockCards(t_header_block* h, const t_kvr_header* header, const char* clock)
{
    char taken[CARD_LENGTH];

    stringCard(h->buff, "TIMESYS", "UTC", NULL), placeCard(h);
    captureTime(header, taken, sizeof taken);
    stringCard(h->buff, "DATE-LOC", taken, NULL), placeCard(h);
    freeCard(h->buff, h->textNumber, "COMMENT hodiny stanice: %s", clock), placeCard(h);
}

void composeHeader(const t_kvr_header* header, const char* inp, const t_header_plan* plan,
                   const t_kvr_header* utc, unsigned char* block)
{
    t_header_block h = {block, 0, "", ""};

    pictureCards(&h, header, inp, plan, plan->clock != NULL ? utc : header);
    if (plan->clock != NULL)
        clockCards(&h, header, plan->clock);
    if (plan->science)
        numberCard(h.buff, h.textNumber, "SATURATE=", SAMPLE_CEILING), placeCard(&h);
    for (int i = 0; plan->cards != NULL && i < plan->cards->count && i < userCardRoom(plan); i++)
        placeText(&h, plan->cards->cards[i].text);
    if (plan->science) {
        stringCard(h.buff, "CHECKSUM", "0000000000000000", CHECKSUM_COMMENT), placeCard(&h);
        stringCard(h.buff, "DATASUM", "0", DATASUM_COMMENT), placeCard(&h);
    }
    fixedCard(h.buff, "END", ""), placeCard(&h);
    memset(block + h.cards * CARD_LENGTH, ' ', (size_t)(CARD_COUNT - h.cards) * CARD_LENGTH);
}

// The picture's eight cards and END; the clock's three; SATURATE and the checksums.
int userCardRoom(const t_header_plan* plan)
{
    return CARD_COUNT - 9 - (plan->clock != NULL ? 3 : 0) - (plan->science ? 3 : 0);
}

// The card whose keyword field is keyword, or NULL.
static unsigned char* findCard(unsigned char* block, const char* keyword)
{
    char field[9];

    snprintf(field, sizeof field, "%-8s", keyword);
    for (int i = 0; i < CARD_COUNT; i++)
        if (memcmp(block + i * CARD_LENGTH, field, 8) == 0)
            return block + i * CARD_LENGTH;
    return NULL;
}

// DATASUM first, as CHECKSUM covers it; CHECKSUM summed as its zeros.
void sealHeader(unsigned char* block, uint32_t dataSum)
{
    char value[TEXT_NUMBER_SIZE], buff[CARD_LENGTH + 1], checksum[17];
    unsigned char* datasumCard = findCard(block, "DATASUM");
    unsigned char* checksumCard = findCard(block, "CHECKSUM");

    if (datasumCard == NULL || checksumCard == NULL)
        return;
    snprintf(value, sizeof value, "%" PRIu32, dataSum);
    stringCard(buff, "DATASUM", value, DATASUM_COMMENT);
    memcpy(datasumCard, buff, CARD_LENGTH);
    stringCard(buff, "CHECKSUM", "0000000000000000", CHECKSUM_COMMENT);
    memcpy(checksumCard, buff, CARD_LENGTH);
    checksumText(addSums(addToChecksum(0, block, FITS_BLOCK), dataSum), checksum);
    stringCard(buff, "CHECKSUM", checksum, CHECKSUM_COMMENT);
    memcpy(checksumCard, buff, CARD_LENGTH);
}

// The checksums differ with the data, which the header alone cannot tell.
bool sameHeader(const unsigned char* a, const unsigned char* b)
{
    for (int i = 0; i < CARD_COUNT; i++) {
        const unsigned char* x = a + i * CARD_LENGTH;
        const unsigned char* y = b + i * CARD_LENGTH;
        bool sealed = memcmp(x, "CHECKSUM= ", 10) == 0 || memcmp(x, "DATASUM = ", 10) == 0;
        if (memcmp(x, y, sealed ? 10 : CARD_LENGTH) != 0)
            return false;
    }
    return true;
}

static uint32_t swap_bytes(uint32_t x)
{
    return (x << 8) + (x >> 8);
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
static const bool HOST_IS_LITTLE_ENDIAN = false;
#else
static const bool HOST_IS_LITTLE_ENDIAN = true;
#endif

// A sample as read, little-endian, kept to its upper 12 bits.
static inline uint16_t twelveBits(const unsigned char* at)
{
    uint16_t sample;

    memcpy(&sample, at, sizeof sample);
    return HOST_IS_LITTLE_ENDIAN ? (uint16_t)(sample >> 4)
                                 : (uint16_t)((uint16_t)swap_bytes(sample) >> 4);
}

// A value high byte first: a little-endian host swaps it, a big-endian one
// stores it as it is.
static inline void storeBigEndian(unsigned char* at, uint16_t value)
{
    uint16_t stored = HOST_IS_LITTLE_ENDIAN ? (uint16_t)swap_bytes(value) : value;

    memcpy(at, &stored, sizeof stored);
}

// In place: each little-endian sample keeps its upper 12 bits and goes out
// high byte first; the rest of the block is zeroed. Samples are handled as
// 16-bit words, which the compiler vectorises.
void composeDataBlock(unsigned char* block, int count)
{
    for (int i = 0; i < count; i++)
        storeBigEndian(block + 2 * i, twelveBits(block + 2 * i));
    memset(block + 2 * count, 0, (size_t)(BLOCK_HALF - count) * 2);
}

// As composeDataBlock, two samples at a time: each pair is a 32-bit word of
// the block, the first sample its upper half, so the block's checksum is the
// sum of the first samples shifted up and of the second ones, taken at no
// further pass over the block.
uint32_t composeSummedDataBlock(unsigned char* block, int count)
{
    uint32_t first = 0, second = 0;   // at most 720 samples of 4095 each
    int i = 0;

    for (; i + 1 < count; i += 2) {
        uint16_t a = twelveBits(block + 2 * i), b = twelveBits(block + 2 * i + 2);
        first += a, second += b;
        storeBigEndian(block + 2 * i, a);
        storeBigEndian(block + 2 * i + 2, b);
    }
    if (i < count) {
        uint16_t a = twelveBits(block + 2 * i);
        first += a;
        storeBigEndian(block + 2 * i, a);
    }
    memset(block + 2 * count, 0, (size_t)(BLOCK_HALF - count) * 2);
    uint64_t sum = ((uint64_t)first << 16) + second;
    return (uint32_t)(sum + (sum >> 32));
}

// One header block and the fewest data blocks that hold the samples.
uint64_t fitsSize(uint64_t samples)
{
    uint64_t sizex = FITS_BLOCK + samples * 2;
    return (sizex + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
}
