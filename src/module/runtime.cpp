// The out-of-line parts of the bodies' vocabulary: global look-ups and calls
// with keyword arguments.
#include "module/runtime.hpp"

#include <cassert>

#include "module/function.hpp"

namespace explorerview {

Object itemOrNull(py::handle mapping, py::handle key) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject* value = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
        if (!value && PyErr_Occurred()) throw PythonError();
        return Object::borrow(value);  // held before anything else runs
    }
    PyObject* value = intoPython([&] { return PyObject_GetItem(mapping.ptr(), key.ptr()); });
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw PythonError();
        PyErr_Clear();
    }
    return Object::steal(value);
}

Object global(const Name& name) { return globalNamed(name.get()); }

Object globalNamed(py::handle name) {
    // Held for the look-up, as are the builtins: a key's __eq__ may rebind
    // what held them. Null only outside any function once exec has failed.
    Object globals = runningGlobals();
    PyObject* value = globals ? PyDict_GetItemWithError(globals.ptr(), name.ptr()) : nullptr;
    if (value) return Object::borrow(value);  // held before anything else runs
    if (PyErr_Occurred()) throw PythonError();
    // Outside any function (the class statements at exec) the module's own builtins.
    Object builtins = runningBuiltins();
    if (!builtins && globals) builtins = builtinsFor(globals.ptr());
    if (builtins)
        if (Object found = itemOrNull(builtins, name)) return found;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
    throw PythonError();
}

namespace detail {
void throwPythonError() { throw PythonError(); }

Object callWithKeywords(py::handle callable, const Name* method, PyObject** stack, std::size_t nargs,
                            const Keyword* const* keywords, std::size_t nkeywords) {
    Object kwnames;
    if (nkeywords) {
        kwnames = Object::steal(PyTuple_New(static_cast<Py_ssize_t>(nkeywords)));
        if (!kwnames) throw PythonError();
        for (std::size_t i = 0; i < nkeywords; ++i) {
            PyObject* keyName = keywords[i]->name.get().ptr();
            Py_INCREF(keyName);
            PyTuple_SET_ITEM(kwnames.ptr(), static_cast<Py_ssize_t>(i), keyName);
            stack[1 + nargs + i] = keywords[i]->value.ptr();
        }
    }
    std::size_t nargsf = nargs | PY_VECTORCALL_ARGUMENTS_OFFSET;
    PyObject* result = intoPython([&] {
        return method ? PyObject_VectorcallMethod(method->get().ptr(), stack + 1, nargsf, kwnames.ptr())
                      : PyObject_Vectorcall(callable.ptr(), stack + 1, nargsf, kwnames.ptr());
    });
    if (!result) throw PythonError();
    return Object::steal(result);
}
}  // namespace detail

Object callWithOptional(py::handle callable, py::handle arg, std::initializer_list<Keyword> keywords) {
    constexpr std::size_t most = 8;
    assert(keywords.size() <= most);
    PyObject* stack[2 + most] = {nullptr, arg.ptr()};
    const Keyword* given[most];
    std::size_t n = 0;
    for (const Keyword& keyword : keywords)
        if (keyword.value) given[n++] = &keyword;
    return detail::callWithKeywords(callable, nullptr, stack, 1, given, n);
}

}  // namespace explorerview
