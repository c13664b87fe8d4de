// Where a stack lies, from each system's own calls (module/stack.hpp says what
// the recursion guard makes of it).
#include "module/stack.hpp"

#include <algorithm>

#include "module/compiler.hpp"

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
#else
#include <pthread.h>
#include <sys/resource.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace explorerview {

namespace {

// A level of native recursion with a Python function between two calls takes
// about 1.2 KiB of stack; the budget allows a few times that, for bigger
// frames (a sanitizer's) and a callee that does a little more.
constexpr std::uint64_t levelCost = 4 * 1024;
// Where even the limit does not bound the stack: the C recursion limit that
// later interpreters apply to their own native calls.
constexpr std::uint64_t mostCalls = 1500;
// What is mapped below the deepest call on a stack that follows the limit:
// raising RecursionError beneath it and unwinding through the calls above it
// take a few KiB (the C++ unwinder alone over 2).
constexpr std::size_t roomMapped = 16 * 1024;

#if !defined(_WIN32)
// The stack limit in force: the soft limit, which is the one the system
// enforces as the main thread's stack grows, and the size a new thread's
// stack gets unless the program asks for another.
std::uint64_t stackLimitNow() noexcept {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}
#endif

}  // namespace

#if defined(__linux__)
namespace {

// The process's first thread. (In a child forked by another thread it runs
// on that thread's fixed stack, which the mappings describe as well.)
bool isMainThread() noexcept { return syscall(SYS_gettid) == getpid(); }

// A file of /proc, read line by line through a buffer on the heap: the
// stack this runs on may have little room left, and can grow no more once
// the limit was lowered below what it holds. Fails (no line) where the file
// cannot be opened: no /proc, or no file descriptor left.
class ProcFile {
public:
    explicit ProcFile(const char* path) noexcept
        : fd_(open(path, O_RDONLY | O_CLOEXEC)), buffer_(static_cast<char*>(std::malloc(size))) {}
    ~ProcFile() {
        if (fd_ >= 0) close(fd_);
        std::free(buffer_);
    }
    ProcFile(const ProcFile&) = delete;
    ProcFile& operator=(const ProcFile&) = delete;

    // The next line, without its newline and ended by a NUL, or null at the
    // end, on a read error or on a line longer than the buffer.
    char* nextLine() noexcept {
        if (fd_ < 0 || !buffer_) return nullptr;
        std::memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
        for (;;) {
            if (char* newline = static_cast<char*>(std::memchr(buffer_, '\n', end_))) {
                *newline = '\0';
                start_ = static_cast<std::size_t>(newline - buffer_) + 1;
                return buffer_;
            }
            if (end_ == size - 1) return nullptr;
            const ssize_t got = read(fd_, buffer_ + end_, size - 1 - end_);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {  // the last line may have no newline
                if (got < 0 || end_ == 0) return nullptr;
                buffer_[end_] = '\0';
                start_ = end_;
                return buffer_;
            }
            end_ += static_cast<std::size_t>(got);
        }
    }

private:
    static constexpr std::size_t size = 16 * 1024;  // a line holds at most a path and 80 characters
    int fd_;
    char* buffer_;
    std::size_t start_ = 0, end_ = 0;  // the unread part of the buffer
};

// A hexadecimal or decimal number at `text`, moving past it.
std::uintptr_t number(const char*& text, int base) noexcept {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, base);
    text = end;
    return static_cast<std::uintptr_t>(value);
}

// The kernel's stack guard gap, in bytes: how far above another mapping a
// growing stack stops. 256 pages unless the system was told otherwise.
std::uintptr_t readGuardGap() noexcept {
    std::uintptr_t pages = 256;
    ProcFile setting("/proc/sys/vm/stack_guard_gap"), bootOptions("/proc/cmdline");
    if (const char* line = setting.nextLine()) {
        pages = number(line, 10);
    } else if (const char* line = bootOptions.nextLine()) {
        static constexpr char option[] = "stack_guard_gap=";
        for (const char* at = std::strstr(line, option); at; at = std::strstr(at + 1, option))
            if (at == line || at[-1] == ' ') {
                at += sizeof option - 1;
                pages = number(at, 0);
                break;
            }
    }
    return pages * static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
}

std::uintptr_t guardGap() noexcept {
    static const std::uintptr_t gap = readGuardGap();
    return gap;
}

// One line of /proc/self/maps: "start-end perms offset dev inode [name]".
struct Mapping {
    std::uintptr_t start = 0, end = 0;
    // The end of the mapping below it; 0 where none lies below.
    std::uintptr_t endBelow = 0;
    // "[stack]": the main thread's stack, which the kernel grows. Any other
    // name but an anonymous one's: no stack of its own.
    bool mainStack = false, named = false;
};

