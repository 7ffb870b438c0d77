// KVR2FITS: converts a night of KVR pictures into a folder of FITS files, several
// at once, each exactly as torvan converts one; says what failed and why.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conversion.h"
#include "interrupts.h"
#include "night.h"
#include "os/system.h"
#include "text_rules.h"
#include "verdict_text.h"

static const char PROGRAM[] = "kvr2fits";

enum t_outcome { PENDING, CONVERTED, SKIPPED, FAILED };

// One picture of the night and what became of it.
struct t_picture {
    std::string source;
    std::string output;
    const char* clash;      // another source with the same output, or NULL
    int outcome;            // t_outcome
};

// What the command line asks for.
struct t_options {
    int workers;
    int force;              // replace outputs that exist
    int quiet;
    bool isoDate;
    uint32_t umask;
    std::vector<const char*> operands;   // the sources, then the folder
};

// Shared by the workers: the pictures, the next one to take, and the
// console, which one thread at a time writes.
struct t_night {
    std::vector<t_picture> pictures;
    const t_options* options;
    std::atomic<size_t> next;
    std::atomic<size_t> done;
    std::mutex console;
    t_folder folder;        // where the outputs go
    int progress;           // a progress line stands on standard error
    size_t progressWidth;   // its length, to blank it out
};

static void printUsage(FILE* stream)
{
    printText(stream, "Pouziti:  %s [-j N] [-f] [-q] [--classic] ZDROJ... SLOZKA\n", PROGRAM);
}

static void printHelp()
{
    printUsage(stdout);
    printText(stdout,
        "Prevede obrazky KVR verze 2 do formatu FITS, do SLOZKY (vytvori ji, neni-li).\n"
        "ZDROJ je soubor KVR nebo slozka: z ni kazdy soubor s priponou .kvr (velikost\n"
        "pismen nerozhoduje), bez podslozek. Vystup ma jmeno zdroje s priponou .fit.\n\n"
        "  -j N       N prevodu najednou (vychozi: jeden na procesor)\n"
        "  -f         nahradi i existujici vystupy (obrazek KVR nikdy)\n"
        "  -q         bez radku s prubehem\n"
        "  --classic  hlavicka jako od torvan bez -i (datum DD/MM/RR)\n"
        "  --help     tato napoveda\n"
        "  --version  verze\n\n"
        "Existujici vystupy preskoci. Kazdy neprevedeny obrazek ma radek s pricinou\n"
        "na standardnim chybovem vystupu, na konci souhrn na standardnim vystupu.\n"
        "Navratova hodnota 0, kdyz se nic nepokazilo, 1 pri chybe obrazku, 2 pri\n"
        "chybe prikazove radky.\n");
}

static int refuseCommandLine(const char* what, const char* argument)
{
    printText(stderr, "%s: %s `%s'\n", PROGRAM, what, argument);
    printText(stderr, "Zkuste `%s --help'.\n", PROGRAM);
    return 0;
}

static int parseWorkers(const char* text, int* workers)
{
    char* end;
    long count = strtol(text, &end, 10);

    if (*text < '0' || *text > '9' || *end != '\0' || count < 1 || count > MOST_IN_FLIGHT)
        return refuseCommandLine("pocet prevodu musi byt 1 az 64, ne", text);
    *workers = (int)count;
    return 1;
}

// Options anywhere before --, in GNU's way; -j takes its number attached or
// next. exitNow is the index of --help or --version, which end the run.
static int parseOptions(int argc, char* argv[], t_options* options, int* exitNow)
{
    int ended = 0;

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (ended || arg[0] != '-' || arg[1] == '\0')
            options->operands.push_back(arg);
        else if (strcmp(arg, "--") == 0)
            ended = 1;
        else if (strcmp(arg, "--help") == 0 || strcmp(arg, "--version") == 0)
            return *exitNow = i;
        else if (strcmp(arg, "-f") == 0)
            options->force = 1;
        else if (strcmp(arg, "-q") == 0)
            options->quiet = 1;
        else if (strcmp(arg, "--classic") == 0)
            options->isoDate = false;
        else if (strncmp(arg, "-j", 2) == 0 && (arg[2] != '\0' || i + 1 < argc)) {
            if (!parseWorkers(arg[2] != '\0' ? arg + 2 : argv[++i], &options->workers))
                return 0;
        } else
            return refuseCommandLine("neznamy prepinac", arg);
    }
    if (options->operands.size() < 2) {
        printText(stderr, "%s: chybi %s\n", PROGRAM,
                  options->operands.empty() ? "zdroj a slozka" : "zdroj nebo slozka");
        printText(stderr, "Zkuste `%s --help'.\n", PROGRAM);
        return 0;
    }
    return 1;
}

