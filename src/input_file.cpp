#include "input_file.h"

#include "kvr_header.h"

// What stands at the path when it is no regular file to open.
static t_input_verdict unopened(t_file_kind kind)
{
    switch (kind) {
    case KIND_FOLDER: return INPUT_FOLDER;
    case KIND_SPECIAL: return INPUT_SPECIAL;
    case KIND_FOREIGN_LINK: return INPUT_FOREIGN_LINK;
    default: return INPUT_UNOPENED;
    }
}

// Its kind and state come from the open file before a byte is read, for the
// moment between the path's judgement and the open.
static bool judgeOpenFile(t_input* input)
{
    unsigned char bytes[KVR_HEADER_SIZE];

    if (!regularFileState(input->stream, &input->state))
        input->verdict = isFolder(input->stream) ? INPUT_FOLDER : INPUT_SPECIAL;
    else if (fread(bytes, 1, sizeof bytes, input->stream) != sizeof bytes)
        input->verdict = INPUT_UNREADABLE;
    else {
        decodeHeader(bytes, &input->header);
        input->verdict = judgeHeader(&input->header, input->state.size);
    }
    if (input->verdict == INPUT_CONVERTS && !fileIdentity(input->stream, &input->identity))
        input->verdict = INPUT_UNREADABLE;
    return input->verdict == INPUT_CONVERTS;
}

bool openInput(t_input* input, const char* path, char* buffer)
{
    t_file_kind kind;

    input->stream = openForReading(path, &kind);
    input->verdict = unopened(kind);
    if (input->stream == NULL)
        return false;
    if (buffer != NULL)
        setvbuf(input->stream, buffer, _IOFBF, STREAM_BUFFER);
    if (judgeOpenFile(input))
        return true;
    closeInput(input);
    return false;
}

bool readSamples(t_input* input, unsigned char* block, int count)
{
    return fread(block, KVR_SAMPLE_SIZE, count, input->stream) == (size_t)count;
}

// Even to the same size: any write moves the change time.
bool inputUnchanged(t_input* input)
{
    t_file_state now;

    return regularFileState(input->stream, &now) && sameFileState(&input->state, &now);
}

void closeInput(t_input* input)
{
    if (input->stream != NULL)
        fclose(input->stream);
    input->stream = NULL;
}
