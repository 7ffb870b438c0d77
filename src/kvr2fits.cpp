// KVR2FITS: converts a night of KVR pictures into a folder of FITS files, several
// at once, each exactly as torvan converts one; says what failed and why.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conversion.h"
#include "interrupts.h"
#include "night.h"
#include "os/system.h"
#include "progress.h"
#include "text_rules.h"
#include "verdict_text.h"

static const char PROGRAM[] = "kvr2fits";

// What became of a picture; one never taken, or given up, is not converted.
enum t_outcome { CONVERTED, SKIPPED, FAILED, NOT_CONVERTED, OUTCOMES };

// What the command line asks for.
struct t_options {
    int workers;
    bool force;             // replace outputs that exist
    bool quiet;
    bool isoDate;
    uint32_t umask;
    std::vector<const char*> operands;   // the sources, then the folder
    std::string dropped;    // the folder for a lone source folder: its fits
};

// Shared by the workers: the plan, the next picture to take, the counts, the
// night's folder and the console.
struct t_night {
    t_night_plan plan;
    const t_options* options;
    std::mutex folderLock;
    t_output_folder folder;
    std::atomic<size_t> next;
    std::atomic<uint64_t> counts[OUTCOMES];
    std::atomic<int> working;           // workers not yet done
    std::atomic<bool> stopped;          // the night's folder failed: nothing more is begun
    t_console console;
};

static void printHelp()
{
    printText(stdout,
        "Pouziti:  %s [-j N] [-f] [-q] [--classic] ZDROJ... SLOZKA\n"
        "          %s SLOZKA_NOCI\n"
        "Prevede obrazky KVR verze 2 do formatu FITS, do SLOZKY (vytvori ji, az bude co\n"
        "zapsat). ZDROJ je soubor KVR nebo slozka: z ni kazdy soubor s priponou .kvr\n"
        "(velikost pismen nerozhoduje), bez podslozek. Vystup ma jmeno zdroje s priponou\n"
        ".fit. Jedina slozka se prevede do sve podslozky fits.\n\n"
        "  -j N       N prevodu najednou (vychozi: jeden na procesor)\n"
        "  -f         nahradi i existujici vystupy (obrazek KVR nikdy)\n"
        "  -q         bez radku s prubehem\n"
        "  --classic  hlavicka jako od torvan bez -i (datum DD/MM/RR)\n"
        "  -h, --help tato napoveda\n"
        "  --version  verze\n\n"
        "Existujici vystup tohoto prevodu preskoci. Kazdy neprevedeny obrazek ma radek\n"
        "s pricinou na standardnim chybovem vystupu, na konci souhrn na standardnim\n"
        "vystupu. Navratova hodnota 0, kdyz se vse prevedlo nebo preskocilo, 1 pri\n"
        "chybe, 2 pri chybe prikazove radky.\n", PROGRAM, PROGRAM);
}

static bool refuseCommandLine(const char* what, const char* argument)
{
    char shown[PATH_BUFFER];

    lineSafe(argument, shown, sizeof shown);
    printText(stderr, "%s: %s `%s'\n", PROGRAM, what, shown);
    printText(stderr, "Zkuste `%s --help'.\n", PROGRAM);
    return false;
}

static bool parseWorkers(const char* text, int* workers)
{
    char* end;
    long count = strtol(text, &end, 10);

    if (*text < '0' || *text > '9' || *end != '\0' || count < 1 || count > MOST_IN_FLIGHT)
        return refuseCommandLine("pocet prevodu musi byt 1 az 64, ne", text);
    *workers = (int)count;
    return true;
}

// A lone folder, as Explorer drops it onto the program, goes into its fits.
static bool takeOperands(t_options* options)
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
        return true;
    printText(stderr, "%s: chybi %s\n", PROGRAM,
              options->operands.empty() ? "zdroj a slozka" : "zdroj nebo slozka");
    printText(stderr, "Zkuste `%s --help'.\n", PROGRAM);
    return false;
}

