// KVRINFO: says of each KVR picture whether TORVAN converts it, and if not,
// why: one line per file, to be read, sorted and grepped.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    printText(stdout, "  [-h]: tato napoveda\n");
    printText(stdout, "  Navratova hodnota 0, kdyz TORVAN prevede kazdy soubor, jinak 1.\n\n");
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

// Why a picture does not convert; what it is when it does.
static void verdictText(const t_input* input, char* words, size_t size)
{
    t_text text = {words, size, 0};

    words[0] = '\0';
    if (input->verdict == INPUT_CONVERTS)
        convertibleText(&text, &input->header);
    else
        causeText(&text, input);
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
    printText(stdout, "\t%s\t%s\t", taken, cause);
    printField(path);
    printText(stdout, "\n");
}

// Judges the picture as the converter does and says so: 1 when it converts.
// A folder that cannot be listed is a file that cannot be opened.
static int describePicture(const char* path, int listable, int listFields, int tabbed)
{
    char name[PATH_BUFFER], words[VERDICT_TEXT_SIZE];
    t_input input = {};
    int converts = listable && openInput(&input, path, NULL);

    closeInput(&input);
    if (tabbed) {
        printTabbed(path, &input);
        return converts;
    }
    lineSafe(path, name, sizeof name);
    verdictText(&input, words, sizeof words);
    printText(stdout, "%s: %s%s\n", name, converts ? "" : "CHYBA ", words);
    if (listFields && input.verdict >= INPUT_BROKEN_RULES)
        printFields(&input.header);
    return converts;
}

// Options come first; -- ends them, so that a file may be called -p.
int main(int argc, char* argv[])
{
    int listFields = 0, tabbed = 0, allConvert = 1, i = 1;

    utf8Arguments(&argc, &argv);
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
        if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        }
        if (strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
        if (strcmp(argv[i], "-p") == 0) {
            listFields = 1;
        } else if (strcmp(argv[i], "-t") == 0) {
            tabbed = 1;
        } else {
            printText(stdout, "* Neznamy argument `%s'!\n\n", argv[i]);
            printHelp();
            return 1;
        }
    }
    if (i == argc) {
        printText(stdout, "* Nedostatecny pocet argumentu!\n\n");
        printHelp();
        return 1;
    }
    for (; i < argc; i++) {
        std::vector<std::string> pictures;
        int listable = collectPictures(argv[i], &pictures);
        if (!listable)
            pictures.push_back(argv[i]);
        for (const std::string& picture : pictures)
            if (!describePicture(picture.c_str(), listable, listFields, tabbed))
                allConvert = 0;
    }
    // The report is the result: one that did not reach its reader is a failure.
    return allConvert && fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}
