// Symbolic links followed as the kernel would follow them, and paths that
// name a descriptor the run holds.
#include "posix_files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

static int sameFile(const struct stat* a, const struct stat* b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// The folder part of path, "." for none.
static int folderOf(const char* path, char* folder, size_t size)
{
    size_t length = (size_t)(baseName(path) - path);

    if (length + 2 > size)
        return 0;
    memcpy(folder, path, length);
    strcpy(folder + length, length == 0 ? "." : "");
    return 1;
}

// The kernel's rule for links in shared folders: in a sticky folder that
// others may write, a link is followed only when the runner or the folder's
// owner made it, so that no other user's link leads our file elsewhere.
static int mayFollow(const char* link)
{
    char folder[PATH_MAX];
    struct stat linkInfo, folderInfo;

    if (lstat(link, &linkInfo) != 0 || !folderOf(link, folder, sizeof folder) ||
        stat(folder, &folderInfo) != 0)
        return 0;
    return !(folderInfo.st_mode & S_ISVTX) || !(folderInfo.st_mode & S_IWOTH) ||
           linkInfo.st_uid == geteuid() || linkInfo.st_uid == folderInfo.st_uid;
}

// Puts in path what its link leads to, read from the link's own folder where
// relative: 1 when it did, 0 (errno EINVAL) when path is no link, -1 when the
// link may not be followed or its text does not fit.
static int followLink(char* path, size_t size)
{
    char target[PATH_MAX];
    ssize_t length = readlink(path, target, sizeof target);

    if (length < 0)
        return 0;
    size_t folder = target[0] == '/' ? 0 : (size_t)(baseName(path) - path);
    if ((size_t)length == sizeof target || folder + length >= size || !mayFollow(path))
        return -1;
    memcpy(path + folder, target, length);
    path[folder + length] = '\0';
    return 1;
}

static const int MOST_LINKS = 40;

int resolveLinks(const char* path, char* resolved, size_t size)
{
    if (strlen(path) >= size)
        return 0;
    strcpy(resolved, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        int followed = followLink(resolved, size);
        if (followed == 0)   // the end: a file that is no link, or nothing after a link
            return errno != ENOENT || links == 0;
        if (followed < 0)
            return 0;
    }
    return 0;
}

// The number of the descriptor that path names in this run's own folder of
// descriptors (/proc/self/fd, whatever way it was reached), or -1.
static int descriptorNamed(const char* path)
{
    char folder[PATH_MAX];
    struct stat named, own;
    const char* name = baseName(path);
    char* end;
    long fd = strtol(name, &end, 10);

    if (!isdigit((unsigned char)*name) || *end != '\0' || fd > INT_MAX ||
        !folderOf(path, folder, sizeof folder) || stat(folder, &named) != 0)
        return -1;
    return (stat("/proc/self/fd", &own) == 0 && sameFile(&named, &own)) ||
           (stat("/proc/thread-self/fd", &own) == 0 && sameFile(&named, &own)) ? (int)fd : -1;
}

int heldDescriptor(const char* path)
{
    char current[PATH_MAX];

    if (strlen(path) >= sizeof current)
        return -1;
    strcpy(current, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        int fd = descriptorNamed(current);
        if (fd >= 0 || followLink(current, sizeof current) != 1)
            return fd;
    }
    return -1;
}
