// What each comparison does with its model calls (tree/model_calls.hpp): the
// method is looked up as Python looks it up, and when it is the toolkit's own
// wrapper bound to that very model, and the index the toolkit's own, the
// toolkit's C++ is called directly; anything else is called as Python calls
// it. A name the toolkit gave stays its UTF-16 text, compared in place while
// only ASCII decides, and becomes a str (as the toolkit's own str would be)
// only where lower() must decide.
//
// Whether the direct calls are made at all, module exec decided once
// (tree/toolkit_check.cpp); this file only asks, per call, what it found.
#include "tree/model_calls.hpp"

#include <utility>

#include "module/runtime.hpp"

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)
#include "tree/toolkit.hpp"
#endif

namespace explorerview::tree {

using modelNames::fileName;
using modelNames::isDir;
using modelNames::lower;

PyTypeObject* detail::toolkitMetatype = nullptr;

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)

using detail::Toolkit;

namespace {

// What exec found; null until it allows the direct calls.
const Toolkit* toolkit = nullptr;
PyTypeObject* knownModelClass = nullptr;  // see Toolkit::isNewModel

// The library answers -1 when it could not allocate what the answer needs.
void checkAllocated(int result) {
    if (result < 0) [[unlikely]] {
        intoPython([] { PyErr_NoMemory(); });
        throw PythonError();
    }
}

}  // namespace

void detail::allowDirectCalls(const Toolkit* found) {
    toolkit = found;
    toolkitMetatype = found->wrapperType;
}

// ---- what a call asks of the toolkit ------------------------------------------------

inline bool Toolkit::isModel(PyObject* model) const {
    return Py_TYPE(model) == knownModelClass || isNewModel(model);
}

// The class of the model last checked, once it is known to be
// QFileSystemModel or a Python subclass of it, held: a class keeps its
// metatype and the toolkit's type it stands for, so the same class passes
// again. The class before it is let go first, which may run code: the
// model's class is read after that, and a class that such code had a check
// hold meanwhile is kept.
bool Toolkit::isNewModel(PyObject* model) const {
    release(reinterpret_cast<PyObject*>(std::exchange(knownModelClass, nullptr)));
    PyTypeObject* type = Py_TYPE(model);
    if (!PyObject_TypeCheck(reinterpret_cast<PyObject*>(type), wrapperType) ||
        sip->api_type_from_py_type_object(type) != modelType)
        return false;
    if (!knownModelClass)
        knownModelClass = reinterpret_cast<PyTypeObject*>(Py_NewRef(reinterpret_cast<PyObject*>(type)));
    return true;
}

inline bool Toolkit::isOwnMethod(PyObject* found, PyCFunction wrapper, PyObject* model) const {
    return PyCFunction_Check(found) && PyCFunction_GetFunction(found) == wrapper &&
           PyCFunction_GetSelf(found) == model && isModel(model);
}

inline bool Toolkit::isIndex(PyObject* index) const { return Py_IS_TYPE(index, indexClass); }

inline void* Toolkit::address(PyObject* wrapper) const {
    return sip->api_get_address(reinterpret_cast<sipSimpleWrapper*>(wrapper));
}

inline Toolkit::Direct Toolkit::direct(PyObject* found, PyCFunction wrapper, PyObject* model,
                                       PyObject* index) const {
    if (!isOwnMethod(found, wrapper, model) || !isIndex(index)) return {};
    return {address(model), address(index)};
}

// ---- the calls -------------------------------------------------------------------------

Object detail::toolkitIsDir(py::handle model, py::handle index) {
    const Toolkit* kit = toolkit;
    Object method = getAttr(model, isDir);
    if (auto cpp = kit->direct(method.ptr(), kit->isDir, model.ptr(), index.ptr())) {
        ++*kit->calls->callsInC;
        int result = intoPython([&] { return kit->calls->isDir(cpp.model, cpp.index); });
        checkAllocated(result);
        return boolean(result != 0);
    }
    ++*kit->calls->callsInPython;
    return call(method, index);
}

