// What method bodies use: constant strings, module globals, calls without
// temporary tuples, the arguments of the running call, and functions made at
// run time (lambdas and inner callbacks with their captured panel).
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include <pybind11/pybind11.h>

#include "module/function_row.hpp"
#include "module/name.hpp"

namespace explorerview {

// The module global `name`, falling back to the builtins of the running
// function (its __builtins__, as a Python function looks there); NameError
// "name 'X' is not defined" otherwise. Read at each use, never cached.
py::object global(const Name& name);
// The same look-up for a name held in a str (class creation reads its bases so).
py::object globalNamed(py::handle name);

// mapping[key] as the interpreter reads a namespace: a dict directly, any
// other mapping through its __getitem__; a null object where the key is
// missing (KeyError).
py::object itemOrNull(py::handle mapping, py::handle key);

// A keyword argument for call()/callMethod(): kw(icon, py::str("add")).
struct Keyword {
    const Name& name;
    py::handle value;
};
inline Keyword kw(const Name& name, py::handle value) { return {name, value}; }

namespace detail {
template <class T>
constexpr bool isKeyword = std::is_same_v<std::decay_t<T>, Keyword>;

[[noreturn]] void throwPythonError();  // the pending Python error, as py::error_already_set

inline py::object owned(PyObject* result) {
    if (!result) [[unlikely]] throwPythonError();
    return py::reinterpret_steal<py::object>(result);
}

// stack[0] is spare room (PY_VECTORCALL_ARGUMENTS_OFFSET); the receiver of a
// method call sits in stack[1]; keyword values follow the positional ones.
py::object vectorcall(py::handle callable, const Name* method, PyObject** stack,
                      std::size_t nargs, const Keyword* const* keywords, std::size_t nkeywords);

template <class... A>
py::object invoke(py::handle callable, const Name* method, py::handle receiver, A&&... args) {
    constexpr std::size_t nkw = (std::size_t{0} + ... + (isKeyword<A> ? 1 : 0));
    PyObject* stack[2 + sizeof...(A)] = {nullptr};
    const Keyword* keywords[nkw + 1] = {};
    std::size_t n = 1, k = 0;
    if (method) stack[n++] = receiver.ptr();
    [[maybe_unused]] auto place = [&](auto&& a) {
        if constexpr (isKeyword<decltype(a)>) keywords[k++] = &a;
        else stack[n++] = py::handle(a).ptr();
    };
    (place(std::forward<A>(args)), ...);
    return vectorcall(callable, method, stack, n - 1, keywords, k);
}
}  // namespace detail

// callable(args..., name=value...): positional handles first, then kw(...) items.
template <class... A>
py::object call(py::handle callable, A&&... args) {
    if constexpr ((detail::isKeyword<A> || ...)) {
        return detail::invoke(callable, nullptr, py::handle(), std::forward<A>(args)...);
    } else {  // the common shape goes straight to the callee, past the keyword helper
        PyObject* stack[1 + sizeof...(A)] = {nullptr, py::handle(args).ptr()...};
        constexpr std::size_t nargsf = sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET;
        return detail::owned(PyObject_Vectorcall(callable.ptr(), stack + 1, nargsf, nullptr));
    }
}

// obj.name, as Python reads an attribute: a new reference. Straight to the
// C API, without the accessor objects (and their reference traffic) that
// pybind11's obj.attr(name) builds; use it on the paths that run per row.
inline py::object getAttr(py::handle obj, const Name& name) {
    return detail::owned(PyObject_GetAttr(obj.ptr(), name.get().ptr()));
}

// An interned str made on the spot, for exec-time code (bodies use Name).
inline py::object interned(const char* text) { return detail::owned(PyUnicode_InternFromString(text)); }

// Python's `if value:`: raises as Python does when __bool__ or __len__ raises.
inline bool truth(py::handle value) {
    if (value.ptr() == Py_True) return true;  // what predicates mostly return
    if (value.ptr() == Py_False || value.is_none()) return false;
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw py::error_already_set();
    return result != 0;
}

// Python's `str(value)`: always an exact str, even from a str subclass (unlike
// py::str, which passes a subclass through) and through an overriding __str__.
inline py::object text(py::handle value) { return detail::owned(PyObject_Str(value.ptr())); }

// obj.method(args..., name=value...) without a bound method object or an
// argument tuple, for hot paths such as lessThan: PyObject_VectorcallMethod.
template <class... A>
py::object callMethod(py::handle obj, const Name& method, A&&... args) {
    if constexpr ((detail::isKeyword<A> || ...)) {
        return detail::invoke(py::handle(), &method, obj, std::forward<A>(args)...);
    } else {  // the common shape goes straight to the method, past the keyword helper
        PyObject* stack[2 + sizeof...(A)] = {nullptr, obj.ptr(), py::handle(args).ptr()...};
        constexpr std::size_t nargsf = (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET;
        return detail::owned(PyObject_VectorcallMethod(method.get().ptr(), stack + 1, nargsf, nullptr));
    }
}

// Raise `type(message)` from a body: sets the error and throws.
[[noreturn]] void raise(PyObject* type, const char* message);

// The arguments of the running call, after binding (defaults filled in).
struct Frame {
    const FunctionRow& spec;
    PyObject* const* args;  // borrowed: spec.params order; never null after binding
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

// A new function object for `spec` (a lambda or inner function) whose
// __closure__ is `closure` (a tuple of cells, or None).
py::object makeFunction(const FunctionRow& spec, py::handle closure);

// (cell(value),): the closure of a function that captures one value.
py::object captureOne(py::handle value);

}  // namespace explorerview