// Options anywhere before --, in GNU's way; -j takes its number attached or
// next. exitNow is the index of --help or --version, which end the run.
static bool parseOptions(int argc, char* argv[], t_options* options, int* exitNow)
{
    bool ended = false;

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!ended && (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 ||
                       strcmp(arg, "--version") == 0 || asksForHelp(arg)))
            return (*exitNow = i) != 0;
        if (ended || arg[0] != '-' || arg[1] == '\0')
            options->operands.push_back(arg);
        else if (strcmp(arg, "--") == 0)
            ended = true;
        else if (strcmp(arg, "-f") == 0)
            options->force = true;
        else if (strcmp(arg, "-q") == 0)
            options->quiet = true;
        else if (strcmp(arg, "--classic") == 0)
            options->isoDate = false;
        else if (strncmp(arg, "-j", 2) == 0 && (arg[2] != '\0' || i + 1 < argc)) {
            if (!parseWorkers(arg[2] != '\0' ? arg + 2 : argv[++i], &options->workers))
                return false;
        } else
            return refuseCommandLine("neznamy prepinac", arg);
    }
    return takeOperands(options);
}

// One line on standard error: what it is about, on one line, and why.
static void report(t_night* night, const char* what, const char* words)
{
    char shown[PATH_BUFFER], line[PATH_BUFFER + VERDICT_TEXT_SIZE];
    t_text text = {line, sizeof line, 0};

    lineSafe(what, shown, sizeof shown);
    appendText(&text, "%s: %s", shown, words);
    printLine(&night->console, line);
}

// The sources that gave no picture: each a failure of the night.
static bool reportSources(t_night* night)
{
    for (const t_source_note& note : night->plan.notes) {
        char shown[PATH_BUFFER], words[VERDICT_TEXT_SIZE];
        t_text text = {words, sizeof words, 0};
        lineSafe(note.operand, shown, sizeof shown);
        appendText(&text, "slozku `%s' nelze cist", shown);
        if (note.found == SOURCE_UNLISTABLE)
            report(night, PROGRAM, words);
        else
            report(night, note.operand, note.subfolders
                   ? "zadny obrazek KVR; podslozky se neprohledavaji" : "zadny obrazek KVR");
    }
    return night->plan.notes.empty();
}

// The first failure of the night's folder is said once and stops the night.
static void stopNight(t_night* night, const char* words)
{
    if (!night->stopped.exchange(true))
        report(night, PROGRAM, words);
}

static t_outcome convertOne(t_night* night, const t_picture* picture, t_conversion* job)
{
    char words[VERDICT_TEXT_SIZE], folder[PATH_BUFFER];
    t_text text = {words, sizeof words, 0};

    if (picture->clash != NULL) {
        char output[PATH_BUFFER], other[PATH_BUFFER];
        lineSafe(picture->output.c_str(), output, sizeof output);
        lineSafe(picture->clash, other, sizeof other);
        appendText(&text, "stejny vystup `%s' jako `%s'", output, other);
        report(night, picture->source.c_str(), words);
        return FAILED;
    }
    memset(job, 0, sizeof *job);
    job->inp = picture->source.c_str();
    job->out = picture->output.c_str();
    job->folder = &night->folder;
    job->name = job->out + picture->name;
    job->replacing = night->options->force;
    job->isoDate = night->options->isoDate;
    job->umask = night->options->umask;
    t_conversion_result result = convertPicture(job);
    if (result != CONVERSION_FAILED)
        return result == CONVERSION_DONE ? CONVERTED : SKIPPED;
    if (job->failure == FAILED_INTERRUPTED)
        return NOT_CONVERTED;
    lineSafe(night->folder.path, folder, sizeof folder);
    if (folderFailureText(&text, job, folder)) {
        stopNight(night, words);
        return NOT_CONVERTED;
    }
    failureText(&text, job);
    report(night, picture->source.c_str(), words);
    return FAILED;
}

// A worker takes the next picture until none is left, or the night stops.
static void work(t_night* night, t_conversion* job)
{
    while (interruptedBy() == 0 && !night->stopped) {
        size_t i = night->next++;
        if (i >= night->plan.pictures.size())
            break;
        night->counts[convertOne(night, &night->plan.pictures[i], job)]++;
    }
    night->working--;
}

static t_progress progressOf(const t_night* night, std::chrono::steady_clock::time_point start)
{
    uint64_t done = night->counts[CONVERTED] + night->counts[SKIPPED] + night->counts[FAILED];
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    return {done, night->plan.pictures.size(), night->counts[CONVERTED], seconds.count()};
}

