// FolderFirstSortModel: among a folder's children, folders first, then names
// compared after Python's lower().
//
// lessThan runs once per pair of rows the proxy compares, yet it reads
// `fsModel` afresh for every model call and caches nothing, so rebinding the
// attribute takes effect at the next call.
#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "tree/rows.hpp"

namespace explorerview::tree {
namespace {

const Name setSourceModel{"setSourceModel"};
const Name fsModel{"fsModel"}, isDir{"isDir"}, fileName{"fileName"}, lower{"lower"};

// __init__(self, fsModel): the proxy gets no parent; the model is also its source.
py::object sortModelInitBody(Frame& f) {
    py::handle self = f.self(), model = f.arg(1);
    callMethod(f.super(), names::init);
    setAttr(self, fsModel, model);
    callMethod(self, setSourceModel, model);
    return py::none();
}

// The result of a rich comparison, kept as the object Python's operator gives.
py::object compare(py::handle a, py::handle b, int op) {
    PyObject* result = PyObject_RichCompare(a.ptr(), b.ptr(), op);
    if (!result) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// `a != b`, then its truth value. The model answers isDir with bools, and two
// bools differ exactly when they are different objects: no comparison object.
bool differ(py::handle a, py::handle b) {
    if (PyBool_Check(a.ptr()) && PyBool_Check(b.ptr())) return !a.is(b);
    return truth(compare(a, b, Py_NE));
}

// `a < b` on the lowered names. For two exact strs Python's `<` gives True or
// False by code points, which PyUnicode_Compare computes without the detour.
py::object lessByName(py::handle a, py::handle b) {
    if (PyUnicode_CheckExact(a.ptr()) && PyUnicode_CheckExact(b.ptr())) {
        int order = PyUnicode_Compare(a.ptr(), b.ptr());
        if (order == -1 && PyErr_Occurred()) throw py::error_already_set();
        return py::bool_(order < 0);
    }
    return compare(a, b, Py_LT);
}

// lessThan(self, left, right): a folder beats a non-folder; otherwise the
// lower-cased names decide with str's `<`. Whatever isDir or `<` returned goes
// back to the proxy unchanged.
py::object lessThanBody(Frame& f) {
    py::handle self = f.self(), left = f.arg(1), right = f.arg(2);
    py::object leftIsDir = callMethod(getAttr(self, fsModel), isDir, left);
    py::object rightIsDir = callMethod(getAttr(self, fsModel), isDir, right);
    if (differ(leftIsDir, rightIsDir)) return leftIsDir;
    py::object leftName = callMethod(callMethod(getAttr(self, fsModel), fileName, left), lower);
    py::object rightName = callMethod(callMethod(getAttr(self, fsModel), fileName, right), lower);
    return lessByName(leftName, rightName);
}

}  // namespace

const FunctionRow sortModelInit{
    .name = "__init__",
    .qualname = "FolderFirstSortModel.__init__",
    .params = {"self", "fsModel"},
    .annotations = {{{"fsModel", "QFileSystemModel"}}},
    .firstLine = 35,
    .usesSuper = true,
    .body = sortModelInitBody,
};

const FunctionRow lessThan{
    .name = "lessThan",
    .qualname = "FolderFirstSortModel.lessThan",
    .params = {"self", "left", "right"},
    .annotations = {{{"left", "QModelIndex"}, {"right", "QModelIndex"}, {"return", "bool"}}},
    .firstLine = 40,
    .body = lessThanBody,
};

}  // namespace explorerview::tree
