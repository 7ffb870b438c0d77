#include "output_file.h"

#include <cerrno>
#include <cstdlib>

#include "kvr_header.h"

static bool fail(t_output* output, t_output_failure failure)
{
    output->cause = errno;
    output->failure = failure;
    return false;
}

// Whether the file f begins as a raw picture; closes it. unreadable tells a
// failed read, after which it may be one all the same.
static bool closeIfPicture(FILE* f, bool* unreadable)
{
    char magic[KVR_MAGIC_LENGTH];
    size_t length = fread(magic, 1, sizeof magic, f);

    *unreadable = ferror(f) != 0;
    fclose(f);
    return isKvrMagic(magic, length);
}

// Neither a folder, nor the input, whatever path leads to it, nor a raw
// picture, which could not be made again, is ever replaced; nor a file that
// cannot be read, which may be one. A link, a FIFO or a device standing at
// the name is replaced as an entry, never opened.
static bool mayOverwrite(t_output* output)
{
    t_entry standing;
    bool unreadable;

    judgeEntry(output->folder, output->name, &standing);
    if (standing.kind == ENTRY_NONE || standing.kind == ENTRY_LINK ||
        standing.kind == ENTRY_SPECIAL)
        return true;
    if (standing.kind != ENTRY_REGULAR)
        return fail(output, standing.kind == ENTRY_FOLDER ? OUTPUT_IS_FOLDER : OUTPUT_REFUSED);
    if (sameIdentity(&standing.identity, &output->input))
        return fail(output, OUTPUT_IS_INPUT);
    FILE* older = openInFolder(output->folder, output->name);
    if (older == NULL)
        return errno == ENOENT || fail(output, OUTPUT_REFUSED);
    bool picture = closeIfPicture(older, &unreadable);
    if (unreadable)
        return fail(output, OUTPUT_REFUSED);
    return !picture || fail(output, OUTPUT_IS_PICTURE);
}

// Standard output appended to a raw picture would spoil it as surely as
// replacing it. Only a regular file is read: a pipe must not lose its data.
static bool heldFileIsPicture(FILE* stream, const char* out)
{
    t_file_state state;
    t_file_kind kind;
    bool unreadable;
    FILE* standing = regularFileState(stream, &state) ? openForReading(out, &kind) : NULL;

    return standing != NULL && closeIfPicture(standing, &unreadable);
}

// A new file where the output is to stand; where none can be made there, or
// it cannot take the owner's place, the output is not opened.
static bool createBeside(t_output* output)
{
    if (!mayReplace(output->folder, output->name))
        return fail(output, OUTPUT_REFUSED);
    if (!mayOverwrite(output))
        return false;
    if (!createReplacement(&output->replacement, output->folder, output->name, &output->mode)) {
        bool refused = errno == EACCES || errno == EPERM || errno == EROFS;
        return fail(output, refused ? OUTPUT_FOLDER_REFUSED : OUTPUT_REFUSED);
    }
    output->stream = output->replacement.stream;
    return giveOwner(output->stream, output->folder, output->name, &output->ownerKept) ||
           fail(output, OUTPUT_REFUSED);
}

// The new file stands in the folder of the file that the output path leads
// to, so that a symbolic link stays and leads to it. A device or a FIFO
// there is written in place, where the kernel's rule lets the runner open it.
static bool openBeside(t_output* output, const char* out)
{
    t_entry standing;

    if (walkPath(out, WALK_FOLLOW_LAST, &output->ownFolder, output->target,
                 sizeof output->target) != WALK_DONE)
        return fail(output, OUTPUT_REFUSED);
    output->held = true;
    output->folder = &output->ownFolder;
    output->name = output->target;
    judgeEntry(output->folder, output->name, &standing);
    if (standing.kind != ENTRY_SPECIAL)
        return createBeside(output);
    output->direct = true;
    output->stream = standing.trusted ? openForWriting(output->folder, output->name) : NULL;
    return output->stream != NULL || fail(output, OUTPUT_REFUSED);
}

// An output path that leads to a descriptor the run holds is written through
// it: never reopened, replaced or deleted.
static bool openHeld(t_output* output, int fd, const char* out)
{
    output->direct = true;
    output->stream = openDescriptor(fd);
    if (output->stream == NULL)
        return fail(output, OUTPUT_REFUSED);
    return !heldFileIsPicture(output->stream, out) || fail(output, OUTPUT_IS_PICTURE);
}

static void startWriting(t_output* output, uint64_t size, char* buffer)
{
    setvbuf(output->stream, buffer, _IOFBF, STREAM_BUFFER);
    if (!output->direct)
        reserveSpace(output->stream, size);
}

bool openOutput(t_output* output, const char* out, uint64_t size, const t_file_identity* input,
                const t_new_mode* mode, char* buffer)
{
    int fd = heldDescriptor(out);

    output->input = *input;
    output->mode = *mode;
    output->replacing = true;
    if (isForbiddenOutput(out))
        return fail(output, OUTPUT_REFUSED);
    if (pathIsFile(out, input))
        return fail(output, OUTPUT_IS_INPUT);
    if (!(fd >= 0 ? openHeld(output, fd, out) : openBeside(output, out)))
        return false;
    startWriting(output, size, buffer);
    return true;
}

