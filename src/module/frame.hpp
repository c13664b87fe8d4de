// Frame: what a running body receives. Its bound arguments, the values its
// function closes over, and zero-argument super() for the constructors.
#pragma once

#include <cstddef>

#include <pybind11/pybind11.h>

#include "module/function_row.hpp"

namespace explorerview {

// The arguments of the running call, after binding (defaults filled in).
struct Frame {
    const FunctionRow& spec;
    PyObject* const* args;  // borrowed: spec.params order; a lambda has none and gets the caller's, maybe null
    PyObject* closure;      // borrowed: the function's __closure__ tuple, or null

    py::handle arg(std::size_t i) const { return args[i]; }
    py::handle self() const { return args[0]; }
    // The value held by cell i of the closure (the captured panel for callbacks).
    // Owned, as a Python closure holds its free variable while using it: the
    // cell is writable from Python and may be emptied while the value is in use.
    py::object captured(std::size_t i = 0) const;
    // super(__class__, self) for the methods with usesSuper; RuntimeError
    // "super(): empty __class__ cell" while the class is not made yet.
    py::object super() const;
};

}  // namespace explorerview
