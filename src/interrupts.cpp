#include "interrupts.h"

#include <atomic>
#include <csignal>
#include <cstddef>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// A handler sees nothing of the job, so this is the one state outside it: the
// file to delete, which the job keeps until it disarms. Reading it in a
// handler is allowed because it is lock-free.
static std::atomic<const t_folder*> cleanupFolder(nullptr);
static std::atomic<const char*> cleanupName(nullptr);
static_assert(std::atomic<const char*>::is_always_lock_free, "a handler may not take a lock");
static_assert(std::atomic<const t_folder*>::is_always_lock_free, "a handler may not take a lock");

// The name last: a handler that sees it sees its folder too.
static void setCleanup(const t_folder* folder, const char* name)
{
    cleanupFolder = folder;
    cleanupName = name;
}

// The handlers stay installed: with nothing to delete, they end the run as
// the default would.
void disarmInterruptCleanup()
{
    cleanupName = nullptr;
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
    const char* name = cleanupName;
    if (name == nullptr) {
        ReleaseSRWLockExclusive(&holdLock);
        return FALSE;
    }
    removeInFolder(cleanupFolder, name);
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

void catchInterrupts()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void armInterruptCleanup(const t_folder* folder, const char* name)
{
    setCleanup(folder, name);
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
    const char* name = cleanupName;

    if (name != nullptr)
        removeInFolder(cleanupFolder, name);
    signal(sig, SIG_DFL);
    raise(sig);
}

static void fillInterrupts(sigset_t* set)
{
    sigemptyset(set);
    for (int sig : INTERRUPTS)
        sigaddset(set, sig);
}

void armInterruptCleanup(const t_folder* folder, const char* name)
{
    setCleanup(folder, name);
}

// A signal ignored from the start (a background job's SIGINT, nohup's SIGHUP)
// stays ignored. While the handler runs, the other interrupts wait.
void catchInterrupts()
{
    struct sigaction action = {}, previous;

    action.sa_handler = onInterrupt;
    fillInterrupts(&action.sa_mask);
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
