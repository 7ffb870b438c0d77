// The output's life. A regular output is written into a new file in the
// folder it is to stand in, which takes the output's name only once it is
// complete, so that the name holds the older file or the new one, never a
// part. For torvan the path is followed to the file it leads to, and a
// device, a FIFO or a descriptor the run holds is written directly and never
// deleted; for kvr2fits the name in the night's folder is the output itself,
// whatever stands there, never followed.
#ifndef TORVAN_OUTPUT_FILE_H
#define TORVAN_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>
#include <atomic>

#include "defs.h"
#include "os/system.h"
#include "replacement.h"

// Why a call on the output failed, for the job to say.
enum t_output_failure {
    OUTPUT_REFUSED, OUTPUT_UNWRITABLE, OUTPUT_IS_INPUT, OUTPUT_IS_PICTURE,
    OUTPUT_IS_FOLDER,         // a folder stands at the name
    OUTPUT_TAKEN,             // something stands at a name that is not to be replaced
    OUTPUT_FOLDER_REFUSED,    // no new file may be made in the folder
};

// An output's life, from all zero (nothing open) to discarded (nothing open
// again):
// - direct: a device, a FIFO or a descriptor the run holds; stream open on
//   it, written in place. Commit flushes and closes it; discard closes it.
// - replacing: the folder held, the replacement created and stream its
//   stream; nothing of what stands at the name is touched. Commit flushes,
//   gives the new file its attributes, judges the name once more, then
//   commits the replacement: to a free name by the call that refuses to
//   replace, over what stands there only where replacing allows it.
// - committed or discarded: the folder closed where it is the output's own,
//   nothing open or armed; a second discard does nothing.
// Any failure in any state leads to discarded, the name as it was.
struct t_output {
    FILE* stream;                  // where the picture goes
    bool direct;                   // written in place, never deleted
    bool held;                     // ownFolder is open
    bool replacing;                // what stands at the name may be replaced
    bool ownerKept;                // the new file has the owner and group of the older one
    t_output_failure failure;      // after a call that failed
    int cause;                     // its errno
    t_file_identity input;         // the file the output never replaces
    t_new_mode mode;               // what a new file's mode comes from
    t_folder ownFolder;            // where torvan's output path leads
    const t_folder* folder;        // where the output stands
    char target[PATH_BUFFER];      // torvan's last name, in ownFolder
    const char* name;              // the output's name in folder
    t_replacement replacement;
};

// A folder that a night's outputs are written into: opened when its first
// picture comes, made only when the first output is to be written in it, and
// closed once its last picture is done, so that a tree of a thousand nights
// holds as few folders open as pictures are in flight. Every call takes
// lock, shared by the night's folders: a flag spun on, for calls that take a
// few system calls at most, and that needs nothing of the C++ runtime, so that
// torvan, which links this room too, needs none either.
enum t_folder_state { FOLDER_UNTRIED, FOLDER_MISSING, FOLDER_HELD, FOLDER_FAILED };
struct t_output_folder {
    const char* path;
    std::atomic_flag* lock;
    size_t pictures;              // those not yet done
    t_folder_state state;
    t_walk failure;               // why it is neither held nor to be made
    int cause;                    // its errno
    t_folder* folder;             // while held
};

// The folder where it stands, opened now where not yet tried; NULL where it
// does not stand (yet), or may not be used: another user's in a shared folder,
// or one reached through her link.
const t_folder* standingFolder(t_output_folder* folder);
// The folder, made now where missing; NULL where it cannot be.
const t_folder* madeFolder(t_output_folder* folder);
// Whether the folder stands or may be made: what a dry run tells.
bool folderUsable(t_output_folder* folder);
// One of its pictures is done: after the last, the folder is closed.
void releaseOutputFolder(t_output_folder* folder);
// Closes the folder where it is held still: a night that stopped leaves some.
void closeOutputFolder(t_output_folder* folder);

// Opens the output path out as torvan does for a picture of size bytes read
// from the file input, writing through buffer (STREAM_BUFFER bytes).
bool openOutput(t_output* output, const char* out, uint64_t size, const t_file_identity* input,
                const t_new_mode* mode, char* buffer);
// Opens the output called name in folder, never following it: what stands
// there is replaced only where replacing says.
bool openOutputIn(t_output* output, const t_folder* folder, const char* name, bool replacing,
                  uint64_t size, const t_file_identity* input, const t_new_mode* mode,
                  char* buffer);
// Closes the output and gives it its name.
bool commitOutput(t_output* output);
// Leaves nothing of an output that is not committed; safe to repeat, and
// does nothing to an output never opened or committed.
void discardOutput(t_output* output);

#endif
