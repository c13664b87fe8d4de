// Name: an interned string that bodies use for attribute and method names,
// with what the fast paths remember about where the name led.
#pragma once

#include <cstddef>

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace explorerview {

class Name;
namespace fast {  // the fast paths that read and write a name's memory (fast_calls.hpp)
inline PyObject* methodCall(const Name& name, PyObject** args, std::size_t nargs) noexcept;
inline PyObject* attribute(const Name& name, PyObject* obj) noexcept;
}  // namespace fast

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
    friend PyObject* fast::methodCall(const Name&, PyObject**, std::size_t) noexcept;
    friend PyObject* fast::attribute(const Name&, PyObject*) noexcept;
    const char* text_;
    PyObject* object_ = nullptr;  // owned for the life of the process
    // callMethod's memory of where this name led last time, for types whose
    // instances cannot shadow a method (no instance dict, generic look-up):
    // the type and its version tag, which Python changes whenever the type or
    // one of its bases changes, and the method descriptor found (owned).
    mutable PyTypeObject* methodType_ = nullptr;
    mutable unsigned int methodTag_ = 0;
    mutable PyObject* method_ = nullptr;
    // getAttr's memory, alike: the type and version tag last seen, and where
    // the name is a __slots__ entry of that type, its offset (else -1).
    mutable PyTypeObject* slotType_ = nullptr;
    mutable unsigned int slotTag_ = 0;
    mutable Py_ssize_t slotOffset_ = -1;
};

}  // namespace explorerview
