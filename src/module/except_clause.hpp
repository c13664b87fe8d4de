// An `except` clause in a body, run as the interpreter runs one:
//
//     except (PermissionError, FileNotFoundError) as error:   caughtError(), errorIs()
//         ...                                                 HandledException
//     (no clause matched)                                     raiseAgain()
//
// The pending error is taken out and normalised before it is matched: C code
// may report an error as a class and its arguments, and what that class makes
// of them decides (OSError with errno 2 makes a FileNotFoundError). While the
// clause runs, the error is the handled exception that sys.exc_info() reports
// and that anything raised meanwhile is chained to; afterwards the handler
// slot holds again exactly what it held before.
#pragma once

#include "module/object.hpp"  // never <Python.h> first (module/compiler.hpp)

namespace explorerview {

// The pending exception, taken out as an `except` clause takes it: an
// exception instance carrying its traceback. Nothing is pending afterwards.
// Normalising may run Python code (the class's __new__ and __init__); an
// error raised there is what is taken instead, as in the interpreter.
Object caughtError();

// Whether a caught error is an instance of `type`, as `except type:` asks.
inline bool errorIs(py::handle error, PyObject* type) { return PyErr_GivenExceptionMatches(error.ptr(), type) != 0; }

// Lets a caught error that no clause matched go on unchanged, with its
// traceback, as the interpreter re-raises it.
[[noreturn]] void raiseAgain(Object error);

// The body of the clause, for the life of this object: `error` is the
// exception being handled. The innermost handler slot (that of the running
// generator or coroutine, or the thread's own) is set, and what it held
// before is put back when this goes, whether or not the body raised.
class HandledException {
public:
    explicit HandledException(py::handle error);
    ~HandledException();
    HandledException(const HandledException&) = delete;
    HandledException& operator=(const HandledException&) = delete;

private:
    Object previous_;
};

}  // namespace explorerview
