// The out-of-line parts of the fast paths (fast_calls.hpp): learning what a
// name leads to on a type, and the rare cases of a builtin call.
#include "module/fast_calls.hpp"

#include <structmember.h>  // after Python.h, which it needs

namespace explorerview::fast {

namespace {
// Whether `type`'s instances find a method only through the type: generic
// attribute look-up and no instance dict that could shadow it.
bool lookedUpOnTypeOnly(PyTypeObject* type) {
    return type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset == 0 &&
           !PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT);
}

// Whether `name` on `type` is a slot the generic look-up reads straight from
// the object: a member descriptor of an object that must be set (unset raises
// AttributeError) and whose reads are not audited. Such a data descriptor
// wins over any instance dict, so its place in the object is the answer.
Py_ssize_t slotOffset(PyObject* name, PyTypeObject* type) {
    if (type->tp_getattro != PyObject_GenericGetAttr) return -1;
    PyObject* found = _PyType_Lookup(type, name);  // borrowed; sets no error
    if (!found || !Py_IS_TYPE(found, &PyMemberDescr_Type)) return -1;
    const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(found)->d_member;
    return member->type == T_OBJECT_EX && !(member->flags & PY_AUDIT_READ) ? member->offset : -1;
}
}  // namespace

// The method descriptor where only the type can answer, else null for "look
// up each time". Remembered only while the type has a valid version tag.
void learnMethod(PyObject* name, PyTypeObject* type, PyTypeObject*& methodType, unsigned int& methodTag,
                 PyObject*& method) noexcept {
    PyObject* found = lookedUpOnTypeOnly(type) ? _PyType_Lookup(type, name) : nullptr;
    if (found && !PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) found = nullptr;
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
        Py_XSETREF(method, Py_XNewRef(found));
        methodType = type;
        methodTag = type->tp_version_tag;
    }
}

PyObject* learnSlotAndRead(PyObject* name, PyObject* obj, PyTypeObject*& slotType, unsigned int& slotTag,
                           Py_ssize_t& offset) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    const Py_ssize_t found = slotOffset(name, type);  // may give the type its version tag
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
        slotType = type;
        slotTag = type->tp_version_tag;
        offset = found;
    }
    return PyObject_GetAttr(obj, name);
}

// No room left by the count: Python's own check decides, as it does for the
// interpreter's call of a builtin there. It raises RecursionError, or lets the
// call go ahead when the limit has been raised since the count was set.
PyObject* callAtRecursionLimit(PyCFunction function, PyObject* self, PyObject* arg) noexcept {
    if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    PyObject* result = function(self, arg);
    Py_LeaveRecursiveCall();
    return result;
}

// A builtin that returned no result must have set an error; the generic call
// checks that too, and says so when it did not.
PyObject* returnedNothing(PyObject* callable) noexcept {
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
    return nullptr;
}

}  // namespace explorerview::fast
