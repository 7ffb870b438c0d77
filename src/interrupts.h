// Deleting the temporary outputs in flight when the run is interrupted: by
// any signal that would end it, on Windows by Ctrl-C, Ctrl-Break or the
// console being closed. The system's calls catch the interrupts; what to do
// of one is decided here.
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
// Before any conversion: an interrupt then deletes every armed temporary
// and ends the run. With nothing armed, interrupts act as always.
void removeTemporariesOnInterrupt();
// For a program that finishes its work in order: the first interrupt only
// asks the conversions to stop (interruptedBy() then tells which), the next
// one acts as removeTemporariesOnInterrupt() has it.
void deferInterrupts();
// The interrupt asked for by deferInterrupts(), 0 for none yet.
int interruptedBy();
// Deletes every armed temporary, for a run that ends by itself after an
// interrupt; true when there was one.
bool removeArmed();

#endif
