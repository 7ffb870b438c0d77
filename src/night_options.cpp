#include "night_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "interrupts.h"
#include "os/system.h"
#include "text_rules.h"
#include "verdict_text.h"

// A cards file is a night's or a station's few settings; a zone's file is a
// few KiB.
constexpr size_t CARDS_FILE_MOST = 64 * 1024;
constexpr size_t ZONE_FILE_MOST = 256 * 1024;

void printNightHelp()
{
    printText(stdout,
        "Pouziti:  kvr2fits [-j N] [-f] [-q] [-r] [-n] [--classic] [--set KLIC=HODNOTA]...\n"
        "                   [--cards SOUBOR] [--clock-zone ZONA | --clock-offset +HH:MM]\n"
        "                   [--clock-repeat first|second] ZDROJ... SLOZKA\n"
        "          kvr2fits SLOZKA_NOCI\n"
        "Prevede obrazky KVR verze 2 do formatu FITS, do SLOZKY (vytvori ji, az bude co\n"
        "zapsat). ZDROJ je soubor KVR nebo slozka: z ni kazdy soubor s priponou .kvr\n"
        "(velikost pismen nerozhoduje), bez podslozek. Vystup ma jmeno zdroje s priponou\n"
        ".fit. Jedina slozka se prevede do sve podslozky fits.\n\n"
        "  -j N       N prevodu najednou (vychozi: jeden na procesor)\n"
        "  -f         nahradi i existujici vystupy (obrazek KVR nikdy)\n"
        "  -q         bez radku s prubehem\n"
        "  -r         i podslozky; vystupy v odpovidajicich podslozkach SLOZKY\n"
        "  -n         jen rekne, co by udelal; nic nezapise\n"
        "  --classic  hlavicka jako od torvan bez -i (datum DD/MM/RR), bez dalsich karet\n"
        "  --set KLIC=HODNOTA  karta hlavicky (EXPTIME=10, FILTER='V', OBJECT='SS Cyg')\n"
        "  --cards SOUBOR      karty ze souboru, radek KLIC = HODNOTA, # komentar\n"
        "  --clock-zone ZONA   hodiny stanice v zone IANA (Europe/Prague): cas v UTC\n"
        "  --clock-offset +HH:MM  hodiny stanice s jednim posunem po cely rok\n"
        "  --clock-repeat first|second  cas v hodine, ktera je dvakrat (podzimni zmena)\n"
        "  -h, --help tato napoveda\n"
        "  --version  verze\n\n"
        "Existujici vystup tohoto prevodu preskoci. Kazdy neprevedeny obrazek ma radek\n"
        "s pricinou na standardnim chybovem vystupu, na konci souhrn na standardnim\n"
        "vystupu. Navratova hodnota 0, kdyz se vse prevedlo nebo preskocilo, 1 pri\n"
        "chybe, 2 pri chybe prikazove radky.\n");
}

// The words of a refusal, the argument on one line.
static t_command refuse(char* words, const char* what, const char* argument, const char* why)
{
    char shown[PATH_BUFFER];
    t_text text = {words, REFUSAL_TEXT_SIZE, 0};

    lineSafe(argument, shown, sizeof shown);
    appendText(&text, why[0] != '\0' ? "%s `%s': %s" : "%s `%s'", what, shown, why);
    return COMMAND_REFUSED;
}

static bool parseWorkers(const char* text, int* workers)
{
    char* end;
    long count = strtol(text, &end, 10);

    if (*text < '0' || *text > '9' || *end != '\0' || count < 1 || count > MOST_IN_FLIGHT)
        return false;
    *workers = (int)count;
    return true;
}