Mapping parseMapping(const char* text) noexcept {
    Mapping mapping;
    mapping.start = number(text, 16);
    if (*text == '-') ++text;
    mapping.end = number(text, 16);
    for (int field = 0; field < 4 && *text; ++field) {  // perms offset dev inode
        while (*text == ' ') ++text;
        while (*text && *text != ' ') ++text;
    }
    while (*text == ' ') ++text;
    mapping.mainStack = std::strcmp(text, "[stack]") == 0;
    mapping.named = *text && !mapping.mainStack && std::strncmp(text, "[anon:", 6) != 0;
    return mapping;
}

// The mapping that holds `here`, from the process's mappings (in ascending
// order); false where they cannot be read.
bool mappingHolding(std::uintptr_t here, Mapping& found) noexcept {
    ProcFile maps("/proc/self/maps");
    std::uintptr_t endBelow = 0;
    while (const char* line = maps.nextLine()) {
        Mapping mapping = parseMapping(line);
        if (here < mapping.start) return false;
        if (here < mapping.end) {
            mapping.endBelow = endBelow;
            found = mapping;
            return true;
        }
        endBelow = mapping.end;
    }
    return false;
}

// The main thread's stack, which grows down to `limit` below the top of its
// mapping, but never closer than the guard gap to the mapping below; what is
// mapped already stays whatever the limit.
StackBounds mainStack(const Mapping& mapping, std::uint64_t limit) noexcept {
    std::uintptr_t low = mapping.endBelow ? mapping.endBelow + guardGap() : 0;
    if (limit < mapping.end) low = std::max<std::uintptr_t>(low, mapping.end - static_cast<std::uintptr_t>(limit));
    low = std::min(low, mapping.start);
    return {low, mapping.end, true, limit};
}

// The stack that holds `here`, from the mappings: the main thread's, or a
// mapping of its own that the program made a stack of.
StackBounds stackAmongMappings(std::uintptr_t here) noexcept {
    // The limit is read first: were it changed meanwhile, the next check
    // measures the stack anew.
    const std::uint64_t limit = stackLimitNow();
    Mapping mapping;
    if (!mappingHolding(here, mapping)) return {};
    if (mapping.mainStack) return mainStack(mapping, limit);
    // A stack of the program's own, whose top the mappings do not tell (a
    // mapping made alike just above merges with it): taken to end at the page
    // that holds the first call measured there, so that half of what lies
    // below it is kept. A call from higher up measures it anew.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    StackBounds bounds{mapping.start, std::min(mapping.end, (here | (page - 1)) + 1)};
    bounds.measured = !mapping.named;
    return bounds;
}

// The calling thread's stack as its thread library describes it. For the
// main thread the C library derives it from the mappings too, and gives
// neither the guard gap nor what the stack holds beyond a lowered limit.
StackBounds threadStack() noexcept {
    StackBounds bounds;
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
    return bounds;
}

}  // namespace
#endif

StackBounds stackHolding(std::uintptr_t here) noexcept {
    StackBounds bounds;
#if defined(_WIN32)
    // The whole reserved stack (a fiber's too): its lowest pages are the
    // guard that the system moves down as the stack grows.
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    bounds = {static_cast<std::uintptr_t>(low), static_cast<std::uintptr_t>(high)};
#elif defined(__APPLE__)
    pthread_t self = pthread_self();
    auto high = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));  // the top
    std::uintptr_t size = pthread_get_stacksize_np(self);
    if (high > size) bounds = {high - size, high};
#elif defined(__linux__)
    if (!isMainThread()) bounds = threadStack();
    if (!bounds.holds(here)) bounds = stackAmongMappings(here);
#endif
    return bounds.holds(here) ? bounds : StackBounds{};
}

// Out of line, so that its frame is taken only when it runs.
EXPLORERVIEW_NOINLINE void mapRoomBelow(const StackBounds& stack, std::uintptr_t here) noexcept {
    if (here - stack.low < 2 * roomMapped) return;
    volatile char room[roomMapped];
    for (std::size_t at = 0; at < roomMapped; at += 1024) room[at] = 0;
    (void)room;
}

bool boundsStillHold(const StackBounds& bounds) noexcept {
#if defined(__linux__)
    return !bounds.followsLimit || stackLimitNow() == bounds.limit;
#else
    (void)bounds;
    return true;
#endif
}

int unmeasuredCallBudget() noexcept {
#if defined(_WIN32)
    const std::uint64_t smallest = 1 << 20;  // a thread's stack unless its program asks for another
#else
    const std::uint64_t smallest = stackLimitNow();
#endif
    return static_cast<int>(std::min(smallest / 2 / levelCost, mostCalls));
}

}  // namespace explorerview