// Sorted by the name as FAT and Windows fold it (F0001.fit is f0001.fit),
// outputs that clash stand side by side: a night of thousands takes no longer
// to check than to list.
static void findClashes(std::vector<t_picture>* pictures)
{
    std::vector<std::pair<std::string, size_t>> folded;

    for (size_t i = 0; i < pictures->size(); i++) {
        std::string name = (*pictures)[i].output;
        for (char& c : name)
            c = (char)tolower((unsigned char)c);
        folded.emplace_back(name, i);
    }
    std::sort(folded.begin(), folded.end());
    for (size_t k = 0; k + 1 < folded.size(); k++)
        if (folded[k].first == folded[k + 1].first) {
            t_picture& a = (*pictures)[folded[k].second];
            t_picture& b = (*pictures)[folded[k + 1].second];
            a.clash = b.source.c_str();
            b.clash = a.source.c_str();
        }
}

// Every picture of every source, each once; 0 where a source folder cannot be listed.
static int collectNight(t_night* night, const std::string& folder)
{
    const std::vector<const char*>& operands = night->options->operands;
    std::vector<std::string> sources;
    std::set<std::string> taken;
    int listed = 1;

    for (size_t i = 0; i + 1 < operands.size(); i++)
        if (!collectPictures(operands[i], &sources)) {
            char shown[PATH_BUFFER];
            lineSafe(operands[i], shown, sizeof shown);
            printText(stderr, "%s: slozku `%s' nelze cist\n", PROGRAM, shown);
            listed = 0;
        }
    for (const std::string& source : sources)
        if (taken.insert(source).second)
            night->pictures.push_back({source, outputPath(folder, source), NULL, PENDING});
    findClashes(&night->pictures);
    return listed;
}

// The folder is made where missing, every link on the way judged by the
// kernel's rule, and no folder of another user in a shared folder taken.
static bool openNightFolder(t_night* night, const char* folder)
{
    char shown[PATH_BUFFER];
    t_walk opened = openFolderPath(folder, WALK_MAKE_FOLDERS | WALK_OWN_FOLDERS, &night->folder);

    lineSafe(folder, shown, sizeof shown);
    if (opened == WALK_FOREIGN_FOLDER)
        printText(stderr, "%s: slozka `%s' patri jinemu uzivateli\n", PROGRAM, shown);
    else if (opened == WALK_FOREIGN_LINK)
        printText(stderr, "%s: slozka `%s' vede pres odkaz jineho uzivatele\n", PROGRAM, shown);
    else if (opened != WALK_DONE)
        printText(stderr, "%s: slozku `%s' nelze vytvorit\n", PROGRAM, shown);
    return opened == WALK_DONE;
}

// Under the console's lock: blanks the progress line, so that a report line
// starts at the left edge.
static void clearProgress(t_night* night)
{
    if (night->progress && night->progressWidth > 0)
        printText(stderr, "\r%*s\r", (int)night->progressWidth, "");
    night->progressWidth = 0;
}

// One line on standard error: the picture's name on one line, and why.
static void reportFailure(t_night* night, const t_picture* picture, const char* cause)
{
    char name[PATH_BUFFER];

    lineSafe(picture->source.c_str(), name, sizeof name);
    std::lock_guard<std::mutex> hold(night->console);
    clearProgress(night);
    printText(stderr, "%s: %s\n", name, cause);
}

// In the words kvrinfo uses for the input; the output's own for the output.
static void failureCause(const t_conversion* job, char* words, size_t size)
{
    t_text text = {words, size, 0};
    char out[PATH_BUFFER];

    words[0] = '\0';
    lineSafe(job->out, out, sizeof out);
    switch (job->failure) {
    case FAILED_OUTPUT_OPEN: appendText(&text, "vystup `%s' nelze otevrit", out); break;
    case FAILED_OUTPUT_WRITE: appendText(&text, "do vystupu `%s' nelze zapisovat", out); break;
    case FAILED_OUTPUT_IS_INPUT: appendText(&text, "vystup `%s' je totozny se vstupem", out); break;
    case FAILED_OUTPUT_IS_PICTURE:
        appendText(&text, "vystup `%s' je obrazek KVR a nebude prepsan", out);
        break;
    case FAILED_OUTPUT_IS_FOLDER: appendText(&text, "vystup `%s' je slozka", out); break;
    case FAILED_OUTPUT_FOREIGN:
        appendText(&text, "vystup `%s' existuje a neni prevodem tohoto snimku (-f jej nahradi)",
                   out);
        break;
    default:
        if (job->input.verdict == INPUT_CONVERTS)   // it changed, or failed, while read
            appendText(&text, "nelze cist");
        else
            causeText(&text, &job->input);
        break;
    }
}

