// A new file that takes the place of another in a folder only once it is
// complete, with three calls: create, commit and abandon.
#ifndef TORVAN_REPLACEMENT_H
#define TORVAN_REPLACEMENT_H

#include <cstdio>

#include "interrupts.h"
#include "os/system.h"

// A leftover's name: a dot, at most 200 bytes of the output's name, a dot
// and six letters or digits.
constexpr int TEMPORARY_NAME_SIZE = 256;

// A replacement's life, from all zero:
// - created: stream open on the new file. On Linux it has no name (unnamed,
//   temporary empty); elsewhere it was made under temporary and the
//   interrupt cleanup is armed for it; on Windows it is also private, hidden
//   and marked for deletion, which a kill then completes.
// - committing: the stream closed (its close checked), the file's own handle
//   kept; an unnamed file linked under temporary and armed. Only the rename
//   over name comes next, and with it the Windows mark goes.
// - committed or abandoned: nothing open, nothing armed, temporary empty;
//   abandoning removes a temporary that stands, and a second call does nothing.
struct t_replacement {
    FILE* stream;
    int unnamed;
    int keeping;                  // kept is open
    t_kept kept;
    const t_folder* folder;
    const char* name;             // the file it replaces, in folder
    char temporary[TEMPORARY_NAME_SIZE];
    t_cleanup* cleanup;           // armed for temporary, while it is not empty
};

// A new file in folder that is to replace the one called name, whether or
// not that one exists.
int createReplacement(t_replacement* replacement, const t_folder* folder, const char* name);
// Closes the new file and puts it in the place of name at once. 0 with errno
// EACCES, EPERM or EBUSY where the rename is refused, another for a medium
// that fails; the replacement is then to be abandoned.
int commitReplacement(t_replacement* replacement);
void abandonReplacement(t_replacement* replacement);

#endif
