// The module's imports, each done as the Python import statement does it, so
// that the host sees the same calls to the import system, the same fallback to
// a submodule already in sys.modules, and the same errors.
#include <initializer_list>

#include "module/exec_steps.hpp"
#include "module/function.hpp"
#include "module/runtime.hpp"

namespace explorerview::exec {

namespace {

const Name importName{"__import__"};

// __import__(name, globals, {}, fromlist, 0), through the __import__ of the
// module's own builtins so that a replaced one is honoured, as the statement
// honours it. Held for the call: it may replace itself in the builtins.
Object importModule(py::handle globals, py::handle name, py::handle fromlist) {
    Object import = itemOrNull(builtinsFor(globals.ptr()), importName);
    if (!import) {
        PyErr_SetString(PyExc_ImportError, "__import__ not found");
        throw PythonError();
    }
    py::dict locals;
    py::int_ level(0);
    PyObject* stack[] = {nullptr, name.ptr(), globals.ptr(), locals.ptr(), fromlist.ptr(), level.ptr()};
    PyObject* module = PyObject_Vectorcall(import.ptr(), stack + 1, 5 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!module) throw PythonError();
    return Object::steal(module);
}

// sys.modules[key], or a null object. Owned: the entry may be replaced, and
// the module freed, by the next thing that runs Python code (a module
// __getattr__ that swaps a lazy stub for the real module, for one).
Object loadedModule(py::handle key) {
    PyObject* modules = PyImport_GetModuleDict();  // borrowed from the interpreter
    PyObject* found = PyDict_GetItemWithError(modules, key.ptr());
    if (!found && PyErr_Occurred()) throw PythonError();
    return Object::borrow(found);
}

// The IMPORT_FROM step: module.name, else the submodule sys.modules["M.name"]
// (M being the module's __name__), else ImportError "cannot import name ...".
Object importFrom(py::handle module, py::handle name) {
    PyObject* value = PyObject_GetAttr(module.ptr(), name.ptr());
    if (value) return Object::steal(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
    PyErr_Clear();
    Object packageName = Object::steal(PyObject_GetAttrString(module.ptr(), "__name__"));
    if (!packageName) PyErr_Clear();
    if (packageName && !PyUnicode_Check(packageName.ptr())) packageName = Object();
    if (packageName) {
        Object key = Object::steal(
            PyUnicode_FromFormat("%U.%U", packageName.ptr(), name.ptr()));
        if (!key) throw PythonError();
        if (Object submodule = loadedModule(key)) return submodule;
    }
    Object message = Object::steal(PyUnicode_FromFormat("cannot import name %S", name.ptr()));
    if (!message) throw PythonError();
    PyErr_SetImportError(message.ptr(), packageName.ptr(), nullptr);
    throw PythonError();
}

// from <moduleName> import <names...>: the loaded module when it already has
// every name, else the import system with the names as the from-list; then
// each name read and bound before the next is read. The names come from exec's
// own constant list, as the statement takes them from its code: the from-list
// is a new list handed to the import system, which may keep it and change it.
void fromImport(py::handle globals, const char* moduleName, std::initializer_list<const char*> names) {
    Object key = interned(moduleName);
    Object module = loadedModule(key);
    if (module) {
        bool complete = true;
        for (const char* name : names) complete = complete && PyObject_HasAttr(module.ptr(), interned(name).ptr());
        if (!complete) module = Object();
    }
    if (!module) {
        py::list fromlist;
        for (const char* name : names) fromlist.append(interned(name));
        module = importModule(globals, key, fromlist);
    }

    for (const char* name : names) {
        Object nameObject = interned(name);
        if (PyDict_SetItem(globals.ptr(), nameObject.ptr(), importFrom(module, nameObject).ptr()) < 0)
            throw PythonError();
    }
}

}  // namespace

void importNames(py::handle globals) {
    // import os.path as osp: the statement imports "os.path", receives the
    // top-level package and takes its attribute "path".
    Object os = importModule(globals, interned("os.path"), none());
    if (PyDict_SetItemString(globals.ptr(), "osp", importFrom(os, interned("path")).ptr()) < 0)
        throw PythonError();

    fromImport(globals, "typing", {"List"});
    fromImport(globals, "pathlib", {"Path"});
    fromImport(globals, "Tavro", {"tavro"});
    fromImport(globals, "Kelpa",
               {"QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu", "QHSpacer",
                "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE", "QApplication", "QVLine",
                "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir", "QAbstractItemView",
                "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer", "QPoint", "QSortFilterProxyModel",
                "QClipboard"});
}

}  // namespace explorerview::exec
