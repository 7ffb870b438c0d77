// The reference FITS library reads the converted sample back: the axes are
// the picture's and every pixel is its input sample shifted right by 4.
#include <fitsio.h>

#include "harness.h"

TEST_F(InTempDir, ReferenceLibraryReadsTheSampleBack)
{
    ASSERT_EQ(runTorvan("\"" SAMPLE_PATH "\" sample.fit").status, 0);
    const std::string kvr = readFile(SAMPLE_PATH);
    auto le16 = [&](size_t at) { return (unsigned char)kvr[at] | (unsigned char)kvr[at + 1] << 8; };
    const long width = le16(52), height = le16(56);

    fitsfile* file = nullptr;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[2] = {0, 0};
    fits_open_file(&file, "sample.fit", READONLY, &status);
    ASSERT_EQ(status, 0);
    fits_get_img_param(file, 2, &bitpix, &naxis, axes, &status);
    EXPECT_EQ(bitpix, 16);
    EXPECT_EQ(naxis, 2);
    EXPECT_EQ(axes[0], width);
    EXPECT_EQ(axes[1], height);

    std::vector<unsigned short> pixels(width * height);
    fits_read_img(file, TUSHORT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0);
    size_t mismatches = 0;
    for (size_t i = 0; i < pixels.size(); i++)
        mismatches += pixels[i] != le16(88 + 2 * i) >> 4;
    EXPECT_EQ(mismatches, 0u);
}
