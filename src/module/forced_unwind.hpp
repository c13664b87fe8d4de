// A thread that the interpreter ends while it runs inside the module (a daemon
// thread still working when the interpreter exits) leaves by a forced unwind.
// With glibc and libstdc++ that is an exception, abi::__forced_unwind, which a
// catch (...) must rethrow: swallowed, the C library aborts the process. So
// every catch-all of the module is preceded by this handler, and the functions
// such a thread can unwind through are not noexcept.
//
// The interpreter ends such a thread when it tries to take the interpreter
// lock while the interpreter finalizes. Unwound, the thread would release the
// Python objects its frames hold without that lock, while the main thread
// frees objects of its own: intoPython() instead stops the thread where the
// unwind enters the module, before any of the module's frames clean up, and
// lets it wait for the process to end (as later interpreters make every such
// thread wait).
//
// On Windows a thread ends without unwinding its C++ frames, and with /EHsc a
// catch (...) sees C++ exceptions only: there is nothing to rethrow, and the
// handler is empty. (Clang on Linux uses libstdc++ too.)
#pragma once

#include <pybind11/pybind11.h>  // never <Python.h> first (module/compiler.hpp)

#include "module/compiler.hpp"

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define EXPLORERVIEW_RETHROW_FORCED_UNWIND \
    catch (abi::__forced_unwind&) {        \
        throw;                             \
    }
// The forced unwind carries no C++ object, so the reference its handler
// catches is bound to null; the undefined-behaviour checker of the sanitizer
// build would stop there. Each function with that handler skips that check.
#define EXPLORERVIEW_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))
#else
#define EXPLORERVIEW_RETHROW_FORCED_UNWIND
#define EXPLORERVIEW_CATCHES_FORCED_UNWIND
#endif

namespace explorerview {

// Never returns: the thread sleeps until the process ends.
[[noreturn]] void waitForProcessEnd() noexcept;

// apiCall(): a C API call that may run Python code, and so may be where the
// interpreter ends this thread. A C API call raises no C++ exception of its
// own (every native function turns its exceptions into Python errors before
// returning), so what leaves it is the forced unwind; it is caught as
// anything, without a reference bound to an object it does not carry, and
// rethrown unless the interpreter is finalizing.
template <class Call>
EXPLORERVIEW_ALWAYS_INLINE auto intoPython(Call&& apiCall) -> decltype(apiCall()) {
#if defined(__GLIBCXX__)
    try {
        return apiCall();
    } catch (...) {
        if (!Py_IsInitialized()) waitForProcessEnd();  // the interpreter is finalizing
        throw;
    }
#else
    return apiCall();
#endif
}

}  // namespace explorerview
