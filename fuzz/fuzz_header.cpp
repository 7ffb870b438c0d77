// Arbitrary bytes through header reading, the rules and the 36 cards, the bytes
// after the header serving as the input path, up to a zero: the header stays
// printable ASCII whatever the path holds.
#undef NDEBUG
#include <algorithm>
#include <cassert>
#include <string>

#include "fits_writer.h"
#include "kvr_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    t_kvr_header header;
    char cards[FITS_BLOCK + 1], buff[CARD_LENGTH], textNumber[TEXT_NUMBER_SIZE];
    FILE* in = fmemopen((void*)data, size, "rb");
    const int complete = in != nullptr && readHeader(in, &header);
    assert(complete == (size >= KVR_HEADER_SIZE));
    if (complete) {
        if (testHeader(&header) && sizeMatches(&header, size))
            assert(sampleCount(&header) == (size - KVR_HEADER_SIZE) / 2);
        const std::string inp((const char*)data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
        FILE* out = fmemopen(cards, sizeof cards, "wb");
        assert(writeHeaderCards(out, &header, inp.c_str(), size % 2, buff, textNumber) == 1);
        assert(ftell(out) == FITS_BLOCK && fclose(out) == 0);
        assert(std::string(cards + 8 * CARD_LENGTH, CARD_LENGTH) == "END" + std::string(77, ' '));
        assert(std::all_of(cards, cards + FITS_BLOCK,
                           [](char c) { return c >= 0x20 && c <= 0x7E; }));
    }
    if (in != nullptr)
        fclose(in);
    return 0;
}
