// The vocabulary of method bodies: read a module global, read or set an
// attribute, call a function or a method, and ask Python's truth and str()
// of a value. Each word goes straight to the public C API (PyObject_GetAttr,
// PyObject_SetAttr, PyObject_Vectorcall, PyObject_VectorcallMethod, ...)
// and returns an owned reference or throws PythonError; no
// argument tuple or bound method object is built, so the same words serve
// the paths that run once per row (lessThan, the loops of select and
// selection) and the constructors alike.
//
// C++ evaluates the arguments of one call in no fixed order. Where Python's
// order of two reads or calls could be seen (an attribute that is a property,
// a host call), a body reads the earlier one into a local first.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "module/object.hpp"

#include "module/compiler.hpp"
#include "module/forced_unwind.hpp"
#include "module/name.hpp"

namespace explorerview {

// ---- globals ----------------------------------------------------------------------

// The global `name` of the running function (its __globals__, the module's
// dict), falling back to that function's __builtins__, as a Python function
// looks them up; NameError "name 'X' is not defined" otherwise. Read at each
// use, never cached, so a rebinding is seen by the next call.
Object global(const Name& name);

// ---- attributes -------------------------------------------------------------------

// obj.name
EXPLORERVIEW_ALWAYS_INLINE Object getAttr(py::handle obj, const Name& name) {
    return ownedOrThrow(intoPython([&] { return PyObject_GetAttr(obj.ptr(), name.get().ptr()); }));
}

// obj.first.second...: getAttr(global(names::Qt), SortOrder, AscendingOrder).
// Always inlined, as the nested reads it stands for are: select() makes two
// such reads per path.
template <class... More>
EXPLORERVIEW_ALWAYS_INLINE Object getAttr(py::handle obj, const Name& first, const Name& second,
                                                 const More&... more) {
    return getAttr(getAttr(obj, first), second, more...);
}

// obj.name = value
inline void setAttr(py::handle obj, const Name& name, py::handle value) {
    if (intoPython([&] { return PyObject_SetAttr(obj.ptr(), name.get().ptr(), value.ptr()); }) < 0)
        throw PythonError();
}

// ---- calls ------------------------------------------------------------------------

// A keyword argument of call() or callMethod(): kw(icon, iconName) is icon=iconName.
struct Keyword {
    const Name& name;
    py::handle value;
};
inline Keyword kw(const Name& name, py::handle value) { return {name, value}; }

namespace detail {
template <class T>
constexpr bool isKeyword = std::is_same_v<std::decay_t<T>, Keyword>;

// The keyword shapes, out of line: stack[0] is spare room
// (PY_VECTORCALL_ARGUMENTS_OFFSET), a method's receiver sits in stack[1], and
// the keyword values are placed after the positional arguments.
Object callWithKeywords(py::handle callable, const Name* method, PyObject** stack, std::size_t nargs,
                            const Keyword* const* keywords, std::size_t nkeywords);

template <class... A>
Object sortKeywords(py::handle callable, const Name* method, py::handle receiver, A&&... args) {
    constexpr std::size_t nkw = (std::size_t{0} + ... + (isKeyword<A> ? 1 : 0));
    PyObject* stack[2 + sizeof...(A)] = {nullptr};
    const Keyword* keywords[nkw + 1] = {};
    std::size_t n = 1, k = 0;
    if (method) stack[n++] = receiver.ptr();
    [[maybe_unused]] auto place = [&](auto&& a) {
        if constexpr (isKeyword<decltype(a)>) keywords[k++] = &a;
        else stack[n++] = py::handle(a).ptr();
    };
    (place(std::forward<A>(args)), ...);
    return callWithKeywords(callable, method, stack, n - 1, keywords, k);
}
}  // namespace detail

// callable(args..., name=value...): positional handles first, then kw(...) items.
template <class... A>
EXPLORERVIEW_ALWAYS_INLINE Object call(py::handle callable, A&&... args) {
    if constexpr ((detail::isKeyword<A> || ...)) {
        return detail::sortKeywords(callable, nullptr, py::handle(), std::forward<A>(args)...);
    } else {
        PyObject* stack[1 + sizeof...(A)] = {nullptr, py::handle(args).ptr()...};
        constexpr std::size_t nargsf = sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET;
        return ownedOrThrow(
            intoPython([&] { return PyObject_Vectorcall(callable.ptr(), stack + 1, nargsf, nullptr); }));
    }
}

// obj.method(args..., name=value...): looked up and called as Python's method
// call does it, without a bound method object in between.
template <class... A>
EXPLORERVIEW_ALWAYS_INLINE Object callMethod(py::handle obj, const Name& method, A&&... args) {
    if constexpr ((detail::isKeyword<A> || ...)) {
        return detail::sortKeywords(py::handle(), &method, obj, std::forward<A>(args)...);
    } else {
        PyObject* stack[2 + sizeof...(A)] = {nullptr, obj.ptr(), py::handle(args).ptr()...};
        constexpr std::size_t nargsf = (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET;
        return ownedOrThrow(
            intoPython([&] { return PyObject_VectorcallMethod(method.get().ptr(), stack + 1, nargsf, nullptr); }));
    }
}

// obj.method, read now and called with what follows: methodOf(obj, name)(args...).
// Python reads a method before it evaluates the call's arguments, and C++17
// evaluates the callee of a call before its arguments; so where an argument
// runs Python code (a call, an attribute read on a host object), this reads
// the method first, as Python does. callMethod serves arguments that are
// constants or values already computed.
class BoundMethod {
public:
    explicit BoundMethod(Object method) : method_(std::move(method)) {}
    template <class... A>
    Object operator()(A&&... args) const {
        return call(method_, std::forward<A>(args)...);
    }

private:
    Object method_;
};
inline BoundMethod methodOf(py::handle obj, const Name& method) { return BoundMethod(getAttr(obj, method)); }

// ---- Python's conversions ---------------------------------------------------------

// `if value:`: raises as Python does when __bool__ or __len__ raises.
inline bool truth(py::handle value) {
    if (value.ptr() == Py_True) return true;  // what predicates mostly return
    if (value.ptr() == Py_False || value.is_none()) return false;
    int result = intoPython([&] { return PyObject_IsTrue(value.ptr()); });
    if (result < 0) throw PythonError();
    return result != 0;
}

// `str(value)`, as Python's str() gives it: a str subclass becomes an exact
// str (unlike pybind11's str, which passes the subclass through), but a __str__ that
// returns a str subclass has its result passed through, as Python does.
inline Object str(py::handle value) {
    return ownedOrThrow(intoPython([&] { return PyObject_Str(value.ptr()); }));
}

// obj.method(str(value)), in Python's order: the method is read before str()
// runs. An exact str is its own str() and runs no code, so for one (what
// callers mostly pass) the order cannot be seen, and the method is called as
// callMethod calls it, without a bound method object.
inline Object callMethodWithStr(py::handle obj, const Name& method, py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return callMethod(obj, method, value);
    return methodOf(obj, method)(str(value));
}

// ---- Python's literals and operators ---------------------------------------------
//
// Each operator is applied as Python applies it (the operands' own methods,
// the reflected one, NotImplemented) and gives the object Python's expression
// gives, not only its truth: `if a == b:` is `truth(equal(a, b))`. Operands
// are evaluated by the caller, so where Python's order of the operands could
// be seen, a body reads the left one into a local first.

// True or False, owned, for a body's result (as an argument Py_True and
// Py_False serve as they are).
inline Object boolean(bool value) { return Object::borrow(value ? Py_True : Py_False); }

// An int literal, or a loop counter handed to Python.
inline Object integer(Py_ssize_t value) { return ownedOrThrow(PyLong_FromSsize_t(value)); }

// a | b
inline Object bitOr(py::handle a, py::handle b) {
    return ownedOrThrow(intoPython([&] { return PyNumber_Or(a.ptr(), b.ptr()); }));
}

// a / b: for a Path and a name, the name joined to the path.
inline Object divide(py::handle a, py::handle b) {
    return ownedOrThrow(intoPython([&] { return PyNumber_TrueDivide(a.ptr(), b.ptr()); }));
}

// a == b
inline Object equal(py::handle a, py::handle b) {
    return ownedOrThrow(intoPython([&] { return PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ); }));
}

// a != b. Two bools differ exactly when they are different objects (the
// models answer their predicates with bools): no comparison is made for them.
inline Object notEqual(py::handle a, py::handle b) {
    if (PyBool_Check(a.ptr()) && PyBool_Check(b.ptr())) return boolean(!a.is(b));
    return ownedOrThrow(intoPython([&] { return PyObject_RichCompare(a.ptr(), b.ptr(), Py_NE); }));
}

// a < b. Two exact strs are ordered by code points, which is what str's own
// `<` gives, computed without the detour through the comparison slot (the
// sort compares names once per pair of rows).
inline Object less(py::handle a, py::handle b) {
    if (PyUnicode_CheckExact(a.ptr()) && PyUnicode_CheckExact(b.ptr())) {
        int order = PyUnicode_Compare(a.ptr(), b.ptr());
        if (order == -1 && PyErr_Occurred()) throw PythonError();
        return boolean(order < 0);
    }
    return ownedOrThrow(intoPython([&] { return PyObject_RichCompare(a.ptr(), b.ptr(), Py_LT); }));
}

// `text.startswith(prefix)` as an `if` takes it. Two exact strs are answered
// by their code points, as str's own method answers, without the method call
// (the tree asks it once per selected row); anything else is asked its own
// startswith.
bool startsWith(py::handle text, py::handle prefix);

// item in container: the container's __contains__, or else a walk of its
// items comparing each with `item`, as Python's `in` does.
inline bool contains(py::handle container, py::handle item) {
    int found = intoPython([&] { return PySequence_Contains(container.ptr(), item.ptr()); });
    if (found < 0) throw PythonError();
    return found != 0;
}

// for item in iterable: body(item), with the item owned. Stepped as a for
// loop steps it; a StopIteration raised by the iterator ends the loop as it
// ends Python's.
template <class Body>
void forEach(py::handle iterable, Body&& body) {
    Object iterator = ownedOrThrow(intoPython([&] { return PyObject_GetIter(iterable.ptr()); }));
    while (PyObject* item = intoPython([&] { return PyIter_Next(iterator.ptr()); })) body(Object::steal(item));
    if (PyErr_Occurred()) throw PythonError();
}

// len(obj) (named apart from pybind11's len, which argument lookup would also find)
inline Py_ssize_t length(py::handle obj) {
    Py_ssize_t size = intoPython([&] { return PyObject_Size(obj.ptr()); });
    if (size < 0) throw PythonError();
    return size;
}

// obj[i], with i an int as the literal in `obj[0]` is: any sequence's or
// mapping's __getitem__ answers.
inline Object item(py::handle obj, Py_ssize_t i) {
    Object key = integer(i);
    return ownedOrThrow(intoPython([&] { return PyObject_GetItem(obj.ptr(), key.ptr()); }));
}

// An int-like bound as range() takes it (its __index__); OverflowError
// beyond what a loop counter holds.
inline Py_ssize_t asIndex(py::handle obj) {
    Object index = ownedOrThrow(intoPython([&] { return PyNumber_Index(obj.ptr()); }));
    Py_ssize_t value = PyLong_AsSsize_t(index.ptr());
    if (value == -1 && PyErr_Occurred()) throw PythonError();
    return value;
}

// ---- new containers --------------------------------------------------------------

// [] and {}: new, empty.
inline Object newList() { return ownedOrThrow(intoPython([] { return PyList_New(0); })); }
inline Object newDict() { return ownedOrThrow(intoPython([] { return PyDict_New(); })); }

// list.append(item), for a list the module made.
inline void append(py::handle list, py::handle item) { check(PyList_Append(list.ptr(), item.ptr())); }

// ---- a call whose keywords are chosen at run time -------------------------------

// callable(arg, keywords...) where which keywords are given is decided at run
// time: a kw(...) whose value is null is left out, as if not written; the
// others keep their order.
Object callWithOptional(py::handle callable, py::handle arg, std::initializer_list<Keyword> keywords);

// ---- for module exec --------------------------------------------------------------

// global() for a name held in a str (class creation reads its bases so).
Object globalNamed(py::handle name);

// mapping[key] as the interpreter reads a namespace: a dict directly, any
// other mapping through its __getitem__; a null object where the key is
// missing (KeyError).
Object itemOrNull(py::handle mapping, py::handle key);

}  // namespace explorerview
