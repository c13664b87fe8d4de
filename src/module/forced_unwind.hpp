// A thread that the interpreter ends while it runs inside the module (a daemon
// thread still working when the interpreter exits) leaves by a forced unwind.
// With glibc and libstdc++ that is an exception, abi::__forced_unwind, that
// only catch (...) handlers and cleanups see.
//
// The interpreter ends such a thread when it tries to take the interpreter
// lock while the interpreter finalizes. Unwound, the thread would release the
// Python objects its frames hold without that lock, while the main thread
// frees objects of its own: intoPython() instead stops the thread where the
// unwind enters the module, before any of the module's frames clean up, and
// lets it wait for the process to end (as later interpreters make every such
// thread wait). So every call of the module that can run Python code goes
// through intoPython(): the words that call out (module/runtime.hpp), the
// release of every owned reference (module/object.hpp), and the C API calls
// of the machinery that allocate (a collection may run callbacks) or compare.
// The module has no other catch-all (module/errors.hpp), so nothing swallows
// an unwind either.
//
// On Windows a thread ends without unwinding its C++ frames, and with /EHsc a
// catch (...) sees C++ exceptions only: there is nothing to catch. (Clang on
// Linux uses libstdc++ too.)
#pragma once

#include <pybind11/pytypes.h>  // never <Python.h> first (module/compiler.hpp)

#include "module/compiler.hpp"

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
