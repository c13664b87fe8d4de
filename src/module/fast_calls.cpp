// The calls and attribute reads that bodies make on every row: method calls
// through interned names, builtins called through their C function, and
// __slots__ entries read from their place. Each remembers what it learnt per
// type, keyed on the type's version tag, so that any change to the type (or a
// base) is seen at the next use, as Python sees it.
#include "module/runtime.hpp"

#include <structmember.h>  // after Python.h, which it needs

namespace explorerview {

namespace {
// No room left by the count: Python's own check decides, as it does for the
// interpreter's call of a builtin there. It raises RecursionError, or lets the
// call go ahead when the limit has been raised since the count was set.
[[gnu::cold, gnu::noinline]] PyObject* callAtRecursionLimit(PyCFunction function, PyObject* self,
                                                            PyObject* arg) noexcept {
    if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    PyObject* result = function(self, arg);
    Py_LeaveRecursiveCall();
    return result;
}

// A builtin that returned no result must have set an error; the generic call
// checks that too, and says so when it did not.
[[gnu::cold, gnu::noinline]] PyObject* returnedNothing(PyObject* callable) noexcept {
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
    return nullptr;
}

// callPositional's work, inlined into the method call as well.
[[gnu::always_inline]] inline PyObject* callNow(PyObject* callable, PyObject* const* args,
                                                std::size_t nargsf) noexcept {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyTypeObject* type = Py_TYPE(callable);
    PyMethodDef* def;
    PyObject* self;
    PyObject* const* rest;  // the arguments after self
    if (type == &PyCFunction_Type) {  // a bound builtin: a dict's __getitem__, id
        def = reinterpret_cast<PyCFunctionObject*>(callable)->m_ml;
        self = PyCFunction_GET_SELF(callable);
        rest = args;
    } else if (type == &PyMethodDescr_Type && nargs > 0 &&
               // only on an instance of exactly the descriptor's type, as the
               // interpreter's own shortcut; vectorcall checks anything else
               Py_IS_TYPE(args[0], PyDescr_TYPE(reinterpret_cast<PyMethodDescrObject*>(callable)))) {
        def = reinterpret_cast<PyMethodDescrObject*>(callable)->d_method;  // str.lower on a str
        self = args[0];
        rest = args + 1;
    } else {
        return PyObject_Vectorcall(callable, args, nargsf, nullptr);
    }
    const Py_ssize_t count = nargs - (rest - args);
    constexpr int conventions = METH_VARARGS | METH_FASTCALL | METH_NOARGS | METH_O | METH_KEYWORDS | METH_METHOD;
    const int convention = def->ml_flags & conventions;
    PyObject* arg;
    if (convention == METH_O && count == 1) arg = rest[0];
    else if (convention == METH_NOARGS && count == 0) arg = nullptr;
    else return PyObject_Vectorcall(callable, args, nargsf, nullptr);  // checks the count, raises its TypeError

    // The interpreter's own recursion count around the call (3.11's thread state).
    PyThreadState* thread = _PyThreadState_UncheckedGet();
    PyObject* result;
    if (thread->recursion_remaining > 0) [[likely]] {
        --thread->recursion_remaining;
        result = def->ml_meth(self, arg);
        ++thread->recursion_remaining;
    } else {
        result = callAtRecursionLimit(def->ml_meth, self, arg);
    }
    return result ? result : returnedNothing(callable);
}
}  // namespace

PyObject* callPositional(PyObject* callable, PyObject* const* args, std::size_t nargsf) noexcept {
    return callNow(callable, args, nargsf);
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
    // A tag is remembered only while valid (non-zero), and Python zeroes a
    // type's tag whenever the type changes, so equal tags mean unchanged.
    const bool known = type == name.methodType_ && type->tp_version_tag == name.methodTag_;
    PyObject* callable;
    bool unbound;
    if (known && name.method_) {
        // Held for the call: the callee may come back here and replace it.
        callable = Py_NewRef(name.method_);
        unbound = true;
    } else {
        if (!known) [[unlikely]]
            learnMethod(name.object_, type, name.methodType_, name.methodTag_, name.method_);
        callable = nullptr;
        unbound = _PyObject_GetMethod(args[0], name.object_, &callable);
        if (!callable) return nullptr;
    }
    PyObject* result = unbound ? callNow(callable, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET)
                               : callNow(callable, args + 1, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET);
    Py_DECREF(callable);
    return result;
}

namespace {
// Whether `name` on `type` is a slot the generic look-up reads straight from
// the object: a member descriptor of an object that must be set (unset raises
// AttributeError) and whose reads are not audited. Such a data descriptor
// wins over any instance dict, so its place in the object is the answer.
void learnSlot(PyObject* name, PyTypeObject* type, PyTypeObject*& slotType, unsigned int& slotTag,
               Py_ssize_t& slotOffset) noexcept {
    Py_ssize_t offset = -1;
    if (type->tp_getattro == PyObject_GenericGetAttr) {
        PyObject* found = _PyType_Lookup(type, name);  // borrowed; sets no error
        if (found && Py_IS_TYPE(found, &PyMemberDescr_Type)) {
            const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(found)->d_member;
            if (member->type == T_OBJECT_EX && !(member->flags & PY_AUDIT_READ)) offset = member->offset;
        }
    }
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
        slotType = type;
        slotTag = type->tp_version_tag;
        slotOffset = offset;
    }
}

// Out of line, so that the reads that find their answer remembered stay short.
[[gnu::noinline]] PyObject* learnSlotAndRead(PyObject* name, PyObject* obj, PyTypeObject*& slotType,
                                             unsigned int& slotTag, Py_ssize_t& slotOffset) noexcept {
    learnSlot(name, Py_TYPE(obj), slotType, slotTag, slotOffset);
    return PyObject_GetAttr(obj, name);
}
}  // namespace

PyObject* attribute(const Name& name, PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    if (type != name.slotType_ || type->tp_version_tag != name.slotTag_) [[unlikely]]
        return learnSlotAndRead(name.object_, obj, name.slotType_, name.slotTag_, name.slotOffset_);
    if (name.slotOffset_ >= 0) {
        PyObject* value = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + name.slotOffset_);
        if (value) return Py_NewRef(value);  // unset: the generic read raises AttributeError
    }
    return PyObject_GetAttr(obj, name.object_);
}

}  // namespace explorerview
