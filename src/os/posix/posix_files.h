// What the POSIX files share among themselves, and what Linux answers in a
// file of its own (linux.cpp), any other POSIX system plainly (plain.cpp).
#ifndef TORVAN_POSIX_FILES_H
#define TORVAN_POSIX_FILES_H

#include <sys/stat.h>

#include "../system.h"

static_assert(sizeof(off_t) == 8, "pictures over 2 GiB need 64-bit file offsets");

bool statIdentity(const struct stat* info, t_file_identity* identity);
// The kernel's rule for a link, or a FIFO, in a sticky folder that others may
// write: it is followed, or opened, only where the runner or the folder's
// owner made it.
bool madeByTrusted(int folder, const struct stat* entry);
// Whether a rename may not replace the file called name, whoever runs it.
bool unchangeable(const t_folder* folder, const char* name);
// Every extended attribute of older on the new file, its access list among them.
bool carryExtendedAttributes(int to, const t_folder* folder, const char* older);
// Removes an access list the new file took from its folder.
bool dropAccessList(int fd);
// Gives the new file what the folder's default access list gives any new
// file made with mode; 0 where the folder has none.
bool inheritAccessList(int fd, const t_folder* folder, uint32_t mode);

#endif
