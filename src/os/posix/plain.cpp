// Where a POSIX system has none of Linux's own: no unnamed files, no
// extended attributes or access lists to carry, no flags to read.
#include <cerrno>

#include "posix_files.h"

int unchangeable(const t_folder*, const char*)
{
    return 0;
}

FILE* createUnnamed(const t_folder*)
{
    errno = EOPNOTSUPP;
    return NULL;
}

int linkUnnamed(t_kept, const t_folder*, const char*)
{
    return 0;
}

int carryExtendedAttributes(int, const t_folder*, const char*)
{
    return 1;
}

int dropAccessList(int)
{
    return 1;
}

int inheritAccessList(int, const t_folder*)
{
    return 0;
}

void reserveSpace(FILE*, uint64_t)
{
}
