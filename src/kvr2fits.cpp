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

#include "conversion.h"
#include "interrupts.h"
#include "night_job.h"
#include "os/system.h"

static const char PROGRAM[] = "kvr2fits";

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
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    return {night->counts[CONVERTED], night->counts[SKIPPED], night->counts[FAILED],
            night->plan.pictures.size(), seconds.count()};
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

    keepStandardDescriptors();
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
    night.passes.assign(night.plan.pictures.size(), PASS_UNKNOWN);
    night.ordered.assign(night.plan.nights + 1, false);
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
    for (t_output_folder& folder : night.folders)
        closeOutputFolder(&folder);
    freeNightOptions(&options);
    return finish(fine ? 0 : 1);
}
