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
#include "os/system.h"
#include "replacement.h"

// Why a call on the output failed, for the job to say.
enum t_output_failure { OUTPUT_UNOPENED, OUTPUT_UNWRITABLE, OUTPUT_IS_INPUT, OUTPUT_IS_PICTURE };

// An output's life, from all zero (nothing open) to discarded (nothing open
// again):
// - direct: a device, a FIFO or a descriptor the run holds; stream open on
//   it, written in place. Commit flushes and closes it; discard closes it.
// - replacing: the folder held, the replacement created and stream its
//   stream; nothing of the older output is touched. Commit flushes, gives the
//   new file its attributes, checks the older output once more, then commits
//   the replacement; discard abandons it.
// - committed or discarded: the folder closed, nothing open or armed; a
//   second discard does nothing.
// Any failure in any state leads to discarded, the older output as it was.
struct t_output {
    FILE* stream;                  // where the picture goes
    int direct;                    // written in place, never deleted
    int held;                      // the folder is open
    int ownerKept;                 // the new file has the owner and group of the older one
    int failure;                   // t_output_failure, after a call that failed
    t_file_identity input;         // the file the output never replaces
    t_folder folder;               // where the file the output path leads to stands
    char target[PATH_BUFFER];      // that file's path
    const char* name;              // its name in the folder
    t_replacement replacement;
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
