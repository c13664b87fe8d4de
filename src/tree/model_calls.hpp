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
// (src/qt/model_calls.cpp). Module exec loads it (tree/toolkit_check.cpp),
// after the toolkit has loaded Qt, only when it binds to the very Qt the
// toolkit uses, and each comparison asks what exec found
// (tree/model_calls.cpp); otherwise, and in builds without it, every call
// goes the usual way. Models that are not the toolkit's (no instance of a
// class its sip made) take the usual way at once, inline, at the cost of one
// comparison.
#pragma once

#include <cstddef>

#include "module/runtime.hpp"

namespace explorerview::tree {

namespace modelNames {
inline const Name isDir{"isDir"}, fileName{"fileName"}, lower{"lower"};
}  // namespace modelNames

namespace detail {
// The metatype of the toolkit's classes once the direct calls are allowed;
// null before, and for good in builds without them.
extern PyTypeObject* toolkitMetatype;

// Whether `model` may be the toolkit's: an instance of a class whose
// metatype is the toolkit's (the full check follows the look-up).
inline bool mayBeToolkitModel(py::handle model) {
    return Py_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(model.ptr()))) == toolkitMetatype;
}

Object toolkitIsDir(py::handle model, py::handle index);
}  // namespace detail

// model.isDir(index)
inline Object modelIsDir(py::handle model, py::handle index) {
    if (detail::mayBeToolkitModel(model))
        return detail::toolkitIsDir(model, index);
    return callMethod(model, modelNames::isDir, index);
}

// model.fileName(index).lower(), ready for `<`. The toolkit's own fileName
// gives an exact str, whose lower() no code can see: such a name stays the
// toolkit's text until it is compared.
class LoweredFileName {
public:
    // Inlined, as the two calls it stands for are: it runs twice per comparison.
    EXPLORERVIEW_ALWAYS_INLINE LoweredFileName(py::handle model, py::handle index)
        : lowered_(detail::mayBeToolkitModel(model)
                       ? Object()
                       : callMethod(callMethod(model, modelNames::fileName, index), modelNames::lower)) {
        if (!lowered_) fromToolkit(model, index);
    }
    LoweredFileName(const LoweredFileName&) = delete;
    LoweredFileName& operator=(const LoweredFileName&) = delete;
    EXPLORERVIEW_ALWAYS_INLINE ~LoweredFileName() {
        if (!lowered_) releaseText();
    }

    // The lower-cased str (made from the toolkit's text if it is still that).
    const Object& object() {
        if (!lowered_) lowerText();
        return lowered_;
    }

    // Whether the name is still the toolkit's text: its UTF-16 units (set
    // only then). Lowering it ends the text's life.
    bool isText() const { return !lowered_; }
    const unsigned short* units;
    std::size_t length;

    // Room for the toolkit's object that holds the text (the value data() gave).
    static constexpr std::size_t textRoom = 32;

private:
    friend Object lessNames(LoweredFileName& left, LoweredFileName& right);
    void fromToolkit(py::handle model, py::handle index);
    void lowerText();
    void releaseText();

    Object lowered_;  // what lower() gave; null while the toolkit's text is held instead
    alignas(alignof(std::max_align_t)) unsigned char text_[textRoom];
};

namespace detail {
// leftName < rightName where one of them at least is still a toolkit's text.
Object lessTexts(LoweredFileName& left, LoweredFileName& right);
}  // namespace detail

// leftName < rightName, as Python's `<` gives it.
inline Object lessNames(LoweredFileName& left, LoweredFileName& right) {
    if (!left.lowered_ || !right.lowered_)  // a toolkit's text
        return detail::lessTexts(left, right);
    return less(left.lowered_, right.lowered_);  // both lowered by Python already
}

}  // namespace explorerview::tree
