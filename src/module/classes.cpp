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
    PyObject* value = PyObject_GetAttr(obj.ptr(), interned(name).ptr());
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError();
        PyErr_Clear();
    }
    return Object::steal(value);
}

void setItem(py::handle mapping, const char* key, py::handle value) {
    if (PyObject_SetItem(mapping.ptr(), interned(key).ptr(), value.ptr()) < 0) throw PythonError();
}

// The bases after __mro_entries__: a base that is not a class but has the
// method stands for the items of the tuple it returns. The same tuple object
// when nothing changed.
Object resolveBases(py::handle written) {
    py::list resolved;
    bool changed = false;
    for (py::handle base : written) {
        if (!PyType_Check(base.ptr())) {
            if (Object method = lookupAttr(base, "__mro_entries__")) {
                PyObject* entries = PyObject_CallOneArg(method.ptr(), written.ptr());
                if (!entries) throw PythonError();
                Object ownedEntries = Object::steal(entries);
                if (!PyTuple_Check(entries)) {
                    PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
                    throw PythonError();
                }
                for (py::handle entry : ownedEntries) resolved.append(entry);
                changed = true;
                continue;
            }
        }
        resolved.append(base);
    }
    if (!changed) return Object::borrow(written);
    PyObject* bases = PyList_AsTuple(resolved.ptr());
    if (!bases) throw PythonError();
    return Object::steal(bases);
}

// The most derived of the bases' metaclasses (type when there are no bases).
// Owned: __prepare__ and the class creation run Python code that may assign
// a base's __class__, dropping what held the metaclass.
Object metaclassOf(py::handle bases) {
    PyTypeObject* winner = &PyType_Type;
    for (py::handle base : bases) {
        PyTypeObject* candidate = Py_TYPE(base.ptr());
        if (PyType_IsSubtype(winner, candidate)) continue;
        if (PyType_IsSubtype(candidate, winner)) {
            winner = candidate;
            continue;
        }
        PyErr_SetString(PyExc_TypeError,
                        "metaclass conflict: the metaclass of a derived class must be a (non-strict) "
                        "subclass of the metaclasses of all its bases");
        throw PythonError();
    }
    return Object::borrow(reinterpret_cast<PyObject*>(winner));
}

// metaclass.__prepare__(name, bases), or a new dict when there is none.
Object prepare(py::handle meta, py::handle name, py::handle bases) {
    Object method = lookupAttr(meta, "__prepare__");
    if (!method) return py::dict();
    PyObject* stack[] = {nullptr, name.ptr(), bases.ptr()};
    PyObject* ns = PyObject_Vectorcall(method.ptr(), stack + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!ns) throw PythonError();
    Object namespace_ = Object::steal(ns);
    if (!PyMapping_Check(ns)) {
        PyErr_Format(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                     reinterpret_cast<PyTypeObject*>(meta.ptr())->tp_name, Py_TYPE(ns)->tp_name);
        throw PythonError();
    }
    return namespace_;
}

void createClass(py::handle globals, const ClassRow& spec) {
    Object name = interned(spec.name);
    int nbases = 0;
    while (nbases < static_cast<int>(spec.bases.size()) && spec.bases[nbases]) ++nbases;
    py::tuple written(nbases);
    for (int i = 0; i < nbases; ++i) written[i] = globalNamed(interned(spec.bases[i]));

    Object bases = resolveBases(written);
    Object meta = metaclassOf(bases);
    Object ns = prepare(meta, name, bases);
    setItem(ns, "__module__", constants::moduleName());
    setItem(ns, "__qualname__", name);
    if (spec.doc) setItem(ns, "__doc__", interned(spec.doc));
    if (!bases.is(written)) setItem(ns, "__orig_bases__", written);

    // The class cell: empty until the class exists, shared by the methods
    // that use zero-argument super().
    Object cell = Object::steal(PyCell_New(nullptr));
    if (!cell) throw PythonError();
    Object cellTuple = Object::steal(PyTuple_Pack(1, cell.ptr()));
    if (!cellTuple) throw PythonError();
    for (const FunctionRow* method : spec.methods) {
        if (!method) continue;
        setItem(ns, method->name, makeFunction(*method, method->usesSuper ? cellTuple : none()));
    }

    PyObject* stack[] = {nullptr, name.ptr(), bases.ptr(), ns.ptr()};
    PyObject* created = PyObject_Vectorcall(meta.ptr(), stack + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!created) throw PythonError();
    Object cls = Object::steal(created);
    if (PyCell_Set(cell.ptr(), cls.ptr()) < 0) throw PythonError();
    if (PyDict_SetItem(globals.ptr(), name.ptr(), cls.ptr()) < 0) throw PythonError();
}

}  // namespace

void createClasses(py::handle globals) {
    for (const ClassRow* spec : allClasses) createClass(globals, *spec);
}

}  // namespace explorerview::exec
