#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "interrupts.h"
#include "os_files.h"

// A leftover after a power loss or SIGKILL names its output: .m31.fit.Xq3z9A
static const char NAME_LETTERS[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int LETTER_COUNT = sizeof NAME_LETTERS - 1;
constexpr int SUFFIX_LENGTH = 6;
constexpr int MOST_ATTEMPTS = 100;
// Keeps the temporary name within the 255 bytes a file name may have.
constexpr int MOST_NAME_BYTES = 200;

static int chooseTemporaryName(t_output* output, int attempt)
{
    const char* name = baseName(output->target);
    int folderLength = (int)(name - output->target);
    int nameLength = (int)strlen(name);
    char suffix[SUFFIX_LENGTH + 1];
    // The time and where the system placed this run's stack make names differ
    // from run to run; a name already taken is tried again.
    uint64_t bits = ((uint64_t)time(NULL) ^ (uintptr_t)output) + attempt;

    if (nameLength > MOST_NAME_BYTES) {
        nameLength = MOST_NAME_BYTES;
        while (nameLength > 0 && ((unsigned char)name[nameLength] & 0xC0) == 0x80)
            nameLength--;   // not inside a UTF-8 character
    }
    for (int i = 0; i < SUFFIX_LENGTH; i++, bits /= LETTER_COUNT)
        suffix[i] = NAME_LETTERS[bits % LETTER_COUNT];
    suffix[SUFFIX_LENGTH] = '\0';
    int length = snprintf(output->temporary, sizeof output->temporary, "%.*s.%.*s.%s",
                          folderLength, output->target, nameLength, name, suffix);
    return length > 0 && length < (int)sizeof output->temporary;
}

// Created and armed with no interrupt in between: no empty file is left behind.
static FILE* createTemporary(t_output* output)
{
    FILE* stream = NULL;

    holdInterrupts();
    for (int attempt = 0; stream == NULL && attempt < MOST_ATTEMPTS; attempt++) {
        if (!chooseTemporaryName(output, attempt))
            break;
        stream = createNewFile(output->temporary, output->target);
        if (stream == NULL && errno != EEXIST)
            break;
    }
    if (stream != NULL)
        armInterruptCleanup(output->temporary);
    releaseInterrupts();
    return stream;
}

// The temporary file stands beside the file that the output path leads to,
// so that a symbolic link stays and leads to the new file. Where no file can
// be made there, the output is not opened.
static FILE* openBeside(t_output* output, const char* out)
{
    if (!resolveLinks(out, output->target, sizeof output->target) || !mayReplace(output->target))
        return NULL;
    return createTemporary(output);
}

int openOutput(t_output* output, const char* out, uint64_t size)
{
    static char outBuffer[STREAM_BUFFER];

    ignoreFileSizeLimit();
    output->direct = isSpecialFile(out) || namesStandardOutput(out);
    output->stream = output->direct ? openForWriting(out) : openBeside(output, out);
    if (output->stream == NULL)
        return 0;
    setvbuf(output->stream, outBuffer, _IOFBF, sizeof outBuffer);
    if (!output->direct)
        reserveSpace(output->stream, size);
    return 1;
}

// The temporary file is the one file this program ever deletes.
static void removeTemporary(t_output* output)
{
    removeFile(output->temporary);
    disarmInterruptCleanup();
}

// Closing writes the last buffered bytes, which may still meet a full medium.
int commitOutput(t_output* output)
{
    int closed = fclose(output->stream) == 0;

    if (output->direct)
        return closed;
    if (!closed || !replaceFile(output->temporary, output->target)) {
        removeTemporary(output);
        return 0;
    }
    disarmInterruptCleanup();
    return 1;
}

void discardOutput(t_output* output)
{
    fclose(output->stream);
    if (!output->direct)
        removeTemporary(output);
}