static void convertOne(t_night* night, t_picture* picture, t_conversion* job)
{
    char words[VERDICT_TEXT_SIZE], output[PATH_BUFFER], other[PATH_BUFFER];

    if (picture->clash != NULL) {
        lineSafe(picture->output.c_str(), output, sizeof output);
        lineSafe(picture->clash, other, sizeof other);
        t_text text = {words, sizeof words, 0};
        appendText(&text, "stejny vystup `%s' jako `%s'", output, other);
        picture->outcome = FAILED;
        reportFailure(night, picture, words);
        return;
    }
    memset(job, 0, sizeof *job);
    job->inp = picture->source.c_str();
    job->out = picture->output.c_str();
    job->folder = &night->folder;
    job->name = baseName(job->out);
    job->replacing = night->options->force;
    job->isoDate = night->options->isoDate;
    job->umask = night->options->umask;
    t_conversion_result result = convertPicture(job);
    if (result != CONVERSION_FAILED) {
        picture->outcome = result == CONVERSION_DONE ? CONVERTED : SKIPPED;
    } else if (job->failure != FAILED_INTERRUPTED) {
        picture->outcome = FAILED;
        failureCause(job, words, sizeof words);
        reportFailure(night, picture, words);
    }
}

// A worker takes the next picture until none is left or the run is interrupted.
static void work(t_night* night, t_conversion* job)
{
    while (interruptedBy() == 0) {
        size_t i = night->next++;
        if (i >= night->pictures.size())
            break;
        convertOne(night, &night->pictures[i], job);
        night->done++;
    }
}

static void drawProgress(t_night* night, std::chrono::steady_clock::time_point start)
{
    char line[160];
    uint64_t done = night->done, total = night->pictures.size();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double rate = seconds > 0 ? done / seconds : 0;
    unsigned left = rate > 0 ? (unsigned)((total - done) / rate + 0.5) : 0;

    int length = snprintf(line, sizeof line, "%" PRIu64 "/%" PRIu64 " snimku, %.1f snimku/s, "
                          "zbyva ", done, total, rate);
    if (length > 0 && length < (int)sizeof line)   // nothing to tell from before the first
        length += snprintf(line + length, sizeof line - length, done > 0 ? "%u:%02u" : "?",
                           left / 60, left % 60);
    std::lock_guard<std::mutex> hold(night->console);
    clearProgress(night);
    printText(stderr, "%s", line);
    night->progressWidth = (size_t)length;
}

// The workers convert, each in a room of its own (half a MiB: fixed memory
// per conversion); this thread redraws the progress line a few times a second.
static int convertNight(t_night* night)
{
    std::vector<std::thread> workers;
    size_t count = std::min((size_t)night->options->workers, night->pictures.size());
    // One more, so that an empty night asks for memory too and gets it.
    t_conversion* jobs = (t_conversion*)calloc(count + 1, sizeof *jobs);
    auto start = std::chrono::steady_clock::now();

    if (jobs == NULL)
        return 0;
    for (size_t i = 0; i < count; i++)
        workers.emplace_back(work, night, &jobs[i]);
    // Drawn at once, then four times a second; the end is noticed sooner.
    for (int step = 0; night->progress && night->done < night->pictures.size() &&
                       interruptedBy() == 0; step++) {
        if (step % 10 == 0)
            drawProgress(night, start);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    for (std::thread& worker : workers)
        worker.join();
    free(jobs);
    std::lock_guard<std::mutex> hold(night->console);
    clearProgress(night);
    return 1;
}

// Pictures left by an interrupt are counted in the whole only.
static int printSummary(const t_night* night)
{
    uint64_t counts[FAILED + 1] = {};

    for (const t_picture& picture : night->pictures)
        counts[picture.outcome]++;
    printText(stdout, "prevedeno %" PRIu64 ", preskoceno %" PRIu64 ", selhalo %" PRIu64
              ", celkem %" PRIu64 "\n", counts[CONVERTED], counts[SKIPPED], counts[FAILED],
              (uint64_t)night->pictures.size());
    return counts[FAILED] == 0 && fflush(stdout) == 0 && !ferror(stdout);
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
        return 2;
    if (exitNow != 0) {
        if (strcmp(argv[exitNow], "--help") == 0)
            printHelp();
        else
            printText(stdout, "%s (TORVAN) %s\n", PROGRAM, TORVAN_VERSION);
        return fflush(stdout) == 0 ? 0 : 1;
    }
    const char* folder = options.operands.back();
    night.options = &options;
    int listed = collectNight(&night, folder);
    if (!night.pictures.empty() && !openNightFolder(&night, folder))
        return 1;
    deferInterrupts();
    ignoreFileSizeLimit();
    night.progress = !options.quiet && isTerminal(stderr);
    if (!convertNight(&night)) {
        printText(stderr, "%s: nedostatek pameti\n", PROGRAM);
        return 1;
    }
    int fine = printSummary(&night) && listed;
    if (interruptedBy() != 0)
        endAsInterrupted(interruptedBy());
    return fine ? 0 : 1;
}
