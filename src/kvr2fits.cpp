// KVR2FITS: converts a night of KVR pictures, or a tree of nights, into a folder
// of FITS files, several at once, each as torvan converts one, with the cards
// science asks for; says what failed and why.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "calendar.h"
#include "conversion.h"
#include "interrupts.h"
#include "night.h"
#include "night_options.h"
#include "os/system.h"
#include "progress.h"
#include "text_rules.h"
#include "verdict_text.h"

static const char PROGRAM[] = "kvr2fits";

// What became of a picture; one never taken, or given up, is not converted.
enum t_outcome { CONVERTED, SKIPPED, FAILED, NOT_CONVERTED, OUTCOMES };

// Shared by the workers: the plan and its folders, the next picture to take,
// the counts and the console.
struct t_night {
    t_night_plan plan;
    const t_night_options* options;
    uint32_t umask;
    std::mutex folderLock;
    std::vector<t_output_folder> folders;
    std::vector<t_pass> passes;         // each picture's in an hour the clock shows twice
    std::atomic<size_t> next;
    std::atomic<uint64_t> counts[OUTCOMES];
    std::atomic<int> working;           // workers not yet done
    std::atomic<bool> stopped;          // an output folder failed: nothing more is begun
    t_console console;
};

// One line on standard error, or in a dry run on standard output: what it is
// about, on one line, and why.
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
        lineSafe(note.operand.c_str(), shown, sizeof shown);
        appendText(&text, "slozku `%s' nelze cist", shown);
        if (note.found == SOURCE_UNLISTABLE)
            report(night, PROGRAM, words);
        else
            report(night, note.operand.c_str(), note.subfolders
                   ? "zadny obrazek KVR; podslozky se neprohledavaji" : "zadny obrazek KVR");
    }
    return night->plan.notes.empty();
}

// The first failure of an output folder is said once and stops the night.
static t_outcome stopNight(t_night* night, const char* words)
{
    if (!night->stopped.exchange(true))
        report(night, PROGRAM, words);
    return NOT_CONVERTED;
}

// What a dry run says of a picture that would be converted or skipped.
static void reportDry(t_night* night, const t_picture* picture, t_conversion_result result)
{
    char output[PATH_BUFFER], words[VERDICT_TEXT_SIZE];
    t_text text = {words, sizeof words, 0};

    lineSafe(picture->output.c_str(), output, sizeof output);
    appendText(&text, result == CONVERSION_DONE ? "prevede do `%s'"
                                                : "preskoci: `%s' uz je jeho prevod", output);
    report(night, picture->source.c_str(), words);
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
    job->folder = &night->folders[picture->folder];
    job->name = job->out + picture->name;
    job->replacing = night->options->force;
    job->dryRun = night->options->dryRun;
    job->plan = night->options->plan;
    job->realDates = job->plan.science;
    job->clock = &night->options->clock;
    job->pass = night->passes[picture - night->plan.pictures.data()];
    job->umask = night->umask;
    t_conversion_result result = convertPicture(job);
    if (result != CONVERSION_FAILED && job->dryRun)
        reportDry(night, picture, result);
    if (result != CONVERSION_FAILED)
        return result == CONVERSION_DONE ? CONVERTED : SKIPPED;
    if (job->failure == FAILED_INTERRUPTED)
        return NOT_CONVERTED;
    lineSafe(job->folder->path, folder, sizeof folder);
    if (folderFailureText(&text, job, folder))
        return stopNight(night, words);
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
        const t_picture* picture = &night->plan.pictures[i];
        night->counts[convertOne(night, picture, job)]++;
        releaseOutputFolder(&night->folders[picture->folder]);
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

    printText(stdout, "%sprevedeno %" PRIu64 ", preskoceno %" PRIu64 ", selhalo %" PRIu64
              ", celkem %" PRIu64, night->options->dryRun ? "nanecisto: " : "", converted,
              skipped, failed, total);
    if (left > 0)
        printText(stdout, ", neprevedeno %" PRIu64, left);
    printText(stdout, "%s\n", interruptedBy() != 0 ? ", preruseno" : "");
    bool written = fflush(stdout) == 0 && !ferror(stdout);
    return written && failed == 0 && left == 0;
}

// The night's output folders, each with its number of pictures.
static void holdFolders(t_night* night)
{
    for (const std::string& path : night->plan.folders)
        night->folders.push_back({path.c_str(), &night->folderLock, 0, FOLDER_UNTRIED, WALK_DONE,
                                  0, NULL});
    for (const t_picture& picture : night->plan.pictures)
        night->folders[picture.folder].pictures++;
}

// With a zone's clock, every picture's capture time is read before the work:
// the night's order tells the passes through an hour the clock shows twice.
static void orderNight(t_night* night)
{
    const std::vector<t_picture>& pictures = night->plan.pictures;
    std::vector<t_kvr_header> headers(pictures.size());
    std::vector<t_ordered_frame> frames;

    night->passes.assign(pictures.size(), PASS_UNKNOWN);
    for (size_t i = 0; night->options->clock.kind == CLOCK_ZONE && i < pictures.size(); i++) {
        t_input input = {};
        const t_kvr_header* h = &input.header;
        if (openInput(&input, pictures[i].source.c_str(), NULL) &&
            dateExists(h->year, h->month, h->day)) {
            headers[i] = input.header;
            frames.push_back({i, pictures[i].night, &headers[i]});
        }
        closeInput(&input);
    }
    orderPasses(&night->options->clock, frames, &night->passes);
}

static int finish(int status)
{
    keepConsoleOpen();
    return status;
}

int main(int argc, char* argv[])
{
    t_night_options options = {};
    t_night night{};
    char words[REFUSAL_TEXT_SIZE] = "";

    utf8Arguments(&argc, &argv);
    night.umask = creationMask();
    switch (parseNightOptions(argc, argv, &options, words)) {
    case COMMAND_REFUSED:
        printText(stderr, "%s: %s\nZkuste `%s --help'.\n", PROGRAM, words, PROGRAM);
        return finish(2);
    case COMMAND_HELP: printNightHelp(); return finish(fflush(stdout) == 0 ? 0 : 1);
    case COMMAND_VERSION:
        printText(stdout, "%s (TORVAN) %s\n", PROGRAM, TORVAN_VERSION);
        return finish(fflush(stdout) == 0 ? 0 : 1);
    default: break;
    }
    night.options = &options;
    night.console.stream = options.dryRun ? stdout : stderr;
    std::vector<const char*> sources(options.operands.begin(), options.operands.end() - 1);
    planNight(sources, options.operands.back(), options.recursive, &night.plan);
    holdFolders(&night);
    orderNight(&night);
    bool found = reportSources(&night);
    deferInterrupts();
    ignoreFileSizeLimit();
    night.console.drawing = !options.quiet && !options.dryRun && isTerminal(stderr);
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
    freeNightOptions(&options);
    return finish(fine ? 0 : 1);
}
