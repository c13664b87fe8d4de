// The one boundary between C++ and Python errors: bodies and exec steps throw,
// this turns what they threw into the pending Python error and adds the
// traceback entry that names the failing function.
#pragma once

#include <pybind11/pybind11.h>  // never <Python.h> first (module/compiler.hpp)

#include "module/constants.hpp"
#include "module/frame.hpp"

namespace explorerview::errors {

// Runs the row's body: its result (a new reference), or null with the Python
// error pending and the function's traceback entry added. Only a forced
// unwind (module/forced_unwind.hpp) leaves it as an exception.
PyObject* runBody(const constants::BuiltRow& row, Frame& frame);

// Sets the Python error for the C++ exception in flight. Call only inside a
// catch block; a forced unwind is rethrown.
void setFromCurrentException();

// The traceback entry of the row for the pending error, at the row's first line.
void addEntry(const constants::BuiltRow& row);

// The traceback entry of a failed module exec.
void addInitEntry();

}  // namespace explorerview::errors
