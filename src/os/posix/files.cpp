// The files of a run on a POSIX system: the input, devices and held
// descriptors, the output's folder and what stands in it.
#include "posix_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool statIdentity(const struct stat* info, t_file_identity* identity)
{
    identity->volume = (uint64_t)info->st_dev;
    identity->index = (uint64_t)info->st_ino;
    return 1;
}

void keepStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDONLY) != fd)
            return;   // the lowest free number is taken, fd itself
}

uint32_t processNumber()
{
    return (uint32_t)getpid();
}

static t_file_kind kindOf(const struct stat* info)
{
    return S_ISREG(info->st_mode) ? KIND_REGULAR : S_ISDIR(info->st_mode) ? KIND_FOLDER
                                                                           : KIND_SPECIAL;
}

// Judged by what stands at the end of the path before it is opened: opening a
// FIFO would release a writer waiting on it. Opened without waiting for data,
// and a terminal given as the input does not become the run's controlling one.
FILE* openForReading(const char* path, t_file_kind* kind)
{
    char name[PATH_BUFFER];
    t_folder folder;
    struct stat info;
    t_walk walked = walkPath(path, WALK_FOLLOW_LAST, &folder, name, sizeof name);

    *kind = walked == WALK_FOREIGN_LINK ? KIND_FOREIGN_LINK : KIND_UNKNOWN;
    if (walked != WALK_DONE)
        return NULL;
    if (fstatat(folder.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
        *kind = kindOf(&info);
    int fd = *kind == KIND_REGULAR
             ? openat(folder.fd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW) : -1;
    closeFolder(&folder);
    // The lowest free number, as a plain open gives: the folder's is free again.
    int lowest = fd >= 0 ? fcntl(fd, F_DUPFD, 0) : -1;
    if (lowest >= 0 && lowest < fd)
        close(fd), fd = lowest;
    else if (lowest >= 0)
        close(lowest);
    int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    FILE* f = flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb")
                                                                          : NULL;
    if (f == NULL && fd >= 0)
        close(fd);
    return f;
}

static int64_t nanoseconds(const struct timespec* time)
{
    return (int64_t)time->tv_sec * 1000000000 + time->tv_nsec;
}

bool regularFileState(FILE* f, t_file_state* state)
{
    struct stat info;

    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    state->size = (uint64_t)info.st_size;
    state->changed = nanoseconds(&info.st_ctim);
    state->written = nanoseconds(&info.st_mtim);
    state->mode = (uint32_t)(info.st_mode & 0666);
    return 1;
}

bool isFolder(FILE* f)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ownedByRunner(FILE* f)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && info.st_uid == geteuid();
}

bool fileIdentity(FILE* f, t_file_identity* identity)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && statIdentity(&info, identity);
}

bool pathIsStream(const char* path, FILE* stream)
{
    t_file_identity identity;

    return fileIdentity(stream, &identity) && pathIsFile(path, &identity);
}

// Only compared, never opened. A link of the system's own to a pipe or a
// socket (/proc/self/fd/1) names no path to walk: the kernel follows it.
bool pathIsFile(const char* path, const t_file_identity* file)
{
    char name[PATH_BUFFER];
    t_folder folder;
    struct stat info;
    t_file_identity identity;
    t_walk walked = walkPath(path, WALK_FOLLOW_LAST, &folder, name, sizeof name);
    int found = walked == WALK_DONE ? fstatat(folder.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0
              : walked == WALK_FAILED && stat(path, &info) == 0;

    closeFolder(&folder);
    return found && statIdentity(&info, &identity) && sameIdentity(&identity, file);
}

bool isForbiddenOutput(const char*)
{
    return 0;
}

// No file is made or truncated, nor a link followed; a FIFO waits for its
// reader, as the user who named it asked.
FILE* openForWriting(const t_folder* folder, const char* name)
{
    int fd = openat(folder->fd, name, O_WRONLY | O_NOCTTY | O_NOFOLLOW);
    FILE* f = fd >= 0 ? fdopen(fd, "wb") : NULL;

    if (f == NULL && fd >= 0)
        close(fd);
    return f;
}

// A duplicate, so that closing the output leaves the descriptor open.
FILE* openDescriptor(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    int copy = flags != -1 && (flags & O_ACCMODE) != O_RDONLY ? dup(fd) : -1;
    FILE* stream = copy >= 0 ? fdopen(copy, "wb") : NULL;

    if (stream == NULL && copy >= 0)
        close(copy);
    return stream;
}

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');

    return slash != NULL ? slash + 1 : path;
}

void closeFolder(t_folder* folder)
{
    if (folder->fd >= 0)
        close(folder->fd);
    folder->fd = -1;
}

void judgeEntry(const t_folder* folder, const char* name, t_entry* entry)
{
    struct stat info;

    *entry = {};
    if (fstatat(folder->fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        entry->kind = errno == ENOENT ? ENTRY_NONE : ENTRY_UNKNOWN;
        return;
    }
    entry->kind = S_ISREG(info.st_mode) ? ENTRY_REGULAR : S_ISDIR(info.st_mode) ? ENTRY_FOLDER
                : S_ISLNK(info.st_mode) ? ENTRY_LINK : ENTRY_SPECIAL;
    entry->size = (uint64_t)info.st_size;
    entry->trusted = madeByTrusted(folder->fd, &info);
    statIdentity(&info, &entry->identity);
}

// In a sticky folder only the file's owner, the folder's owner or a
// privileged user may replace a file.
bool mayReplace(const t_folder* folder, const char* name)
{
    struct stat file, place;

    if (fstatat(folder->fd, name, &file, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if ((S_ISREG(file.st_mode) && faccessat(folder->fd, name, W_OK, 0) != 0) ||
        fstat(folder->fd, &place) != 0)
        return 0;
    if ((place.st_mode & S_ISVTX) && geteuid() != 0 && file.st_uid != geteuid() &&
        place.st_uid != geteuid())
        return 0;
    return !unchangeable(folder, name);
}

FILE* openInFolder(const t_folder* folder, const char* name)
{
    struct stat info;
    int fd = openat(folder->fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    int regular = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    FILE* f = regular ? fdopen(fd, "rb") : NULL;

    if (f == NULL && fd >= 0) {
        close(fd);
        errno = regular ? errno : EINVAL;
    }
    return f;
}

bool closeStreamKeepingFile(FILE* f, t_file_handle* kept)
{
    int fd = dup(fileno(f));
    int closed = fclose(f) == 0;

    if (fd >= 0 && !closed)
        close(fd);
    *kept = fd;
    return fd >= 0 && closed;
}

void closeFileHandle(t_file_handle kept)
{
    close((int)kept);
}