// The workers convert, each in a room of its own (half a MiB: fixed memory
// per conversion); this thread redraws the progress line four times a second.
// After an interrupt it waits a second at most: a worker held up longer (a
// hung network folder) is left to the end of the run.
static bool convertNight(t_night* night)
{
    size_t count = std::min((size_t)night->options->workers, night->plan.pictures.size());
    // One more, so that an empty night asks for memory too and gets it.
    t_conversion* jobs = (t_conversion*)calloc(count + 1, sizeof *jobs);
    auto start = std::chrono::steady_clock::now();
    int waited = 0;

    if (jobs == NULL)
        return false;
    std::vector<std::thread> workers;
    night->working = (int)count;
    for (size_t i = 0; i < count; i++)
        workers.emplace_back(work, night, &jobs[i]);
    for (int step = 0; night->working > 0 && waited < 40; step++) {
        waited += interruptedBy() != 0;
        t_progress progress = progressOf(night, start);
        if (step % 10 == 0 && interruptedBy() == 0)
            drawProgress(&night->console, &progress);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    for (std::thread& worker : workers)
        if (night->working == 0)
            worker.join();
        else
            worker.detach();
    if (night->working == 0)
        free(jobs);
    std::lock_guard<std::mutex> hold(night->console.lock);
    clearProgress(&night->console);
    return true;
}

// Always printed, also after an interrupt, and flushed before the run ends
// by its signal; pictures not converted are told apart.
static bool printSummary(const t_night* night)
{
    uint64_t converted = night->counts[CONVERTED], skipped = night->counts[SKIPPED];
    uint64_t failed = night->counts[FAILED], total = night->plan.pictures.size();
    uint64_t left = total - converted - skipped - failed;

    printText(stdout, "prevedeno %" PRIu64 ", preskoceno %" PRIu64 ", selhalo %" PRIu64
              ", celkem %" PRIu64, converted, skipped, failed, total);
    if (left > 0)
        printText(stdout, ", neprevedeno %" PRIu64, left);
    printText(stdout, "%s\n", interruptedBy() != 0 ? ", preruseno" : "");
    bool written = fflush(stdout) == 0 && !ferror(stdout);
    return written && failed == 0 && left == 0;
}

static int finish(int status)
{
    keepConsoleOpen();
    return status;
}

int main(int argc, char* argv[])
{
    t_options options = {};
    t_night night{};
    int exitNow = 0;

    utf8Arguments(&argc, &argv);
    options.workers = std::max(1u, std::min(std::thread::hardware_concurrency(),
                                            (unsigned)MOST_IN_FLIGHT));
    options.isoDate = true;
    options.umask = creationMask();
    if (!parseOptions(argc, argv, &options, &exitNow) && exitNow == 0)
        return finish(2);
    if (exitNow != 0) {
        if (strcmp(argv[exitNow], "--version") == 0)
            printText(stdout, "%s (TORVAN) %s\n", PROGRAM, TORVAN_VERSION);
        else
            printHelp();
        return finish(fflush(stdout) == 0 ? 0 : 1);
    }
    night.options = &options;
    night.console.stream = stderr;
    std::vector<const char*> sources(options.operands.begin(), options.operands.end() - 1);
    planNight(sources, options.operands.back(), &night.plan);
    bool found = reportSources(&night);
    night.folder = {options.operands.back(), &night.folderLock, FOLDER_MISSING, WALK_DONE, 0, {}};
    if (!night.plan.pictures.empty())
        openOutputFolder(&night.folder);
    deferInterrupts();
    ignoreFileSizeLimit();
    night.console.drawing = !options.quiet && isTerminal(stderr);
    if (!convertNight(&night)) {
        printText(stderr, "%s: nedostatek pameti\n", PROGRAM);
        return finish(1);
    }
    bool fine = printSummary(&night) && found;
    if (interruptedBy() != 0) {
        removeArmed();
        keepConsoleOpen();
        endAsInterrupted(interruptedBy());
    }
    closeOutputFolder(&night.folder);
    return finish(fine ? 0 : 1);
}
