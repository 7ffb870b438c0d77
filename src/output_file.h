// The output's life. A regular output is written into a new file in the
// folder of the file the output path leads to, which takes the output's name
// only once it is complete, so that the output path holds the older file or
// the new one, never a part. Devices, FIFOs and standard output are written
// directly and never deleted.
#ifndef TORVAN_OUTPUT_FILE_H
#define TORVAN_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>

#include "defs.h"
#include "interrupts.h"
#include "os/system.h"

// A leftover's name: a dot, at most 200 bytes of the output's name, a dot
// and six letters or digits.
constexpr int TEMPORARY_NAME_SIZE = 256;

// Why a call on the output failed, for the job to say.
enum t_output_failure { OUTPUT_UNOPENED, OUTPUT_UNWRITABLE, OUTPUT_IS_INPUT, OUTPUT_IS_PICTURE };

// An output's life, from all zero (nothing open) to discarded (nothing open
// again, nothing armed):
// - direct: a device, a FIFO or a descriptor the run holds; stream open,
//   written in place. Commit flushes and closes it; discard closes it.
// - writing: the folder held, stream open on the new file, which is either
//   unnamed (temporary empty) or made under temporary from the start, the
//   interrupt cleanup then armed for it. Nothing of the older output is
//   touched.
// - named: committing; stream closed, the file's own handle kept, temporary
//   linked or made and armed. Only the rename comes next.
// - committed or discarded: the folder closed, temporary empty, nothing
//   armed; a second discard does nothing.
// Any failure in any state leads to discarded: the temporary removed, the
// older output as it was.
struct t_output {
    FILE* stream;
    int direct;                    // written in place, never deleted
    int unnamed;                   // without a name until complete
    int held;                      // the folder is open
    int ownerKept;                 // the new file has the owner and group of the older one
    int keeping;                   // kept is open: named, the rename to come
    t_kept kept;
    int failure;                   // t_output_failure, after a call that failed
    t_file_identity input;         // the file the output never replaces
    t_folder folder;               // where the file the output path leads to stands
    char target[PATH_BUFFER];      // that file's path
    const char* name;              // its name in the folder
    char temporary[TEMPORARY_NAME_SIZE];   // the new file's name meanwhile, or empty
    t_cleanup* cleanup;            // armed for temporary, while it is not empty
};

// Opens the output for a picture of size bytes read from the file input,
// writing through buffer (STREAM_BUFFER bytes).
int openOutput(t_output* output, const char* out, uint64_t size, const t_file_identity* input,
               char* buffer);
// Closes the output and gives it its name.
int commitOutput(t_output* output);
// Leaves nothing of an output that is not committed; safe to repeat, and
// does nothing to an output never opened or committed.
void discardOutput(t_output* output);

#endif
