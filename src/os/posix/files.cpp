// The files of a run on a POSIX system: the input, devices and held
// descriptors, the output's folder and what stands in it.
#include "posix_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int statIdentity(const struct stat* info, t_file_identity* identity)
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

int fileKind(const char* path)
{
    struct stat info;

    if (stat(path, &info) != 0)
        return KIND_UNKNOWN;
    return S_ISREG(info.st_mode) ? KIND_REGULAR : S_ISDIR(info.st_mode) ? KIND_FOLDER
                                                                         : KIND_SPECIAL;
}

// Reads then wait for data as reads of any file do; a terminal given as the
// input does not become the run's controlling terminal.
FILE* openForReading(const char* path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
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

int regularFileState(FILE* f, t_file_state* state)
{
    struct stat info;

    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    state->size = (uint64_t)info.st_size;
    state->changed = nanoseconds(&info.st_ctim);
    state->written = nanoseconds(&info.st_mtim);
    return 1;
}

int isFolder(FILE* f)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode);
}

int fileIdentity(FILE* f, t_file_identity* identity)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && statIdentity(&info, identity);
}

int pathIsStream(const char* path, FILE* stream)
{
    t_file_identity identity;

    return fileIdentity(stream, &identity) && pathIsFile(path, &identity);
}

int pathIsFile(const char* path, const t_file_identity* file)
{
    struct stat info;
    t_file_identity identity;

    return stat(path, &info) == 0 && statIdentity(&info, &identity) &&
           sameIdentity(&identity, file);
}

int isForbiddenOutput(const char*)
{
    return 0;
}

int isSpecialFile(const char* path)
{
    struct stat info;

    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

FILE* openForWriting(const char* path)
{
    return fopen(path, "wb");
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

// Held only to work in, so that a folder we may write but not list serves too.
#ifdef O_PATH
constexpr int FOLDER_ACCESS = O_PATH;
#else
constexpr int FOLDER_ACCESS = O_RDONLY;
#endif

int openFolder(const char* path, t_folder* folder)
{
    size_t length = (size_t)(baseName(path) - path);

    if (length >= sizeof folder->path)
        return 0;
    memcpy(folder->path, path, length);
    strcpy(folder->path + length, length == 0 ? "." : "");
    folder->fd = open(folder->path, FOLDER_ACCESS | O_DIRECTORY);
    return folder->fd >= 0;
}

void closeFolder(t_folder* folder)
{
    if (folder->fd >= 0)
        close(folder->fd);
    folder->fd = -1;
}

int identityInFolder(const t_folder* folder, const char* name, t_file_identity* identity)
{
    struct stat info;

    return fstatat(folder->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           statIdentity(&info, identity);
}

// In a sticky folder only the file's owner, the folder's owner or a
// privileged user may replace a file.
int mayReplace(const t_folder* folder, const char* name)
{
    struct stat file, place;

    if (fstatat(folder->fd, name, &file, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (faccessat(folder->fd, name, W_OK, 0) != 0 || fstat(folder->fd, &place) != 0)
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

int closeKeeping(FILE* f, t_kept* kept)
{
    int fd = dup(fileno(f));
    int closed = fclose(f) == 0;

    if (fd >= 0 && !closed)
        close(fd);
    *kept = fd;
    return fd >= 0 && closed;
}

void closeKept(t_kept kept)
{
    close((int)kept);
}
