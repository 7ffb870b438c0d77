// Interrupts on Windows: Ctrl-C, Ctrl-Break and the console being closed.
#include <windows.h>

#include "../../interrupts.h"

// Runs in a thread of its own. TerminateProcess ends the run without the
// runtime's exit work, which could wait for a stream a job holds locked.
static BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (event != CTRL_CLOSE_EVENT && deferred((int)STATUS_CONTROL_C_EXIT))
        return TRUE;
    if (!removeArmed())
        return FALSE;
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

void catchInterrupts()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void deferInterrupts()
{
    deferTheFirstInterrupt();
    catchInterrupts();
}

// As cmd reports a run ended by Ctrl-C.
void endAsInterrupted(int interrupt)
{
    ExitProcess((UINT)interrupt);
}

// The handler's own thread waits for a claimed entry: nothing to hold.
void holdInterrupts()
{
}

void releaseInterrupts()
{
}

void ignoreFileSizeLimit()
{
}
