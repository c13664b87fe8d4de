// The module's entry point and its two import steps. The module keeps one
// record per process (module/state): the first create fixes the interpreter,
// the first successful exec fixes the module, and every later import is handed
// that same module, so the four classes exist once per process.
#include "module/constants.hpp"
#include "module/errors.hpp"
#include "module/exec_steps.hpp"
#include "module/forced_unwind.hpp"
#include "module/function.hpp"
#include "module/runtime.hpp"
#include "module/state.hpp"

#include <cstdio>

namespace explorerview {

namespace {

// ---- create ---------------------------------------------------------------------------

// Copies spec.<attribute> into the new module's dict under `key`; a spec
// without the attribute is skipped, as is a None search path.
void copyFromSpec(py::handle dict, py::handle spec, const char* attribute, const char* key, bool skipNone) {
    Object value = Object::steal(intoPython([&] { return PyObject_GetAttrString(spec.ptr(), attribute); }));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
        return;
    }
    if (skipNone && value.is_none()) return;
    check(intoPython([&] { return PyDict_SetItemString(dict.ptr(), key, value.ptr()); }));
}

PyObject* explorerview_create(PyObject* spec, PyModuleDef*) {
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

    Object module;
    bool made = errors::succeeds([&] {
        Object name = ownedOrThrow(intoPython([&] { return PyObject_GetAttrString(spec, "name"); }));
        module = ownedOrThrow(intoPython([&] { return PyModule_NewObject(name.ptr()); }));
        py::handle dict = PyModule_GetDict(module.ptr());  // a new module has one
        copyFromSpec(dict, spec, "loader", "__loader__", false);
        copyFromSpec(dict, spec, "origin", "__file__", false);
        copyFromSpec(dict, spec, "parent", "__package__", false);
        copyFromSpec(dict, spec, "submodule_search_locations", "__path__", true);
    });
    return made ? module.release() : nullptr;
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
    check(intoPython([&] { return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1); }));
}

// Under its full name in sys.modules even when imported by another name, so
// that pickle and the classes' __module__ find it; an existing entry stays.
// True when this exec added the entry.
bool registerFullName(py::handle module) {
    Object modules = Object::borrow(PyImport_GetModuleDict());  // held: a key's __eq__ may replace it
    if (itemOrNull(modules, constants::moduleName())) return false;
    check(intoPython([&] { return PyObject_SetItem(modules.ptr(), constants::moduleName().ptr(), module.ptr()); }));
    return true;
}

// After a failed exec: the entry this exec added must not survive it, or a
// later `import Tavro_Workspace.explorerview` would silently return the broken
// module. (Under its own name the import system removes it itself.)
void unregisterFullName(PyObject* module) {
    errors::PendingError pending;  // the import error, set aside while the entry goes
    Object modules = Object::borrow(PyImport_GetModuleDict());
    bool removed = errors::succeeds([&] {
        if (itemOrNull(modules, constants::moduleName()).is(module))
            check(intoPython([&] { return PyObject_DelItem(modules.ptr(), constants::moduleName().ptr()); }));
    });
    if (!removed) intoPython([&] { PyErr_WriteUnraisable(module); });
}

// What a failed exec has to undo or report.
struct Progress {
    bool constantsBuilt = false;  // a failure from here on gets the "init" traceback entry
    bool registered = false;      // this exec added the sys.modules entry
};

// Steps 3 to 11.
// `import builtins` gives whatever sys.modules holds under that name (a
// module, or a stand-in of a lazy or proxy module); exec uses it as Python
// code would, by attribute.
void execute(py::handle module, Progress& progress) {
    Object globals = Object::borrow(state::globals());
    Object builtins = ownedOrThrow(intoPython([] { return PyImport_ImportModule("builtins"); }));
    check(intoPython([&] { return PyObject_SetAttrString(module.ptr(), "__builtins__", builtins.ptr()); }));

    warnOnVersionMismatch();

    constants::build();
    readyFunctionType();
    progress.constantsBuilt = true;

    progress.registered = registerFullName(module);
    constants::resolveSuper(builtins);
    constants::buildRows();
    exec::importNames(globals);
    exec::createClasses(globals);
    exec::loadToolkitCalls(globals);
    Object test = ownedOrThrow(intoPython([] { return PyDict_New(); }));
    check(intoPython([&] { return PyDict_SetItemString(globals.ptr(), "__test__", test.ptr()); }));
}

int explorerview_exec(PyObject* module) {
    if (PyObject* recorded = state::module()) {
        if (recorded == module) return 0;  // a later import of the executed module: nothing to redo
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'explorerview' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    if (!state::record(module)) return -1;
    Progress progress;
    if (errors::succeeds([&] { execute(module, progress); })) return 0;
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
