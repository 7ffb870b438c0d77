// Interrupts on Windows: Ctrl-C, Ctrl-Break and the console being closed.
#include <windows.h>

#include "../system.h"

// The run's own handler, set once before any conversion: the console's
// handler knows nothing else.
static t_interrupt_handler runHandler;

// Runs in a thread of its own. TerminateProcess ends the run without the
// runtime's exit work, which could wait for a stream a job holds locked.
static BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    switch (runHandler((int)STATUS_CONTROL_C_EXIT, event != CTRL_CLOSE_EVENT)) {
    case INTERRUPT_DEFERRED: return TRUE;
    case INTERRUPT_ENDS: return FALSE;
    default: break;
    }
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

void catchInterrupts(t_interrupt_handler handler)
{
    runHandler = handler;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
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
