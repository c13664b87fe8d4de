// The native function type: the Python-visible object behind every method,
// lambda and inner callback of the module. Laid out as Python's own function
// objects are, so that it carries the same attributes and binds the same way.
#pragma once

#include <pybind11/pybind11.h>  // never <Python.h> first (module/compiler.hpp)

#include "module/constants.hpp"

namespace explorerview {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;  // first, beside the header: the call slot reads it on every call
    const constants::BuiltRow* row;  // borrowed: rows live for the life of the process
    PyObject* globals;          // __globals__: the module dict (read-only)
    PyObject* builtins;         // __builtins__ (read-only)
    PyObject* name;             // __name__: a str
    PyObject* qualname;         // __qualname__: a str
    PyObject* code;             // __code__: a code object
    PyObject* defaults;         // __defaults__: a tuple, or null for None
    PyObject* kwdefaults;       // __kwdefaults__: a dict, or null for None
    PyObject* closure;          // __closure__: a tuple of cells, or null for None (read-only)
    PyObject* doc;              // __doc__: anything; null reads as None
    PyObject* dict;             // __dict__, created on first use
    PyObject* weakreflist;
    PyObject* module;           // __module__: anything; null reads as None
    PyObject* annotations;      // __annotations__: a dict, or null (read as a new empty dict)
};

// A new function object for `spec` (a lambda or inner function made by a
// body, or a method made at class creation) whose __closure__ is `closure`
// (a tuple of one cell, or None).
Object makeFunction(const FunctionRow& spec, py::handle closure);

// (cell(value),): the closure of a function that captures one value.
Object captureOne(py::handle value);

// The type, made ready once at exec; PyType_Ready ignores later calls.
PyTypeObject& functionType();
void readyFunctionType();

// The builtins that a function made now with `globals` gets, as a def
// statement finds them: the globals' `__builtins__` (a module stands for its
// dict), else those of the running frame.
Object builtinsFor(PyObject* globals);

// The __builtins__ of the innermost native function running on this thread,
// or null while none runs (module exec).
Object runningBuiltins() noexcept;

// The __globals__ of the innermost native function running on this thread, or
// the module's while none runs (module exec): where a body looks names up, as
// a Python function looks in its own globals.
Object runningGlobals() noexcept;

// The vectorcall slot (binding.cpp): binds the arguments to the row's
// parameters, checks them, and runs the body behind the one error boundary.
PyObject* functionVectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf, PyObject* kwnames);

}  // namespace explorerview
