// Arbitrary bytes through everything a picture's content reaches: header
// reading, the rules, the 36 cards and the data blocks.
#include <cstdlib>
#include <string>

#include "fits_writer.h"
#include "kvr_reader.h"

static void require(bool holds)
{
    if (!holds)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    t_kvr_header header;
    char *bytes = nullptr, buff[CARD_LENGTH], textNumber[TEXT_NUMBER_SIZE];
    unsigned char block[FITS_BLOCK];
    size_t written = 0;
    int readFailed = -1;
    FILE* in = fmemopen((void*)data, size, "rb");
    if (in == nullptr)
        return 0;
    const int complete = readHeader(in, &header);
    require(complete == (size >= KVR_HEADER_SIZE));
    if (complete && testHeader(&header) && sizeMatches(&header, size))
        require(sampleCount(&header) == (size - KVR_HEADER_SIZE) / 2);

    FILE* out = open_memstream(&bytes, &written);
    if (complete) {
        // The bytes after the header are the input path too, up to a zero.
        const std::string inp((const char*)data + KVR_HEADER_SIZE, size - KVR_HEADER_SIZE);
        require(writeHeaderCards(out, &header, inp.c_str(), buff, textNumber) == 1);
        require(fflush(out) == 0 && written == FITS_BLOCK);
        require(std::string(bytes + 8 * CARD_LENGTH, CARD_LENGTH) == "END" + std::string(77, ' '));
        // Only a trailing odd byte is input left over, and it fails as a read.
        const uint64_t samples = (size - KVR_HEADER_SIZE) / 2;
        const int result = writeDataBlocks(in, out, samples, block, &readFailed);
        require(fflush(out) == 0 && result == (size % 2 == 0) && readFailed == !result);
        require(!result || written == fitsSize(samples));
        for (size_t i = FITS_BLOCK; i + 1 < written; i += 2)
            require(((unsigned char)bytes[i] << 8 | (unsigned char)bytes[i + 1]) < 4096);
    }
    fclose(out);
    free(bytes);
    fclose(in);
    return 0;
}
