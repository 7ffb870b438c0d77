// Interrupts on a POSIX system: every signal that would end the run.
#include <csignal>
#include <pthread.h>

#include "../system.h"

// Every signal that ends a process by default and can be caught.
static const int INTERRUPTS[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGPIPE, SIGALRM,
                                 SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};
static thread_local sigset_t heldMask;
// A signal handler knows nothing but what is static: the run's own handler,
// set once before any conversion.
static t_interrupt_handler runHandler;

// Async-signal-safe calls only.
static void onSignal(int sig)
{
    if (runHandler(sig, true) == INTERRUPT_DEFERRED)
        return;
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
void catchInterrupts(t_interrupt_handler handler)
{
    struct sigaction action = {}, previous;

    runHandler = handler;
    action.sa_handler = onSignal;
    fillInterrupts(&action.sa_mask);
    for (int sig : INTERRUPTS)
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
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
