// Deleting the temporary output when the run is interrupted: by any signal
// that would end it, on Windows by Ctrl-C, Ctrl-Break or the console being closed.
#ifndef TORVAN_INTERRUPTS_H
#define TORVAN_INTERRUPTS_H

#include "os_files.h"

// Installs the handlers, once, before anything is to be cleaned up: from
// arming to disarming, an interrupt then deletes the file called name in
// folder and ends the run as interrupted: on POSIX by the same signal, so
// that the shell sees it, on Windows with exit status 1. With nothing armed,
// interrupts act as always.
void catchInterrupts();
void armInterruptCleanup(const t_folder* folder, const char* name);
void disarmInterruptCleanup();
// While held, an interrupt waits; it takes effect when released.
void holdInterrupts();
void releaseInterrupts();
// A file-size limit then fails a write instead of ending the run.
void ignoreFileSizeLimit();

#endif
