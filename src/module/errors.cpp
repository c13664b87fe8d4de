// The one error boundary. Bodies throw py::error_already_set for a Python error
// (or a pybind11 builtin exception); nothing between them and this file catches,
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

EXPLORERVIEW_CATCHES_FORCED_UNWIND void setFromCurrentException() {
    try {
        throw;
    }
    EXPLORERVIEW_RETHROW_FORCED_UNWIND
    catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception in Tavro_Workspace.explorerview");
    }
}

namespace {

// The exception pending on this thread, taken out so that Python code may run
// (decoding the file name may call a codec), and put back unchanged.
class PendingException {
public:
#if PY_VERSION_HEX >= 0x030C0000
    PendingException() noexcept : value_(PyErr_GetRaisedException()) {}
    void restore() noexcept { PyErr_SetRaisedException(value_); }

private:
    PyObject* value_;
#else
    PendingException() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    void restore() noexcept { PyErr_Restore(type_, value_, traceback_); }

private:
    PyObject *type_, *value_, *traceback_;
#endif
};

// Adds the entry `function` at `file`:`line` to the pending exception's
// traceback, as for a Python frame that raised it. The frame belongs to an
// empty code object whose first line is `line`; a frame that has not started
// reports its code's first line, so the entry points there. When the entry
// cannot be made (no memory), the exception stays as it was, without it.
void addTracebackEntry(const char* function, const char* file, int line) {
    PendingException pending;
    Object frame;
    if (PyCodeObject* code = PyCode_NewEmpty(file, function, line)) {
        if (PyObject* globals = PyDict_New()) {
            frame = Object::steal(
                reinterpret_cast<PyObject*>(PyFrame_New(PyThreadState_Get(), code, globals, nullptr)));
            Py_DECREF(globals);
        }
        Py_DECREF(code);
    }
    PyErr_Clear();  // a failure to make the entry is not the caller's error
    pending.restore();
    if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.ptr()));
}

}  // namespace

void addEntry(const constants::BuiltRow& row) {
    addTracebackEntry(row.tracebackName.c_str(), constants::fileName, row.spec->firstLine);
}

void addInitEntry() {
    addTracebackEntry("init Tavro_Workspace.explorerview", constants::fileName, 1);
}

EXPLORERVIEW_CATCHES_FORCED_UNWIND PyObject* runBody(const constants::BuiltRow& row, Frame& frame) {
    PyObject* result = nullptr;
    try {
        result = row.spec->body(frame).release();
        if (!result && !PyErr_Occurred())
            PyErr_Format(PyExc_SystemError, "%s returned no result and set no error", row.spec->qualname);
    }
    EXPLORERVIEW_RETHROW_FORCED_UNWIND
    catch (...) {
        setFromCurrentException();
    }
    if (!result) addEntry(row);
    return result;
}

}  // namespace explorerview::errors
