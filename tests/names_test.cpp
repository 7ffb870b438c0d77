// Names in any language and of any bytes: in ASCII in card 8, as given in messages.
#include "conversions.h"

// The edges of printable ASCII, then those of UTF-8, each after a letter that shows where it
// starts: overlong forms, each length's least and greatest, surrogates, past U+10FFFF, cut.
static const std::string EDGES = std::string("a\t~\x1f\x7f") + "A\x80" "B\xc1\xbf" "C\xc2\x80"
    "D\xdf\xbf" "E\xe0\x9f\xbf" "F\xe0\xa0\x80" "G\xed\x9f\xbf" "H\xed\xa0\x80" "I\xed\xbf\xbf"
    "J\xee\x80\x80" "K\xef\xbf\xbf";
static const std::string LONG_EDGES = std::string("\tL\xf0\x8f\xbf\xbf") + "M\xf0\x90\x80\x80"
    "N\xf4\x8f\xbf\xbf" "O\xf4\x90\x80\x80" "P\xf5\x80\x80\x80" "Q\xc3";

// Names beyond any ANSI code page, in ASCII in card 8, cut at column 80 once they are.
TEST_F(InTempDir, NamesReachCardsAndMessages)
{
    expectConversions({
        Conversion().from("././a.kvr"),     // 9 characters fill card 8 to column 80
        Conversion().from("./././a.kvr"),   // 11: the card is cut
        Conversion().from(LONG_INPUT).into(LONG_NAME),   // the temporary name within 255 bytes
        Conversion().from("Ωμέγα ÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ.kvr", "????? AACDEEILLNOORRSTUUYZ.kvr")
            .into("Луна.fit"),
        Conversion().from("Луна áäčďéěíĺľňóôŕřšťúůýž nad Ondřejovem.kvr",
                          "???? aacdeeillnoorrstuuyz nad Ondrejovem.kvr").into("Měsíc.fit"),
    });
}

// Windows names hold no control character and are always UTF-8.
TEST_F(InTempDir, NamesOfAnyBytes)
{
    if (IS_WINDOWS)
        GTEST_SKIP() << "names of control characters and of bytes that are not UTF-8: POSIX only";
    expectConversions({
        // In messages a terminal's controls show as '?': C0, DEL, C1 and stray bytes 0x80-0x9F.
        Conversion().from(EDGES, "a?~??A?B??C?D?E???F?G?H???I???J?K?",
                          "a?~??A?B\xc1\xbf" "C?D\xdf\xbf" "E\xe0?\xbf" "F\xe0\xa0\x80"
                          "G\xed\x9f\xbf" "H\xed\xa0?I\xed\xbf\xbf" "J\xee\x80\x80" "K\xef\xbf\xbf"),
        Conversion().from(LONG_EDGES, "?L????M?N?O????P????Q?",
                          "?L\xf0?\xbf\xbf" "M\xf0\x90\x80\x80" "N\xf4\x8f\xbf\xbf" "O\xf4???P\xf5???Q\xc3"),
    });
    // kvr2fits's reports too, every name in them.
    fs::create_directory("c"), writeFile("c/x\nY.KVR", ONE), writeFile("c/x\ny.kvr", ONE);
    EXPECT_EQ(run(KVR2FITS, "-j1 c out 2>&1").output,
              "c/x?Y.KVR: stejny vystup `out/x?Y.fit' jako `c/x?y.kvr'\n"
              "c/x?y.kvr: stejny vystup `out/x?y.fit' jako `c/x?Y.KVR'\n"
              "prevedeno 0, preskoceno 0, selhalo 2, celkem 2\n");
}

