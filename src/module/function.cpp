// The native function type, in the order Python's own function type is
// written: the struct (function.hpp), the constructor, getters and setters,
// traverse/clear/dealloc, __get__, and the slot tables and type object last.
//
// Setters follow Python's function type: the same checks, the same messages,
// a null value (del) treated as Python treats it. Attributes Python keeps
// read-only (__globals__, __closure__, __builtins__) are read-only here too,
// and a write the function could not honour (another __code__) raises.
//
// Most slots can run Python code (an audit hook, a __del__, a weakref
// callback, a collection): they call it and release what they held through
// the guarded word (module/forced_unwind.hpp), so that a thread the
// interpreter ends meanwhile waits there.
#include "module/function.hpp"

#include <structmember.h>

#include <utility>

#include "module/name.hpp"
#include "module/runtime.hpp"

namespace explorerview {

namespace {

FunctionObject* asFunction(PyObject* self) { return reinterpret_cast<FunctionObject*>(self); }

// field = value (a new reference, or null), the old value released after,
// through the guarded word: its finaliser may run Python code.
void setField(PyObject*& field, PyObject* value) noexcept { release(std::exchange(field, value)); }

const Name builtinsKey{"__builtins__"};

}  // namespace

Object builtinsFor(PyObject* globals) {
    Object entry = itemOrNull(globals, builtinsKey);
    if (!entry) return Object::borrow(PyEval_GetBuiltins());
    if (PyModule_Check(entry.ptr())) return Object::borrow(PyModule_GetDict(entry.ptr()));
    return entry;  // any mapping, as Python takes it
}

Object makeFunction(const FunctionRow& spec, py::handle closure) {
    const constants::BuiltRow& row = constants::builtRow(spec);
    PyObject* cells = closure && !closure.is_none() ? closure.ptr() : nullptr;
    Py_ssize_t ncells = cells ? (PyTuple_Check(cells) ? PyTuple_GET_SIZE(cells) : -1) : 0;
    if (ncells < 0 || ncells > 1)
        raise(PyExc_SystemError, "%s: a closure is None or a tuple of one cell", spec.qualname);
    if (ncells == 0) cells = nullptr;  // an empty tuple reads as None, as for Python functions
    // A def statement gives the new function the globals of the frame it runs in.
    Object globals = runningGlobals();
    if (!globals) raise(PyExc_SystemError, "%s made before the module was executed", spec.qualname);

    Object builtins = builtinsFor(globals.ptr());
    Object annotations = newDict();
    for (const auto& pair : row.annotations)  // exact str keys: no Python code runs
        if (pair[0]) check(PyDict_SetItem(annotations.ptr(), pair[0].ptr(), pair[1].ptr()));

    // The allocation may start a collection, which runs gc.callbacks.
    FunctionObject* fn = intoPython([] { return PyObject_GC_New(FunctionObject, &functionType()); });
    if (!fn) throw PythonError();
    fn->vectorcall = functionVectorcall;
    fn->row = &row;
    fn->globals = globals.release();
    fn->builtins = builtins.release();
    fn->name = Py_NewRef(row.name.ptr());
    fn->qualname = Py_NewRef(row.qualname.ptr());
    fn->code = Py_NewRef((cells ? row.codeWithFreeVar : row.code).ptr());
    fn->defaults = Py_XNewRef(constants::defaultsFor(spec.defaults).ptr());  // null for None
    fn->kwdefaults = nullptr;
    fn->closure = Py_XNewRef(cells);
    fn->doc = Py_NewRef(row.doc.ptr());
    fn->dict = nullptr;
    fn->weakreflist = nullptr;
    fn->module = Py_NewRef(constants::moduleName().ptr());
    fn->annotations = annotations.release();
    PyObject_GC_Track(fn);
    return Object::steal(reinterpret_cast<PyObject*>(fn));
}

Object captureOne(py::handle value) {
    Object cell = ownedOrThrow(intoPython([&] { return PyCell_New(value.ptr()); }));
    return ownedOrThrow(intoPython([&] { return PyTuple_Pack(1, cell.ptr()); }));
}

namespace {

// ---- getters and setters ------------------------------------------------------

PyObject* function_get_code(PyObject* self, void*) { return Py_NewRef(asFunction(self)->code); }

int function_set_code(PyObject* self, PyObject* value, void*) {
    FunctionObject* fn = asFunction(self);
    if (!value || !PyCode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__code__ must be set to a code object");
        return -1;
    }
    if (intoPython([&] { return PySys_Audit("object.__setattr__", "OsO", self, "__code__", value); }) < 0) return -1;
    Py_ssize_t nfree = PyCode_GetNumFree(reinterpret_cast<PyCodeObject*>(value));
    Py_ssize_t nclosure = fn->closure ? PyTuple_GET_SIZE(fn->closure) : 0;
    if (nclosure != nfree) {
        PyErr_Format(PyExc_ValueError, "%U() requires a code object with %zd free vars, not %zd",
                     fn->name, nclosure, nfree);
        return -1;
    }
    // The body is compiled into the module: another code object would change
    // what the function reports but not what it runs, so it is refused rather
    // than silently stored. Its own code may be assigned back.
    if (value != fn->code) {
        PyErr_Format(PyExc_TypeError, "%U() is a native function: its __code__ cannot be replaced", fn->name);
        return -1;
    }
    return 0;
}

PyObject* function_get_defaults(PyObject* self, void*) {
    PyObject* defaults = asFunction(self)->defaults;
    return Py_NewRef(defaults ? defaults : Py_None);
}

int function_set_defaults(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
        return -1;
    }
    PyObject* shown = value ? value : Py_None;
    if (intoPython([&] { return PySys_Audit("object.__setattr__", "OsO", self, "__defaults__", shown); }) < 0)
        return -1;
    setField(asFunction(self)->defaults, Py_XNewRef(value));
    return 0;
}

PyObject* function_get_kwdefaults(PyObject* self, void*) {
    PyObject* kwdefaults = asFunction(self)->kwdefaults;
    return Py_NewRef(kwdefaults ? kwdefaults : Py_None);
}

// Accepted as Python accepts it, and, as for a Python function without
// keyword-only parameters, never consulted when binding.
int function_set_kwdefaults(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
        return -1;
    }
    PyObject* shown = value ? value : Py_None;
    if (intoPython([&] { return PySys_Audit("object.__setattr__", "OsO", self, "__kwdefaults__", shown); }) < 0)
        return -1;
    setField(asFunction(self)->kwdefaults, Py_XNewRef(value));
    return 0;
}

