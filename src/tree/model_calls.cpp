// The folder-first comparison's model calls (tree/model_calls.hpp): the
// checks made once at exec, and the direct calls that they allow.
#include "tree/model_calls.hpp"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "module/exec_steps.hpp"
#include "module/runtime.hpp"

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)
#include <sip.h>

#include "module/native_library.hpp"
#include "qt/model_calls.h"
#endif

namespace explorerview::tree {

using modelNames::fileName;
using modelNames::isDir;
using modelNames::lower;

PyTypeObject* detail::toolkitMetatype = nullptr;

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)

namespace {

// What exec found: the toolkit's sip API and classes, its own two methods,
// and the library that calls the same C++. Set once, never freed (the
// toolkit's classes and Qt stay loaded for the life of the process).
PyTypeObject* knownModelClass = nullptr;  // see Toolkit::isNewModel

struct Toolkit {
    const sipAPIDef* sip;
    const ExplorerviewModelCalls* calls;
    PyTypeObject* wrapperType;    // sip's metatype of the toolkit's classes
    const sipTypeDef* modelType;  // QFileSystemModel's, which Python subclasses share
    PyTypeObject* indexClass;     // the toolkit's own QModelIndex
    PyCFunction isDir, fileName;  // the toolkit's own wrappers of the two methods

    // An instance of the toolkit's QFileSystemModel or of a Python subclass
    // of it: its C++ object is a QFileSystemModel at the address sip holds.
    bool isModel(PyObject* model) const { return Py_TYPE(model) == knownModelClass || isNewModel(model); }
    bool isNewModel(PyObject* model) const;
    // Exactly the toolkit's own `wrapper` bound to `model` (not a mixin's
    // object, not another model's method stored on this one), `model` being
    // still a QFileSystemModel after the look-up (which may run code).
    bool isOwnMethod(PyObject* found, PyCFunction wrapper, PyObject* model) const {
        return PyCFunction_Check(found) && PyCFunction_GetFunction(found) == wrapper &&
               PyCFunction_GetSelf(found) == model && isModel(model);
    }
    // An index of the toolkit's own class, whose C++ object is a QModelIndex.
    bool isIndex(PyObject* index) const { return Py_IS_TYPE(index, indexClass); }
    // The C++ object of a live wrapper; null once it has been deleted (the
    // toolkit's own call then raises its RuntimeError).
    void* address(PyObject* wrapper) const {
        return sip->api_get_address(reinterpret_cast<sipSimpleWrapper*>(wrapper));
    }

    // The C++ model and index a call may be made on directly: both set when
    // `found` is the toolkit's own `wrapper` bound to `model`, the index is the
    // toolkit's own and neither has been deleted; both null otherwise.
    struct Direct {
        const void *model = nullptr, *index = nullptr;
        explicit operator bool() const { return model && index; }
    };
    Direct direct(PyObject* found, PyCFunction wrapper, PyObject* model, PyObject* index) const {
        if (!isOwnMethod(found, wrapper, model) || !isIndex(index)) return {};
        return {address(model), address(index)};
    }
};

// The library answers -1 when it could not allocate what the answer needs.
void checkAllocated(int result) {
    if (result < 0) [[unlikely]] {
        intoPython([] { PyErr_NoMemory(); });
        throw PythonError();
    }
}

const Toolkit* toolkit = nullptr;

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

// ---- exec: whether the direct calls may be made -------------------------------------

// A new reference, or null with no error left behind.
PyObject* attribute(PyObject* object, const char* name) {
    PyObject* value = PyObject_GetAttrString(object, name);
    if (!value) PyErr_Clear();
    return value;
}

// The first class in `cls`'s method resolution order that the toolkit made
// (not a Python subclass), when it is the toolkit's class named `name`.
PyTypeObject* toolkitClass(const sipAPIDef* sip, PyObject* cls, const char* name) {
    if (!cls || !PyType_Check(cls)) return nullptr;
    Object mro = Object::steal(attribute(cls, "__mro__"));
    if (!mro || !PyTuple_Check(mro.ptr())) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.ptr()); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro.ptr(), i);
        if (!PyObject_TypeCheck(base, sip->api_wrappertype_type)) continue;
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(base);
        if (sip->api_is_user_type(reinterpret_cast<sipWrapperType*>(type))) continue;
        Object found = Object::steal(PyType_GetName(type));
        if (!found) PyErr_Clear();
        bool named = found && PyUnicode_Check(found.ptr()) && PyUnicode_CompareWithASCIIString(found.ptr(), name) == 0;
        // Kept for the life of the process: the toolkit's own classes are never freed.
        if (named) Py_INCREF(type);
        return named ? type : nullptr;
    }
    return nullptr;
}

// The ABI that the running sip module implements, asked through the one
// entry whose signature never changes so that a mismatch can be reported: a
// request for a minor version no sip has is refused with the range it has.
bool sipImplementsOurAbi(const sipAPIDef* sip) {
    // Static: were a sip ever to take it, it would stay valid (and empty).
    static sipExportedModuleDef probe{};
    probe.em_strings = "Tavro_Workspace.explorerview";
    probe.em_name = 0;
    if (sip->api_export_module(&probe, SIP_ABI_MAJOR_VERSION, UINT_MAX, nullptr) == 0) return false;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Object owned[] = {Object::steal(type), Object::steal(value),
                          Object::steal(traceback)};
    Object text = Object::steal(value ? PyObject_Str(value) : nullptr);
    const char* message = text ? PyUnicode_AsUTF8(text.ptr()) : nullptr;
    if (!message) {
        PyErr_Clear();
        return false;
    }
    unsigned major = 0, sameMajor = 0, minor = 0;
    if (std::sscanf(message, "the sip module implements ABI v%u.0 to v%u.%u", &major, &sameMajor, &minor) != 3 &&
        std::sscanf(message, "the sip module implements ABI v%u.0 but", &major) != 1)
        return false;
    return major == SIP_ABI_MAJOR_VERSION && minor >= SIP_ABI_MINOR_VERSION;
}

