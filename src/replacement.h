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
// - committed or abandoned: nothing open, nothing armed, temporary empty;
//   abandoning removes a temporary that stands, and a second call does nothing.
// Committing closes the stream (its close checked) and names the file: an
// unnamed one that takes a free name is linked to it, and a kill at any
// moment leaves nothing; one that replaces is linked under temporary and
// renamed over the name with interrupts held from before the link to after
// the rename, so that only a kill in that moment leaves the temporary.
struct t_replacement {
    FILE* stream;
    bool unnamed;
    bool handleOpen;              // the file closed as a stream, open as handle
    t_file_handle handle;
    const t_folder* folder;
    const char* name;             // the file it replaces, in folder
    char temporary[TEMPORARY_NAME_SIZE];
    t_cleanup* cleanup;           // armed for temporary, while it is not empty
};

// How the new file takes its name.
enum t_commit_way {
    COMMIT_FREE_NAME,     // only where nothing stands at the name
    COMMIT_REPLACING,     // in the place of whatever stands there
};
enum t_commit {
    COMMITTED,
    COMMIT_NAME_TAKEN,    // something stands at a free name meanwhile
    COMMIT_REFUSED,       // the rename is refused (errno EACCES, EPERM or EBUSY)
    COMMIT_FAILED,        // the medium failed
};

// A new file in folder that is to take the place of the one called name,
// whether or not that one exists, made with mode.
bool createReplacement(t_replacement* replacement, const t_folder* folder, const char* name,
                       const t_new_mode* mode);
// Closes the new file and gives it the name at once. After COMMIT_NAME_TAKEN
// it may be called again, to replace; anything else but COMMITTED leaves the
// replacement to be abandoned.
t_commit commitReplacement(t_replacement* replacement, t_commit_way way);
void abandonReplacement(t_replacement* replacement);

#endif
