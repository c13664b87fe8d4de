// The module's constants, built once at exec and kept for the life of the
// process: the interned names, the default tuples, the builtin super and one
// set of objects per function row (its code objects above all, so that every
// function made from a row shares them as Python functions share theirs).
#include "module/constants.hpp"

#include <string_view>
#include <unordered_map>

#include "module/classes.hpp"
#include "module/name.hpp"

namespace explorerview::constants {

namespace {

struct Store {
    Object moduleName;
    Object noneDefault, falseDefault;  // (None,) and (False,)
    Object super;
    std::unordered_map<const FunctionRow*, BuiltRow> rows;  // node-based: addresses are stable
    bool built = false;
};

// Never destroyed: its objects must outlive every function object, and static
// destructors run when the interpreter may already be gone.
Store& store() {
    static Store* s = new Store;
    return *s;
}

Object tupleOf(py::handle item) {
    PyObject* t = PyTuple_Pack(1, item.ptr());
    if (!t) throw PythonError();
    return Object::steal(t);
}

// "ExplorerView._pasteFiles.<locals>.doPaste" -> "...ExplorerView._pasteFiles.doPaste";
// the last part is the row's own name, which turns "<lambda>" into "lambda1".
std::string tracebackNameOf(const FunctionRow& spec) {
    std::string qualname = spec.qualname;
    constexpr std::string_view locals = ".<locals>";
    for (auto at = qualname.find(locals); at != std::string::npos; at = qualname.find(locals))
        qualname.erase(at, locals.size());
    auto lastDot = qualname.rfind('.');
    qualname = (lastDot == std::string::npos ? std::string() : qualname.substr(0, lastDot + 1)) + spec.name;
    return std::string(fullName) + "." + qualname;
}

// A code object that describes the row as the compiler would describe the
// `def` or `lambda`: name, parameters, first line, qualified name, plain
// optimized/new-locals flags, and the given free variables. It is never run.
Object codeFor(const FunctionRow& spec, const BuiltRow& row, py::handle freevars) {
    const char* coName = spec.shape == CallShape::lambda ? "<lambda>" : spec.name;
    PyCodeObject* empty = PyCode_NewEmpty(fileName, coName, spec.firstLine);
    if (!empty) throw PythonError();
    Object code = Object::steal(reinterpret_cast<PyObject*>(empty));
    py::tuple varnames(row.nparams);
    for (int i = 0; i < row.nparams; ++i) varnames[i] = row.params[i];
    py::dict changes;
    changes["co_argcount"] = row.nparams;
    changes["co_nlocals"] = row.nparams;
    changes["co_varnames"] = varnames;
    changes["co_flags"] = CO_OPTIMIZED | CO_NEWLOCALS;
    changes["co_qualname"] = interned(spec.qualname);
    changes["co_freevars"] = freevars;
    PyObject* replace = PyObject_GetAttrString(code.ptr(), "replace");
    if (!replace) throw PythonError();
    Object method = Object::steal(replace);
    PyObject* result = PyObject_VectorcallDict(method.ptr(), nullptr, 0, changes.ptr());
    if (!result) throw PythonError();
    return Object::steal(result);
}

void addRow(const FunctionRow& spec) {
    auto& rows = store().rows;
    if (rows.count(&spec)) return;
    BuiltRow row;
    row.spec = &spec;
    while (row.nparams < 3 && spec.params[row.nparams]) {
        row.params[row.nparams] = interned(spec.params[row.nparams]);
        ++row.nparams;
    }
    row.name = interned(spec.name);
    row.qualname = interned(spec.qualname);
    row.doc = spec.doc ? interned(spec.doc) : none();
    for (int i = 0; i < 3 && spec.annotations[i].name; ++i) {
        row.annotations[i][0] = interned(spec.annotations[i].name);
        row.annotations[i][1] = interned(spec.annotations[i].value);
    }
    py::tuple freeVar(1);
    freeVar[0] = interned(spec.usesSuper ? "__class__" : "self");
    row.code = codeFor(spec, row, py::tuple());
    row.codeWithFreeVar = codeFor(spec, row, freeVar);
    row.tracebackName = tracebackNameOf(spec);
    rows.emplace(&spec, std::move(row));
    for (const FunctionRow* inner : spec.inner)
        if (inner) addRow(*inner);
}

}  // namespace

void build() {
    Store& s = store();
    Name::internAll();
    if (s.built) return;
    s.moduleName = interned(fullName);
    s.noneDefault = tupleOf(Py_None);
    s.falseDefault = tupleOf(Py_False);
    s.built = true;
}

void resolveSuper(py::handle builtins) {
    Object key = interned("super");
    PyObject* super = PyDict_GetItemWithError(builtins.ptr(), key.ptr());
    if (!super) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", key.ptr());
        throw PythonError();
    }
    store().super = Object::borrow(super);
}

py::handle builtinSuper() { return store().super; }

void buildRows() {
    for (const ClassRow* cls : allClasses)
        for (const FunctionRow* method : cls->methods)
            if (method) addRow(*method);
}

const BuiltRow& builtRow(const FunctionRow& spec) {
    auto& rows = store().rows;
    auto found = rows.find(&spec);
    // Every row reachable from the class tables is built at exec; a row that
    // is not is missing from its creator's `inner` list: say which.
    if (found == rows.end()) {
        PyErr_Format(PyExc_SystemError, "%s is not listed among the functions its creator makes",
                     spec.qualname);
        throw PythonError();
    }
    return found->second;
}

py::handle moduleName() { return store().moduleName; }

py::handle defaultsFor(Defaults defaults) {
    switch (defaults) {
        case Defaults::noneForLast: return store().noneDefault;
        case Defaults::falseForLast: return store().falseDefault;
        case Defaults::none: break;
    }
    return py::handle();
}

}  // namespace explorerview::constants
