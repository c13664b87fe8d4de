// Module exec, once: whether the sort's model calls may go to the toolkit's
// own C++ (tree/model_calls.hpp says what they are). They may only when the
// toolkit's classes are the sip-made QFileSystemModel and QModelIndex of a sip
// whose ABI is the one compiled against, and the library beside the module
// binds to the very Qt the toolkit loaded: the same QFileSystemModel
// meta-object, a Qt at least as new as the one built against (same major), the
// toolkit compiled against that Qt (fileName is an inline compiled into both),
// and room for the toolkit's text where a comparison keeps it.
//
// Kept apart from what each comparison does (tree/model_calls.cpp): this runs
// once, may take its time, and trusts nothing it reads. Only the sip API's
// data members are read until the toolkit's classes are known to be that
// sip's, and any doubt leaves every call going through Python, silently.
#include <climits>
#include <cstdio>

#include "module/exec_steps.hpp"
#include "module/runtime.hpp"
#include "tree/model_calls.hpp"

#if defined(EXPLORERVIEW_TOOLKIT_CALLS)
#include "module/native_library.hpp"
#include "tree/toolkit.hpp"

namespace explorerview::tree {

using detail::Toolkit;

namespace {

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

}  // namespace

const Toolkit* detail::findToolkit(PyObject* globals) {
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

}  // namespace explorerview::tree
#endif

namespace explorerview::exec {

void loadToolkitCalls([[maybe_unused]] py::handle globals) {
#if defined(EXPLORERVIEW_TOOLKIT_CALLS)
    if (tree::detail::toolkitMetatype) return;  // allowed already, by an earlier exec
    if (const tree::detail::Toolkit* found = tree::detail::findToolkit(globals.ptr()))
        tree::detail::allowDirectCalls(found);
#endif
}

}  // namespace explorerview::exec
