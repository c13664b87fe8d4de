// Python's `if x:` and `str(x)` for the file operations, raising as Python does
// when the object's __bool__, __len__ or __str__ raises.
#pragma once
#include <pybind11/pybind11.h>

namespace explorerview::fileops {
namespace {

inline bool truth(pybind11::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw pybind11::error_already_set();
    return result != 0;
}

// str(value): always an exact str, even from a str subclass (unlike py::str).
inline pybind11::object text(pybind11::handle value) {
    PyObject* result = PyObject_Str(value.ptr());
    if (!result) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::object>(result);
}

}  // namespace
}  // namespace explorerview::fileops
