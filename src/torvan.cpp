// TORVAN: converts one KVR version 2 picture into a FITS file.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conversion.h"
#include "defs.h"
#include "fits_writer.h"
#include "interrupts.h"
#include "kvr_header.h"
#include "os/system.h"
#include "text_rules.h"

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

// A path as the message shows it: a control character in it as '?'.
static void printPath(FILE* console, const char* message, const char* path)
{
    char shown[PATH_BUFFER];

    lineSafe(path, shown, sizeof shown);
    printText(console, message, shown);
}

static void printStat(FILE* console, const t_kvr_header* Header, const char* inpf,
                      const char* outf)
{
    char input[PATH_BUFFER], output[PATH_BUFFER];

    lineSafe(inpf, input, sizeof input);
    lineSafe(outf, output, sizeof output);
    printText(console, "`%s' (%" PRIu64 " B) -> `%s' (%" PRIu64 " B)\n",
            input, expectedInputSize(Header), output, fitsSize(sampleCount(Header)));
    printText(console, "Verze KVR: %d\n", (int)Header->version);
    printText(console, "Komprese KVR: NE\n");
    printText(console, "Rozmery (S x V): %d x %d\n", (int)Header->ruva_width,
            (int)Header->ruva_height);
    printText(console, "Cas porizeni: %d.%d.%d; %d:%d:%d.%d\n",
            (int)Header->day, (int)Header->month, (int)Header->year,
            (int)Header->hour, (int)Header->minute, (int)Header->second,
            (int)Header->ssecond);
}

// Each failure's message, with the path it names.
static void printFailure(FILE* console, const t_conversion* job)
{
    const char* message = MSG_OPEN;
    const char* path = job->out;

    switch (job->failure) {
    case FAILED_INPUT_OPEN: path = job->inp; break;
    case FAILED_INPUT_READ: message = MSG_READ, path = job->inp; break;
    case FAILED_INPUT_FORMAT: message = MSG_FORMAT, path = job->inp; break;
    case FAILED_OUTPUT_WRITE: message = MSG_WRITE; break;
    case FAILED_OUTPUT_IS_INPUT: message = MSG_SAME; break;
    case FAILED_OUTPUT_IS_PICTURE: message = MSG_PICTURE; break;
    default: break;
    }
    printPath(console, message, path);
}

// The conversion's room is half a MiB: from the heap, as nothing large lives
// on the stack.
static int convertFile(const char* inp, const char* out, bool isoDate, FILE* console)
{
    t_conversion* job = (t_conversion*)calloc(1, sizeof *job);

    if (job == NULL) {
        printPath(console, MSG_OPEN, inp);
        return 0;
    }
    job->inp = inp;
    job->out = out;
    job->plan.isoDate = isoDate;
    job->umask = creationMask();
    int converted = convertPicture(job) == CONVERSION_DONE;
    if (converted)
        printStat(console, &job->input.header, inp, out);
    else
        printFailure(console, job);
    free(job);
    return converted;
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
    int help = 0, unknown = 0;
    bool isoDate = false;
    FILE* aside;

    keepStandardDescriptors();
    utf8Arguments(&argc, &argv);
    // After the two paths: -h, which wins, and -i, in any number and order;
    // the first other argument is refused.
    for (int i = 3; i < argc && unknown == 0; i++) {
        if (strcmp(argv[i], "-h") == 0)
            help = 1;
        else if (strcmp(argv[i], "-i") == 0)
            isoDate = true;
        else
            unknown = i;
    }
    int converting = argc >= 3 && !help && unknown == 0;
    // The run never writes into its own input, not even a message.
    if (converting && standardStreamIsInput(argv[1], &aside)) {
        if (aside != NULL) {
            printPath(aside, MSG_SAME, argv[1]);
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
        printPath(stdout, "* Neznamy argument `%s'!\n\n", argv[unknown]);
        printHelp();
        return 1;
    }
    if (help) {
        printHelp();
        return 0;
    }
    removeTemporariesOnInterrupt();
    ignoreFileSizeLimit();
    if (!convertFile(argv[1], argv[2], isoDate, console)) {
        printText(console, MSG_FAILED);
        return 1;
    }
    return 0;
}
