// The process-wide module record: one module per process, one interpreter.
// The module keeps its state here rather than in the module object, so that
// every later import finds the one module that was executed.
#pragma once

#include <cstdint>

#include "module/object.hpp"  // never <Python.h> first (module/compiler.hpp)

namespace explorerview::state {

// Borrowed: the executed module's dict (its globals), or null before exec and
// after a failed exec.
PyObject* globals();

// The interpreter that first created the module; -1 until then, never reset.
std::int64_t interpreterId();
void setInterpreterId(std::int64_t id);

// Borrowed: the module being executed or already executed, or null.
PyObject* module();
// Records `module` (a new reference is taken) and its dict as the globals;
// false, with SystemError pending, for an object that is not a module.
bool record(PyObject* module);
// Drops the record after a failed exec, so that the next import starts afresh.
void drop();

}  // namespace explorerview::state