PyObject* function_get_annotations(PyObject* self, void*) {
    FunctionObject* fn = asFunction(self);
    if (!fn->annotations) {
        fn->annotations = intoPython([] { return PyDict_New(); });
        if (!fn->annotations) return nullptr;
    }
    return Py_NewRef(fn->annotations);
}

int function_set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    setField(asFunction(self)->annotations, Py_XNewRef(value));
    return 0;
}

PyObject* function_get_name(PyObject* self, void*) { return Py_NewRef(asFunction(self)->name); }

int function_set_name(PyObject* self, PyObject* value, void*) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__name__ must be set to a string object");
        return -1;
    }
    setField(asFunction(self)->name, Py_NewRef(value));
    return 0;
}

PyObject* function_get_qualname(PyObject* self, void*) {
    return Py_NewRef(asFunction(self)->qualname);
}

int function_set_qualname(PyObject* self, PyObject* value, void*) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__qualname__ must be set to a string object");
        return -1;
    }
    setField(asFunction(self)->qualname, Py_NewRef(value));
    return 0;
}

// isinstance(f, types.FunctionType) holds, as it does for the functions this
// type stands in for: tools that treat functions specially (unittest.mock's
// autospec enforcing signatures, inspect.isfunction, pydoc) look at __class__
// through isinstance. type(f) still tells the truth.
PyObject* function_get_class(PyObject*, void*) {
    return Py_NewRef(reinterpret_cast<PyObject*>(&PyFunction_Type));
}

// Assignment and deletion refuse as they do on a Python function.
int function_set_class(PyObject*, PyObject* value, void*) {
    PyErr_SetString(PyExc_TypeError, value ? "__class__ assignment only supported for mutable types or ModuleType "
                                             "subclasses"
                                           : "can't delete __class__ attribute");
    return -1;
}

