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

void setFromCurrentException() {
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

// The one underscore function the module calls: _PyTraceback_Add is how an
// extension adds a traceback entry for code without a Python frame (3.11 has
// no public equivalent).
void addEntry(const constants::BuiltRow& row) noexcept {
    _PyTraceback_Add(row.tracebackName.c_str(), constants::fileName, row.spec->firstLine);
}

void addInitEntry() noexcept {
    _PyTraceback_Add("init Tavro_Workspace.explorerview", constants::fileName, 1);
}

PyObject* runBody(const constants::BuiltRow& row, Frame& frame) {
    PyObject* result = nullptr;
    try {
        result = row.spec->body(frame).release().ptr();
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
