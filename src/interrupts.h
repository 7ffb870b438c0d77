// Deleting the temporary outputs in flight when the run is interrupted: by
// any signal that would end it, on Windows by Ctrl-C, Ctrl-Break or the
// console being closed.
#ifndef TORVAN_INTERRUPTS_H
#define TORVAN_INTERRUPTS_H

#include "os/system.h"

// At most this many temporaries in flight at once: one per conversion running.
constexpr int MOST_IN_FLIGHT = 64;

// A temporary's entry in the interrupt cleanup.
struct t_cleanup;

// Claimed just before a temporary is made, with interrupts held; the handler
// waits for a claimed entry until it is armed or released. NULL when every
// entry is taken.
t_cleanup* claimCleanup();
// The temporary called name in folder now exists: an interrupt deletes it.
void armCleanup(t_cleanup* cleanup, const t_folder* folder, const char* name);
// The temporary is gone, renamed or never made.
void releaseCleanup(t_cleanup* cleanup);
// The interrupt asked for by deferInterrupts(), 0 for none yet.
int interruptedBy();

// For the system's handlers: safe in a handler, lock-free.
void deferTheFirstInterrupt();
// 1 when this interrupt only asks the conversions to stop.
int deferred(int interrupt);
// Deletes every armed temporary; 1 when there was one.
int removeArmed();

#endif
