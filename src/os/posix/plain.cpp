// Where a POSIX system has none of Linux's own: no unnamed files, no
// extended attributes or access lists to carry, no flags to read.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "posix_files.h"

bool unchangeable(const t_folder*, const char*)
{
    return 0;
}

FILE* createUnnamed(const t_folder*, const t_new_mode*)
{
    errno = EOPNOTSUPP;
    return NULL;
}

bool linkUnnamed(t_file_handle, const t_folder*, const char*)
{
    return 0;
}

// A kill between the link and the unlink leaves both names, never a lost file.
bool renameUnreplacing(const t_folder* folder, t_file_handle, const char* from, const char* to)
{
    return linkat(folder->fd, from, folder->fd, to, 0) == 0 && unlinkat(folder->fd, from, 0) == 0;
}

bool carryExtendedAttributes(int, const t_folder*, const char*)
{
    return 1;
}

bool dropAccessList(int)
{
    return 1;
}

bool inheritAccessList(int, const t_folder*, uint32_t)
{
    return 0;
}

void reserveSpace(FILE*, uint64_t)
{
}
