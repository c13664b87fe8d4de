// Where the calling thread's stack lies, as the system reports it: the
// recursion guard of native calls measures the stack left rather than
// counting calls, since threads differ in stack size by a factor of a hundred
// (a 256 KiB thread of threading.stack_size, 1 MiB on Windows, 8 MiB for a
// Linux main thread) while a level of recursion costs about the same on each.
#pragma once

#include <cstdint>

namespace explorerview {

// [low, high): the stack grows down from `high` towards `low` (on every
// platform the module is built for). Both are 0 where the system cannot say.
struct StackBounds {
    std::uintptr_t low = 0, high = 0;
    // A Linux main thread's stack grows as far as the process's stack limit
    // lets it, and a program may change that limit at any time
    // (resource.setrlimit): its `low` holds only while the limit is still
    // `limit`. Every other thread's stack is fixed when the thread starts.
    bool followsLimit = false;
    std::uint64_t limit = 0;
};

// The calling thread's stack. Asks the system (pthread on Linux and macOS,
// the thread's limits on Windows), which may read /proc for a main thread:
// read it once per thread, and again only when boundsStillHold says no.
StackBounds threadStackBounds() noexcept;

// Whether `bounds`, read on the calling thread, still say where its stack
// ends: always for a fixed stack; for one that follows the limit, a system
// call that asks for the limit now, so ask only when a call goes deeper than
// the stack has been checked.
bool boundsStillHold(const StackBounds& bounds) noexcept;

}  // namespace explorerview
