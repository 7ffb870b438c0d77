// Deleting the temporary output when the run is interrupted: by any signal
// that would end it, on Windows by Ctrl-C, Ctrl-Break or the console being closed.
#ifndef TORVAN_INTERRUPTS_H
#define TORVAN_INTERRUPTS_H

// From arming to disarming, an interrupt deletes the file at path and ends
// the run as interrupted: on POSIX by the same signal, so that the shell sees
// it, on Windows with exit status 1. Outside, interrupts act as always.
void armInterruptCleanup(const char* path);
void disarmInterruptCleanup();
// While held, an interrupt waits; it takes effect when released.
void holdInterrupts();
void releaseInterrupts();
// A file-size limit then fails a write instead of ending the run.
void ignoreFileSizeLimit();

#endif
