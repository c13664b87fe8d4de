// The process-wide module record: one module per process, one interpreter.
#pragma once

#include <Python.h>

namespace explorerview::state {

// Borrowed: the executed module's dict (its globals), or null before exec.
PyObject* globals();

}  // namespace explorerview::state
