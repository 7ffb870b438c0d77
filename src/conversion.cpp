#include "conversion.h"

#include "fits_writer.h"
#include "interrupts.h"
#include "kvr_header.h"

static int failConversion(t_conversion* job, int failure)
{
    job->failure = failure;
    closeInput(&job->input);
    discardOutput(&job->output);
    return 0;
}

// A folder, or a file shorter than its header, cannot be read as a picture;
// anything else that is no regular file has no size to match.
static int inputFailure(int verdict)
{
    switch (verdict) {
    case INPUT_UNOPENED: return FAILED_INPUT_OPEN;
    case INPUT_FOLDER: case INPUT_UNREADABLE: return FAILED_INPUT_READ;
    default: return FAILED_INPUT_FORMAT;
    }
}

static int outputFailure(int failure)
{
    switch (failure) {
    case OUTPUT_UNWRITABLE: return FAILED_OUTPUT_WRITE;
    case OUTPUT_IS_INPUT: return FAILED_OUTPUT_IS_INPUT;
    case OUTPUT_IS_PICTURE: return FAILED_OUTPUT_IS_PICTURE;
    default: return FAILED_OUTPUT_OPEN;
    }
}

static int writeBlock(t_conversion* job)
{
    return fwrite(job->block, 1, FITS_BLOCK, job->output.stream) == FITS_BLOCK;
}

// Exactly the announced samples, through one block. A short or failed read
// means the input changed after its size was checked: the output must not
// pretend otherwise.
static int writeData(t_conversion* job)
{
    uint64_t samples = sampleCount(&job->input.header);

    while (samples > 0) {
        int count = samples < BLOCK_HALF ? (int)samples : BLOCK_HALF;
        if (interruptedBy() != 0)
            return failConversion(job, FAILED_INTERRUPTED);
        if (!readSamples(&job->input, job->block, count))
            return failConversion(job, FAILED_INPUT_READ);
        composeDataBlock(job->block, count);
        if (!writeBlock(job))
            return failConversion(job, FAILED_OUTPUT_WRITE);
        samples -= count;
    }
    return 1;
}

// The input is judged in full before the output path is touched, and the
// output takes its name only once every byte of it is written.
int convertPicture(t_conversion* job)
{
    t_input* input = &job->input;

    if (!openInput(input, job->inp, job->inBuffer))
        return failConversion(job, inputFailure(input->verdict));
    if (!openOutput(&job->output, job->out, fitsSize(sampleCount(&input->header)),
                    &input->identity, job->outBuffer))
        return failConversion(job, outputFailure(job->output.failure));
    composeHeader(&input->header, job->inp, job->isoDate, job->block);
    if (!writeBlock(job))
        return failConversion(job, FAILED_OUTPUT_WRITE);
    if (!writeData(job))
        return 0;
    // A picture rewritten meanwhile, even to the same size, is not the one read.
    if (!inputUnchanged(input))
        return failConversion(job, FAILED_INPUT_READ);
    if (!commitOutput(&job->output))
        return failConversion(job, outputFailure(job->output.failure));
    closeInput(input);
    return 1;
}
