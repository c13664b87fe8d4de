// The two file system model calls of the folder-first comparison, each made
// as Python makes it: the method is looked up on the model as an attribute
// every time, and called with the index. When what Python found is exactly
// the toolkit's own QFileSystemModel method bound to that very model, the
// toolkit's C++ function is called directly instead of through its Python
// wrapper: no Python code can tell the two apart, and the comparison costs
// about half as much. Anything else that is found (an override, a patched
// instance or class, another model) is called as usual.
//
// The direct calls live in a small library of their own that links Qt
// (src/qt/model_calls.cpp). Module exec loads it, after the toolkit has
// loaded Qt, only when it binds to the very Qt the toolkit uses; otherwise,
// and in builds without it, every call goes the usual way.
#pragma once

#include <cstddef>

#include <pybind11/pybind11.h>  // never <Python.h> first (module/compiler.hpp)

namespace explorerview::tree {

namespace py = pybind11;

// model.isDir(index)
py::object modelIsDir(py::handle model, py::handle index);

// model.fileName(index).lower(), ready for `<`. The toolkit's own fileName
// gives an exact str, whose lower() no code can see: such a name stays the
// toolkit's text until it is compared.
class LoweredFileName {
public:
    LoweredFileName(py::handle model, py::handle index);
    LoweredFileName(const LoweredFileName&) = delete;
    LoweredFileName& operator=(const LoweredFileName&) = delete;
    ~LoweredFileName();

    // The lower-cased str (made from the toolkit's text if it is still that).
    py::object object();

    // Whether the name is still the toolkit's text: its UTF-16 units.
    bool isText() const { return holdsText_ && !lowered_; }
    const unsigned short* units = nullptr;
    std::size_t length = 0;

    // Room for the toolkit's string object.
    static constexpr std::size_t textRoom = 32;

private:
    py::object lowered_;  // what lower() gave, once there is a str
    bool holdsText_ = false;
    alignas(alignof(std::max_align_t)) unsigned char text_[textRoom];
};

// leftName < rightName, as Python's `<` gives it.
py::object lessNames(LoweredFileName& left, LoweredFileName& right);

}  // namespace explorerview::tree
