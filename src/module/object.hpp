// Object: the module's owned reference, and PythonError: how a Python error
// crosses C++ frames.
//
// The module takes from pybind11 its borrowed handle (py::handle) and its
// build, and nothing of its process-wide runtime: no error type of its own (whose
// life depends on state pybind11 keeps in builtins and builds on first use,
// taking the interpreter lock through the GIL state API, which sub-interpreters
// do not support), no GIL guards, no internals. So only pybind11's type
// definitions are included here, never pybind11/pybind11.h, and an owned
// reference is an Object, not a py::object.
//
// Object differs from py::object in one thing that matters: releasing the
// reference can run Python code (a __del__, a weakref callback, a collection),
// and so can be where the interpreter ends a daemon thread at exit. Its
// destructor releases through the guarded word (module/forced_unwind.hpp), so
// that thread waits there instead of unwinding the module's frames with
// references they can no longer release safely.
//
// A Python error stays pending in the interpreter, as CPython's own C code
// leaves it (a null result), and C++ frames are left by throwing PythonError,
// which owns nothing: the error boundary (module/errors.cpp) has nothing to
// restore. CPython's deallocators and finalisers keep a pending error as they
// found it, so the references released on the way out are released safely.
#pragma once

#include <pybind11/pytypes.h>  // py::handle; never <Python.h> first (module/compiler.hpp)

#include <utility>

#include "module/forced_unwind.hpp"

namespace py = pybind11;

namespace explorerview {

// Thrown to leave C++ frames while a Python error is pending; owns nothing.
struct PythonError {};

// Lets go of one reference: the guarded word through which every owned
// reference of the module is released.
EXPLORERVIEW_ALWAYS_INLINE void release(PyObject* object) noexcept {
    if (object) intoPython([&] { Py_DECREF(object); });
}

class Object {
public:
    Object() noexcept = default;
    // A new reference the caller hands over (null stays null).
    static Object steal(py::handle h) noexcept { return Object(h.ptr()); }
    // A reference taken now to an object someone else holds.
    static Object borrow(py::handle h) noexcept { return Object(Py_XNewRef(h.ptr())); }

    Object(const Object& other) noexcept : ptr_(Py_XNewRef(other.ptr_)) {}
    Object(Object&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Object& operator=(Object other) noexcept {
        std::swap(ptr_, other.ptr_);  // the old reference goes with `other`
        return *this;
    }
    ~Object() { explorerview::release(ptr_); }

    PyObject* ptr() const noexcept { return ptr_; }
    operator py::handle() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    bool is(py::handle other) const noexcept { return ptr_ == other.ptr(); }
    bool is_none() const noexcept { return ptr_ == Py_None; }
    // The reference, handed to the caller; this becomes null.
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    // A new reference for a struct field (a function object's).
    PyObject* newReference() const noexcept { return Py_XNewRef(ptr_); }

private:
    explicit Object(PyObject* p) noexcept : ptr_(p) {}
    PyObject* ptr_ = nullptr;
};

inline Object none() noexcept { return Object::borrow(Py_None); }

// A new reference from the C API, or the pending error thrown when it is null.
inline Object ownedOrThrow(PyObject* result) {
    if (!result) [[unlikely]] throw PythonError();
    return Object::steal(result);
}

// Raises `type` with the message PyErr_Format makes of `format` and the
// arguments, and leaves. Making the exception can run Python code: inside an
// `except` block it is made at once, and its allocation may collect.
template <class... A>
[[noreturn]] EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void raise(PyObject* type, const char* format, A... args) {
    intoPython([&] { PyErr_Format(type, format, args...); });
    throw PythonError();
}

// The status of a C API call that returns -1 with the error pending.
inline void check(int status) {
    if (status < 0) [[unlikely]] throw PythonError();
}

}  // namespace explorerview
