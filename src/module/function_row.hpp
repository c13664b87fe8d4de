// The description of one Python-visible function of the module: a method, a
// lambda made by a constructor, or an inner function made by a method. The row
// lives beside its body (src/tree, src/panel, src/fileops); src/module turns
// rows into function objects and classes and never knows what a body does.
#pragma once

#include <array>

#include <pybind11/pybind11.h>

namespace explorerview {

namespace py = pybind11;

struct Frame;
struct FunctionRow;

// A body receives the bound arguments and returns the function's result.
// It may throw py::error_already_set (or a pybind11 builtin exception); the one
// error boundary in src/module turns that into the pending Python error plus the
// function's traceback entry. Bodies catch nothing unless their behaviour says so.
using Body = Object (*)(Frame&);

enum class Defaults { none, noneForLast, falseForLast };  // __defaults__: None, (None,), (False,)
enum class CallShape { normal, lambda };                  // lambda: no parameters at all
enum class ArgumentCheck { none, exactListAfterSelf };    // only ExplorerView.select

struct Annotation {
    const char* name = nullptr;   // parameter name, or "return"
    const char* value = nullptr;  // stored as a string, never evaluated
};

struct FunctionRow {
    const char* name = nullptr;      // __name__; for lambdas their internal name ("lambda1")
    const char* qualname = nullptr;  // __qualname__, with "<locals>" where Python puts it
    std::array<const char*, 3> params{};  // positional-or-keyword parameters, in order
    Defaults defaults = Defaults::none;
    std::array<Annotation, 3> annotations{};  // in insertion order; unused entries empty
    int firstLine = 0;                        // co_firstlineno, and where binding errors point
    const char* doc = nullptr;                // __doc__, or none
    CallShape shape = CallShape::normal;
    ArgumentCheck check = ArgumentCheck::none;
    bool usesSuper = false;  // zero-argument super(): gets the class cell as its closure
    Body body = nullptr;
    // Functions this one creates when it runs; their code objects are built at exec too.
    std::array<const FunctionRow*, 3> inner{};
};

struct ClassRow {
    const char* name = nullptr;
    std::array<const char*, 2> bases{};  // global names, read at class creation
    const char* doc = nullptr;
    std::array<const FunctionRow*, 16> methods{};  // namespace order
};

}  // namespace explorerview
