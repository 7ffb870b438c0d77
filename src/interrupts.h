// Deleting the temporary outputs in flight when the run is interrupted: by
// any signal that would end it, on Windows by Ctrl-C, Ctrl-Break or the
// console being closed.
#ifndef TORVAN_INTERRUPTS_H
#define TORVAN_INTERRUPTS_H

#include "os_files.h"

// At most this many temporaries in flight at once: one per conversion running.
constexpr int MOST_IN_FLIGHT = 64;

// A temporary's entry in the interrupt cleanup.
struct t_cleanup;

// Installs the handlers, once, before any conversion: an interrupt then
// deletes every armed temporary and ends the run as interrupted: on POSIX by
// the same signal, so that the shell sees it, on Windows with exit status 1.
// With nothing armed, interrupts act as always.
void catchInterrupts();
// For a program that finishes its work in order: the first interrupt only
// asks the conversions to stop (interruptedBy() then tells which), the next
// one acts as catchInterrupts() does.
void deferInterrupts();
// The interrupt asked for, 0 for none yet.
int interruptedBy();
// Ends the run as the interrupt would have: on POSIX by the same signal.
void endAsInterrupted(int interrupt);
// Claimed just before a temporary is made, with interrupts held; the handler
// waits for a claimed entry until it is armed or released. NULL when every
// entry is taken.
t_cleanup* claimCleanup();
// The temporary called name in folder now exists: an interrupt deletes it.
void armCleanup(t_cleanup* cleanup, const t_folder* folder, const char* name);
// The temporary is gone, renamed or never made.
void releaseCleanup(t_cleanup* cleanup);
// While held, an interrupt to this thread waits; it takes effect when released.
void holdInterrupts();
void releaseInterrupts();
// A file-size limit then fails a write instead of ending the run.
void ignoreFileSizeLimit();

#endif
