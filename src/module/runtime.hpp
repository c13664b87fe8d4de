// What method bodies use: constant strings, module globals, calls without
// temporary tuples, the arguments of the running call, and functions made at
// run time (lambdas and inner callbacks with their captured panel).
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include <pybind11/pybind11.h>

#include "module/function_spec.hpp"

namespace explorerview {

// An interned string, built once at module exec. Declare it at namespace scope
// beside the body that uses it: `const Name isDir{"isDir"};`. Usable wherever
// pybind11 takes a handle, e.g. `obj.attr(isDir)`.
class Name {
public:
    explicit Name(const char* text);
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    const char* text() const { return text_; }
    py::handle get() const { return object_; }  // borrowed; valid after exec
    operator py::handle() const { return object_; }

    static void internAll();  // exec: build every Name declared anywhere

private:
    const char* text_;
    PyObject* object_ = nullptr;  // owned for the life of the process
};

// The module global `name`, falling back to the builtins; NameError
// "name 'X' is not defined" otherwise. Read at each use, never cached.
py::object global(const Name& name);
// The same look-up for a name held in a str (class creation reads its bases so).
py::object globalNamed(py::handle name);

// A keyword argument for call()/callMethod(): kw(icon, py::str("add")).
struct Keyword {
    const Name& name;
    py::handle value;
};
inline Keyword kw(const Name& name, py::handle value) { return {name, value}; }

namespace detail {
template <class T>
constexpr bool isKeyword = std::is_same_v<std::decay_t<T>, Keyword>;

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
    return detail::invoke(callable, nullptr, py::handle(), std::forward<A>(args)...);
}

// obj.method(args..., name=value...) through PyObject_VectorcallMethod: no bound
// method object and no argument tuple, for hot paths such as lessThan.
template <class... A>
py::object callMethod(py::handle obj, const Name& method, A&&... args) {
    return detail::invoke(py::handle(), &method, obj, std::forward<A>(args)...);
}

// Raise `type(message)` from a body: sets the error and throws.
[[noreturn]] void raise(PyObject* type, const char* message);

// The arguments of the running call, after binding (defaults filled in).
struct Frame {
    const FunctionSpec& spec;
    PyObject* const* args;  // borrowed: spec.params order; never null after binding
    PyObject* closure;      // borrowed: the function's __closure__ tuple, or null

    py::handle arg(std::size_t i) const { return args[i]; }
    py::handle self() const { return args[0]; }
    // The value held by cell i of the closure (the captured panel for callbacks).
    py::handle captured(std::size_t i = 0) const;
    // super(__class__, self) for the methods with usesSuper; RuntimeError
    // "super(): empty __class__ cell" while the class is not made yet.
    py::object super() const;
};

// A new function object for `spec` (a lambda or inner function) whose
// __closure__ is `closure` (a tuple of cells, or None).
py::object makeFunction(const FunctionSpec& spec, py::handle closure);

// (cell(value),): the closure of a function that captures one value.
py::object captureOne(py::handle value);

}  // namespace explorerview

namespace explorerview {
// Stand-in body while a method is still being written: NotImplementedError
// naming the method. Goes away once every body exists.
py::object notYetBuilt(Frame& frame);
}  // namespace explorerview
