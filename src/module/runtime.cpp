// The out-of-line parts of the bodies' vocabulary: global look-ups and calls
// with keyword arguments.
#include "module/runtime.hpp"

#include <cassert>

#include "module/function.hpp"

namespace explorerview {

Object itemOrNull(py::handle mapping, py::handle key) {
    // A dict's look-up compares a key whose hash collides with this one by
    // its __eq__, which is Python code.
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject* value = intoPython([&] { return PyDict_GetItemWithError(mapping.ptr(), key.ptr()); });
        if (!value && PyErr_Occurred()) throw PythonError();
        return Object::borrow(value);  // held before anything else runs
    }
    Object value = Object::steal(intoPython([&] { return PyObject_GetItem(mapping.ptr(), key.ptr()); }));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw PythonError();
        PyErr_Clear();
    }
    return value;
}

Object global(const Name& name) { return globalNamed(name.get()); }

Object globalNamed(py::handle name) {
    // Held for the look-up, as are the builtins: a key's __eq__ may rebind
    // what held them. Null only outside any function once exec has failed.
    Object globals = runningGlobals();
    if (globals) {
        PyObject* value = intoPython([&] { return PyDict_GetItemWithError(globals.ptr(), name.ptr()); });
        if (value) return Object::borrow(value);  // held before anything else runs
        if (PyErr_Occurred()) throw PythonError();
    }
    // Outside any function (the class statements at exec) the module's own builtins.
    Object builtins = runningBuiltins();
    if (!builtins && globals) builtins = builtinsFor(globals.ptr());
    if (builtins)
        if (Object found = itemOrNull(builtins, name)) return found;
    raise(PyExc_NameError, "name '%U' is not defined", name.ptr());
}

namespace detail {
Object callWithKeywords(py::handle callable, const Name* method, PyObject** stack, std::size_t nargs,
                        const Keyword* const* keywords, std::size_t nkeywords) {
    Object kwnames;
    if (nkeywords) {
        kwnames = ownedOrThrow(intoPython([&] { return PyTuple_New(static_cast<Py_ssize_t>(nkeywords)); }));
        for (std::size_t i = 0; i < nkeywords; ++i) {
            PyTuple_SET_ITEM(kwnames.ptr(), static_cast<Py_ssize_t>(i), Py_NewRef(keywords[i]->name.get().ptr()));
            stack[1 + nargs + i] = keywords[i]->value.ptr();
        }
    }
    std::size_t nargsf = nargs | PY_VECTORCALL_ARGUMENTS_OFFSET;
    return ownedOrThrow(intoPython([&] {
        return method ? PyObject_VectorcallMethod(method->get().ptr(), stack + 1, nargsf, kwnames.ptr())
                      : PyObject_Vectorcall(callable.ptr(), stack + 1, nargsf, kwnames.ptr());
    }));
}
}  // namespace detail

namespace {
const Name startswith{"startswith"};  // declared at namespace scope: names are interned at exec
}  // namespace

bool startsWith(py::handle text, py::handle prefix) {
    if (PyUnicode_CheckExact(text.ptr()) && PyUnicode_CheckExact(prefix.ptr())) {
        Py_ssize_t found = PyUnicode_Tailmatch(text.ptr(), prefix.ptr(), 0, PY_SSIZE_T_MAX, -1);
        if (found < 0) throw PythonError();
        return found != 0;
    }
    return truth(callMethod(text, startswith, prefix));
}

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
