#include "interrupts.h"

#include <atomic>
#include <csignal>
#include <cstddef>
#ifdef _WIN32
#include <windows.h>

#include "os_files.h"
#else
#include <unistd.h>
#endif

// A handler sees nothing of the job, so this is the one state outside it: the
// path to delete, which the job keeps until it disarms. Reading it in a
// handler is allowed because it is lock-free.
static std::atomic<const char*> cleanupPath(nullptr);
static_assert(std::atomic<const char*>::is_always_lock_free, "a handler may not take a lock");

// The handlers stay installed: with no path to delete, they end the run as
// the default would.
void disarmInterruptCleanup()
{
    cleanupPath = nullptr;
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
    const char* path = cleanupPath;
    if (path == nullptr) {
        ReleaseSRWLockExclusive(&holdLock);
        return FALSE;
    }
    removeFile(path);
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

void armInterruptCleanup(const char* path)
{
    cleanupPath = path;
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

void ignoreFileSizeLimit()
{
}

#else

// Every signal that ends a process by default and can be caught.
static const int INTERRUPTS[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGPIPE, SIGALRM,
                                 SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};
static sigset_t heldMask;

// Async-signal-safe calls only.
static void onInterrupt(int sig)
{
    const char* path = cleanupPath;

    if (path != nullptr)
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
void armInterruptCleanup(const char* path)
{
    struct sigaction action = {}, previous;

    action.sa_handler = onInterrupt;
    fillInterrupts(&action.sa_mask);
    cleanupPath = path;
    for (int sig : INTERRUPTS)
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
}

void holdInterrupts()
{
    sigset_t interrupts;

    fillInterrupts(&interrupts);
    sigprocmask(SIG_BLOCK, &interrupts, &heldMask);
}

void releaseInterrupts()
{
    sigprocmask(SIG_SETMASK, &heldMask, nullptr);
}

void ignoreFileSizeLimit()
{
    signal(SIGXFSZ, SIG_IGN);
}

#endif
