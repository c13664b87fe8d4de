// Helpers that method bodies use: constant strings, global look-ups, calls.
#include "module/runtime.hpp"

#include <vector>

#include "module/state.hpp"

namespace explorerview {

namespace {
// Every Name declared anywhere, in static-initialisation order. Built at exec.
std::vector<Name*>& allNames() {
    static std::vector<Name*> names;
    return names;
}
}  // namespace

Name::Name(const char* text) : text_(text) { allNames().push_back(this); }

void Name::internAll() {
    for (Name* name : allNames()) {
        if (name->object_) continue;  // kept for the life of the process
        name->object_ = PyUnicode_InternFromString(name->text_);
        if (!name->object_) throw py::error_already_set();
    }
}

py::object global(const Name& name) { return globalNamed(name.get()); }

py::object globalNamed(py::handle name) {
    PyObject* globals = state::globals();  // null only if the module failed to execute
    PyObject* value = globals ? PyDict_GetItemWithError(globals, name.ptr()) : nullptr;
    if (!value) {
        if (PyErr_Occurred()) throw py::error_already_set();
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        value = builtins ? PyDict_GetItemWithError(builtins, name.ptr()) : nullptr;
        if (!value) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
            throw py::error_already_set();
        }
    }
    return py::reinterpret_borrow<py::object>(value);
}

namespace {
// Whether `type`'s instances find a method only through the type: generic
// attribute look-up and no instance dict that could shadow it.
bool lookedUpOnTypeOnly(PyTypeObject* type) {
    return type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset == 0 &&
           !PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT);
}

// What `name` leads to on `type`, learnt once per type (and again whenever
// the type's version tag moves): the method descriptor where only the type can
// answer, else null for "look up each time". Out of line, so that the calls
// that find their answer remembered stay short.
// The name's memory is passed in as its three fields.
[[gnu::noinline]] void learnMethod(PyObject* name, PyTypeObject* type, PyTypeObject*& methodType,
                                   unsigned int& methodTag, PyObject*& method) noexcept {
    PyObject* found = lookedUpOnTypeOnly(type) ? _PyType_Lookup(type, name) : nullptr;
    if (found && !PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) found = nullptr;
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
        Py_XSETREF(method, Py_XNewRef(found));
        methodType = type;
        methodTag = type->tp_version_tag;
    }
}
}  // namespace

// obj.name(...) as Python calls it. Where the receiver's type is such that
// only the type can answer (str.lower), the method descriptor found last time
// is called directly while the type's version tag, which Python changes
// whenever the type or one of its bases changes, is the same; every other
// receiver (the toolkit's objects, which look attributes up their own way)
// takes Python's full method look-up each time, as the interpreter's own
// method call does: an unbound method gets the receiver as its first
// argument, anything else is called with the arguments after it.
PyObject* methodCall(const Name& name, PyObject** args, std::size_t nargs) noexcept {
    PyTypeObject* type = Py_TYPE(args[0]);
    const bool known = type == name.methodType_ && type->tp_version_tag == name.methodTag_ &&
                       PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG);
    if (known && name.method_) {
        // Held for the call: the callee may come back here and replace it.
        PyObject* method = Py_NewRef(name.method_);
        PyObject* result = PyObject_Vectorcall(method, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
        Py_DECREF(method);
        return result;
    }
    if (!known) [[unlikely]]
        learnMethod(name.object_, type, name.methodType_, name.methodTag_, name.method_);
    PyObject* callable = nullptr;
    const bool unbound = _PyObject_GetMethod(args[0], name.object_, &callable);
    if (!callable) return nullptr;
    PyObject* result = unbound ? PyObject_Vectorcall(callable, args, nargs, nullptr)
                               : PyObject_Vectorcall(callable, args + 1,
                                                     (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    Py_DECREF(callable);
    return result;
}

namespace detail {
void throwPythonError() { throw py::error_already_set(); }

py::object vectorcall(py::handle callable, const Name* method, PyObject** stack, std::size_t nargs,
                      const Keyword* const* keywords, std::size_t nkeywords) {
    py::object kwnames;
    if (nkeywords) {
        kwnames = py::reinterpret_steal<py::object>(PyTuple_New(static_cast<Py_ssize_t>(nkeywords)));
        if (!kwnames) throw py::error_already_set();
        for (std::size_t i = 0; i < nkeywords; ++i) {
            PyObject* keyName = keywords[i]->name.get().ptr();
            Py_INCREF(keyName);
            PyTuple_SET_ITEM(kwnames.ptr(), static_cast<Py_ssize_t>(i), keyName);
            stack[1 + nargs + i] = keywords[i]->value.ptr();
        }
    }
    std::size_t nargsf = nargs | PY_VECTORCALL_ARGUMENTS_OFFSET;
    PyObject* result = method
        ? PyObject_VectorcallMethod(method->get().ptr(), stack + 1, nargsf, kwnames.ptr())
        : PyObject_Vectorcall(callable.ptr(), stack + 1, nargsf, kwnames.ptr());
    if (!result) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}
}  // namespace detail

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

}  // namespace explorerview
