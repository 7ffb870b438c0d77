// TORVAN: converts one KVR version 2 picture into a FITS file.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "defs.h"
#include "fits_writer.h"
#include "kvr_reader.h"
#include "os_console.h"
#include "os_files.h"
#include "output_file.h"

static const char VERSION[] = TORVAN_VERSION " (09/10/2004)";

static const char MSG_OPEN[] = "* Soubor `%s' se nepodarilo otevrit!\n";
static const char MSG_READ[] = "* Nelze cist ze souboru `%s'!\n";
static const char MSG_FORMAT[] = "* Format souboru `%s' neodpovida definici KVR!\n";
static const char MSG_WRITE[] = "* Nelze zapisovat do `%s'!";
static const char MSG_SAME[] = "* Vystupni soubor `%s' je totozny se vstupnim!\n";

static void printHelp()
{
    printText(stdout, "Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n");
    printText(stdout, "  <input.kvr>: vstupni soubor formatu KVR verze 2\n");
    printText(stdout, "  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n");
    printText(stdout, "  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n");
    printText(stdout, "  [-h]: tato napoveda\n\n");
    printText(stdout, "Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n");
}

static void printStat(FILE* console, const t_kvr_header* Header, const char* inpf,
                      const char* outf)
{
    printText(console, "`%s' (%" PRIu64 " B) -> `%s' (%" PRIu64 " B)\n",
            inpf, expectedInputSize(Header), outf, fitsSize(sampleCount(Header)));
    printText(console, "Verze KVR: %d\n", (int)Header->version);
    printText(console, "Komprese KVR: NE\n");
    printText(console, "Rozmery (S x V): %d x %d\n", (int)Header->ruva_width,
            (int)Header->ruva_height);
    printText(console, "Cas porizeni: %d.%d.%d; %d:%d:%d.%d\n",
            (int)Header->day, (int)Header->month, (int)Header->year,
            (int)Header->hour, (int)Header->minute, (int)Header->second,
            (int)Header->ssecond);
}

// Before the output is opened, or once it is gone: the output path is as it was.
static int failConversion(FILE* console, const char* message, const char* path, FILE* f_in)
{
    printText(console, message, path);
    fclose(f_in);
    return 0;
}

static int abandonConversion(FILE* console, const char* message, const char* path,
                             FILE* f_in, t_output* output)
{
    failConversion(console, message, path, f_in);
    discardOutput(output);
    return 0;
}

// The input is judged in full before the output path is touched, and the
// output takes its name only once every byte of it is written.
static int convertFile(const char* inp, const char* out, FILE* console)
{
    static char inBuffer[STREAM_BUFFER];
    t_kvr_header KVRheader;
    char buff[CARD_LENGTH];
    char textNumber[TEXT_NUMBER_SIZE];
    unsigned char block[FITS_BLOCK];
    t_file_state before, after;
    t_output output;
    int readFailed;

    // Writing the output over its own input would destroy the picture.
    if (sameFile(inp, out)) {
        printText(console, MSG_SAME, out);
        return 0;
    }
    FILE* f_in = openForReading(inp);
    if (f_in == NULL) {
        printText(console, MSG_OPEN, inp);
        return 0;
    }
    setvbuf(f_in, inBuffer, _IOFBF, sizeof inBuffer);
    if (!readHeader(f_in, &KVRheader))
        return failConversion(console, MSG_READ, inp, f_in);
    // The size comes from the open file, which no other path can swap for
    // another; a failed query can never match a header.
    if (!regularFileState(f_in, &before) || !testHeader(&KVRheader) ||
        !sizeMatches(&KVRheader, before.size))
        return failConversion(console, MSG_FORMAT, inp, f_in);
    if (!openOutput(&output, out, fitsSize(sampleCount(&KVRheader))))
        return failConversion(console, MSG_OPEN, out, f_in);

    if (!writeHeaderCards(output.stream, &KVRheader, inp, buff, textNumber))
        return abandonConversion(console, MSG_WRITE, out, f_in, &output);
    if (!writeDataBlocks(f_in, output.stream, sampleCount(&KVRheader), block, &readFailed))
        return abandonConversion(console, readFailed ? MSG_READ : MSG_WRITE,
                                 readFailed ? inp : out, f_in, &output);
    // A picture rewritten meanwhile, even to the same size, is not the one read.
    if (!regularFileState(f_in, &after) || !sameFileState(&before, &after))
        return abandonConversion(console, MSG_READ, inp, f_in, &output);

    // Success is only reported once every byte is out under the output's name.
    if (!commitOutput(&output))
        return failConversion(console, MSG_WRITE, out, f_in);
    printStat(console, &KVRheader, inp, out);
    fclose(f_in);
    return 1;
}

int main(int argc, char* argv[])
{
    utf8Arguments(&argc, &argv);
    // Standard output as the output gets the picture's bytes and nothing else.
    FILE* console = argc == 3 && namesStandardOutput(argv[2]) ? stderr : stdout;

    printText(console, "\nTORVAN verze %s: Konverze KVR obrazku verze 2 do formatu FITS.\n\n",
            VERSION);
    if (argc < 3) {
        printText(stdout, "* Nedostatecny pocet argumentu!\n\n");
        printHelp();
        return 1;
    }
    if (argc > 3) {
        for (int i = 3; i < argc; i++) {
            if (strcmp(argv[i], "-h") != 0) {
                printText(stdout, "* Neznamy argument `%s'!\n\n", argv[i]);
                printHelp();
                return 1;
            }
        }
        printHelp();
        return 0;
    }
    if (!convertFile(argv[1], argv[2], console)) {
        printText(console, "* Konverze se nezdarila!\n");
        return 1;
    }
    return 0;
}
