// What a running body reaches beyond its arguments: the values its function
// closes over, and zero-argument super() for the constructors.
#include "module/frame.hpp"

#include "module/constants.hpp"
#include "module/function.hpp"

namespace explorerview {

namespace {

// The value in cell `i` of the function's closure, or a null object when the
// closure or the cell is empty. Owned, as a Python frame holds what it loads
// from a cell: the cell is writable from Python and may be emptied (and its
// value freed) by any code that runs while the value is in use.
Object cellValue(py::handle function, std::size_t i) {
    PyObject* closure = reinterpret_cast<FunctionObject*>(function.ptr())->closure;
    if (!closure || static_cast<std::size_t>(PyTuple_GET_SIZE(closure)) <= i) return Object();
    return Object::steal(PyCell_Get(PyTuple_GET_ITEM(closure, static_cast<Py_ssize_t>(i))));
}

}  // namespace

Object Frame::captured(std::size_t i) const {
    Object value = cellValue(function, i);
    if (!value) {
        PyErr_SetString(PyExc_NameError,
                        "cannot access free variable 'self' where it is not associated with a value"
                        " in enclosing scope");
        throw PythonError();
    }
    return value;
}

// Held across the call: super() may read self.__class__, a property that can
// empty the class cell and drop the last reference to the class.
Object Frame::super() const {
    Object cls = cellValue(function, 0);
    if (!cls) {
        PyErr_SetString(PyExc_RuntimeError, "super(): empty __class__ cell");
        throw PythonError();
    }
    PyObject* stack[] = {nullptr, cls.ptr(), self().ptr()};
    PyObject* result = PyObject_Vectorcall(constants::builtinSuper().ptr(), stack + 1,
                                           2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result) throw PythonError();
    return Object::steal(result);
}

}  // namespace explorerview
