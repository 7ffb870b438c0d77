#include "conversion.h"

#include <cerrno>
#include <cstring>

#include "calendar.h"
#include "fits_checksum.h"
#include "fits_writer.h"
#include "interrupts.h"
#include "kvr_header.h"

static t_conversion_result failConversion(t_conversion* job, t_conversion_failure failure)
{
    job->failure = failure;
    closeInput(&job->input);
    discardOutput(&job->output);
    return CONVERSION_FAILED;
}

// A folder, or a file shorter than its header, cannot be read as a picture;
// anything else that is no regular file has no size to match.
static t_conversion_failure inputFailure(t_input_verdict verdict)
{
    switch (verdict) {
    case INPUT_UNOPENED: case INPUT_FOREIGN_LINK: return FAILED_INPUT_OPEN;
    case INPUT_FOLDER: case INPUT_UNREADABLE: return FAILED_INPUT_READ;
    default: return FAILED_INPUT_FORMAT;
    }
}

static t_conversion_failure outputFailure(t_output_failure failure)
{
    switch (failure) {
    case OUTPUT_UNWRITABLE: return FAILED_OUTPUT_WRITE;
    case OUTPUT_IS_INPUT: return FAILED_OUTPUT_IS_INPUT;
    case OUTPUT_IS_PICTURE: return FAILED_OUTPUT_IS_PICTURE;
    case OUTPUT_IS_FOLDER: return FAILED_OUTPUT_IS_FOLDER;
    case OUTPUT_TAKEN: return FAILED_OUTPUT_FOREIGN;
    default: return FAILED_OUTPUT_OPEN;
    }
}

// Whether the runner's own regular file called name holds exactly what this
// run would write: its size, and its header block byte for byte.
static bool holdsThisConversion(t_conversion* job, const t_folder* folder)
{
    FILE* standing = openInFolder(folder, job->name);
    t_file_state state;
    bool same = standing != NULL && regularFileState(standing, &state) &&
                ownedByRunner(standing) &&
                state.size == fitsSize(sampleCount(&job->input.header)) &&
                fread(job->block, 1, FITS_BLOCK, standing) == FITS_BLOCK &&
                sameHeader(job->block, job->header);

    if (standing != NULL)
        fclose(standing);
    return same;
}

// An output that stands and is not to be replaced is skipped only where it is
// this run's own conversion of the picture; anything else there is a failure.
static t_conversion_result judgeStanding(t_conversion* job, const t_folder* folder)
{
    composeHeader(&job->input.header, job->inp, &job->plan, &job->utc, job->header);
    if (!holdsThisConversion(job, folder))
        return failConversion(job, FAILED_OUTPUT_FOREIGN);
    closeInput(&job->input);
    discardOutput(&job->output);
    return CONVERSION_SKIPPED;
}

// The capture time in UTC by the station's clock, where its date is one the
// calendar has.
static bool timeInUtc(t_conversion* job)
{
    const t_kvr_header* header = &job->input.header;
    t_station_clock asRead = {};

    if (job->realDates && !dateExists(header->year, header->month, header->day)) {
        job->failure = FAILED_NO_SUCH_DATE;
        return false;
    }
    job->reading = readClock(job->clock != NULL ? job->clock : &asRead, header, job->pass,
                             &job->utc, &job->resolution);
    job->failure = FAILED_CLOCK;
    return job->reading == READING_IN_UTC;
}

static bool openTheOutput(t_conversion* job, const t_folder* folder)
{
    t_input* input = &job->input;
    uint64_t size = fitsSize(sampleCount(&input->header));
    // A copy of the night's picture is as private as the picture; torvan's
    // output is made as any new file.
    t_new_mode mode = {job->folder != NULL ? input->state.mode : 0666, job->umask};

    if (job->folder == NULL)
        return openOutput(&job->output, job->out, size, &input->identity, &mode, job->outBuffer);
    return openOutputIn(&job->output, folder, job->name, job->replacing, size,
                        &input->identity, &mode, job->outBuffer);
}