// +HH:MM or -HH:MM, up to 14 hours, as clocks on Earth go.
static bool parseOffset(const char* text, int32_t* offset)
{
    int hours, minutes, length = 0;

    if ((text[0] != '+' && text[0] != '-') ||
        sscanf(text + 1, "%2d:%2d%n", &hours, &minutes, &length) != 2 ||
        text[1 + length] != '\0' || length != 5 || hours > 14 || minutes > 59 ||
        hours * 60 + minutes > 14 * 60)
        return false;
    *offset = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

// An IANA name: letters, digits and - _ + / in names that are no path upward.
static bool isZoneName(const char* name)
{
    if (name[0] == '\0' || name[0] == '/' || strlen(name) > 60)
        return false;
    for (const char* c = name; *c != '\0'; c++)
        if (!(isalnum((unsigned char)*c) || strchr("-_+/", *c) != NULL))
            return false;
    return strstr(name, "//") == NULL && name[strlen(name) - 1] != '/' && name[0] != '-';
}

// A setting given by --set or in --cards, kept in order until the header's
// room is known.
struct t_setting {
    bool file;
    const char* text;
};

static t_command readCardsFile(const char* path, t_night_options* options, char* words)
{
    t_file_kind kind;
    FILE* file = openForReading(path, &kind);
    char* bytes = (char*)malloc(CARDS_FILE_MOST + 1);
    size_t length = file != NULL && bytes != NULL ? fread(bytes, 1, CARDS_FILE_MOST + 1, file) : 0;
    bool read = file != NULL && bytes != NULL && !ferror(file) && length <= CARDS_FILE_MOST;
    uint64_t line = 0;

    if (file != NULL)
        fclose(file);
    t_card_refusal refusal = read ? parseCardsFile(bytes, length, &options->cards,
                                                   userCardRoom(&options->plan), &line)
                                  : CARD_TAKEN;
    free(bytes);
    if (!read)
        return refuse(words, "soubor karet", path, "nelze cist");
    if (refusal == CARD_TAKEN)
        return COMMAND_RUN;
    char shown[PATH_BUFFER];
    t_text text = {words, REFUSAL_TEXT_SIZE, 0};
    lineSafe(path, shown, sizeof shown);
    appendText(&text, "soubor karet `%s', radek %llu: %s", shown, (unsigned long long)line,
               cardRefusalText(refusal));
    return COMMAND_REFUSED;
}

static t_command takeSettings(const std::vector<t_setting>& settings, t_night_options* options,
                              char* words)
{
    int room = userCardRoom(&options->plan);

    if (!settings.empty() && !options->plan.science)
        return refuse(words, "karty", settings[0].text, "--classic zadne dalsi karty nepise");
    for (const t_setting& setting : settings) {
        if (setting.file) {
            if (readCardsFile(setting.text, options, words) != COMMAND_RUN)
                return COMMAND_REFUSED;
            continue;
        }
        t_user_card card;
        t_card_refusal refusal = parseCardSetting(setting.text, strlen(setting.text), &card);
        if (refusal == CARD_TAKEN)
            refusal = addCard(&options->cards, &card, room);
        if (refusal != CARD_TAKEN)
            return refuse(words, "--set", setting.text, cardRefusalText(refusal));
    }
    options->plan.cards = &options->cards;
    return COMMAND_RUN;
}

// The zone's compiled file, name under the system's zone folder.
static bool readZone(const char* name, t_zone_rules** zone)
{
    char path[PATH_BUFFER];
    t_file_kind kind;
    unsigned char* bytes = (unsigned char*)malloc(ZONE_FILE_MOST + 1);
    int length = zoneFolder(path, sizeof path) ? (int)strlen(path) : -1;
    FILE* file = length >= 0 && (size_t)length + strlen(name) + 2 < sizeof path &&
                 snprintf(path + length, sizeof path - length, "%c%s", FOLDER_SEPARATOR, name) > 0
                 ? openForReading(path, &kind) : NULL;
    size_t read = file != NULL && bytes != NULL ? fread(bytes, 1, ZONE_FILE_MOST + 1, file) : 0;

    *zone = (t_zone_rules*)malloc(sizeof **zone);
    bool known = file != NULL && !ferror(file) && read <= ZONE_FILE_MOST && *zone != NULL &&
                 readZoneRules(bytes, read, *zone);
    if (file != NULL)
        fclose(file);
    free(bytes);
    return known;
}

// The clock's options once all are read: none with --classic, a zone read.
static t_command takeClock(t_night_options* options, char* words)
{
    t_station_clock* clock = &options->clock;
    t_zone_rules* zone = NULL;

    if (clock->kind == CLOCK_AS_READ)
        return COMMAND_RUN;
    if (!options->plan.science)
        return refuse(words, "hodiny stanice", options->clockRule, "--classic cas nemeni");
    if (clock->kind == CLOCK_ZONE && !readZone(options->clockRule, &zone)) {
        free(zone);
        return refuse(words, "--clock-zone", options->clockRule,
                      "zona neni v databazi zon systemu (TZDIR)");
    }
    clock->zone = zone;
    options->plan.clock = options->clockRule;
    return COMMAND_RUN;
}

void freeNightOptions(t_night_options* options)
{
    free((void*)options->clock.zone);
    options->clock.zone = NULL;
}

// A lone folder, as Explorer drops it onto the program, goes into its fits.
static t_command takeOperands(t_night_options* options, char* words)
{
    if (options->operands.size() == 1 && isFolderPath(options->operands[0])) {
        const char* source = options->operands[0];
        options->dropped = source;
        if (*baseName(source) != '\0')
            options->dropped += FOLDER_SEPARATOR;
        options->dropped += "fits";
        options->operands.push_back(options->dropped.c_str());
    }
    if (options->operands.size() >= 2)
        return COMMAND_RUN;
    snprintf(words, REFUSAL_TEXT_SIZE, "chybi %s",
             options->operands.empty() ? "zdroj a slozka" : "zdroj nebo slozka");
    return COMMAND_REFUSED;
}

// An option's value: after '=' in its own argument, or the next argument.
static const char* valueOf(const char* arg, const char* option, int argc, char* argv[], int* i)
{
    size_t length = strlen(option);

    if (strncmp(arg, option, length) != 0)
        return NULL;
    if (arg[length] == '=')
        return arg + length + 1;
    return arg[length] == '\0' && *i + 1 < argc ? argv[++*i] : NULL;
}

// One option, from argv[*i]; its value may take the next argument.
static t_command takeOption(int argc, char* argv[], int* i, t_night_options* options,
                            std::vector<t_setting>* settings, char* words)
{
    const char* arg = argv[*i];
    const char* value;
    t_station_clock* clock = &options->clock;

    if (strcmp(arg, "-f") == 0)
        options->force = true;
    else if (strcmp(arg, "-q") == 0)
        options->quiet = true;
    else if (strcmp(arg, "-r") == 0)
        options->recursive = true;
    else if (strcmp(arg, "-n") == 0)
        options->dryRun = true;
    else if (strcmp(arg, "--classic") == 0)
        options->plan.isoDate = options->plan.science = false;
    else if (strncmp(arg, "-j", 2) == 0 && (arg[2] != '\0' || *i + 1 < argc)) {
        value = arg[2] != '\0' ? arg + 2 : argv[++*i];
        if (!parseWorkers(value, &options->workers))
            return refuse(words, "pocet prevodu musi byt 1 az 64, ne", value, "");
    } else if ((value = valueOf(arg, "--set", argc, argv, i)) != NULL) {
        settings->push_back({false, value});
    } else if ((value = valueOf(arg, "--cards", argc, argv, i)) != NULL) {
        settings->push_back({true, value});
    } else if ((value = valueOf(arg, "--clock-zone", argc, argv, i)) != NULL) {
        if (!isZoneName(value) || clock->kind != CLOCK_AS_READ)
            return refuse(words, "--clock-zone", value, clock->kind != CLOCK_AS_READ
                          ? "hodiny stanice uz jsou dane" : "neni jmeno zony IANA");
        clock->kind = CLOCK_ZONE;
        snprintf(options->clockRule, sizeof options->clockRule, "%s", value);
    } else if ((value = valueOf(arg, "--clock-offset", argc, argv, i)) != NULL) {
        if (!parseOffset(value, &clock->offset) || clock->kind != CLOCK_AS_READ)
            return refuse(words, "--clock-offset", value, clock->kind != CLOCK_AS_READ
                          ? "hodiny stanice uz jsou dane" : "posun je +HH:MM nebo -HH:MM");
        clock->kind = CLOCK_OFFSET;
        snprintf(options->clockRule, sizeof options->clockRule, "UTC%s", value);
    } else if ((value = valueOf(arg, "--clock-repeat", argc, argv, i)) != NULL) {
        if (strcmp(value, "first") != 0 && strcmp(value, "second") != 0)
            return refuse(words, "--clock-repeat", value, "bere first nebo second");
        clock->repeat = value[0] == 'f' ? REPEAT_FIRST : REPEAT_SECOND;
    } else {
        return refuse(words, "neznamy prepinac", arg, "");
    }
    return COMMAND_RUN;
}

// Options anywhere before --, in GNU's way; -j takes its number attached or
// next, the long ones theirs after '=' or next. --help or --version ends the
// reading at once.
t_command parseNightOptions(int argc, char* argv[], t_night_options* options, char* words)
{
    std::vector<t_setting> settings;
    bool ended = false;

    options->workers = (int)std::max(1u, std::min(std::thread::hardware_concurrency(),
                                                  (unsigned)MOST_IN_FLIGHT));
    options->plan.isoDate = options->plan.science = true;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!ended && (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 || asksForHelp(arg)))
            return COMMAND_HELP;
        if (!ended && strcmp(arg, "--version") == 0)
            return COMMAND_VERSION;
        if (ended || arg[0] != '-' || arg[1] == '\0')
            options->operands.push_back(arg);
        else if (strcmp(arg, "--") == 0)
            ended = true;
        else if (takeOption(argc, argv, &i, options, &settings, words) != COMMAND_RUN)
            return COMMAND_REFUSED;
    }
    if (takeClock(options, words) != COMMAND_RUN ||
        takeSettings(settings, options, words) != COMMAND_RUN)
        return COMMAND_REFUSED;
    return takeOperands(options, words);
}
