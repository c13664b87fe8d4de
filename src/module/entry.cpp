// The module's entry point and its two import steps. The module keeps one
// record per process (module/state): the first create fixes the interpreter,
// the first successful exec fixes the module, and every later import is handed
// that same module, so the four classes exist once per process.
#include "module/constants.hpp"
#include "module/errors.hpp"
#include "module/exec_steps.hpp"
#include "module/forced_unwind.hpp"
#include "module/function.hpp"
#include "module/state.hpp"

#include <cstdio>

namespace explorerview {

namespace {

// ---- create ---------------------------------------------------------------------------

// Copies spec.<attribute> into the new module's dict under `key`; a spec
// without the attribute is skipped, as is a None search path.
void copyFromSpec(py::handle dict, py::handle spec, const char* attribute, const char* key, bool skipNone) {
    PyObject* value = PyObject_GetAttrString(spec.ptr(), attribute);
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
        return;
    }
    Object owned = Object::steal(value);
    if (skipNone && owned.is_none()) return;
    if (PyDict_SetItemString(dict.ptr(), key, value) < 0) throw PythonError();
}

EXPLORERVIEW_CATCHES_FORCED_UNWIND PyObject* explorerview_create(PyObject* spec, PyModuleDef*) {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return nullptr;
    if (state::interpreterId() == -1) {
        state::setInterpreterId(id);
    } else if (state::interpreterId() != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (PyObject* recorded = state::module()) return Py_NewRef(recorded);

    try {
        Object name = Object::steal(PyObject_GetAttrString(spec, "name"));
        if (!name) throw PythonError();
        Object module = Object::steal(PyModule_NewObject(name.ptr()));
        if (!module) throw PythonError();
        py::handle dict = PyModule_GetDict(module.ptr());
        copyFromSpec(dict, spec, "loader", "__loader__", false);
        copyFromSpec(dict, spec, "origin", "__file__", false);
        copyFromSpec(dict, spec, "parent", "__package__", false);
        copyFromSpec(dict, spec, "submodule_search_locations", "__path__", true);
        return module.release();
    }
    EXPLORERVIEW_RETHROW_FORCED_UNWIND
    catch (...) {
        errors::setFromCurrentException();
        return nullptr;
    }
}

// ---- exec ------------------------------------------------------------------------------

// A module warns when loaded into another minor version than the one whose
// headers it was compiled with; the micro version does not matter.
void warnOnVersionMismatch() {
    const unsigned long major = (Py_Version >> 24) & 0xFF, minor = (Py_Version >> 16) & 0xFF;
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return;
    char message[200];  // the warning text is cut to 199 characters
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION,
                  constants::fullName, "does not match", static_cast<int>(major), static_cast<int>(minor));
    if (PyErr_WarnEx(PyExc_RuntimeWarning, message, 1) < 0) throw PythonError();
}

// Under its full name in sys.modules even when imported by another name, so
// that pickle and the classes' __module__ find it; an existing entry stays.
// True when this exec added the entry.
bool registerFullName(py::handle module) {
    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    if (PyDict_GetItemString(modules, constants::fullName)) return false;
    if (PyDict_SetItemString(modules, constants::fullName, module.ptr()) < 0) throw PythonError();
    return true;
}

// After a failed exec: the entry this exec added must not survive it, or a
// later `import Tavro_Workspace.explorerview` would silently return the broken
// module. (Under its own name the import system removes it itself.)
void unregisterFullName(PyObject* module) {
    py::error_scope pending;  // the import error, set aside while the entry goes
    PyObject* modules = PyImport_GetModuleDict();
    if (PyDict_GetItemString(modules, constants::fullName) == module &&
        PyDict_DelItemString(modules, constants::fullName) < 0)
        PyErr_WriteUnraisable(module);
}

// What a failed exec has to undo or report.
struct Progress {
    bool constantsBuilt = false;  // a failure from here on gets the "init" traceback entry
    bool registered = false;      // this exec added the sys.modules entry
};

// Steps 3 to 11.
void execute(py::handle module, Progress& progress) {
    py::handle globals = PyModule_GetDict(module.ptr());
    Object builtins = Object::steal(PyImport_ImportModule("builtins"));
    if (!builtins) throw PythonError();
    if (PyObject_SetAttrString(module.ptr(), "__builtins__", builtins.ptr()) < 0) throw PythonError();

    warnOnVersionMismatch();

    constants::build();
    readyFunctionType();
    // pybind11 sets up its side of error handling when the first error is
    // dropped, by making types, which runs Python code. Done here, an error
    // raised at the recursion limit (where that code would fail too) is
    // dropped like any other.
    py::detail::get_internals();
    progress.constantsBuilt = true;

    progress.registered = registerFullName(module);
    constants::resolveSuper(PyModule_GetDict(builtins.ptr()));
    constants::buildRows();
    exec::importNames(globals);
    exec::createClasses(globals);
    exec::loadToolkitCalls(globals);
    if (PyDict_SetItemString(globals.ptr(), "__test__", py::dict().ptr()) < 0) throw PythonError();
}

// Neither step is noexcept: an import on a thread that the interpreter ends
// unwinds through them (module/forced_unwind.hpp).
EXPLORERVIEW_CATCHES_FORCED_UNWIND int explorerview_exec(PyObject* module) {
    if (PyObject* recorded = state::module()) {
        if (recorded == module) return 0;  // a later import of the executed module: nothing to redo
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'explorerview' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    state::record(module);
    Progress progress;
    try {
        execute(module, progress);
        return 0;
    }
    EXPLORERVIEW_RETHROW_FORCED_UNWIND
    catch (...) {
        errors::setFromCurrentException();
    }
    if (progress.constantsBuilt) errors::addInitEntry();
    if (progress.registered) unregisterFullName(module);
    // What was bound so far stays in the failed module; the next import
    // starts again with a new one.
    state::drop();
    return -1;
}

PyMethodDef explorerview_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef_Slot explorerview_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(explorerview_create)},
    {Py_mod_exec, reinterpret_cast<void*>(explorerview_exec)},
    {0, nullptr},
};

PyModuleDef explorerview_definition = {
    PyModuleDef_HEAD_INIT, "explorerview", nullptr, 0, explorerview_methods, explorerview_slots,
    nullptr,               nullptr,        nullptr,
};

}  // namespace

}  // namespace explorerview

PyMODINIT_FUNC PyInit_explorerview() { return PyModuleDef_Init(&explorerview::explorerview_definition); }
