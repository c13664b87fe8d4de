// The one error boundary. Bodies leave with PythonError while a Python error is
// pending (module/object.hpp); nothing between them and this file catches,
// so an exception a body does not handle reaches its caller unchanged, with one
// traceback entry naming the function in the module's own terms.
#include "module/errors.hpp"

#include <chrono>
#include <new>
#include <thread>

#include "module/forced_unwind.hpp"

namespace explorerview {

void waitForProcessEnd() noexcept {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace explorerview

namespace explorerview::errors {

#if PY_VERSION_HEX >= 0x030C0000
PendingError::PendingError() noexcept : value_(PyErr_GetRaisedException()) {}
PendingError::~PendingError() { PyErr_SetRaisedException(value_); }
#else
PendingError::PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
PendingError::~PendingError() { PyErr_Restore(type_, value_, traceback_); }
#endif

namespace {

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void raiseMissingError() {
    intoPython([] { PyErr_SetString(PyExc_SystemError, "error return without exception set"); });
}

}  // namespace

void ensureErrorPending() {
    if (!PyErr_Occurred()) [[unlikely]] raiseMissingError();
}

namespace {

// Adds the entry `function` at `file`:`line` to the pending exception's
// traceback, as for a Python frame that raised it. The frame belongs to an
// empty code object whose first line is `line`; a frame that has not started
// reports its code's first line, so the entry points there. When the entry
// cannot be made (no memory), the exception stays as it was, without it.
// Making the frame allocates, and a collection may run Python code.
void addTracebackEntry(const char* function, const char* file, int line) {
    Object frame;
    {
        PendingError pending;
        intoPython([&] {
            if (PyCodeObject* code = PyCode_NewEmpty(file, function, line)) {
                if (PyObject* globals = PyDict_New()) {
                    frame = Object::steal(
                        reinterpret_cast<PyObject*>(PyFrame_New(PyThreadState_Get(), code, globals, nullptr)));
                    release(globals);
                }
                release(reinterpret_cast<PyObject*>(code));
            }
        });
        PyErr_Clear();  // a failure to make the entry is not the caller's error
    }
    if (frame) intoPython([&] { PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.ptr())); });
}

}  // namespace

void addEntry(const constants::BuiltRow& row) {
    addTracebackEntry(row.tracebackName.c_str(), constants::fileName, row.spec->firstLine);
}

void addInitEntry() {
    addTracebackEntry("init Tavro_Workspace.explorerview", constants::fileName, 1);
}

PyObject* runBody(const constants::BuiltRow& row, Frame& frame) {
    PyObject* result = nullptr;
    if (succeeds([&] { result = row.spec->body(frame).release(); }) && !result && !PyErr_Occurred())
        intoPython([&] {
            PyErr_Format(PyExc_SystemError, "%s returned no result and set no error", row.spec->qualname);
        });
    if (!result) addEntry(row);
    return result;
}

}  // namespace explorerview::errors
