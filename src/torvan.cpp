// TORVAN: converts one KVR version 2 picture into a FITS file.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "defs.h"
#include "fits_writer.h"
#include "interrupts.h"
#include "kvr_reader.h"
#include "os_files.h"

static const char VERSION[] = "1.2 (09/10/2004)";

static const char MSG_OPEN[] = "* Soubor `%s' se nepodarilo otevrit!\n";
static const char MSG_READ[] = "* Nelze cist ze souboru `%s'!\n";
static const char MSG_FORMAT[] = "* Format souboru `%s' neodpovida definici KVR!\n";
static const char MSG_WRITE[] = "* Nelze zapisovat do `%s'!";
static const char MSG_SAME[] = "* Vystupni soubor `%s' je totozny se vstupnim!\n";

void printHelp()
{
    printf("Pouziti:  torvan <[cesta]input.kvr> <[cesta]output.fit> [-h]\n\n");
    printf("  <input.kvr>: vstupni soubor formatu KVR verze 2\n");
    printf("  <output.fit>: vystupni soubor formatu FITS (16-bit unsigned integer)\n");
    printf("  [cesta]: nepovinna cesta k adresarum obsahujicim vstupni/vystupni soubor\n");
    printf("  [-h]: tato napoveda\n\n");
    printf("Kontakt: TORVAN maintainers (torvan@example.org), 2004.\n\n");
}

void printStat(const t_kvr_header* Header, const char* inpf, const char* outf)
{
    printf("`%s' (%" PRIu64 " B) -> `%s' (%" PRIu64 " B)\n",
           inpf, expectedInputSize(Header), outf, fitsSize(sampleCount(Header)));
    printf("Verze KVR: %d\n", (int)Header->version);
    printf("Komprese KVR: NE\n");
    printf("Rozmery (S x V): %d x %d\n", (int)Header->ruva_width, (int)Header->ruva_height);
    printf("Cas porizeni: %d.%d.%d; %d:%d:%d.%d\n",
           (int)Header->day, (int)Header->month, (int)Header->year,
           (int)Header->hour, (int)Header->minute, (int)Header->second,
           (int)Header->ssecond);
}

// The output is created and its cleanup armed with no interrupt in between.
// Opening a FIFO or a device can wait for its other side, and such an output is
// never deleted: interrupts are held only for a regular or a new file.
static FILE* openAndArmOutput(const char* out, int* outIsRegular)
{
    int hold = !isSpecialFile(out);

    if (hold)
        holdInterrupts();
    FILE* f_ou = openOutput(out);
    *outIsRegular = f_ou != NULL && isRegularStream(f_ou);
    if (*outIsRegular)
        armInterruptCleanup(out);
    if (hold)
        releaseInterrupts();
    return f_ou;
}

// Only a regular file is ours to delete: a device at the output path stays.
static void removeOutput(const char* out, int outIsRegular)
{
    if (outIsRegular)
        remove(out);
    disarmInterruptCleanup();
}

static int abandonConversion(const char* message, const char* path, FILE* f_in,
                             FILE* f_ou, const char* out, int outIsRegular)
{
    printf(message, path);
    if (f_in != NULL)
        fclose(f_in);
    fclose(f_ou);
    removeOutput(out, outIsRegular);
    return 0;
}

// Closing writes the last buffered bytes, which may still meet a full medium.
// Interrupts wait meanwhile: a complete output is never deleted by one.
static int closeOutput(FILE* f_ou, const char* out, int outIsRegular)
{
    int closed;

    if (outIsRegular)
        holdInterrupts();
    closed = fclose(f_ou) == 0;
    if (closed)
        disarmInterruptCleanup();
    else
        removeOutput(out, outIsRegular);
    if (outIsRegular)
        releaseInterrupts();
    return closed;
}

int convertFile(const char* inp, const char* out)
{
    t_kvr_header KVRheader;
    char buff[CARD_LENGTH];
    char textNumber[TEXT_NUMBER_SIZE];
    unsigned char block[FITS_BLOCK];
    char inBuffer[STREAM_BUFFER];
    char outBuffer[STREAM_BUFFER];
    uint64_t inp_size;
    int outIsRegular;
    int readFailed;

    // Writing the output over its own input would destroy the picture
    // before a single byte of it is read.
    if (sameFile(inp, out)) {
        printf(MSG_SAME, out);
        return 0;
    }
    FILE* f_in = fopen(inp, "rb");
    FILE* f_ou = openAndArmOutput(out, &outIsRegular);
    if (f_in == NULL) {
        if (f_ou != NULL)
            return abandonConversion(MSG_OPEN, inp, f_in, f_ou, out, outIsRegular);
        printf(MSG_OPEN, inp);
        return 0;
    }
    if (f_ou == NULL) {
        printf(MSG_OPEN, out);
        fclose(f_in);
        return 0;
    }
    setvbuf(f_in, inBuffer, _IOFBF, sizeof inBuffer);
    setvbuf(f_ou, outBuffer, _IOFBF, sizeof outBuffer);

    if (!readHeader(f_in, &KVRheader))
        return abandonConversion(MSG_READ, inp, f_in, f_ou, out, outIsRegular);
    // A failed size query can never match a header: it is a format failure.
    if (!regularFileSize(inp, &inp_size) || !testHeader(&KVRheader) ||
        !sizeMatches(&KVRheader, inp_size))
        return abandonConversion(MSG_FORMAT, inp, f_in, f_ou, out, outIsRegular);
    if (outIsRegular)
        reserveSpace(f_ou, fitsSize(sampleCount(&KVRheader)));
    if (!writeHeaderCards(f_ou, &KVRheader, inp, buff, textNumber))
        return abandonConversion(MSG_WRITE, out, f_in, f_ou, out, outIsRegular);
    if (!writeDataBlocks(f_in, f_ou, sampleCount(&KVRheader), block, &readFailed))
        return abandonConversion(readFailed ? MSG_READ : MSG_WRITE, readFailed ? inp : out,
                                 f_in, f_ou, out, outIsRegular);

    // Success is only reported once every byte is out and the output closed.
    if (!closeOutput(f_ou, out, outIsRegular)) {
        printf(MSG_WRITE, out);
        fclose(f_in);
        return 0;
    }
    printStat(&KVRheader, inp, out);
    fclose(f_in);
    return 1;
}

int main(int argc, char* argv[])
{
    printf("\nTORVAN verze %s: Konverze KVR obrazku verze 2 do formatu FITS.\n\n", VERSION);
    if (argc < 3) {
        printf("* Nedostatecny pocet argumentu!\n\n");
        printHelp();
        return 1;
    }
    if (argc > 3) {
        for (int i = 3; i < argc; i++) {
            if (strcmp(argv[i], "-h") != 0) {
                printf("* Neznamy argument `%s'!\n\n", argv[i]);
                printHelp();
                return 1;
            }
        }
        printHelp();
        return 0;
    }
    if (!convertFile(argv[1], argv[2])) {
        printf("* Konverze se nezdarila!\n");
        return 1;
    }
    return 0;
}
