// The calls and attribute reads that bodies make on every row, inlined into
// them: method calls through interned names, builtins called through their C
// function, and __slots__ entries read from their place. What they learn is
// remembered per type and keyed on the type's version tag, so that any change
// to the type (or a base) is seen at the next use, as Python sees it. The
// learning and the rare paths are out of line (fast_calls.cpp).
#pragma once

#include <cstddef>

#include "module/name.hpp"

namespace explorerview::fast {

// What `name` leads to as a method on `type` (see methodCall), stored in the name's memory.
void learnMethod(PyObject* name, PyTypeObject* type, PyTypeObject*& methodType, unsigned int& methodTag,
                 PyObject*& method) noexcept;
// Learns whether `name` is a slot of obj's type (see attribute), then reads it generically.
PyObject* learnSlotAndRead(PyObject* name, PyObject* obj, PyTypeObject*& slotType, unsigned int& slotTag,
                           Py_ssize_t& slotOffset) noexcept;
// function(self, arg) when the recursion count has no room left.
PyObject* callAtRecursionLimit(PyCFunction function, PyObject* self, PyObject* arg) noexcept;
// The error for a builtin that returned no result: null.
PyObject* returnedNothing(PyObject* callable) noexcept;

// callable(*args) for positional arguments, as the interpreter calls it: a
// builtin function or method descriptor that takes no argument or one argument
// has its C function called straight away, everything else goes through
// vectorcall. nargsf as for PyObject_Vectorcall; the new reference, or null
// with the Python error set.
[[gnu::always_inline]] inline PyObject* vectorcall(PyObject* callable, PyObject* const* args,
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

// obj.name(...) as Python calls it. Where the receiver's type is such that
// only the type can answer (str.lower), the method descriptor found last time
// is called directly while the type's version tag, which Python changes
// whenever the type or one of its bases changes, is the same; every other
// receiver (the toolkit's objects, which look attributes up their own way)
// takes Python's full method look-up each time, as the interpreter's own
// method call does: an unbound method gets the receiver as its first
// argument, anything else is called with the arguments after it.
// args[0].name(*args[1:nargs]), with room for the callee in args[-1]: the new
// reference, or null with the Python error set.
[[gnu::always_inline]] inline PyObject* methodCall(const Name& name, PyObject** args, std::size_t nargs) noexcept {
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
    PyObject* result = unbound ? vectorcall(callable, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET)
                               : vectorcall(callable, args + 1, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET);
    Py_DECREF(callable);
    return result;
}

// obj.name as Python reads it, for an obj whose type looks attributes up
// generically: the new reference, or null with the Python error set. A
// __slots__ entry (which the generic look-up finds before any instance dict)
// is read from its place in the object, as the interpreter's own attribute
// read does for it; everything else takes PyObject_GetAttr.
inline PyObject* attribute(const Name& name, PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    if (type != name.slotType_ || type->tp_version_tag != name.slotTag_) [[unlikely]]
        return learnSlotAndRead(name.object_, obj, name.slotType_, name.slotTag_, name.slotOffset_);
    if (name.slotOffset_ >= 0) {
        PyObject* value = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + name.slotOffset_);
        if (value) return Py_NewRef(value);  // unset: the generic read raises AttributeError
    }
    return PyObject_GetAttr(obj, name.object_);
}

}  // namespace explorerview::fast
