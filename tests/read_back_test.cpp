// The reference FITS library and its checker read the output back (built where cfitsio is).
#include <fitsio.h>

#include "support.h"

// Every pixel of the shipped 320 x 240 sample is its input sample shifted right by 4; with
// -i, and from kvr2fits with its checksums, the file passes fitsverify clean, which reads the
// capture time.
TEST_F(InTempDir, ReferenceLibraryReadsTheSampleBack)
{
    ASSERT_EQ(run(PROGRAM, "\"" SAMPLE_PATH "\" sample.fit -i").status, 0);
    const std::string kvr = readFile(SAMPLE_PATH);
    fitsfile* file = nullptr;
    int status = 0, anynul = 0;
    std::vector<unsigned short> pixels(320 * 240);
    fits_open_file(&file, "sample.fit", READONLY, &status);
    fits_read_img(file, TUSHORT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
    for (size_t i = 0; i < pixels.size(); i++)
        ASSERT_EQ(pixels[i], ((uint8_t)kvr[88 + 2 * i] | (uint8_t)kvr[89 + 2 * i] << 8) >> 4) << i;
    // kvr2fits's checksums, as the reference library checks them.
    EXPECT_EQ(run(KVR2FITS, "-q \"" SAMPLE_PATH "\" night --set EXPTIME=10").status, 0);
    int dataOk = 0, headerOk = 0;
    fits_open_file(&file, "night/sample.fit", READONLY, &status);
    fits_verify_chksum(file, &dataOk, &headerOk, &status);
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dataOk * 10 + headerOk, 11) << "DATASUM and CHECKSUM correct";
    if (std::system("command -v fitsverify >/dev/null") != 0)
        GTEST_SKIP() << "fitsverify is not installed (apt-get install fitsverify)";
    for (const char* fits : {"sample.fit", "night/sample.fit"})   // kvr2fits's TIME card too
        EXPECT_EQ(std::system(("fitsverify " + std::string(fits) +
                               " | grep -q '0 warning(s) and 0 error(s)'").c_str()), 0) << fits;
}
