#include "night_job.h"

#include <cstddef>
#include <cstring>

#include "text_rules.h"
#include "verdict_text.h"

static const char PROGRAM[] = "kvr2fits";

// A picture's pass through an hour the clock shows twice, told by its night's
// order: read only for a night where a picture is found in such an hour, so
// that a night without one costs nothing.
static t_pass passOf(t_night* night, const t_picture* picture, bool order)
{
    std::lock_guard<std::mutex> hold(night->orderLock);
    if (order && !night->ordered[picture->night]) {
        planPasses(&night->plan, &night->options->clock, picture->night, &night->passes);
        night->ordered[picture->night] = true;
    }
    return night->passes[picture - night->plan.pictures.data()];
}

static t_conversion_result convertInOrder(t_night* night, const t_picture* picture,
                                          t_conversion* job)
{
    job->pass = passOf(night, picture, false);
    t_conversion_result result = convertPicture(job);
    if (result != CONVERSION_FAILED || job->failure != FAILED_CLOCK ||
        job->reading != READING_REPEATED || job->pass != PASS_UNKNOWN)
        return result;
    job->pass = passOf(night, picture, true);
    if (job->pass == PASS_UNKNOWN)
        return result;
    job->input = {}, job->output = {};   // as before the first try: nothing was opened
    return convertPicture(job);
}

bool reportSources(t_night* night)
{
    for (const t_source_note& note : night->plan.notes) {
        char words[VERDICT_TEXT_SIZE];
        t_text text = {words, sizeof words, 0};
        sourceText(&text, &note);
        printAbout(&night->console, note.found == SOURCE_UNLISTABLE ? PROGRAM
                                                                     : note.operand.c_str(), words);
    }
    return night->plan.notes.empty();
}

// The first failure of an output folder is said once and stops the night.
static t_outcome stopNight(t_night* night, const char* words)
{
    if (!night->stopped.exchange(true))
        printAbout(&night->console, PROGRAM, words);
    return NOT_CONVERTED;
}

t_outcome convertOne(t_night* night, const t_picture* picture, t_conversion* job)
{
    char words[VERDICT_TEXT_SIZE], folder[PATH_BUFFER];
    t_text text = {words, sizeof words, 0};

    if (picture->clash != NULL) {
        clashText(&text, picture);
        printAbout(&night->console, picture->source.c_str(), words);
        return FAILED;
    }
    // The buffers need no zeros: half a MiB less to clear for every picture.
    memset(job, 0, offsetof(t_conversion, inBuffer));
    job->inp = picture->source.c_str();
    job->out = picture->output.c_str();
    job->folder = &night->folders[picture->folder];
    job->name = job->out + picture->name;
    job->replacing = night->options->force;
    job->dryRun = night->options->dryRun;
    job->plan = night->options->plan;
    job->realDates = job->plan.science;
    job->clock = &night->options->clock;
    job->umask = night->umask;
    t_conversion_result result = convertInOrder(night, picture, job);
    if (result != CONVERSION_FAILED && job->dryRun) {
        dryRunText(&text, picture, result);
        printAbout(&night->console, picture->source.c_str(), words);
    }
    if (result != CONVERSION_FAILED)
        return result == CONVERSION_DONE ? CONVERTED : SKIPPED;
    if (job->failure == FAILED_INTERRUPTED)
        return NOT_CONVERTED;
    lineSafe(job->folder->path, folder, sizeof folder);
    if (folderFailureText(&text, job, folder))
        return stopNight(night, words);
    failureText(&text, job);
    printAbout(&night->console, picture->source.c_str(), words);
    return FAILED;
}

