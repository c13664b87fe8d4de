// Name: an interned string that bodies use for attribute, method and global
// names and for constant texts.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace explorerview {

// An interned string, built once at module exec. A name used in one file is
// declared beside the body that uses it, `const Name isDir{"isDir"};`; one
// used in several files is declared once in module/names.hpp.
class Name {
public:
    explicit Name(const char* text);
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    py::handle get() const { return object_; }  // borrowed; valid after exec
    operator py::handle() const { return object_; }

    static void internAll();  // exec: build every Name declared anywhere

private:
    const char* text_;
    PyObject* object_ = nullptr;  // owned for the life of the process
};

// An interned str made on the spot, for exec-time code (bodies use Name).
inline Object interned(const char* text) {
    PyObject* result = PyUnicode_InternFromString(text);
    if (!result) throw PythonError();
    return Object::steal(result);
}

}  // namespace explorerview
