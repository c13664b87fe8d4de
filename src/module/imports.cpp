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

// builtins.__import__, or a null object: an entry of the builtins' dict (or
// of any mapping), an attribute of what `import builtins` gave where that is
// neither a module nor a mapping (the stand-in of a proxy or lazy module).
Object importFunction(py::handle builtins) {
    if (PyMapping_Check(builtins.ptr())) return itemOrNull(builtins, importName);
    Object found = Object::steal(intoPython([&] { return PyObject_GetAttr(builtins.ptr(), importName.get().ptr()); }));
    if (!found) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
    }
    return found;
}

// __import__(name, globals, {}, fromlist, 0), through the __import__ of the
// module's own builtins so that a replaced one is honoured, as the statement
// honours it. Held for the call: it may replace itself in the builtins.
Object importModule(py::handle globals, py::handle name, py::handle fromlist) {
    Object import = importFunction(builtinsFor(globals.ptr()));
    if (!import) raise(PyExc_ImportError, "__import__ not found");
    Object locals = newDict();
    Object level = ownedOrThrow(PyLong_FromLong(0));
    return call(import, name, globals, locals, fromlist, level);
}

// sys.modules[key], or a null object. Owned: the entry may be replaced, and
// the module freed, by the next thing that runs Python code (a module
// __getattr__ that swaps a lazy stub for the real module, for one).
Object loadedModule(py::handle key) {
    return itemOrNull(PyImport_GetModuleDict(), key);
}

// The IMPORT_FROM step: module.name, else the submodule sys.modules["M.name"]
// (M being the module's __name__), else ImportError "cannot import name ...".
Object importFrom(py::handle module, py::handle name) {
    Object value = Object::steal(intoPython([&] { return PyObject_GetAttr(module.ptr(), name.ptr()); }));
    if (value) return value;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
    PyErr_Clear();
    Object packageName =
        Object::steal(intoPython([&] { return PyObject_GetAttrString(module.ptr(), "__name__"); }));
    if (!packageName) PyErr_Clear();
    if (packageName && !PyUnicode_Check(packageName.ptr())) packageName = Object();
    if (packageName) {
        Object key = ownedOrThrow(PyUnicode_FromFormat("%U.%U", packageName.ptr(), name.ptr()));
        if (Object submodule = loadedModule(key)) return submodule;
    }
    Object message =
        ownedOrThrow(intoPython([&] { return PyUnicode_FromFormat("cannot import name %S", name.ptr()); }));
    intoPython([&] { return PyErr_SetImportError(message.ptr(), packageName.ptr(), nullptr); });
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
        for (const char* name : names) {
            Object key = interned(name);
            complete = complete && intoPython([&] { return PyObject_HasAttr(module.ptr(), key.ptr()); });
        }
        if (!complete) module = Object();
    }
    if (!module) {
        Object fromlist = newList();
        for (const char* name : names) append(fromlist, interned(name));
        module = importModule(globals, key, fromlist);
    }

    for (const char* name : names) {
        Object nameObject = interned(name);
        Object value = importFrom(module, nameObject);
        check(intoPython([&] { return PyDict_SetItem(globals.ptr(), nameObject.ptr(), value.ptr()); }));
    }
}

}  // namespace

void importNames(py::handle globals) {
    // import os.path as osp: the statement imports "os.path", receives the
    // top-level package and takes its attribute "path".
    Object os = importModule(globals, interned("os.path"), none());
    Object osPath = importFrom(os, interned("path"));
    check(intoPython([&] { return PyDict_SetItemString(globals.ptr(), "osp", osPath.ptr()); }));

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
