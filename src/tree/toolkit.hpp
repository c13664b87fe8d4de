// Where the two rooms of the sort's direct calls meet: what module exec found
// once (tree/toolkit_check.cpp: the toolkit's sip, its QFileSystemModel and
// QModelIndex classes, its own wrappers of isDir and fileName, and the
// library that calls the same C++), and the questions each comparison asks of
// it before it calls that C++ (answered in tree/model_calls.cpp, the only
// place they are asked). Only in builds with the direct calls.
#pragma once

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)

#include <sip.h>

#include "module/runtime.hpp"
#include "qt/model_calls.h"

namespace explorerview::tree::detail {

// Set once by exec, never freed: the toolkit's classes and Qt stay loaded for
// the life of the process.
struct Toolkit {
    const sipAPIDef* sip;
    const ExplorerviewModelCalls* calls;
    PyTypeObject* wrapperType;    // sip's metatype of the toolkit's classes
    const sipTypeDef* modelType;  // QFileSystemModel's, which Python subclasses share
    PyTypeObject* indexClass;     // the toolkit's own QModelIndex
    PyCFunction isDir, fileName;  // the toolkit's own wrappers of the two methods

    // An instance of the toolkit's QFileSystemModel or of a Python subclass
    // of it: its C++ object is a QFileSystemModel at the address sip holds.
    bool isModel(PyObject* model) const;
    bool isNewModel(PyObject* model) const;
    // Exactly the toolkit's own `wrapper` bound to `model` (not a mixin's
    // object, not another model's method stored on this one), `model` being
    // still a QFileSystemModel after the look-up (which may run code).
    bool isOwnMethod(PyObject* found, PyCFunction wrapper, PyObject* model) const;
    // An index of the toolkit's own class, whose C++ object is a QModelIndex.
    bool isIndex(PyObject* index) const;
    // The C++ object of a live wrapper; null once it has been deleted (the
    // toolkit's own call then raises its RuntimeError).
    void* address(PyObject* wrapper) const;

    // The C++ model and index a call may be made on directly: both set when
    // `found` is the toolkit's own `wrapper` bound to `model`, the index is the
    // toolkit's own and neither has been deleted; both null otherwise.
    struct Direct {
        const void *model = nullptr, *index = nullptr;
        explicit operator bool() const { return model && index; }
    };
    Direct direct(PyObject* found, PyCFunction wrapper, PyObject* model, PyObject* index) const;
};

// Exec's check: the toolkit as found, when its Qt is the very Qt the library
// binds to; null, with no error left behind, when the direct calls may not be
// made.
const Toolkit* findToolkit(PyObject* globals);

// From now on the comparisons call `found`'s C++ where the method found is
// its own.
void allowDirectCalls(const Toolkit* found);

}  // namespace explorerview::tree::detail

#endif