// "6.4.2" as QT_VERSION spells it (0x060402); -1 when it is not a version.
long qtVersionNumber(const char* text) {
    unsigned major = 0, minor = 0, patch = 0;
    if (!text || std::sscanf(text, "%u.%u.%u", &major, &minor, &patch) < 2) return -1;
    return static_cast<long>((major << 16) | (minor << 8) | patch);
}

// The toolkit's own wrapper of a method of `cls`, or null.
PyCFunction wrapperOf(PyTypeObject* cls, const char* name) {
    Object method = Object::steal(attribute(reinterpret_cast<PyObject*>(cls), name));
    return method && PyCFunction_Check(method.ptr()) ? PyCFunction_GetFunction(method.ptr()) : nullptr;
}

const Toolkit* findToolkit(PyObject* globals) {
    // The sip module that made the toolkit's classes, as already imported by
    // the toolkit (nothing is imported here).
    PyObject* modules = PyImport_GetModuleDict();
    if (!PyDict_GetItemString(modules, _SIP_MODULE_FQ_NAME)) return nullptr;
    auto* sip = static_cast<const sipAPIDef*>(PyCapsule_Import(_SIP_MODULE_FQ_NAME "._C_API", 0));
    if (!sip) {
        PyErr_Clear();
        return nullptr;
    }
    // Only the API's data members are read until the toolkit's classes are
    // known to be this sip's: a foreign layout calls nothing.
    // Held while their method resolution orders are read.
    Object modelGlobal = Object::borrow(PyDict_GetItemString(globals, "QFileSystemModel"));
    Object indexGlobal = Object::borrow(PyDict_GetItemString(globals, "QModelIndex"));
    PyTypeObject* modelClass = toolkitClass(sip, modelGlobal.ptr(), "QFileSystemModel");
    PyTypeObject* indexClass = toolkitClass(sip, indexGlobal.ptr(), "QModelIndex");
    if (!modelClass || !indexClass || !sipImplementsOurAbi(sip)) return nullptr;

    PyCFunction isDirWrapper = wrapperOf(modelClass, "isDir"), fileNameWrapper = wrapperOf(modelClass, "fileName");
    if (!isDirWrapper || !fileNameWrapper) return nullptr;

    // The Qt the toolkit was compiled against, from its core module.
    Object indexModule = Object::steal(attribute(reinterpret_cast<PyObject*>(indexClass), "__module__"));
    PyObject* core = indexModule ? PyDict_GetItemWithError(modules, indexModule.ptr()) : nullptr;
    if (!core) {
        PyErr_Clear();
        return nullptr;
    }
    Object compiled = Object::steal(attribute(core, "QT_VERSION"));
    long toolkitQt = compiled && PyLong_CheckExact(compiled.ptr()) ? PyLong_AsLong(compiled.ptr()) : -1;
    if (toolkitQt == -1) PyErr_Clear();

    // The address of QFileSystemModel's meta-object in the Qt the toolkit uses.
    Object metaObject = Object::steal(
        attribute(reinterpret_cast<PyObject*>(modelClass), "staticMetaObject"));
    if (!metaObject || !PyObject_TypeCheck(metaObject.ptr(), sip->api_simplewrapper_type)) return nullptr;
    const void* toolkitMetaObject = sip->api_get_address(reinterpret_cast<sipSimpleWrapper*>(metaObject.ptr()));

    // Only now, with the toolkit's Qt loaded, the library that links Qt.
    native::Library library(EXPLORERVIEW_MODEL_CALLS_LIBRARY);
    auto entry = reinterpret_cast<const ExplorerviewModelCalls* (*)()>(library.symbol("explorerview_model_calls"));
    const ExplorerviewModelCalls* calls = entry ? entry() : nullptr;
    if (!calls || calls->size < sizeof(ExplorerviewModelCalls)) return nullptr;
    long runtimeQt = qtVersionNumber(calls->runtimeQtVersion());
    bool sameQt = calls->fileSystemModelMetaObject == toolkitMetaObject && toolkitMetaObject;
    bool newEnough = runtimeQt >= calls->compiledQtVersion && (runtimeQt >> 16) == (calls->compiledQtVersion >> 16);
    bool sameInlines = toolkitQt == calls->compiledQtVersion;  // fileName is compiled into both
    bool roomForText = calls->nameSize <= LoweredFileName::textRoom &&
                       calls->nameAlignment <= alignof(std::max_align_t);
    if (!sameQt || !newEnough || !sameInlines || !roomForText) return nullptr;

    library.keep();
    return new Toolkit{sip, calls, sip->api_wrappertype_type, sip->api_type_from_py_type_object(modelClass),
                       indexClass, isDirWrapper, fileNameWrapper};
}

}  // namespace

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

void load(py::handle globals) {
    if (toolkit) return;
    toolkit = findToolkit(globals.ptr());
    if (toolkit) detail::toolkitMetatype = toolkit->wrapperType;
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

void load(py::handle) {}

#endif

}  // namespace explorerview::tree

namespace explorerview::exec {
void loadToolkitCalls(py::handle globals) { tree::load(globals); }
}  // namespace explorerview::exec
