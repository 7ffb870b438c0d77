// Paths followed name by name through held folders, as the kernel follows
// them, with its rules for shared folders applied whatever its switches say;
// and paths that name a descriptor the run holds.
#include "posix_files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static const int MOST_LINKS = 40;

static bool sameFile(const struct stat* a, const struct stat* b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// Held only to work in, so that a folder we may write but not list serves too.
#ifdef O_PATH
constexpr int FOLDER_ACCESS = O_PATH;
#else
constexpr int FOLDER_ACCESS = O_RDONLY;
#endif

// A sticky folder that others may write: what stands in it may be another
// user's, put there to lead the runner's work elsewhere.
static bool isSharedFolder(const struct stat* folder)
{
    return (folder->st_mode & S_ISVTX) && (folder->st_mode & S_IWOTH);
}

// The kernel's rule for a link, or a FIFO, in such a folder: it is followed,
// or opened, only where the runner or the folder's owner made it.
bool madeByTrusted(int folder, const struct stat* entry)
{
    struct stat place;

    return fstat(folder, &place) == 0 &&
           (!isSharedFolder(&place) || entry->st_uid == geteuid() ||
            entry->st_uid == place.st_uid);
}

// A folder of another user in a shared folder may be emptied and filled by
// her at any moment; root's are trusted.
static bool ownFolder(int parent, const struct stat* folder)
{
    struct stat place;

    return fstat(parent, &place) == 0 &&
           (!isSharedFolder(&place) || folder->st_uid == geteuid() || folder->st_uid == 0);
}

// The walk's state: the folder it stands in, what is left of the path, the
// links followed so far.
struct t_walker {
    int fd;
    char rest[2 * PATH_BUFFER];
    size_t at;
    int links;
    int way;
    bool lastLinked;   // the last name came through a link, which must lead to a file
};

static bool stepInto(t_walker* walker, int fd)
{
    if (fd < 0)
        return false;
    close(walker->fd);
    walker->fd = fd;
    return true;
}

// The rest of the path after the link at walker->at, whose name ends at end,
// becomes what the link holds followed by that rest.
static t_walk followLink(t_walker* walker, const char* name, size_t end, const struct stat* link)
{
    char joined[sizeof walker->rest];

    if (!madeByTrusted(walker->fd, link))
        return WALK_FOREIGN_LINK;
    ssize_t length = readlinkat(walker->fd, name, joined, sizeof joined);
    if (length < 0)
        return WALK_FAILED;
    size_t tail = strlen(walker->rest + end);
    if (++walker->links > MOST_LINKS || (size_t)length + tail >= sizeof joined) {
        errno = ELOOP;
        return WALK_FAILED;
    }
    memcpy(joined + length, walker->rest + end, tail + 1);
    memcpy(walker->rest, joined, (size_t)length + tail + 1);
    walker->at = 0;
    if (joined[0] == '/' && !stepInto(walker, open("/", FOLDER_ACCESS | O_DIRECTORY)))
        return WALK_FAILED;
    return WALK_DONE;
}

// Into the folder called name, made first where it is missing and the walk
// makes folders; a folder of another user in a shared folder refused where
// the walk asks for its own.
static t_walk enterFolder(t_walker* walker, const char* name, struct stat* info, bool found)
{
    if (!found) {
        if (!(walker->way & WALK_MAKE_FOLDERS) || errno != ENOENT ||
            (mkdirat(walker->fd, name, 0777) != 0 && errno != EEXIST) ||
            fstatat(walker->fd, name, info, AT_SYMLINK_NOFOLLOW) != 0)
            return WALK_FAILED;
    }
    if (!S_ISDIR(info->st_mode)) {
        errno = ENOTDIR;
        return WALK_FAILED;
    }
    if ((walker->way & WALK_OWN_FOLDERS) && !ownFolder(walker->fd, info))
        return WALK_FOREIGN_FOLDER;
    // Not through a link put there since it was judged.
    return stepInto(walker, openat(walker->fd, name, FOLDER_ACCESS | O_DIRECTORY | O_NOFOLLOW))
           ? WALK_DONE : WALK_FAILED;
}

// One name of the path: a step into a folder, a link followed, or the last
// name, which is put in name. *ended tells that the walk is over.
static t_walk walkName(t_walker* walker, char* name, size_t size, bool* ended)
{
    const char* rest = walker->rest;
    size_t start = walker->at + strspn(rest + walker->at, "/");
    size_t end = start + strcspn(rest + start, "/");
    size_t length = end - start;
    // A name followed by a slash is a folder, a link to one followed.
    bool last = rest[end + strspn(rest + end, "/")] == '\0', slash = rest[end] == '/';
    struct stat info;

    if (length == 0 || length >= size || length > NAME_MAX) {   // the path ends in a slash
        *ended = length == 0;
        errno = ENAMETOOLONG;
        return length == 0 ? (strcpy(name, "."), WALK_DONE) : WALK_FAILED;
    }
    memcpy(name, rest + start, length);
    name[length] = '\0';
    walker->at = end;
    *ended = last && !slash && !(walker->way & WALK_FOLLOW_LAST);
    if (*ended || strcmp(name, ".") == 0)
        return WALK_DONE;
    bool found = fstatat(walker->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (found && S_ISLNK(info.st_mode)) {
        walker->lastLinked = last && !slash;
        return followLink(walker, name, end, &info);
    }
    if (last && !slash) {   // the file itself, whatever it is, or nothing yet
        *ended = found || (errno == ENOENT && !walker->lastLinked);
        return *ended ? WALK_DONE : WALK_FAILED;
    }
    if (strcmp(name, "..") == 0)
        return stepInto(walker, openat(walker->fd, "..", FOLDER_ACCESS | O_DIRECTORY))
               ? WALK_DONE : WALK_FAILED;
    return enterFolder(walker, name, &info, found);
}

t_walk walkPath(const char* path, int way, t_folder* folder, char* name, size_t size)
{
    t_walker walker = {-1, "", 0, 0, way, false};
    t_walk walked = WALK_DONE;
    bool ended = false;

    folder->fd = -1;
    if (*path == '\0' || strlen(path) >= sizeof walker.rest) {
        errno = *path == '\0' ? ENOENT : ENAMETOOLONG;
        return WALK_FAILED;
    }
    strcpy(walker.rest, path);
    walker.fd = open(path[0] == '/' ? "/" : ".", FOLDER_ACCESS | O_DIRECTORY);
    if (walker.fd < 0)
        return WALK_FAILED;
    while (walked == WALK_DONE && !ended)
        walked = walkName(&walker, name, size, &ended);
    if (walked != WALK_DONE) {
        int cause = errno;
        close(walker.fd);
        errno = cause;
        return walked;
    }
    folder->fd = walker.fd;
    return WALK_DONE;
}

t_walk openFolderPath(const char* path, int way, t_folder* folder)
{
    char name[PATH_BUFFER];
    t_folder parent;
    t_walk walked = walkPath(path, way | WALK_FOLLOW_LAST, &parent, name, sizeof name);
    t_walker walker = {parent.fd, "", 0, 0, way, false};
    struct stat info;

    folder->fd = -1;
    if (walked != WALK_DONE)
        return walked;
    bool found = fstatat(parent.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    walked = strcmp(name, ".") == 0 ? WALK_DONE : enterFolder(&walker, name, &info, found);
    if (walked == WALK_DONE)
        folder->fd = walker.fd;
    else
        close(walker.fd);
    return walked;
}

// The number of the descriptor that path names in this run's own folder of
// descriptors (/proc/self/fd, whatever way it was reached), or -1.
static int descriptorNamed(const char* path)
{
    char name[PATH_BUFFER];
    t_folder folder;
    struct stat named, own;
    char* end;

    if (walkPath(path, WALK_KEEP_LAST, &folder, name, sizeof name) != WALK_DONE)
        return -1;
    long fd = strtol(name, &end, 10);
    bool isOwn = fstat(folder.fd, &named) == 0 &&
                 ((stat("/proc/self/fd", &own) == 0 && sameFile(&named, &own)) ||
                  (stat("/proc/thread-self/fd", &own) == 0 && sameFile(&named, &own)));
    close(folder.fd);
    return isdigit((unsigned char)*name) && *end == '\0' && fd <= INT_MAX && isOwn ? (int)fd : -1;
}

// Each link on the way is judged by the kernel's rule before it is read.
int heldDescriptor(const char* path)
{
    char current[PATH_BUFFER], target[PATH_BUFFER];
    char name[PATH_BUFFER];
    t_folder folder;
    struct stat info;

    if (strlen(path) >= sizeof current)
        return -1;
    strcpy(current, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        int fd = descriptorNamed(current);
        if (fd >= 0 || walkPath(current, WALK_KEEP_LAST, &folder, name, sizeof name) != WALK_DONE)
            return fd;
        ssize_t length = -1;
        if (fstatat(folder.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode) &&
            madeByTrusted(folder.fd, &info))
            length = readlinkat(folder.fd, name, target, sizeof target);
        close(folder.fd);
        size_t kept = target[0] == '/' || length < 0 ? 0 : (size_t)(baseName(current) - current);
        if (length < 0 || (size_t)length >= sizeof target || kept + length >= sizeof current)
            return -1;
        memcpy(current + kept, target, (size_t)length);
        current[kept + length] = '\0';
    }
    return -1;
}
