// Arbitrary bytes through everything a picture's content reaches: header
// reading, the rules, the 36 cards (with an input path of any length taken
// from the same bytes) and the data blocks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fits_writer.h"
#include "kvr_reader.h"

static void require(bool holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

// What a stage wrote into a memory stream; closes the stream.
static std::string closeMemory(FILE* f, char** bytes, const size_t* size)
{
    require(fflush(f) == 0, "memory stream flush");
    std::string written(*bytes, *size);
    fclose(f);
    free(*bytes);
    return written;
}

static void checkHeaderCards(const t_kvr_header* header, const char* inp)
{
    char *bytes = nullptr, buff[CARD_LENGTH], textNumber[TEXT_NUMBER_SIZE];
    size_t size = 0;
    FILE* f = open_memstream(&bytes, &size);

    require(writeHeaderCards(f, header, inp, buff, textNumber) == 1, "header cards written");
    std::string cards = closeMemory(f, &bytes, &size);
    require(cards.size() == FITS_BLOCK, "header is one 2880-byte block");
    require(cards.compare(8 * CARD_LENGTH, CARD_LENGTH, "END" + std::string(77, ' ')) == 0,
            "END stands alone in card 9");
}

// The samples are the bytes after the header; only a trailing odd byte is
// input left over, which must fail as a read.
static void checkDataBlocks(const uint8_t* samples, size_t size)
{
    unsigned char block[FITS_BLOCK];
    char* bytes = nullptr;
    size_t written = 0;
    int readFailed = -1;
    FILE* in = fmemopen((void*)samples, size, "rb");
    FILE* out = open_memstream(&bytes, &written);

    int result = writeDataBlocks(in, out, size / 2, block, &readFailed);
    std::string blocks = closeMemory(out, &bytes, &written);
    fclose(in);
    require(result == (size % 2 == 0) && readFailed == !result, "only a trailing odd byte fails, as a read");
    require(blocks.size() == (result ? fitsSize(size / 2) - FITS_BLOCK : blocks.size() / FITS_BLOCK * FITS_BLOCK),
            "data is the fewest whole blocks that hold the samples");
    for (size_t i = 0; i + 1 < blocks.size(); i += 2)
        require(((unsigned char)blocks[i] << 8 | (unsigned char)blocks[i + 1]) < 4096, "every value below 4096");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    t_kvr_header header;
    if (size == 0)
        return 0;
    FILE* f = fmemopen((void*)data, size, "rb");
    int complete = readHeader(f, &header);
    fclose(f);
    require(complete == (size >= KVR_HEADER_SIZE), "a header is read exactly when 88 bytes exist");
    if (!complete || size == KVR_HEADER_SIZE)
        return 0;

    if (testHeader(&header) && sizeMatches(&header, size))
        require(sampleCount(&header) == (size - KVR_HEADER_SIZE) / 2, "an accepted size holds the samples");
    // The bytes after the header also serve as the input path, up to a zero.
    std::string inp((const char*)data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
    checkHeaderCards(&header, inp.c_str());
    checkDataBlocks(data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
    return 0;
}
