#include "interrupts.h"

#include <atomic>
#include <csignal>
#include <cstddef>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// A handler sees nothing of the jobs, so this is the one state outside them:
// the temporaries to delete, each kept by its job until released. Reading it
// in a handler is allowed because it is lock-free.
struct t_cleanup {
    std::atomic<const t_folder*> folder;
    std::atomic<const char*> name;   // nullptr: free; CLAIMED: being made
};
static t_cleanup cleanups[MOST_IN_FLIGHT];
static const char CLAIMED[] = "";
static_assert(std::atomic<const char*>::is_always_lock_free, "a handler may not take a lock");
static_assert(std::atomic<const t_folder*>::is_always_lock_free, "a handler may not take a lock");

// Whether the first interrupt only asks to stop, and the one that did.
static std::atomic<int> deferring(0), interrupted(0);
static_assert(std::atomic<int>::is_always_lock_free, "a handler may not take a lock");

int interruptedBy()
{
    return interrupted;
}

// 1 when this interrupt only asks the conversions to stop.
static int deferred(int interrupt)
{
    int none = 0;
    return deferring && interrupted.compare_exchange_strong(none, interrupt);
}

t_cleanup* claimCleanup()
{
    for (t_cleanup& cleanup : cleanups) {
        const char* free = nullptr;
        if (cleanup.name.compare_exchange_strong(free, CLAIMED))
            return &cleanup;
    }
    return nullptr;
}

// The name last: a handler that sees it sees its folder too.
void armCleanup(t_cleanup* cleanup, const t_folder* folder, const char* name)
{
    cleanup->folder = folder;
    cleanup->name = name;
}

void releaseCleanup(t_cleanup* cleanup)
{
    if (cleanup != nullptr)
        cleanup->name = nullptr;
}

// A claimed entry belongs to another thread, which holds interrupts while it
// makes its temporary: it is armed or released within a few system calls.
static int removeArmed()
{
    int removed = 0;

    for (t_cleanup& cleanup : cleanups) {
        const char* name;
        while ((name = cleanup.name) == CLAIMED) {
        }
        if (name != nullptr) {
            removeInFolder(cleanup.folder, name);
            removed = 1;
        }
    }
    return removed;
}

#ifdef _WIN32

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
    deferring = 1;
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

#else

// Every signal that ends a process by default and can be caught.
static const int INTERRUPTS[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGPIPE, SIGALRM,
                                 SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};
static thread_local sigset_t heldMask;

// Async-signal-safe calls only.
static void onInterrupt(int sig)
{
    if (deferred(sig))
        return;
    removeArmed();
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
void catchInterrupts()
{
    struct sigaction action = {}, previous;

    action.sa_handler = onInterrupt;
    fillInterrupts(&action.sa_mask);
    for (int sig : INTERRUPTS)
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
}

void deferInterrupts()
{
    deferring = 1;
    catchInterrupts();
}

void endAsInterrupted(int interrupt)
{
    signal(interrupt, SIG_DFL);
    raise(interrupt);
}

// This thread's mask: with threads, another one may take the signal, and
// its handler then waits for the entry this one has claimed.
void holdInterrupts()
{
    sigset_t interrupts;

    fillInterrupts(&interrupts);
    pthread_sigmask(SIG_BLOCK, &interrupts, &heldMask);
}

void releaseInterrupts()
{
    pthread_sigmask(SIG_SETMASK, &heldMask, nullptr);
}

void ignoreFileSizeLimit()
{
    signal(SIGXFSZ, SIG_IGN);
}

#endif
