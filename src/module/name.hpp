// Name: an interned string that bodies use for attribute and method names.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

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

}  // namespace explorerview