static bool writeBlock(t_conversion* job, const unsigned char* block)
{
    if (fwrite(block, 1, FITS_BLOCK, job->output.stream) == FITS_BLOCK)
        return true;
    job->output.cause = errno;
    return false;
}

// The checksums cover the data: the header's block is left for later, and
// written, sealed, once the data is.
static bool skipHeader(t_conversion* job)
{
    if (fseek(job->output.stream, FITS_BLOCK, SEEK_SET) == 0)
        return true;
    job->output.cause = errno;
    return false;
}

static bool sealOutput(t_conversion* job, uint32_t dataSum)
{
    sealHeader(job->header, dataSum);
    if (fseek(job->output.stream, 0, SEEK_SET) == 0)
        return writeBlock(job, job->header);
    job->output.cause = errno;
    return false;
}

// Exactly the announced samples, through one block. A short or failed read
// means the input changed after its size was checked: the output must not
// pretend otherwise.
static t_conversion_result writeData(t_conversion* job)
{
    uint64_t samples = sampleCount(&job->input.header);
    uint32_t dataSum = 0;

    while (samples > 0) {
        int count = samples < BLOCK_HALF ? (int)samples : BLOCK_HALF;
        if (interruptedBy() != 0)
            return failConversion(job, FAILED_INTERRUPTED);
        if (!readSamples(&job->input, job->block, count))
            return failConversion(job, FAILED_INPUT_READ);
        if (job->plan.science)
            dataSum = addSums(dataSum, composeSummedDataBlock(job->block, count));
        else
            composeDataBlock(job->block, count);
        if (!writeBlock(job, job->block))
            return failConversion(job, FAILED_OUTPUT_WRITE);
        samples -= count;
    }
    if (job->plan.science && !sealOutput(job, dataSum))
        return failConversion(job, FAILED_OUTPUT_WRITE);
    return CONVERSION_DONE;
}

// The name in the night's folder is judged, never followed, before anything
// else; the input is judged in full before the output is touched, and the
// output takes its name only once every byte of it is written.
t_conversion_result convertPicture(t_conversion* job)
{
    t_input* input = &job->input;
    const t_folder* folder = job->folder != NULL ? standingFolder(job->folder) : NULL;
    t_entry standing = {};

    if (folder != NULL) {
        judgeEntry(folder, job->name, &standing);
        if (standing.kind == ENTRY_FOLDER)
            return failConversion(job, FAILED_OUTPUT_IS_FOLDER);
    }
    if (!openInput(input, job->inp, job->inBuffer))
        return failConversion(job, inputFailure(input->verdict));
    if (!timeInUtc(job))
        return failConversion(job, job->failure);
    if (standing.kind != ENTRY_NONE && !job->replacing)
        return judgeStanding(job, folder);
    if (job->dryRun) {
        if (!folderUsable(job->folder))
            return failConversion(job, FAILED_OUTPUT_FOLDER);
        closeInput(input);
        return CONVERSION_DONE;
    }
    if (job->folder != NULL && folder == NULL && (folder = madeFolder(job->folder)) == NULL)
        return failConversion(job, FAILED_OUTPUT_FOLDER);
    if (!openTheOutput(job, folder))
        return failConversion(job, outputFailure(job->output.failure));
    composeHeader(&input->header, job->inp, &job->plan, &job->utc, job->header);
    if (!(job->plan.science ? skipHeader(job) : writeBlock(job, job->header)))
        return failConversion(job, FAILED_OUTPUT_WRITE);
    if (writeData(job) != CONVERSION_DONE)
        return CONVERSION_FAILED;
    // A picture rewritten meanwhile, even to the same size, is not the one read.
    if (!inputUnchanged(input))
        return failConversion(job, FAILED_INPUT_READ);
    if (!commitOutput(&job->output)) {
        // Something came to a free name meanwhile: judged as if it stood before.
        if (job->output.failure == OUTPUT_TAKEN)
            return judgeStanding(job, folder);
        return failConversion(job, outputFailure(job->output.failure));
    }
    closeInput(input);
    return CONVERSION_DONE;
}
