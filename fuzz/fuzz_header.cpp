// Arbitrary bytes through header decoding, the rules and the 36 cards, the bytes
// after the header serving as the input path, up to a zero: the header stays
// printable ASCII whatever the path holds.
#undef NDEBUG
#include <algorithm>
#include <cassert>
#include <string>

#include "fits_writer.h"
#include "kvr_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    t_kvr_header header;
    unsigned char cards[FITS_BLOCK];

    if (size < KVR_HEADER_SIZE)
        return 0;
    decodeHeader(data, &header);
    if (judgeHeader(&header, size) == INPUT_CONVERTS)
        assert(sampleCount(&header) == (size - KVR_HEADER_SIZE) / 2);
    const std::string inp((const char*)data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
    const t_header_plan plan = {size % 2 == 1, size % 3 == 1, NULL,
                                size % 5 == 1 ? "UTC+01:00" : NULL};
    composeHeader(&header, inp.c_str(), &plan, &header, cards);
    assert(std::string((const char*)cards + (8 + 3 * (plan.clock != NULL) + 3 * plan.science) *
                       CARD_LENGTH, CARD_LENGTH) == "END" + std::string(77, ' '));
    assert(std::all_of(cards, cards + FITS_BLOCK, [](char c) { return c >= 0x20 && c <= 0x7E; }));
    return 0;
}
