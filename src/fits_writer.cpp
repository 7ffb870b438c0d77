#include "fits_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kvr_header.h"
#include "text_rules.h"

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

// Card numbers count from 1; cards 10 to 36 are blank.
static void composeCard(int number, const t_kvr_header* header, const char* inp,
                        int isoDate, char* buff, char* textNumber)
{
    switch (number) {
    case 1: fixedCard(buff, "SIMPLE  =", "T"); break;
    case 2: fixedCard(buff, "BITPIX  =", "16"); break;
    case 3: fixedCard(buff, "NAXIS   =", "2"); break;
    case 4: numberCard(buff, textNumber, "NAXIS1  =", header->ruva_width); break;
    case 5: numberCard(buff, textNumber, "NAXIS2  =", header->ruva_height); break;
    case 6:
        if (isoDate)
            isoDateCard(buff, textNumber, header);
        else
            dateCard(buff, textNumber, header);
        break;
    case 7: timeCard(buff, textNumber, header, isoDate); break;
    case 8: {
        char name[CARD_LENGTH + 1];   // no more of it fits in the card
        asciiText(inp, name, sizeof name);
        freeCard(buff, textNumber,
                 "COMMENT Soubor vytvoren z predlohy `%s' ve formatu KVR programem `TORVAN'",
                 name);
        break;
    }
    case 9: fixedCard(buff, "END", ""); break;
    default: memset(buff, ' ', CARD_LENGTH); break;
    }
}

// The 36 cards, each composed in buff and placed in the block after the one before.
void composeHeader(const t_kvr_header* header, const char* inp, int isoDate,
                   unsigned char* block)
{
    char buff[CARD_LENGTH];
    char textNumber[TEXT_NUMBER_SIZE];

    for (int number = 1; number <= CARD_COUNT; number++) {
        composeCard(number, header, inp, isoDate, buff, textNumber);
        memcpy(block + (number - 1) * CARD_LENGTH, buff, CARD_LENGTH);
    }
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

// In place: each little-endian sample keeps its upper 12 bits and goes out
// high byte first; the rest of the block is zeroed. Samples are handled as
// 16-bit words, which the compiler vectorises: a little-endian host loads a
// sample as it lies in the file and stores the swapped value, a big-endian
// host swaps on loading and stores the value as it is.
void composeDataBlock(unsigned char* block, int count)
{
    for (int i = 0; i < count; i++) {
        uint16_t sample;
        memcpy(&sample, block + 2 * i, sizeof sample);
        if (HOST_IS_LITTLE_ENDIAN)
            sample = (uint16_t)swap_bytes(sample >> 4);
        else
            sample = (uint16_t)((uint16_t)swap_bytes(sample) >> 4);
        memcpy(block + 2 * i, &sample, sizeof sample);
    }
    memset(block + 2 * count, 0, (size_t)(BLOCK_HALF - count) * 2);
}

// One header block and the fewest data blocks that hold the samples.
uint64_t fitsSize(uint64_t samples)
{
    uint64_t sizex = FITS_BLOCK + samples * 2;
    return (sizex + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
}
