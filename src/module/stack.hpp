// The recursion guard's promise: endless recursion through the module's
// functions ends in RecursionError, never in a crash, on every stack the
// guard can measure, whatever the recursion limit and whenever the stack
// limit changes. The guard measures the stack left rather than counting
// calls, since stacks differ in size by a factor of a hundred (a 256 KiB
// thread of threading.stack_size, 1 MiB on Windows, 8 MiB for a Linux main
// thread) while a level of recursion costs about the same on each.
//
// - Room kept: a native call starts only in the upper half of its stack. The
//   lower half is left to what the call runs beneath it: the Python functions
//   it calls (which may recurse in C, through repr() of a nested list say, as
//   deep as the recursion limit lets them), the toolkit, and raising the
//   error. Half is never less than the 64 KiB kept before on a big stack, nor
//   the quarter kept on a small one.
// - The bottom: where the system says the stack ends. A main thread's stack
//   grows as far as the stack limit in force lets it, and the kernel stops it
//   a guard gap (stack_guard_gap, 1 MiB unless the system says otherwise)
//   above any mapping that lies below; a limit lowered after the stack grew
//   does not take back what is mapped already, and lets it grow no further.
// - Which stacks: a thread's own stack as its thread library describes it,
//   the main thread's as above, and a stack the program made for itself (a
//   mapping of its own, as coroutine libraries make them with a guard page
//   below), found among the process's mappings by the stack pointer.
// - Where no bounds can be read, nested native calls are counted against a
//   budget that fits half the smallest stack the limit allows: where the
//   mappings cannot be read (no /proc, no file descriptor left), and the
//   bounds are asked for again at the next call; and on a stack inside
//   memory that is no stack of its own (the C heap, say).
// - What is not asked again: a call no deeper than one let start before, on
//   the same stack, until the recursion has come back up by 64 KiB. A limit
//   lowered in between leaves such a call what is mapped below it: at least
//   the pages mapped below the deepest call (mapRoomBelow).
// RecursionError may come earlier than the same code in plain Python would
// meet it; a crash may not.
#pragma once

#include <cstdint>

namespace explorerview {

// [low, high): the stack grows down from `high` towards `low`, the lowest
// address it can reach (on every platform the module is built for).
struct StackBounds {
    std::uintptr_t low = 0, high = 0;
    // A Linux main thread's stack grows as far as the process's stack limit
    // lets it, and a program may change that limit at any time
    // (resource.setrlimit): its `low` holds only while the limit is still
    // `limit`. Every other stack is fixed when it is made.
    bool followsLimit = false;
    std::uint64_t limit = 0;
    // False for memory that holds the stack pointer but is no stack of its
    // own (the C heap, a file): where it ends says nothing of the stack.
    bool measured = true;

    bool holds(std::uintptr_t here) const noexcept { return low <= here && here < high; }
    // The lowest address a native call may start at: the lower half is kept.
    std::uintptr_t lowestCallStart() const noexcept { return low + (high - low) / 2; }
};

// The stack that holds `here`, an address on the calling thread's stack; one
// that does not hold `here` (all zero) when the system cannot say. Asks the
// system (pthread on Linux and macOS, the thread's limits on Windows, and on
// Linux the process's mappings for the main thread and for a stack of the
// program's own): ask once per stack, and again only when boundsStillHold
// says no.
StackBounds stackHolding(std::uintptr_t here) noexcept;

// Whether `bounds`, read on the calling thread, still say where its stack
// ends: always for a fixed stack; for one that follows the limit, a system
// call that asks for the limit now, so ask only when a call goes deeper than
// the stack has been checked.
bool boundsStillHold(const StackBounds& bounds) noexcept;

// Has the system map the pages just below `here`, the start of the deepest
// call so far on a stack that follows the limit, while the limit lets it: a
// limit lowered later below what the stack holds lets it grow no more, yet
// raising RecursionError beneath that call and unwinding through it still
// find room.
void mapRoomBelow(const StackBounds& stack, std::uintptr_t here) noexcept;

// How many native calls may run inside one another where the stack cannot
// be measured: as many as fit in half the smallest stack the limit allows.
int unmeasuredCallBudget() noexcept;

}  // namespace explorerview
