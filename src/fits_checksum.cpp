#include "fits_checksum.h"

uint32_t addSums(uint32_t a, uint32_t b)
{
    uint64_t sum = (uint64_t)a + b;

    return (uint32_t)(sum + (sum >> 32));
}

// Each word's two halves summed apart, in 32 bits over a stretch short enough
// that they cannot overflow, then joined and folded: the same sum, as carries
// out of 32 bits come back in at the bottom either way, but in a loop the
// compiler vectorises, the data blocks passing by the million.
constexpr size_t STRETCH = 65536;   // 16384 words: each half's sum below 2^30

uint32_t addToChecksum(uint32_t sum, const unsigned char* bytes, size_t length)
{
    uint64_t wide = sum;

    for (size_t start = 0; start + 4 <= length; start += STRETCH) {
        size_t end = start + STRETCH < length ? start + STRETCH : length & ~(size_t)3;
        uint32_t high = 0, low = 0;
        for (size_t i = start; i < end; i += 4) {
            high += (uint32_t)bytes[i] << 8 | bytes[i + 1];
            low += (uint32_t)bytes[i + 2] << 8 | bytes[i + 3];
        }
        wide += low + ((uint64_t)high << 16);
        while (wide >> 32)
            wide = (wide & 0xFFFFFFFF) + (wide >> 32);
    }
    return (uint32_t)wide;
}

// Each byte of the complemented sum spread over four characters from '0' up,
// which sum to it, kept clear of the punctuation between the digits and the
// letters; then the text turned one character to the right, so that its
// words line up with the card's.
void checksumText(uint32_t sum, char text[17])
{
    static const char EXCLUDED[] = ":;<=>?@[\\]^_`";
    uint32_t value = ~sum;
    char spread[16];

    for (int i = 0; i < 4; i++) {
        int byte = (int)(value >> (24 - 8 * i) & 0xFF);
        char quarter[4];
        for (int j = 0; j < 4; j++)
            quarter[j] = (char)('0' + byte / 4 + (j == 0 ? byte % 4 : 0));
        for (bool moved = true; moved;) {
            moved = false;
            for (const char* excluded = EXCLUDED; *excluded != '\0'; excluded++)
                for (int j = 0; j < 4; j += 2)
                    if (quarter[j] == *excluded || quarter[j + 1] == *excluded) {
                        quarter[j]++, quarter[j + 1]--;
                        moved = true;
                    }
        }
        for (int j = 0; j < 4; j++)
            spread[4 * j + i] = quarter[j];
    }
    for (int i = 0; i < 16; i++)
        text[i] = spread[(i + 15) % 16];
    text[16] = '\0';
}
