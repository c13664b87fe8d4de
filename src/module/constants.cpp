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
    // Node-based: addresses are stable, moved map or not. Every row or none:
    // a row whose creator's rows are missing would fail when it runs.
    std::unordered_map<const FunctionRow*, BuiltRow> rows;
    bool built = false;
};

// Never destroyed: its objects must outlive every function object, and static
// destructors run when the interpreter may already be gone.
Store& store() {
    static Store* s = new Store;
    return *s;
}

Object tupleOf(py::handle item) {
    return ownedOrThrow(intoPython([&] { return PyTuple_Pack(1, item.ptr()); }));
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
    Object code = ownedOrThrow(intoPython([&] {
        return reinterpret_cast<PyObject*>(PyCode_NewEmpty(fileName, coName, spec.firstLine));
    }));
    Object varnames = ownedOrThrow(intoPython([&] { return PyTuple_New(row.nparams); }));
    for (int i = 0; i < row.nparams; ++i) PyTuple_SET_ITEM(varnames.ptr(), i, row.params[i].newReference());
    Object count = ownedOrThrow(PyLong_FromLong(row.nparams));
    Object flags = ownedOrThrow(PyLong_FromLong(CO_OPTIMIZED | CO_NEWLOCALS));
    Object changes = ownedOrThrow(intoPython([] { return PyDict_New(); }));
    const std::pair<const char*, py::handle> items[] = {
        {"co_argcount", count},  {"co_nlocals", count},   {"co_varnames", varnames},
        {"co_flags", flags},     {"co_qualname", row.qualname}, {"co_freevars", freevars},
    };
    for (const auto& [key, value] : items)
        check(intoPython([&] { return PyDict_SetItemString(changes.ptr(), key, value.ptr()); }));
    Object replace = ownedOrThrow(intoPython([&] { return PyObject_GetAttrString(code.ptr(), "replace"); }));
    return ownedOrThrow(intoPython([&] { return PyObject_VectorcallDict(replace.ptr(), nullptr, 0, changes.ptr()); }));
}

using Rows = std::unordered_map<const FunctionRow*, BuiltRow>;

// The row and the rows of the functions it creates, added to `rows`.
void addRow(Rows& rows, const FunctionRow& spec) {
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
    Object freeVar = tupleOf(interned(spec.usesSuper ? "__class__" : "self"));
    Object noFreeVars = ownedOrThrow(intoPython([] { return PyTuple_New(0); }));
    row.code = codeFor(spec, row, noFreeVars);
    row.codeWithFreeVar = codeFor(spec, row, freeVar);
    row.tracebackName = tracebackNameOf(spec);
    rows.emplace(&spec, std::move(row));
    for (const FunctionRow* inner : spec.inner)
        if (inner) addRow(rows, *inner);
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
    Object super = Object::steal(intoPython([&] { return PyObject_GetAttr(builtins.ptr(), key.ptr()); }));
    if (!super) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
        raise(PyExc_NameError, "name '%U' is not defined", key.ptr());
    }
    store().super = std::move(super);
}

py::handle builtinSuper() { return store().super; }

void buildRows() {
    if (!store().rows.empty()) return;  // built by an earlier exec, all of them
    Rows rows;
    for (const ClassRow* cls : allClasses)
        for (const FunctionRow* method : cls->methods)
            if (method) addRow(rows, *method);
    store().rows = std::move(rows);
}

const BuiltRow& builtRow(const FunctionRow& spec) {
    auto& rows = store().rows;
    auto found = rows.find(&spec);
    // Every row reachable from the class tables is built at exec; a row that
    // is not is missing from its creator's `inner` list: say which.
    if (found == rows.end()) {
        raise(PyExc_SystemError, "%s is not listed among the functions its creator makes",
                     spec.qualname);
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
