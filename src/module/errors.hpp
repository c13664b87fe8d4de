// The one boundary between C++ and Python errors: bodies and exec steps throw,
// this turns what they threw into the pending Python error and adds the
// traceback entry that names the failing function.
#pragma once

#include "module/object.hpp"  // never <Python.h> first (module/compiler.hpp)

#include <exception>
#include <new>

#include "module/constants.hpp"
#include "module/frame.hpp"

namespace explorerview::errors {

// Runs the row's body: its result (a new reference), or null with the Python
// error pending and the function's traceback entry added.
PyObject* runBody(const constants::BuiltRow& row, Frame& frame);

// Makes sure an error is pending where C code reported a failure without
// setting one (only broken C code does): a SystemError, as the interpreter
// raises for a function that returns NULL without an exception.
void ensureErrorPending();

// Runs `step`: true when it returned, false with the Python error pending
// when it threw. What the module throws is PythonError (the error is pending
// already) or a standard exception (no memory for a C++ container, say); no
// catch-all, so nothing else is ever caught here: a forced unwind
// (module/forced_unwind.hpp) cannot be swallowed.
template <class Step>
bool succeeds(Step&& step) {
    try {
        step();
        return true;
    } catch (const PythonError&) {
        ensureErrorPending();
    } catch (const std::bad_alloc&) {
        intoPython([] { PyErr_NoMemory(); });
    } catch (const std::exception& e) {
        intoPython([&] { PyErr_SetString(PyExc_RuntimeError, e.what()); });
    }
    return false;
}

// The traceback entry of the row for the pending error, at the row's first line.
void addEntry(const constants::BuiltRow& row);

// The traceback entry of a failed module exec.
void addInitEntry();

// The exception pending on this thread, taken out so that Python code may run
// meanwhile (decoding a file name may call a codec; removing an entry may run
// a key's __eq__), and put back unchanged when this goes.
class PendingError {
public:
    PendingError() noexcept;
    ~PendingError();
    PendingError(const PendingError&) = delete;
    PendingError& operator=(const PendingError&) = delete;

private:
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* value_;
#else
    PyObject *type_, *value_, *traceback_;
#endif
};

}  // namespace explorerview::errors
