// Arbitrary bytes through everything a picture's content reaches: header
// reading, the rules, the 36 cards (with an input path of any length taken
// from the same bytes) and the data blocks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

static std::string written(FILE* f, char** bytes, size_t* size)
{
    require(fflush(f) == 0, "memory stream flush");
    return std::string(*bytes, *size);
}

static void checkHeaderCards(const t_kvr_header* header, const char* inp)
{
    char* bytes = nullptr;
    size_t size = 0;
    char buff[CARD_LENGTH];
    char textNumber[TEXT_NUMBER_SIZE];
    FILE* f = open_memstream(&bytes, &size);

    require(writeHeaderCards(f, header, inp, buff, textNumber) == 1, "header cards written");
    std::string cards = written(f, &bytes, &size);
    require(cards.size() == FITS_BLOCK, "header is one 2880-byte block");
    require(cards.compare(8 * CARD_LENGTH, CARD_LENGTH, "END" + std::string(77, ' ')) == 0,
            "END stands alone in card 9");
    fclose(f);
    free(bytes);
}

static void checkDataBlocks(const uint8_t* data, size_t size)
{
    uint64_t samples = (size - KVR_HEADER_SIZE) / 2;
    unsigned char block[FITS_BLOCK];
    char* bytes = nullptr;
    size_t written_size = 0;
    int readFailed = -1;
    FILE* in = fmemopen((void*)(data + KVR_HEADER_SIZE), size - KVR_HEADER_SIZE, "rb");
    FILE* out = open_memstream(&bytes, &written_size);

    int result = in ? writeDataBlocks(in, out, samples, block, &readFailed) : 1;
    std::string blocks = written(out, &bytes, &written_size);
    require(result == ((size - KVR_HEADER_SIZE) % 2 == 0), "only a trailing odd byte fails");
    require(readFailed == !result || !in, "a failure here is a read failure");
    require(blocks.size() % FITS_BLOCK == 0, "data is whole blocks");
    for (size_t i = 0; i + 1 < blocks.size(); i += 2)
        require(((unsigned char)blocks[i] << 8 | (unsigned char)blocks[i + 1]) < 4096,
                "every value below 4096");
    if (result)
        require(blocks.size() == fitsSize(samples) - FITS_BLOCK, "the fewest blocks that hold the samples");
    if (in)
        fclose(in);
    fclose(out);
    free(bytes);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    t_kvr_header header;
    FILE* f = size > 0 ? fmemopen((void*)data, size, "rb") : nullptr;
    if (f == nullptr)
        return 0;
    int complete = readHeader(f, &header);
    fclose(f);
    require(complete == (size >= KVR_HEADER_SIZE), "a header is read exactly when 88 bytes exist");
    if (!complete)
        return 0;

    if (testHeader(&header) && sizeMatches(&header, size))
        require(sampleCount(&header) == (size - KVR_HEADER_SIZE) / 2, "an accepted size holds the samples");

    // The bytes after the header also serve as the input path, up to a zero.
    std::string inp((const char*)data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
    checkHeaderCards(&header, inp.c_str());
    checkDataBlocks(data, size);
    return 0;
}
