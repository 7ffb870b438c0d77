// KVRINFO: says of each KVR picture whether TORVAN converts it, and if not,
// why: one line per file, to be read, sorted and grepped.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "defs.h"
#include "kvr_reader.h"
#include "os_console.h"
#include "os_files.h"
#include "text_rules.h"

static void printHelp()
{
    printText(stdout, "kvrinfo (TORVAN %s): Rekne o kazdem obrazku KVR, zda jej TORVAN prevede.\n\n",
              TORVAN_VERSION);
    printText(stdout, "Pouziti:  kvrinfo [-p] [-t] <[cesta]soubor.kvr>...\n\n");
    printText(stdout, "  Radek na soubor: `OK sirka x vyska, cas porizeni', nebo `CHYBA' a proc.\n");
    printText(stdout, "  [-p]: vypise i kazde pole hlavicky s jeho pravidlem\n");
    printText(stdout, "  [-t]: pole oddelena tabulatorem: verdikt, sirka, vyska, cas, proc, jmeno\n");
    printText(stdout, "  [-h]: tato napoveda\n");
    printText(stdout, "  Navratova hodnota 0, kdyz TORVAN prevede kazdy soubor, jinak 1.\n\n");
}

// A text field in quotes, each byte outside printable ASCII as \xNN; a number in decimal.
static void printValue(const t_header_rule* rule, const t_kvr_header* header)
{
    char quoted[4 * KVR_SIGNATURE_LENGTH + 3];

    if (rule->length == 0) {
        printText(stdout, "%" PRId32, ruleNumber(rule, header));
        return;
    }
    quotedBytes((const unsigned char*)header + rule->offset, rule->length, quoted, sizeof quoted);
    printText(stdout, "%s", quoted);
}

static void printRule(const t_header_rule* rule, const t_kvr_header* header)
{
    printText(stdout, "%s ", rule->name);
    printValue(rule, header);
    if (rule->length > 0)
        printText(stdout, " (povoleno \"%s\")", rule->text);
    else if (rule->low == INT32_MIN && rule->high == INT32_MAX)
        printText(stdout, " (povoleno cokoli)");
    else if (rule->low == rule->high)
        printText(stdout, " (povoleno %" PRId32 ")", rule->low);
    else
        printText(stdout, " (povoleno %" PRId32 " az %" PRId32 ")", rule->low, rule->high);
}

// The broken rules, or the first alone when it is the magic: then the file
// is no KVR picture at all and the rest says nothing.
static void printBrokenRules(const t_kvr_header* header)
{
    int count;
    const t_header_rule* rules = headerRules(&count);
    const char* separator = "";

    if (!ruleHolds(&rules[0], header)) {
        printText(stdout, "neni obrazek KVR: ");
        printRule(&rules[0], header);
        return;
    }
    for (int i = 0; i < count; i++) {
        if (ruleHolds(&rules[i], header))
            continue;
        printText(stdout, "%s", separator);
        printRule(&rules[i], header);
        separator = "; ";
    }
}

static void printSizes(const t_kvr_header* header, uint64_t size)
{
    uint64_t announced = expectedInputSize(header);

    printText(stdout, "velikost %" PRIu64 " B, hlavicka ohlasuje %" PRIu64 " B: %s %" PRIu64 " B",
              size, announced, size < announced ? "chybi" : "prebyva",
              size < announced ? announced - size : size - announced);
}

static void printConvertible(const t_kvr_header* h)
{
    printText(stdout, "OK %" PRId32 " x %" PRId32 ", %02" PRId32 ".%02" PRId32 ".%04" PRId32
              " %02" PRId32 ":%02" PRId32 ":%02" PRId32 ".%03" PRId32,
              h->ruva_width, h->ruva_height, h->day, h->month, h->year, h->hour, h->minute,
              h->second, h->ssecond);
}

static void printFields(const t_kvr_header* header)
{
    int count;
    const t_header_rule* rules = headerRules(&count);

    for (int i = 0; i < count; i++) {
        printText(stdout, "  ");
        printRule(&rules[i], header);
        printText(stdout, ": %s\n", ruleHolds(&rules[i], header) ? "OK" : "CHYBA");
    }
}

// Why a picture does not convert; what it is when it does.
static void printCause(int opened, int verdict, const t_kvr_header* header,
                       const t_file_state* state)
{
    if (!opened)
        printText(stdout, "nelze otevrit");
    else if (verdict == INPUT_FOLDER || verdict == INPUT_SPECIAL)
        printText(stdout, "neni obycejny soubor");
    else if (verdict == INPUT_UNREADABLE && state->size < KVR_HEADER_SIZE)
        printText(stdout, "kratsi nez hlavicka: %" PRIu64 " B z %d B", state->size, KVR_HEADER_SIZE);
    else if (verdict == INPUT_UNREADABLE)
        printText(stdout, "nelze cist");
    else if (verdict == INPUT_BROKEN_RULES)
        printBrokenRules(header);
    else if (verdict == INPUT_WRONG_SIZE)
        printSizes(header, state->size);
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
static void printTabbed(const char* path, int opened, int verdict, const t_kvr_header* header,
                        const t_file_state* state)
{
    char taken[CARD_LENGTH] = "";

    printText(stdout, "%s\t", verdict == INPUT_CONVERTS ? "OK" : "CHYBA");
    if (opened && verdict >= INPUT_BROKEN_RULES) {
        captureTime(header, taken, sizeof taken);
        printText(stdout, "%" PRId32 "\t%" PRId32, header->ruva_width, header->ruva_height);
    } else {
        printText(stdout, "\t");
    }
    printText(stdout, "\t%s\t", taken);
    if (verdict != INPUT_CONVERTS)
        printCause(opened, verdict, header, state);
    printText(stdout, "\t");
    printField(path);
    printText(stdout, "\n");
}

// Judges the picture as the converter does and says so: 1 when it converts.
static int describePicture(const char* path, int listFields, int tabbed)
{
    char name[PATH_BUFFER];
    t_kvr_header header;
    t_file_state state;
    int verdict = INPUT_UNREADABLE;
    int judged = !judgeInputPath(path, &verdict);
    FILE* f_in = judged ? NULL : openForReading(path);
    int opened = judged || f_in != NULL;
    int converts = f_in != NULL && judgeInput(f_in, &header, &state, &verdict);

    if (f_in != NULL)
        fclose(f_in);
    if (tabbed) {
        printTabbed(path, opened, converts ? INPUT_CONVERTS : verdict, &header, &state);
        return converts;
    }
    lineSafe(path, name, sizeof name);
    printText(stdout, "%s: %s", name, converts ? "" : "CHYBA ");
    if (converts)
        printConvertible(&header);
    else
        printCause(opened, verdict, &header, &state);
    printText(stdout, "\n");
    if (listFields && opened && verdict >= INPUT_BROKEN_RULES)
        printFields(&header);
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
    for (; i < argc; i++)
        if (!describePicture(argv[i], listFields, tabbed))
            allConvert = 0;
    // The report is the result: one that did not reach its reader is a failure.
    return allConvert && fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}
