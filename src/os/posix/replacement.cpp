// The new file that replaces an output on a POSIX system: private until
// complete, then given what the older output had, or what any new file in
// its folder gets, and renamed over it.
#include "posix_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* createInFolder(const t_folder* folder, const char* name)
{
    int fd = openat(folder->fd, name, O_WRONLY | O_CREAT | O_EXCL, 0600);

    if (fd < 0)
        return NULL;
    FILE* stream = fdopen(fd, "wb");
    if (stream == NULL) {
        close(fd);
        unlinkat(folder->fd, name, 0);
    }
    return stream;
}

uint32_t creationMask()
{
    mode_t mask = umask(0);
    umask(mask);
    return (uint32_t)mask;
}

// Only a privileged user may give a file away: anyone else keeps the group
// alone, where they belong to it, as cp -p does.
bool giveOwner(FILE* f, const t_folder* folder, const char* older, bool* ownerKept)
{
    struct stat previous;
    int fd = fileno(f);

    *ownerKept = 1;
    if (fstatat(folder->fd, older, &previous, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(previous.st_mode) || fchown(fd, previous.st_uid, previous.st_gid) == 0)
        return 1;
    *ownerKept = 0;
    // The runner's group must not gain what older's group had.
    return fchown(fd, (uid_t)-1, previous.st_gid) == 0 || !(previous.st_mode & S_IRWXG);
}

// A file made under a name of its own is made private; in the end it takes
// what any new file made with mode in its folder takes.
static bool giveNewFileMode(int fd, const t_folder* folder, const t_new_mode* mode)
{
    return inheritAccessList(fd, folder, mode->asked) ||
           fchmod(fd, (mode_t)(mode->asked & ~mode->umask)) == 0;
}

bool giveAttributes(FILE* f, const t_folder* folder, const char* older, bool unnamed,
                    bool ownerKept, const t_new_mode* mode)
{
    struct stat previous;
    int fd = fileno(f);
    int exists = fstatat(folder->fd, older, &previous, AT_SYMLINK_NOFOLLOW) == 0;

    if (!exists && errno != ENOENT)
        return 0;
    if (!exists || !S_ISREG(previous.st_mode))
        return unnamed || giveNewFileMode(fd, folder, mode);
    // setuid and setgid belong to the owner and group that were kept.
    mode_t kept = previous.st_mode & (ownerKept ? 07777 : 01777);
    return dropAccessList(fd) && fchmod(fd, kept) == 0 &&
           carryExtendedAttributes(fd, folder, older);
}

bool replaceInFolder(const t_folder* folder, t_file_handle, const char* from, const char* to)
{
    return renameat(folder->fd, from, folder->fd, to) == 0;
}

void removeInFolder(const t_folder* folder, const char* name)
{
    unlinkat(folder->fd, name, 0);
}

bool isMediumFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}
