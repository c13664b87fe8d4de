// The four classes, each made as a Python class statement makes it: bases read
// from the globals, __mro_entries__, the most derived metaclass, its
// __prepare__, the namespace filled in order, the metaclass called, and the
// class cell filled for the constructors' zero-argument super().
//
// The methods stay in the class namespace, where PyQt looks for Python
// reimplementations of virtual functions (lessThan among them).
#include "module/classes.hpp"

#include "module/constants.hpp"
#include "module/exec_steps.hpp"
#include "module/function.hpp"
#include "module/runtime.hpp"

namespace explorerview::exec {

namespace {

// getattr(obj, name) with AttributeError meaning "absent": a null object.
Object lookupAttr(py::handle obj, const char* name) {
    Object key = interned(name);
    Object value = Object::steal(intoPython([&] { return PyObject_GetAttr(obj.ptr(), key.ptr()); }));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
    }
    return value;
}

void setItem(py::handle mapping, const char* key, py::handle value) {
    Object name = interned(key);
    check(intoPython([&] { return PyObject_SetItem(mapping.ptr(), name.ptr(), value.ptr()); }));
}

// The bases after __mro_entries__: a base that is not a class but has the
// method stands for the items of the tuple it returns. The same tuple object
// when nothing changed.
Object resolveBases(py::handle written) {
    Object resolved = newList();
    bool changed = false;
    for (Py_ssize_t at = 0; at < PyTuple_GET_SIZE(written.ptr()); ++at) {
        py::handle base = PyTuple_GET_ITEM(written.ptr(), at);  // the tuple is the caller's, unchanging
        if (!PyType_Check(base.ptr())) {
            if (Object method = lookupAttr(base, "__mro_entries__")) {
                Object entries =
                    ownedOrThrow(intoPython([&] { return PyObject_CallOneArg(method.ptr(), written.ptr()); }));
                if (!PyTuple_Check(entries.ptr())) {
                    raise(PyExc_TypeError, "__mro_entries__ must return a tuple");
                }
                for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(entries.ptr()); ++i)
                    append(resolved, PyTuple_GET_ITEM(entries.ptr(), i));
                changed = true;
                continue;
            }
        }
        append(resolved, base);
    }
    if (!changed) return Object::borrow(written);
    return ownedOrThrow(intoPython([&] { return PyList_AsTuple(resolved.ptr()); }));
}

// The most derived of the bases' metaclasses (type when there are no bases).
// Owned: __prepare__ and the class creation run Python code that may assign
// a base's __class__, dropping what held the metaclass.
Object metaclassOf(py::handle bases) {
    PyTypeObject* winner = &PyType_Type;
    for (Py_ssize_t at = 0; at < PyTuple_GET_SIZE(bases.ptr()); ++at) {
        PyTypeObject* candidate = Py_TYPE(PyTuple_GET_ITEM(bases.ptr(), at));
        if (PyType_IsSubtype(winner, candidate)) continue;
        if (PyType_IsSubtype(candidate, winner)) {
            winner = candidate;
            continue;
        }
        raise(PyExc_TypeError,
                        "metaclass conflict: the metaclass of a derived class must be a (non-strict) "
                        "subclass of the metaclasses of all its bases");
    }
    return Object::borrow(reinterpret_cast<PyObject*>(winner));
}

// metaclass.__prepare__(name, bases), or a new dict when there is none.
Object prepare(py::handle meta, py::handle name, py::handle bases) {
    Object method = lookupAttr(meta, "__prepare__");
    if (!method) return newDict();
    Object namespace_ = call(method, name, bases);
    if (!PyMapping_Check(namespace_.ptr())) {
        raise(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                     reinterpret_cast<PyTypeObject*>(meta.ptr())->tp_name, Py_TYPE(namespace_.ptr())->tp_name);
    }
    return namespace_;
}

void createClass(py::handle globals, const ClassRow& spec) {
    Object name = interned(spec.name);
    int nbases = 0;
    while (nbases < static_cast<int>(spec.bases.size()) && spec.bases[nbases]) ++nbases;
    Object written = ownedOrThrow(intoPython([&] { return PyTuple_New(nbases); }));
    for (int i = 0; i < nbases; ++i)  // a new tuple, filled before anyone else sees it
        PyTuple_SET_ITEM(written.ptr(), i, globalNamed(interned(spec.bases[i])).release());

    Object bases = resolveBases(written);
    Object meta = metaclassOf(bases);
    Object ns = prepare(meta, name, bases);
    setItem(ns, "__module__", constants::moduleName());
    setItem(ns, "__qualname__", name);
    if (spec.doc) setItem(ns, "__doc__", interned(spec.doc));
    if (!bases.is(written)) setItem(ns, "__orig_bases__", written);

    // The class cell: empty until the class exists, shared by the methods
    // that use zero-argument super().
    Object cell = ownedOrThrow(intoPython([] { return PyCell_New(nullptr); }));
    Object cellTuple = ownedOrThrow(intoPython([&] { return PyTuple_Pack(1, cell.ptr()); }));
    for (const FunctionRow* method : spec.methods) {
        if (!method) continue;
        setItem(ns, method->name, makeFunction(*method, method->usesSuper ? cellTuple : none()));
    }

    Object cls = call(meta, name, bases, ns);
    check(intoPython([&] { return PyCell_Set(cell.ptr(), cls.ptr()); }));  // may free what the cell held
    check(intoPython([&] { return PyDict_SetItem(globals.ptr(), name.ptr(), cls.ptr()); }));
}

}  // namespace

void createClasses(py::handle globals) {
    for (const ClassRow* spec : allClasses) createClass(globals, *spec);
}

}  // namespace explorerview::exec
