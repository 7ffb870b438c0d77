// What only Linux has: unnamed new files, extended attributes and access
// lists, the append-only and immutable flags, space reserved at once.
#include "posix_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

// Append-only and immutable files, or a folder of either kind, refuse the
// rename whoever runs it. Only a regular file is opened: opening a FIFO would
// release a writer waiting on it, opening a device may act on it.
bool unchangeable(const t_folder* folder, const char* name)
{
    struct stat info;
    int flags = 0, changeable = 1;
    bool regular = fstatat(folder->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISREG(info.st_mode);

    for (const char* place : {regular ? name : ".", "."}) {
        int fd = openat(folder->fd, place, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0)
            changeable = changeable && !(flags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
        if (fd >= 0)
            close(fd);
    }
    return !changeable;
}

FILE* createUnnamed(const t_folder* folder, const t_new_mode* mode)
{
    char proc[32];
    struct stat named, unnamed;
    t_file_identity byPath, byDescriptor;
    int fd = openat(folder->fd, ".", O_TMPFILE | O_WRONLY, (mode_t)mode->asked);

    if (fd < 0) {
        if (errno == EISDIR || errno == EINVAL)
            errno = EOPNOTSUPP;
        return NULL;
    }
    // Linking it later goes through /proc, which needs no privilege.
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    int linkable = stat(proc, &named) == 0 && fstat(fd, &unnamed) == 0 &&
                   statIdentity(&named, &byPath) && statIdentity(&unnamed, &byDescriptor) &&
                   sameIdentity(&byPath, &byDescriptor);
    FILE* f = linkable ? fdopen(fd, "wb") : NULL;
    if (f == NULL) {
        close(fd);
        errno = EOPNOTSUPP;
    }
    return f;
}

bool linkUnnamed(t_file_handle kept, const t_folder* folder, const char* name)
{
    char proc[32];

    snprintf(proc, sizeof proc, "/proc/self/fd/%d", (int)kept);
    return linkat(AT_FDCWD, proc, folder->fd, name, AT_SYMLINK_FOLLOW) == 0;
}

// Where the file system cannot rename so, a link and an unlink do the same;
// a kill between them leaves both names, never a lost file.
bool renameUnreplacing(const t_folder* folder, t_file_handle, const char* from, const char* to)
{
    if (renameat2(folder->fd, from, folder->fd, to, RENAME_NOREPLACE) == 0)
        return 1;
    if (errno != EINVAL && errno != ENOSYS)
        return 0;
    return linkat(folder->fd, from, folder->fd, to, 0) == 0 && unlinkat(folder->fd, from, 0) == 0;
}

static const char ACCESS_LIST[] = "system.posix_acl_access";
static const char DEFAULT_LIST[] = "system.posix_acl_default";
// An access list on disk: a 4-byte version, then entries of a 2-byte tag, a
// 2-byte permission and a 4-byte id, little-endian.
constexpr int LIST_HEADER = 4, LIST_ENTRY = 8, MOST_ENTRIES = 1024;
enum { OWNER_ENTRY = 0x01, GROUP_ENTRY = 0x04, MASK_ENTRY = 0x10, OTHERS_ENTRY = 0x20 };

// Read through the open file, or by its path where it may not be read.
static ssize_t listAttributes(int fd, const char* path, char* names, size_t size)
{
    return fd >= 0 ? flistxattr(fd, names, size) : llistxattr(path, names, size);
}

static ssize_t readAttribute(int fd, const char* path, const char* name, char* value, size_t size)
{
    return fd >= 0 ? fgetxattr(fd, name, value, size) : lgetxattr(path, name, value, size);
}

// Every attribute of older on the new file: its access list among them.
// Those that the system alone gives (security.*: capabilities, labels) are
// never carried: a picture must not gain what a program had.
// The largest list and value the system keeps, 64 KiB each: from the heap, as
// conversions may run at once and nothing large lives on the stack.
constexpr size_t ATTRIBUTE_ROOM = 65536;

bool carryExtendedAttributes(int to, const t_folder* folder, const char* older)
{
    char* names = (char*)malloc(2 * ATTRIBUTE_ROOM);
    char* value = names + ATTRIBUTE_ROOM;
    char path[PATH_BUFFER];
    int from = openat(folder->fd, older, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    int carried = names != NULL;

    snprintf(path, sizeof path, "/proc/self/fd/%d/%s", folder->fd, older);
    ssize_t listed = carried ? listAttributes(from, path, names, ATTRIBUTE_ROOM) : 0;
    if (listed < 0)
        carried = errno == ENOTSUP;   // a file system without attributes
    for (ssize_t at = 0; carried && at < listed; at += (ssize_t)strlen(names + at) + 1) {
        const char* name = names + at;
        if (strncmp(name, "security.", 9) == 0)
            continue;
        ssize_t length = readAttribute(from, path, name, value, ATTRIBUTE_ROOM);
        carried = length >= 0 && fsetxattr(to, name, value, (size_t)length, 0) == 0;
    }
    if (from >= 0)
        close(from);
    free(names);
    return carried;
}

// A new file may have taken the folder's default access list, which older never had.
bool dropAccessList(int fd)
{
    return fremovexattr(fd, ACCESS_LIST) == 0 || errno == ENODATA || errno == ENOTSUP;
}

// What a file made with mode takes from the folder's default access list: its
// entries, the owner's, the others' and the mask's (or the group's, without a
// mask) each within its part of mode. 0 where the folder has none.
bool inheritAccessList(int fd, const t_folder* folder, uint32_t mode)
{
    unsigned char list[LIST_HEADER + LIST_ENTRY * MOST_ENTRIES];
    int from = openat(folder->fd, ".", O_RDONLY | O_DIRECTORY);
    ssize_t length = from >= 0 ? fgetxattr(from, DEFAULT_LIST, list, sizeof list) : -1;
    int masked = 0;

    if (from >= 0)
        close(from);
    for (ssize_t at = LIST_HEADER; at + LIST_ENTRY <= length; at += LIST_ENTRY)
        masked = masked || list[at] == MASK_ENTRY;
    for (ssize_t at = LIST_HEADER; at + LIST_ENTRY <= length; at += LIST_ENTRY) {
        int part = list[at] == OWNER_ENTRY ? 6 : list[at] == OTHERS_ENTRY ? 0
                 : list[at] == (masked ? MASK_ENTRY : GROUP_ENTRY) ? 3 : -1;
        if (part >= 0)
            list[at + 2] &= mode >> part & 7;
    }
    return length > LIST_HEADER && fsetxattr(fd, ACCESS_LIST, list, (size_t)length, 0) == 0;
}

// Allocating the whole output at once spares the file system a reservation
// for every page written; the size stays as written.
void reserveSpace(FILE* f, uint64_t size)
{
    fallocate(fileno(f), FALLOC_FL_KEEP_SIZE, 0, (off_t)size);
}
