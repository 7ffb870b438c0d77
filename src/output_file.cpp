#include "output_file.h"

#include <cerrno>

#include "kvr_header.h"

static int fail(t_output* output, int failure)
{
    output->failure = failure;
    return 0;
}

// Whether the file f begins as a raw picture; closes it. unreadable tells a
// failed read, after which it may be one all the same.
static int closeIfPicture(FILE* f, int* unreadable)
{
    char magic[KVR_MAGIC_LENGTH];
    size_t length = fread(magic, 1, sizeof magic, f);

    *unreadable = ferror(f);
    fclose(f);
    return isKvrMagic(magic, length);
}

// Neither the input, whatever path leads to it, nor a raw picture, which
// could not be made again, is ever replaced; nor a file that cannot be read,
// which may be one.
static int mayOverwrite(t_output* output)
{
    t_file_identity standing;
    int unreadable;

    if (identityInFolder(&output->folder, output->name, &standing) &&
        sameIdentity(&standing, &output->input))
        return fail(output, OUTPUT_IS_INPUT);
    FILE* older = openInFolder(&output->folder, output->name);
    if (older == NULL)
        return errno == ENOENT || fail(output, OUTPUT_UNOPENED);
    int picture = closeIfPicture(older, &unreadable);
    if (unreadable)
        return fail(output, OUTPUT_UNOPENED);
    return !picture || fail(output, OUTPUT_IS_PICTURE);
}

// Standard output appended to a raw picture would spoil it as surely as
// replacing it. Only a regular file is read: a pipe must not lose its data.
static int heldFileIsPicture(FILE* stream, const char* out)
{
    t_file_state state;
    int unreadable;
    FILE* standing = regularFileState(stream, &state) ? openForReading(out) : NULL;

    return standing != NULL && closeIfPicture(standing, &unreadable);
}

// The new file stands in the folder of the file that the output path leads
// to, so that a symbolic link stays and leads to it. Where no file can be
// made there, or it cannot take the owner's place, the output is not opened.
static int openBeside(t_output* output, const char* out)
{
    if (!resolveLinks(out, output->target, sizeof output->target))
        return fail(output, OUTPUT_UNOPENED);
    output->held = openFolder(output->target, &output->folder);
    output->name = baseName(output->target);
    if (!output->held || *output->name == '\0' || !mayReplace(&output->folder, output->name))
        return fail(output, OUTPUT_UNOPENED);
    if (!mayOverwrite(output))
        return 0;
    if (!createReplacement(&output->replacement, &output->folder, output->name))
        return fail(output, OUTPUT_UNOPENED);
    output->stream = output->replacement.stream;
    return giveOwner(output->stream, &output->folder, output->name, &output->ownerKept) ||
           fail(output, OUTPUT_UNOPENED);
}

// An output path that leads to a descriptor the run holds is written through
// it: never reopened, replaced or deleted.
static int openHeld(t_output* output, int fd, const char* out)
{
    output->direct = 1;
    output->stream = openDescriptor(fd);
    if (output->stream == NULL)
        return fail(output, OUTPUT_UNOPENED);
    return !heldFileIsPicture(output->stream, out) || fail(output, OUTPUT_IS_PICTURE);
}

int openOutput(t_output* output, const char* out, uint64_t size, const t_file_identity* input,
               char* buffer)
{
    int fd = heldDescriptor(out);

    output->input = *input;
    if (isForbiddenOutput(out))
        return fail(output, OUTPUT_UNOPENED);
    if (pathIsFile(out, input))
        return fail(output, OUTPUT_IS_INPUT);
    if (fd >= 0) {
        if (!openHeld(output, fd, out))
            return 0;
    } else if (isSpecialFile(out)) {
        output->direct = 1;
        output->stream = openForWriting(out);
        if (output->stream == NULL)
            return fail(output, OUTPUT_UNOPENED);
    } else if (!openBeside(output, out)) {
        return 0;
    }
    setvbuf(output->stream, buffer, _IOFBF, STREAM_BUFFER);
    if (!output->direct)
        reserveSpace(output->stream, size);
    return 1;
}

static int closeOutput(t_output* output)
{
    int closed = fclose(output->stream) == 0;

    output->stream = NULL;
    return closed || fail(output, OUTPUT_UNWRITABLE);
}

// The last buffered bytes may still meet a full medium: the flush is checked
// before the close, which not every C runtime reports. The new file gets its
// final mode only when every byte is in it, and every check comes before it
// is named. A rename refused for a reason known before the work (another
// program holds the older output, or we may not replace it) says so.
int commitOutput(t_output* output)
{
    if (fflush(output->stream) != 0)
        return fail(output, OUTPUT_UNWRITABLE);
    if (output->direct)
        return closeOutput(output);
    if (!giveAttributes(output->stream, &output->folder, output->name,
                        output->replacement.unnamed, output->ownerKept))
        return fail(output, OUTPUT_UNOPENED);
    if (!mayOverwrite(output))
        return 0;
    output->stream = NULL;
    if (!commitReplacement(&output->replacement)) {
        int refused = errno == EACCES || errno == EPERM || errno == EBUSY;
        return fail(output, refused ? OUTPUT_UNOPENED : OUTPUT_UNWRITABLE);
    }
    discardOutput(output);
    return 1;
}

void discardOutput(t_output* output)
{
    if (output->direct && output->stream != NULL)
        fclose(output->stream);
    output->stream = NULL;
    abandonReplacement(&output->replacement);
    if (output->held)
        closeFolder(&output->folder);
    output->held = 0;
}
