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
// No line break: the failure line then follows on the same line, as earlier
// versions printed it and as scripts may expect.
static const char MSG_WRITE[] = "* Nelze zapisovat do `%s'!";
static const char MSG_SAME[] = "* Vystupni soubor `%s' je totozny se vstupnim!\n";
static const char MSG_PICTURE[] = "* Vystupni soubor `%s' je obrazek KVR a nebude prepsan!\n";
static const char MSG_FAILED[] = "* Konverze se nezdarila!\n";

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

// Every failure's one way out, from whatever was opened by then: the output
// leaves nothing behind and the output path as it was.
static int failConversion(FILE* console, const char* message, const char* path, FILE* f_in,
                          t_output* output)
{
    printText(console, message, path);
    if (f_in != NULL)
        fclose(f_in);
    discardOutput(output);
    return 0;
}

// A folder cannot be read as a picture; anything else that is no regular
// file has no size to match.
static const char* inputMessage(int verdict)
{
    return verdict == INPUT_FOLDER || verdict == INPUT_UNREADABLE ? MSG_READ : MSG_FORMAT;
}

static const char* outputMessage(const t_output* output)
{
    static const char* const MESSAGES[] = {MSG_OPEN, MSG_WRITE, MSG_SAME, MSG_PICTURE};
    return MESSAGES[output->failure];
}

// The input is judged in full before the output path is touched, and the
// output takes its name only once every byte of it is written.
static int convertFile(const char* inp, const char* out, int isoDate, FILE* console)
{
    static char inBuffer[STREAM_BUFFER];
    t_kvr_header KVRheader;
    char buff[CARD_LENGTH];
    char textNumber[TEXT_NUMBER_SIZE];
    unsigned char block[FITS_BLOCK];
    t_file_state before, after;
    t_file_identity input;
    t_output output = {};
    int verdict = INPUT_UNREADABLE, readFailed = 0;

    if (!judgeInputPath(inp, &verdict))
        return failConversion(console, inputMessage(verdict), inp, NULL, &output);
    FILE* f_in = openForReading(inp);
    if (f_in == NULL)
        return failConversion(console, MSG_OPEN, inp, f_in, &output);
    setvbuf(f_in, inBuffer, _IOFBF, sizeof inBuffer);
    if (!judgeInput(f_in, &KVRheader, &before, &verdict))
        return failConversion(console, inputMessage(verdict), inp, f_in, &output);
    if (!fileIdentity(f_in, &input) ||
        !openOutput(&output, out, fitsSize(sampleCount(&KVRheader)), &input))
        return failConversion(console, outputMessage(&output), out, f_in, &output);

    if (!writeHeaderCards(output.stream, &KVRheader, inp, isoDate, buff, textNumber))
        return failConversion(console, MSG_WRITE, out, f_in, &output);
    if (!writeDataBlocks(f_in, output.stream, sampleCount(&KVRheader), block, &readFailed))
        return failConversion(console, readFailed ? MSG_READ : MSG_WRITE,
                              readFailed ? inp : out, f_in, &output);
    // A picture rewritten meanwhile, even to the same size, is not the one read.
    if (!regularFileState(f_in, &after) || !sameFileState(&before, &after))
        return failConversion(console, MSG_READ, inp, f_in, &output);

    // Success is only reported once every byte is out under the output's name.
    if (!commitOutput(&output))
        return failConversion(console, outputMessage(&output), out, f_in, &output);
    printStat(console, &KVRheader, inp, out);
    fclose(f_in);
    return 1;
}

// Whether standard output or error is the input; aside is then the other one,
// where the run may still speak, or NULL when both are.
static int standardStreamIsInput(const char* inp, FILE** aside)
{
    int intoOutput = pathIsStream(inp, stdout), intoError = pathIsStream(inp, stderr);

    *aside = !intoError ? stderr : !intoOutput ? stdout : NULL;
    return intoOutput || intoError;
}

int main(int argc, char* argv[])
{
    int help = 0, isoDate = 0, unknown = 0;
    FILE* aside;

    keepStandardDescriptors();
    utf8Arguments(&argc, &argv);
    // After the two paths: -h, which wins, and -i, in any number and order;
    // the first other argument is refused.
    for (int i = 3; i < argc && unknown == 0; i++) {
        if (strcmp(argv[i], "-h") == 0)
            help = 1;
        else if (strcmp(argv[i], "-i") == 0)
            isoDate = 1;
        else
            unknown = i;
    }
    int converting = argc >= 3 && !help && unknown == 0;
    // The run never writes into its own input, not even a message.
    if (converting && standardStreamIsInput(argv[1], &aside)) {
        if (aside != NULL) {
            printText(aside, MSG_SAME, argv[1]);
            printText(aside, MSG_FAILED);
        }
        return 1;
    }
    // Standard output as the output gets the picture's bytes and nothing else.
    FILE* console = converting && pathIsStream(argv[2], stdout) ? stderr : stdout;

    printText(console, "\nTORVAN verze %s: Konverze KVR obrazku verze 2 do formatu FITS.\n\n",
            VERSION);
    if (argc < 3) {
        printText(stdout, "* Nedostatecny pocet argumentu!\n\n");
        printHelp();
        return 1;
    }
    if (unknown != 0) {
        printText(stdout, "* Neznamy argument `%s'!\n\n", argv[unknown]);
        printHelp();
        return 1;
    }
    if (help) {
        printHelp();
        return 0;
    }
    if (!convertFile(argv[1], argv[2], isoDate, console)) {
        printText(console, MSG_FAILED);
        return 1;
    }
    return 0;
}
