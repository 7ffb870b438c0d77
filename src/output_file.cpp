#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "interrupts.h"
#include "kvr_reader.h"
#include "text_rules.h"

// A leftover after a power loss or SIGKILL names its output: .m31.fit.Xq3z9A
static const char NAME_LETTERS[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int LETTER_COUNT = sizeof NAME_LETTERS - 1;
constexpr int SUFFIX_LENGTH = 6;
constexpr int MOST_ATTEMPTS = 100;
// Keeps the temporary name within the 255 bytes a file name may have.
constexpr int MOST_NAME_BYTES = 200;
// Six letters hold 35 bits: the process number in the lower 22, so that two
// runs at once never choose the same name, and the time in the rest.
constexpr int PROCESS_BITS = 22;
constexpr int OTHER_BITS = 13;

static int fail(t_output* output, int failure)
{
    output->failure = failure;
    return 0;
}

static void chooseTemporaryName(t_output* output, int attempt)
{
    const char* name = output->name;
    int nameLength = utf8Cut(name, MOST_NAME_BYTES);
    char suffix[SUFFIX_LENGTH + 1];
    uint64_t varying = ((uint64_t)time(NULL) ^ (uintptr_t)output) + attempt;
    uint64_t bits = processNumber() % (1u << PROCESS_BITS) +
                    (varying % (1u << OTHER_BITS) << PROCESS_BITS);

    for (int i = 0; i < SUFFIX_LENGTH; i++, bits /= LETTER_COUNT)
        suffix[i] = NAME_LETTERS[bits % LETTER_COUNT];
    suffix[SUFFIX_LENGTH] = '\0';
    snprintf(output->temporary, sizeof output->temporary, ".%.*s.%s", nameLength, name, suffix);
}

// Gives the new file a name of its own in the folder: an unnamed file is
// linked, else a new file is made. Named and armed with no interrupt in
// between, so that an interrupt leaves nothing behind.
static int nameTemporary(t_output* output)
{
    int named = 0;

    holdInterrupts();
    for (int attempt = 0; !named && attempt < MOST_ATTEMPTS; attempt++) {
        chooseTemporaryName(output, attempt);
        if (output->unnamed)
            named = linkUnnamed(output->kept, &output->folder, output->temporary);
        else
            named = (output->stream = createInFolder(&output->folder, output->temporary)) != NULL;
        if (!named && errno != EEXIST)
            break;
    }
    if (named)
        armInterruptCleanup(&output->folder, output->temporary);
    else
        output->temporary[0] = '\0';
    releaseInterrupts();
    return named;
}

// Neither the input, whatever path leads to it, nor a raw picture, which
// could not be made again, is ever replaced; nor a file that cannot be read,
// which may be one.
static int mayOverwrite(t_output* output)
{
    t_file_identity standing;
    char magic[KVR_MAGIC_LENGTH];

    if (identityInFolder(&output->folder, output->name, &standing) &&
        sameIdentity(&standing, &output->input))
        return fail(output, OUTPUT_IS_INPUT);
    FILE* older = openInFolder(&output->folder, output->name);
    if (older == NULL)
        return errno == ENOENT || fail(output, OUTPUT_UNOPENED);
    size_t length = fread(magic, 1, sizeof magic, older);
    int unreadable = ferror(older);
    fclose(older);
    if (unreadable)
        return fail(output, OUTPUT_UNOPENED);
    return !isKvrMagic(magic, length) || fail(output, OUTPUT_IS_PICTURE);
}

// Standard output appended to a raw picture would spoil it as surely as
// replacing it. Only a regular file is read: a pipe must not lose its data.
static int heldFileIsPicture(FILE* stream, const char* out)
{
    t_file_state state;
    FILE* standing = regularFileState(stream, &state) ? openForReading(out) : NULL;
    int picture = standing != NULL && beginsAsKvr(standing);

    if (standing != NULL)
        fclose(standing);
    return picture;
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
    output->stream = createUnnamed(&output->folder);
    output->unnamed = output->stream != NULL;
    if (!output->unnamed && (errno != EOPNOTSUPP || !nameTemporary(output)))
        return fail(output, OUTPUT_UNOPENED);
    if (!giveOwner(output->stream, &output->folder, output->name, &output->ownerKept))
        return fail(output, OUTPUT_UNOPENED);
    return 1;
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

int openOutput(t_output* output, const char* out, uint64_t size, const t_file_identity* input)
{
    static char outBuffer[STREAM_BUFFER];
    int fd = heldDescriptor(out);

    output->input = *input;
    ignoreFileSizeLimit();
    catchInterrupts();
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
    setvbuf(output->stream, outBuffer, _IOFBF, sizeof outBuffer);
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

// The rename is refused for a reason known before the work (another
// program holds the older output, or we may not replace it), or the medium
// fails.
static int failRename(t_output* output)
{
    int refused = errno == EACCES || errno == EPERM || errno == EBUSY;
    return fail(output, refused ? OUTPUT_UNOPENED : OUTPUT_UNWRITABLE);
}

// The last buffered bytes may still meet a full medium: the flush is checked
// before the close, which not every C runtime reports. The new file gets its
// final mode only when every byte is in it. Every check and the close come
// before the new file is named, and only the rename after: a run killed at
// any other moment leaves no file of its own.
int commitOutput(t_output* output)
{
    if (fflush(output->stream) != 0)
        return fail(output, OUTPUT_UNWRITABLE);
    if (output->direct)
        return closeOutput(output);
    if (!giveAttributes(output->stream, &output->folder, output->name, output->unnamed,
                        output->ownerKept))
        return fail(output, OUTPUT_UNOPENED);
    if (!mayOverwrite(output))
        return 0;
    output->keeping = closeKeeping(output->stream, &output->kept);
    output->stream = NULL;
    if (!output->keeping)
        return fail(output, OUTPUT_UNWRITABLE);
    if (output->unnamed && !nameTemporary(output))
        return fail(output, OUTPUT_UNWRITABLE);
    if (!replaceInFolder(&output->folder, output->kept, output->temporary, output->name))
        return failRename(output);
    disarmInterruptCleanup();
    output->temporary[0] = '\0';
    discardOutput(output);
    return 1;
}

void discardOutput(t_output* output)
{
    if (output->stream != NULL)
        fclose(output->stream);
    output->stream = NULL;
    if (output->temporary[0] != '\0') {
        removeInFolder(&output->folder, output->temporary);
        disarmInterruptCleanup();
        output->temporary[0] = '\0';
    }
    if (output->keeping)
        closeKept(output->kept);
    output->keeping = 0;
    if (output->held)
        closeFolder(&output->folder);
    output->held = 0;
}
