// A thread that the interpreter ends while it runs inside the module (a daemon
// thread still working when the interpreter exits) leaves by a forced unwind.
// With glibc and libstdc++ that is an exception, abi::__forced_unwind, which a
// catch (...) must rethrow: swallowed, the C library aborts the process. So
// every catch-all of the module is preceded by this handler, and the functions
// such a thread can unwind through are not noexcept.
//
// On Windows a thread ends without unwinding its C++ frames, and with /EHsc a
// catch (...) sees C++ exceptions only: there is nothing to rethrow, and the
// handler is empty. (Clang on Linux uses libstdc++ too.)
#pragma once

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define EXPLORERVIEW_RETHROW_FORCED_UNWIND \
    catch (abi::__forced_unwind&) {        \
        throw;                             \
    }
#else
#define EXPLORERVIEW_RETHROW_FORCED_UNWIND
#endif