bool openOutputIn(t_output* output, const t_folder* folder, const char* name, bool replacing,
                  uint64_t size, const t_file_identity* input, const t_new_mode* mode,
                  char* buffer)
{
    t_entry standing;

    output->input = *input;
    output->mode = *mode;
    output->replacing = replacing;
    output->folder = folder;
    output->name = name;
    judgeEntry(folder, name, &standing);
    if (standing.kind == ENTRY_FOLDER)
        return fail(output, OUTPUT_IS_FOLDER);
    if (standing.kind != ENTRY_NONE && !replacing)
        return fail(output, OUTPUT_TAKEN);
    if (!createBeside(output))
        return false;
    startWriting(output, size, buffer);
    return true;
}

static bool closeOutput(t_output* output)
{
    bool closed = fclose(output->stream) == 0;

    output->stream = NULL;
    return closed || fail(output, OUTPUT_UNWRITABLE);
}

// Takes a free name by the call that refuses to replace; where something
// stands there, or comes meanwhile, it is judged again and replaced only
// where replacing allows it.
static bool takeName(t_output* output)
{
    t_entry standing;

    judgeEntry(output->folder, output->name, &standing);
    t_commit committed = standing.kind == ENTRY_NONE
                         ? commitReplacement(&output->replacement, COMMIT_FREE_NAME)
                         : COMMIT_NAME_TAKEN;
    if (committed == COMMIT_NAME_TAKEN) {
        if (!output->replacing)
            return fail(output, OUTPUT_TAKEN);
        if (!mayOverwrite(output))
            return false;
        committed = commitReplacement(&output->replacement, COMMIT_REPLACING);
    }
    if (committed == COMMITTED)
        return true;
    return fail(output, committed == COMMIT_REFUSED ? OUTPUT_REFUSED : OUTPUT_UNWRITABLE);
}

// The last buffered bytes may still meet a full medium: the flush is checked
// before the close, which not every C runtime reports. The new file gets its
// final mode only when every byte is in it, and every check comes before it
// is named. A rename refused for a reason known before the work (another
// program holds the older output, or we may not replace it) says so.
bool commitOutput(t_output* output)
{
    if (fflush(output->stream) != 0)
        return fail(output, OUTPUT_UNWRITABLE);
    if (output->direct)
        return closeOutput(output);
    if (!giveAttributes(output->stream, output->folder, output->name,
                        output->replacement.unnamed, output->ownerKept, &output->mode))
        return fail(output, OUTPUT_REFUSED);
    if (!takeName(output))
        return false;
    discardOutput(output);
    return true;
}

void discardOutput(t_output* output)
{
    if (output->direct && output->stream != NULL)
        fclose(output->stream);
    output->stream = NULL;
    abandonReplacement(&output->replacement);
    if (output->held)
        closeFolder(&output->ownFolder);
    output->held = false;
}

static void takeLock(std::atomic_flag* lock)
{
    while (lock->test_and_set(std::memory_order_acquire)) {
    }
}

static void releaseLock(std::atomic_flag* lock)
{
    lock->clear(std::memory_order_release);
}

// Held, or the reason why not; a folder of another user in a shared folder,
// or one reached through her link, is never held.
static void holdFolder(t_output_folder* folder, int way)
{
    folder->folder = (t_folder*)calloc(1, sizeof *folder->folder);
    folder->failure = folder->folder == NULL ? WALK_FAILED
                    : openFolderPath(folder->path, way | WALK_OWN_FOLDERS, folder->folder);
    folder->cause = folder->folder == NULL ? ENOMEM : errno;
    folder->state = folder->failure == WALK_DONE ? FOLDER_HELD
                  : folder->failure == WALK_FAILED && folder->cause == ENOENT ? FOLDER_MISSING
                  : FOLDER_FAILED;
    if (folder->state != FOLDER_HELD) {
        free(folder->folder);
        folder->folder = NULL;
    }
}

const t_folder* standingFolder(t_output_folder* folder)
{
    takeLock(folder->lock);
    if (folder->state == FOLDER_UNTRIED)
        holdFolder(folder, WALK_FOLLOW_LAST);
    const t_folder* held = folder->folder;
    releaseLock(folder->lock);
    return held;
}

const t_folder* madeFolder(t_output_folder* folder)
{
    takeLock(folder->lock);
    if (folder->state == FOLDER_UNTRIED || folder->state == FOLDER_MISSING)
        holdFolder(folder, WALK_FOLLOW_LAST | WALK_MAKE_FOLDERS);
    const t_folder* held = folder->folder;
    releaseLock(folder->lock);
    return held;
}

bool folderUsable(t_output_folder* folder)
{
    takeLock(folder->lock);
    bool usable = folder->state == FOLDER_HELD || folder->state == FOLDER_MISSING;
    releaseLock(folder->lock);
    return usable;
}

static void letGo(t_output_folder* folder)
{
    if (folder->state != FOLDER_HELD)
        return;
    closeFolder(folder->folder);
    free(folder->folder);
    folder->folder = NULL;
    folder->state = FOLDER_UNTRIED;
}

void releaseOutputFolder(t_output_folder* folder)
{
    takeLock(folder->lock);
    if (--folder->pictures == 0)
        letGo(folder);
    releaseLock(folder->lock);
}

void closeOutputFolder(t_output_folder* folder)
{
    takeLock(folder->lock);
    letGo(folder);
    releaseLock(folder->lock);
}
