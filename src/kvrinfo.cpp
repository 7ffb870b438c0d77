// KVRINFO: says of each KVR picture whether TORVAN converts it, and if not,
// why: one line per file, to be read, sorted and grepped.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calendar.h"
#include "defs.h"
#include "input_file.h"
#include "kvr_header.h"
#include "night.h"
#include "os/system.h"
#include "text_rules.h"
#include "verdict_text.h"

static void printHelp()
{
    printText(stdout, "kvrinfo (TORVAN %s): Rekne o kazdem obrazku KVR, zda jej TORVAN prevede.\n\n",
              TORVAN_VERSION);
    printText(stdout, "Pouziti:  kvrinfo [-p] [-t] <[cesta]soubor.kvr | slozka>...\n\n");
    printText(stdout, "  Radek na soubor: `OK sirka x vyska, cas porizeni', nebo `CHYBA' a proc.\n");
    printText(stdout, "  [-p]: vypise i kazde pole hlavicky s jeho pravidlem\n");
    printText(stdout, "  [-t]: pole oddelena tabulatorem: verdikt, sirka, vyska, cas, proc, jmeno\n");
    printText(stdout, "  [-h, --help]: tato napoveda; [--version]: verze\n");
    printText(stdout, "  Slozka bez obrazku KVR je chyba. Navratova hodnota 0, kdyz TORVAN "
                      "prevede\n"
                      "  kazdy soubor, 1 jinak, 2 pri chybe prikazove radky.\n\n");
}

static void printFields(const t_kvr_header* header)
{
    int count;
    const t_header_rule* rules = headerRules(&count);

    for (int i = 0; i < count; i++) {
        char words[VERDICT_TEXT_SIZE];
        t_text rule = {words, sizeof words, 0};
        ruleText(&rule, &rules[i], header);
        printText(stdout, "  %s: %s\n", words, ruleHolds(&rules[i], header) ? "OK" : "CHYBA");
    }
}

// torvan converts a date the calendar does not have, as ever; kvr2fits
// refuses it, and FITS readers do: said as a note.
static void dateNote(t_text* text, const t_input* input, const char* before)
{
    const t_kvr_header* h = &input->header;

    if (input->verdict != INPUT_CONVERTS || dateExists(h->year, h->month, h->day))
        return;
    appendText(text, "%s", before);
    noSuchDateText(text, h);
}

// Why a picture does not convert; what it is when it does.
static void verdictText(const t_input* input, char* words, size_t size)
{
    t_text text = {words, size, 0};

    words[0] = '\0';
    if (input->verdict == INPUT_CONVERTS)
        convertibleText(&text, &input->header);
    else
        causeText(&text, input);
    dateNote(&text, input, "; pozor: ");
}

// Every byte of a name, one record per line whatever it holds.
static void printField(const char* text)
{
    char safe[PATH_BUFFER];

    while (*text != '\0') {
        text += fieldSafe(text, safe, sizeof safe);
        printText(stdout, "%s", safe);
    }
}

// For scripts: the verdict, width, height, capture time, cause and name, each
// after a tab, one file per line: the name's tabs, line breaks and other
// control bytes escaped.
static void printTabbed(const char* path, const t_input* input)
{
    char taken[CARD_LENGTH] = "", cause[VERDICT_TEXT_SIZE] = "";
    t_text text = {cause, sizeof cause, 0};

    printText(stdout, "%s\t", input->verdict == INPUT_CONVERTS ? "OK" : "CHYBA");
    if (input->verdict >= INPUT_BROKEN_RULES) {
        captureTime(&input->header, taken, sizeof taken);
        printText(stdout, "%" PRId32 "\t%" PRId32, input->header.ruva_width,
                  input->header.ruva_height);
    } else {
        printText(stdout, "\t");
    }
    if (input->verdict != INPUT_CONVERTS)
        causeText(&text, input);
    dateNote(&text, input, "pozor: ");
    printText(stdout, "\t%s\t%s\t", taken, cause);
    printField(path);
    printText(stdout, "\n");
}

// What a program prints of one file: its form and what it adds.
struct t_form {
    bool listFields;
    bool tabbed;
};

// Judges the picture as the converter does and says so: true when it converts.
// A folder that cannot be listed is a file that cannot be opened.
static bool describePicture(const char* path, bool listable, const t_form* form)
{
    char name[PATH_BUFFER], words[VERDICT_TEXT_SIZE];
    t_input input = {};
    bool converts = listable && openInput(&input, path, NULL);

    closeInput(&input);
    if (form->tabbed) {
        printTabbed(path, &input);
        return converts;
    }
    lineSafe(path, name, sizeof name);
    verdictText(&input, words, sizeof words);
    printText(stdout, "%s: %s%s\n", name, converts ? "" : "CHYBA ", words);
    if (form->listFields && input.verdict >= INPUT_BROKEN_RULES)
        printFields(&input.header);
    return converts;
}

// A source that gave no picture is a failure of its own.
static void describeNothing(const char* source, bool subfolders, const t_form* form)
{
    char name[PATH_BUFFER];
    const char* cause = subfolders ? "zadny obrazek KVR; podslozky se neprohledavaji"
                                   : "zadny obrazek KVR";

    if (form->tabbed) {
        printText(stdout, "CHYBA\t\t\t\t%s\t", cause);
        printField(source);
        printText(stdout, "\n");
        return;
    }
    lineSafe(source, name, sizeof name);
    printText(stdout, "%s: CHYBA %s\n", name, cause);
}

static bool describeSource(const char* source, const t_form* form)
{
    std::vector<std::string> pictures;
    bool subfolders = false, all = true;
    t_source_found found = collectPictures(source, &pictures, &subfolders);

    if (found == SOURCE_NOTHING) {
        describeNothing(source, subfolders, form);
        return false;
    }
    if (found == SOURCE_UNLISTABLE)
        pictures.push_back(source);
    for (const std::string& picture : pictures)
        all = describePicture(picture.c_str(), found == SOURCE_PICTURES, form) && all;
    return all;
}

static int refuse(const char* message, const char* argument)
{
    char shown[PATH_BUFFER];

    lineSafe(argument, shown, sizeof shown);
    printText(stdout, message, shown);
    printHelp();
    return 2;
}

// Options come first; -- ends them, so that a file may be called -p.
int main(int argc, char* argv[])
{
    t_form form = {};
    bool allConvert = true;
    int i = 1;

    keepStandardDescriptors();
    utf8Arguments(&argc, &argv);
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
        if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        }
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            printHelp();
            return fflush(stdout) == 0 ? 0 : 1;
        }
        if (strcmp(argv[i], "--version") == 0) {
            printText(stdout, "kvrinfo (TORVAN) %s\n", TORVAN_VERSION);
            return fflush(stdout) == 0 ? 0 : 1;
        }
        if (strcmp(argv[i], "-p") == 0)
            form.listFields = true;
        else if (strcmp(argv[i], "-t") == 0)
            form.tabbed = true;
        else
            return refuse("* Neznamy argument `%s'!\n\n", argv[i]);
    }
    if (i == argc)
        return refuse("* Nedostatecny pocet argumentu!%s\n\n", "");
    for (; i < argc; i++)
        allConvert = describeSource(argv[i], &form) && allConvert;
    // The report is the result: one that did not reach its reader is a failure.
    return allConvert && fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}