PyGetSetDef function_getset[] = {
    {"__code__", function_get_code, function_set_code, nullptr, nullptr},
    {"__defaults__", function_get_defaults, function_set_defaults, nullptr, nullptr},
    {"__kwdefaults__", function_get_kwdefaults, function_set_kwdefaults, nullptr, nullptr},
    {"__annotations__", function_get_annotations, function_set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__name__", function_get_name, function_set_name, nullptr, nullptr},
    {"__qualname__", function_get_qualname, function_set_qualname, nullptr, nullptr},
    {"__class__", function_get_class, function_set_class, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#define OFF(field) static_cast<Py_ssize_t>(offsetof(FunctionObject, field))
PyMemberDef function_members[] = {
    {"__closure__", T_OBJECT, OFF(closure), READONLY, nullptr},
    {"__doc__", T_OBJECT, OFF(doc), 0, nullptr},
    {"__globals__", T_OBJECT, OFF(globals), READONLY, nullptr},
    {"__module__", T_OBJECT, OFF(module), 0, nullptr},
    {"__builtins__", T_OBJECT, OFF(builtins), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- methods ------------------------------------------------------------------

// Pickled by reference, as Python pickles its functions: the qualified name,
// looked up again in the module on load. Local functions fail as Python's do.
PyObject* function_reduce(PyObject* self, PyObject*) { return Py_NewRef(asFunction(self)->qualname); }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---- garbage collection ---------------------------------------------------------

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* fn = asFunction(self);
    Py_VISIT(fn->code);
    Py_VISIT(fn->globals);
    Py_VISIT(fn->builtins);
    Py_VISIT(fn->module);
    Py_VISIT(fn->defaults);
    Py_VISIT(fn->kwdefaults);
    Py_VISIT(fn->doc);
    Py_VISIT(fn->name);
    Py_VISIT(fn->dict);
    Py_VISIT(fn->closure);  // the captured panel: a panel holding its handlers forms a cycle
    Py_VISIT(fn->annotations);
    Py_VISIT(fn->qualname);
    return 0;
}

int function_clear(PyObject* self) {
    FunctionObject* fn = asFunction(self);
    setField(fn->globals, nullptr);
    setField(fn->builtins, nullptr);
    setField(fn->module, nullptr);
    setField(fn->defaults, nullptr);
    setField(fn->kwdefaults, nullptr);
    setField(fn->doc, nullptr);
    setField(fn->dict, nullptr);
    setField(fn->closure, nullptr);
    setField(fn->annotations, nullptr);
    // The code stays: it cannot be part of a cycle, and a function always has
    // one. The names may be str subclasses caught in a cycle; the row's own
    // strings take their place, as Python puts plain strings in theirs.
    setField(fn->name, Py_NewRef(fn->row->name.ptr()));
    setField(fn->qualname, Py_NewRef(fn->row->qualname.ptr()));
    return 0;
}

void function_dealloc(PyObject* self) {
    FunctionObject* fn = asFunction(self);
    PyObject_GC_UnTrack(self);
    if (fn->weakreflist) intoPython([&] { PyObject_ClearWeakRefs(self); });  // runs their callbacks
    function_clear(self);
    setField(fn->code, nullptr);
    setField(fn->name, nullptr);
    setField(fn->qualname, nullptr);
    PyObject_GC_Del(self);
}

// ---- descriptor, repr -------------------------------------------------------------

// Through the class: the function itself; through an instance: a real bound
// method (types.MethodType), which PyQt's connect recognises as a method.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == Py_None || obj == nullptr) return Py_NewRef(self);
    return intoPython([&] { return PyMethod_New(self, obj); });
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", asFunction(self)->qualname, self);
}

PyTypeObject makeType() {
    PyTypeObject type{};  // PyType_Ready fills the metatype in
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    // Named after what it stands for, in the module that owns it.
    type.tp_name = "Tavro_Workspace.explorerview.function";
    type.tp_basicsize = sizeof(FunctionObject);
    type.tp_dealloc = function_dealloc;
    type.tp_vectorcall_offset = OFF(vectorcall);
    type.tp_repr = function_repr;
    type.tp_call = PyVectorcall_Call;
    type.tp_getattro = PyObject_GenericGetAttr;
    type.tp_setattro = PyObject_GenericSetAttr;
    // METHOD_DESCRIPTOR: obj.method(...) calls the function with obj first,
    // without making a bound method object on the way.
    type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                    Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE;
    type.tp_traverse = function_traverse;
    type.tp_clear = function_clear;
    type.tp_weaklistoffset = OFF(weakreflist);
    type.tp_methods = function_methods;
    type.tp_members = function_members;
    type.tp_getset = function_getset;
    type.tp_descr_get = function_descr_get;
    type.tp_dictoffset = OFF(dict);
    return type;
}
#undef OFF

}  // namespace

PyTypeObject& functionType() {
    static PyTypeObject type = makeType();
    return type;
}

void readyFunctionType() {
    check(intoPython([] { return PyType_Ready(&functionType()); }));
}

}  // namespace explorerview