void LoweredFileName::fromToolkit(py::handle model, py::handle index) {
    const Toolkit* kit = toolkit;
    Object method = getAttr(model, fileName);
    if (auto cpp = kit->direct(method.ptr(), kit->fileName, model.ptr(), index.ptr())) {
        ++*kit->calls->callsInC;
        // data() of a Python subclass runs here, as in the toolkit's wrapper.
        checkAllocated(intoPython([&] { return kit->calls->fileName(cpp.model, cpp.index, text_, &units, &length); }));
        // An error that data() left pending is not swallowed: the call failed.
        if (PyErr_Occurred()) [[unlikely]] {
            kit->calls->releaseName(text_);
            throw PythonError();
        }
        return;  // the text is held: lowered_ stays null
    }
    ++*kit->calls->callsInPython;
    lowered_ = callMethod(call(method, index), lower);
}

void LoweredFileName::releaseText() { toolkit->calls->releaseName(text_); }

namespace {

// The str that the toolkit makes of its UTF-16 text: a surrogate pair is one
// code point, a lone surrogate stays what it is.
Object strOf(const unsigned short* units, std::size_t length) {
    auto high = [](unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    auto low = [](unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    Py_ssize_t count = 0;
    Py_UCS4 widest = 0;
    for (std::size_t i = 0; i < length; ++i, ++count) {
        Py_UCS4 c = units[i];
        if (high(c) && i + 1 < length && low(units[i + 1])) c = 0x10000, ++i;
        if (c > widest) widest = c;
    }
    PyObject* text = PyUnicode_New(count, widest);
    if (!text) throw PythonError();
    int kind = PyUnicode_KIND(text);
    void* data = PyUnicode_DATA(text);
    Py_ssize_t at = 0;
    for (std::size_t i = 0; i < length; ++i) {
        Py_UCS4 c = units[i];
        if (high(c) && i + 1 < length && low(units[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        PyUnicode_WRITE(kind, data, at++, c);
    }
    return Object::steal(text);
}

// -1, 0 or 1 as lower() then `<` would order two ASCII-led texts, or 2 when a
// non-ASCII unit comes before they differ. lower() maps each ASCII letter on
// its own, and never shortens what follows: a difference found among ASCII
// units decides, and so does one text ending first.
int compareAscii(const unsigned short* a, std::size_t aLength, const unsigned short* b, std::size_t bLength) {
    std::size_t common = aLength < bLength ? aLength : bLength;
    for (std::size_t i = 0; i < common; ++i) {
        unsigned x = a[i], y = b[i];
        if ((x | y) >= 0x80) return 2;
        x += (x - 'A' < 26u) ? 32 : 0;
        y += (y - 'A' < 26u) ? 32 : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

}  // namespace

void LoweredFileName::lowerText() {
    Object lowered = callMethod(strOf(units, length), lower);
    releaseText();
    lowered_ = std::move(lowered);
}

Object detail::lessTexts(LoweredFileName& left, LoweredFileName& right) {
    if (left.isText() && right.isText()) {
        int order = compareAscii(left.units, left.length, right.units, right.length);
        if (order != 2) return boolean(order < 0);
    }
    const Object& leftName = left.object();
    const Object& rightName = right.object();
    return less(leftName, rightName);
}

#else  // without the direct calls: every call goes the usual way (toolkitMetatype stays null)

Object detail::toolkitIsDir(py::handle model, py::handle index) { return callMethod(model, isDir, index); }

void LoweredFileName::fromToolkit(py::handle model, py::handle index) {
    lowered_ = callMethod(callMethod(model, fileName, index), lower);
}

void LoweredFileName::lowerText() {}

void LoweredFileName::releaseText() {}  // never called: lowered_ is always set

Object detail::lessTexts(LoweredFileName& left, LoweredFileName& right) {
    return less(left.object(), right.object());
}

#endif

}  // namespace explorerview::tree
