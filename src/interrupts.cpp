#include "interrupts.h"

#include <atomic>

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

// Safe in a handler: lock-free.
static t_interrupt_action onInterrupt(int interrupt, bool mayDefer)
{
    int none = 0;

    if (mayDefer && deferring && interrupted.compare_exchange_strong(none, interrupt))
        return INTERRUPT_DEFERRED;
    return removeArmed() ? INTERRUPT_ENDS_CLEANED : INTERRUPT_ENDS;
}

void removeTemporariesOnInterrupt()
{
    catchInterrupts(onInterrupt);
}

void deferInterrupts()
{
    deferring = 1;
    catchInterrupts(onInterrupt);
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
bool removeArmed()
{
    bool removed = false;

    for (t_cleanup& cleanup : cleanups) {
        const char* name;
        while ((name = cleanup.name) == CLAIMED) {
        }
        if (name != nullptr) {
            removeInFolder(cleanup.folder, name);
            removed = true;
        }
    }
    return removed;
}
