// What the interpreter does around an `except` clause, for the one body that
// handles errors (the tree's root change): take the error as the clause sees
// it, re-raise it when no clause matches, and set and restore the exception
// being handled.
#include "module/except_clause.hpp"

#include "module/errors.hpp"

namespace explorerview {

Object caughtError() {
    errors::ensureErrorPending();
#if PY_VERSION_HEX >= 0x030C0000
    return Object::steal(PyErr_GetRaisedException());  // always an instance from 3.12 on
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    intoPython([&] { PyErr_NormalizeException(&type, &value, &traceback); });  // may run __new__ and __init__
    // The clause sees the traceback of this raise, or none.
    PyException_SetTraceback(value, traceback ? traceback : Py_None);
    release(type);
    release(traceback);
    return Object::steal(value);
#endif
}

void raiseAgain(Object error) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(error.release());
#else
    PyObject* type = Py_NewRef(PyExceptionInstance_Class(error.ptr()));
    PyObject* traceback = PyException_GetTraceback(error.ptr());
    PyErr_Restore(type, error.release(), traceback);
#endif
    throw PythonError();
}

namespace {

// What the innermost handler slot holds, taken out of it: the caller owns the
// exception it held (null when it held none) and the slot is left empty.
//
// The public API reads the first slot that is not empty, innermost first, and
// writes the innermost one. So the exception it reports is the innermost
// slot's own, or that slot is empty and an outer one holds it (the frame that
// resumed the running generator). Often both do: `gen.throw(e)` from inside
// the caller's own `except` leaves the same `e` in the caller's slot and in the
// generator's, and the generator must find it in its own slot again after its
// next `yield`, when that caller has moved on. The slot's own reference tells
// the two apart: emptying the slot releases what it held, so the exception's
// count drops by one exactly when the innermost slot held it. The reference
// taken here keeps the exception alive meanwhile, and releasing it or None
// runs no Python code, so nothing else can touch the count in between.
Object takeInnermostHandled() {
    Object reported = Object::steal(PyErr_GetHandledException());
    Py_ssize_t counted = reported ? Py_REFCNT(reported.ptr()) : 0;
    PyErr_SetHandledException(nullptr);
    bool heldInnermost = reported && Py_REFCNT(reported.ptr()) < counted;
    return heldInnermost ? reported : Object();
}

}  // namespace

// The interpreter saves the innermost slot as it enters the clause and writes
// it back as it leaves; so does this.
HandledException::HandledException(py::handle error) : previous_(takeInnermostHandled()) {
    PyErr_SetHandledException(error.ptr());  // the slot is empty: nothing is released
}

HandledException::~HandledException() {
    // Releases what the slot holds now, which may be the last reference to it.
    intoPython([&] { PyErr_SetHandledException(previous_.ptr()); });
}

}  // namespace explorerview
