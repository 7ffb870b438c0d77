#include "replacement.h"

#include <cerrno>
#include <cstring>
#include <ctime>

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
// runs at once never choose the same name, and the time in the rest, which
// the record's address varies between the threads of one run.
constexpr int PROCESS_BITS = 22;
constexpr int OTHER_BITS = 13;

static void chooseTemporaryName(t_replacement* replacement, int attempt)
{
    const char* name = replacement->name;
    int nameLength = utf8Cut(name, MOST_NAME_BYTES);
    char suffix[SUFFIX_LENGTH + 1];
    uint64_t varying = ((uint64_t)time(NULL) ^ (uintptr_t)replacement) + attempt;
    uint64_t bits = processNumber() % (1u << PROCESS_BITS) +
                    (varying % (1u << OTHER_BITS) << PROCESS_BITS);

    for (int i = 0; i < SUFFIX_LENGTH; i++, bits /= LETTER_COUNT)
        suffix[i] = NAME_LETTERS[bits % LETTER_COUNT];
    suffix[SUFFIX_LENGTH] = '\0';
    snprintf(replacement->temporary, sizeof replacement->temporary, ".%.*s.%s", nameLength,
             name, suffix);
}

// Gives the new file a name of its own in the folder, with interrupts held by
// the caller: an unnamed file is linked, else a new file is made; named and
// armed, so that an interrupt leaves nothing behind.
static bool nameTemporary(t_replacement* replacement)
{
    bool named = false;

    replacement->cleanup = claimCleanup();
    for (int attempt = 0; replacement->cleanup != NULL && !named && attempt < MOST_ATTEMPTS;
         attempt++) {
        chooseTemporaryName(replacement, attempt);
        if (replacement->unnamed)
            named = linkUnnamed(replacement->handle, replacement->folder, replacement->temporary);
        else
            named = (replacement->stream =
                     createInFolder(replacement->folder, replacement->temporary)) != NULL;
        if (!named && errno != EEXIST)
            break;
    }
    if (named) {
        armCleanup(replacement->cleanup, replacement->folder, replacement->temporary);
    } else {
        releaseCleanup(replacement->cleanup);
        replacement->cleanup = NULL;
        replacement->temporary[0] = '\0';
    }
    return named;
}

// The temporary has taken the name: nothing is left to remove.
static void disarm(t_replacement* replacement)
{
    releaseCleanup(replacement->cleanup);
    replacement->cleanup = NULL;
    replacement->temporary[0] = '\0';
}

bool createReplacement(t_replacement* replacement, const t_folder* folder, const char* name,
                       const t_new_mode* mode)
{
    replacement->folder = folder;
    replacement->name = name;
    replacement->stream = createUnnamed(folder, mode);
    replacement->unnamed = replacement->stream != NULL;
    if (replacement->unnamed || errno != EOPNOTSUPP)
        return replacement->unnamed;
    holdInterrupts();
    bool named = nameTemporary(replacement);
    releaseInterrupts();
    return named;
}

static t_commit commitFailure(int cause)
{
    errno = cause;
    return cause == EEXIST ? COMMIT_NAME_TAKEN
         : cause == EACCES || cause == EPERM || cause == EBUSY ? COMMIT_REFUSED : COMMIT_FAILED;
}

// A free name is taken by the one call that refuses to replace. A name that
// stands is replaced with interrupts held from before the link to after the
// rename, so that nothing comes between them.
static bool takeName(t_replacement* replacement, t_commit_way way)
{
    if (way == COMMIT_FREE_NAME)
        return replacement->unnamed
               ? linkUnnamed(replacement->handle, replacement->folder, replacement->name)
               : renameUnreplacing(replacement->folder, replacement->handle,
                                   replacement->temporary, replacement->name);
    holdInterrupts();
    bool named = (!replacement->unnamed || nameTemporary(replacement)) &&
                 replaceInFolder(replacement->folder, replacement->handle, replacement->temporary,
                                 replacement->name);
    int cause = errno;
    if (named)
        disarm(replacement);
    releaseInterrupts();
    errno = cause;
    return named;
}

// Again after COMMIT_NAME_TAKEN, the file then closed already.
t_commit commitReplacement(t_replacement* replacement, t_commit_way way)
{
    if (replacement->stream != NULL) {
        replacement->handleOpen = closeStreamKeepingFile(replacement->stream, &replacement->handle);
        replacement->stream = NULL;
    }
    if (!replacement->handleOpen)
        return COMMIT_FAILED;
    if (!takeName(replacement, way))
        return commitFailure(errno);
    disarm(replacement);
    abandonReplacement(replacement);
    return COMMITTED;
}

void abandonReplacement(t_replacement* replacement)
{
    if (replacement->stream != NULL)
        fclose(replacement->stream);
    replacement->stream = NULL;
    if (replacement->temporary[0] != '\0') {
        removeInFolder(replacement->folder, replacement->temporary);
        disarm(replacement);
    }
    if (replacement->handleOpen)
        closeFileHandle(replacement->handle);
    replacement->handleOpen = false;
}
