#include "interrupts.h"

#include <csignal>
#include <cstddef>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// A handler sees nothing of the job, so this is the one state outside it: the
// path to delete, the job's own argument, which outlives every interrupt.
static const char* volatile cleanupPath = NULL;

// The handlers stay installed: with no path to delete, they end the run as
// the default would.
void disarmInterruptCleanup()
{
    cleanupPath = NULL;
}

#ifdef _WIN32

static SRWLOCK holdLock = SRWLOCK_INIT;

// Runs in a thread of its own. TerminateProcess ends the run without the
// runtime's exit work, which could wait for a stream the job holds locked.
static BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    AcquireSRWLockExclusive(&holdLock);
    if (cleanupPath == NULL) {
        ReleaseSRWLockExclusive(&holdLock);
        return FALSE;
    }
    DeleteFileA(cleanupPath);
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

void armInterruptCleanup(const char* out)
{
    cleanupPath = out;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void holdInterrupts()
{
    AcquireSRWLockExclusive(&holdLock);
}

void releaseInterrupts()
{
    ReleaseSRWLockExclusive(&holdLock);
}

#else

static const int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};
static sigset_t heldMask;

// Async-signal-safe calls only.
static void onInterrupt(int sig)
{
    const char* path = cleanupPath;

    if (path != NULL)
        unlink(path);
    signal(sig, SIG_DFL);
    raise(sig);
}

static void fillInterrupts(sigset_t* set)
{
    sigemptyset(set);
    for (int sig : INTERRUPTS)
        sigaddset(set, sig);
}

// A signal ignored from the start (a background job's SIGINT, nohup's SIGHUP)
// stays ignored. While the handler runs, the other interrupts wait.
void armInterruptCleanup(const char* out)
{
    struct sigaction action = {}, previous;

    action.sa_handler = onInterrupt;
    fillInterrupts(&action.sa_mask);
    cleanupPath = out;
    for (int sig : INTERRUPTS)
        if (sigaction(sig, NULL, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(sig, &action, NULL);
}

void holdInterrupts()
{
    sigset_t interrupts;

    fillInterrupts(&interrupts);
    sigprocmask(SIG_BLOCK, &interrupts, &heldMask);
}

void releaseInterrupts()
{
    sigprocmask(SIG_SETMASK, &heldMask, NULL);
}

#endif
