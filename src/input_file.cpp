#include "input_file.h"

#include "kvr_header.h"

// A FIFO, a device or a folder is refused by its path, never opened: opening
// a FIFO would release a program waiting to write into it.
static int judgePath(t_input* input, const char* path)
{
    int kind = fileKind(path);

    if (kind == KIND_FOLDER)
        input->verdict = INPUT_FOLDER;
    else if (kind == KIND_SPECIAL)
        input->verdict = INPUT_SPECIAL;
    return kind != KIND_FOLDER && kind != KIND_SPECIAL;
}

// Its kind and state come from the open file before a byte is read, for the
// moment between the path's judgement and the open.
static int judgeOpenFile(t_input* input)
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

int openInput(t_input* input, const char* path, char* buffer)
{
    input->verdict = INPUT_UNOPENED;
    if (!judgePath(input, path))
        return 0;
    input->stream = openForReading(path);
    if (input->stream == NULL)
        return 0;
    if (buffer != NULL)
        setvbuf(input->stream, buffer, _IOFBF, STREAM_BUFFER);
    if (judgeOpenFile(input))
        return 1;
    closeInput(input);
    return 0;
}

int readSamples(t_input* input, unsigned char* block, int count)
{
    return fread(block, KVR_SAMPLE_SIZE, count, input->stream) == (size_t)count;
}

// Even to the same size: any write moves the change time.
int inputUnchanged(t_input* input)
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
