// The calling thread's stack bounds, from each system's own call.
#include "module/stack.hpp"

#if defined(_WIN32)
// GetCurrentThreadStackLimits came with Windows 8, the oldest system the
// interpreter itself supports.
#if defined(_WIN32_WINNT) && _WIN32_WINNT < 0x0602
#undef _WIN32_WINNT
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(__APPLE__)
#include <pthread.h>
#elif defined(__linux__)
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace explorerview {

#if defined(__linux__)
namespace {

// The stack limit in force: the soft limit, which is the one the system
// enforces as the main thread's stack grows.
std::uint64_t stackLimitNow() noexcept {
    rlimit limit{};
    return getrlimit(RLIMIT_STACK, &limit) == 0 ? static_cast<std::uint64_t>(limit.rlim_cur) : 0;
}

// The process's first thread, whose stack the system grows on demand. (In a
// child forked by another thread it runs on that thread's fixed stack: the C
// library's answer then ignores the limit, and reading it anew costs only time.)
bool isMainThread() noexcept { return syscall(SYS_gettid) == getpid(); }

}  // namespace
#endif

StackBounds threadStackBounds() noexcept {
    StackBounds bounds;
#if defined(_WIN32)
    // The whole reserved stack: its lowest pages are the guard that the
    // system moves down as the stack grows.
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    bounds = {static_cast<std::uintptr_t>(low), static_cast<std::uintptr_t>(high)};
#elif defined(__APPLE__)
    pthread_t self = pthread_self();
    auto high = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));  // the top
    std::uintptr_t size = pthread_get_stacksize_np(self);
    if (high > size) bounds = {high - size, high};
#elif defined(__linux__)
    // For the main thread the C library derives the size from the stack
    // limit (ulimit -s) and the mappings below the stack. The limit is read
    // first: were it changed meanwhile, the next check reads the bounds anew.
    if (isMainThread()) {
        bounds.followsLimit = true;
        bounds.limit = stackLimitNow();
    }
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &low, &size) == 0 && low && size) {
            bounds.low = reinterpret_cast<std::uintptr_t>(low);
            bounds.high = bounds.low + size;
        }
        pthread_attr_destroy(&attributes);
    }
#endif
    return bounds;
}

bool boundsStillHold(const StackBounds& bounds) noexcept {
#if defined(__linux__)
    return !bounds.followsLimit || stackLimitNow() == bounds.limit;
#else
    (void)bounds;
    return true;
#endif
}

}  // namespace explorerview
