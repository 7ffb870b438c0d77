// The reference FITS library reads the converted sample back: the axes are
// the picture's and every pixel is its input sample shifted right by 4.
#include <gtest/gtest.h>

#include <fitsio.h>

#include <filesystem>

#include "run_torvan.h"

TEST(ReadBack, SampleOpensWithItsDimensionsAndPixels)
{
    const std::string dir = makeTempDir();
    const std::string fits = dir + "/sample.fit";
    RunResult result = runTorvan({SAMPLE_PATH, fits});
    ASSERT_EQ(result.status, 0) << result.output;

    const std::string kvr = readFile(SAMPLE_PATH);
    const long width = (unsigned char)kvr[52] | (unsigned char)kvr[53] << 8;
    const long height = (unsigned char)kvr[56] | (unsigned char)kvr[57] << 8;

    fitsfile* file = nullptr;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[2] = {0, 0};
    fits_open_file(&file, fits.c_str(), READONLY, &status);
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
    for (size_t i = 0; i < pixels.size(); i++) {
        unsigned sample = (unsigned char)kvr[88 + 2 * i] | (unsigned char)kvr[89 + 2 * i] << 8;
        mismatches += pixels[i] != sample >> 4;
    }
    EXPECT_EQ(mismatches, 0u);
    std::filesystem::remove_all(dir);
}
