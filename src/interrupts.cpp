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

void disarmInterruptCleanup()
{
    cleanupPath = NULL;
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
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
static struct sigaction previous[3];
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

// A signal ignored from the start (a background job's SIGINT, nohup's SIGHUP)
// stays ignored.
void armInterruptCleanup(const char* out)
{
    struct sigaction action = {};

    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : INTERRUPTS)
        sigaddset(&action.sa_mask, sig);
    cleanupPath = out;
    for (int i = 0; i < 3; i++) {
        sigaction(INTERRUPTS[i], NULL, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(INTERRUPTS[i], &action, NULL);
    }
}

void disarmInterruptCleanup()
{
    if (cleanupPath == NULL)
        return;
    cleanupPath = NULL;
    for (int i = 0; i < 3; i++)
        sigaction(INTERRUPTS[i], &previous[i], NULL);
}

void holdInterrupts()
{
    sigset_t interrupts;

    sigemptyset(&interrupts);
    for (int sig : INTERRUPTS)
        sigaddset(&interrupts, sig);
    sigprocmask(SIG_BLOCK, &interrupts, &heldMask);
}

void releaseInterrupts()
{
    sigprocmask(SIG_SETMASK, &heldMask, NULL);
}

#endif
