// Selection as paths: select() puts paths into the tree's selection model,
// selection() reads them back in the model's order.
//
// The tree shows the proxy's indexes while paths live in the file system model:
// every crossing goes through the proxy's map.
#include <cassert>

#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name selectionModel{"selectionModel"}, clear{"clear"}, selectName{"select"};
const Name SelectionFlag{"SelectionFlag"}, Select{"Select"}, Rows{"Rows"}, value{"value"};
const Name NoUpdate{"NoUpdate"}, setCurrentIndex{"setCurrentIndex"};
const Name scrollTo{"scrollTo"}, selectedRows{"selectedRows"};

// The proxy index of a path: the file system model looks the path up by its
// string (a str is used as it is), the proxy maps it into the tree's space.
EXPLORERVIEW_ALWAYS_INLINE Object proxyIndexOf(py::handle model, py::handle fsModel, py::handle path) {
    return methodOf(model, names::mapFromSource)(callMethodWithStr(fsModel, names::index, path));
}

// sel.SelectionFlag(sel.SelectionFlag.Select.value | sel.SelectionFlag.Rows.value):
// whole rows. The members are combined as integers and turned back into the
// flag type, which holds whether or not the toolkit's members support | themselves.
Object selectRowsFlags(py::handle sel) {
    Object flagType = getAttr(sel, SelectionFlag);
    Object select = getAttr(sel, SelectionFlag, Select, value);
    Object rows = getAttr(sel, SelectionFlag, Rows, value);
    return call(flagType, bitOr(select, rows));
}

Object selectBody(Frame& f) {
    py::handle paths = f.arg(1);
    assert(PyList_CheckExact(paths.ptr()));  // binding checks it (ArgumentCheck::exactListAfterSelf)
    Object view = getAttr(f.self(), names::fileSystemView);
    Object sel = callMethod(view, selectionModel);
    Object model = getAttr(view, names::sortModel);
    Object fsModel = getAttr(view, names::fsmodel);
    callMethod(sel, clear);
    Object first;  // the first path selected; held, as the list may drop it

    // Walk the list as Python's list iterator does: the length is read afresh
    // each step, since str() of an item may run code that changes the list.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths.ptr()); ++i) {
        // Held while str() runs: it may drop the list's own reference.
        Object p = Object::borrow(PyList_GET_ITEM(paths.ptr(), i));
        Object idx = proxyIndexOf(model, fsModel, p);
        if (!truth(idx) || !truth(callMethod(idx, names::isValid))) continue;  // not in the model
        // Only the immediate parent is opened here; scrolling to the last path
        // below lets the tree open that one's ancestors.
        methodOf(view, names::expand)(callMethod(model, names::parent, idx));
        methodOf(sel, selectName)(idx, selectRowsFlags(sel));
        if (!first) first = p;
    }

    // The keyboard goes on from what was selected: the first selected row
    // becomes current, the selection unchanged. Left without a current row,
    // the tree makes its top row current when it takes the focus, and
    // "Expand Selected" would act on a row nobody selected. Looked up afresh,
    // as rows may have moved since.
    if (first) {
        Object firstIdx = proxyIndexOf(model, fsModel, first);
        if (truth(callMethod(firstIdx, names::isValid)))
            methodOf(sel, setCurrentIndex)(firstIdx, getAttr(sel, SelectionFlag, NoUpdate));
    }

    Py_ssize_t count = PyList_GET_SIZE(paths.ptr());
    if (count > 0) {
        Object last = Object::borrow(PyList_GET_ITEM(paths.ptr(), count - 1));
        Object lastIdx = proxyIndexOf(model, fsModel, last);
        if (truth(callMethod(lastIdx, names::isValid))) callMethod(view, scrollTo, lastIdx);
    }
    return none();
}

Object selectionBody(Frame& f) {
    Object view = getAttr(f.self(), names::fileSystemView);
    Object sel = callMethod(view, selectionModel);
    Object result = newList();
    if (sel.is_none()) return result;
    Object indexes = callMethod(sel, selectedRows);
    Object iterator = ownedOrThrow(intoPython([&] { return PyObject_GetIter(indexes.ptr()); }));
    // Stepped as a for loop steps it; a StopIteration raised by the iterator
    // ends the loop as it ends Python's.
    while (PyObject* item = intoPython([&] { return PyIter_Next(iterator.ptr()); })) {
        Object idx = Object::steal(item);
        if (!truth(callMethod(idx, names::isValid))) continue;
        // view.fsmodel.filePath(view.sortModel.mapToSource(idx)): the method is
        // read first, as Python evaluates it before its argument.
        BoundMethod filePath = methodOf(getAttr(view, names::fsmodel), names::filePath);
        Object pathStr = filePath(callMethod(getAttr(view, names::sortModel), names::mapToSource, idx));
        Object path = call(global(names::Path), pathStr);
        if (PyList_Append(result.ptr(), path.ptr()) < 0) throw PythonError();
    }
    if (PyErr_Occurred()) throw PythonError();
    return result;
}

}  // namespace

const FunctionRow select{
    .name = "select",
    .qualname = "ExplorerView.select",
    .params = {"self", "paths"},
    .annotations = {{{"paths", "List[Path]"}}},
    .firstLine = 241,
    .check = ArgumentCheck::exactListAfterSelf,
    .body = selectBody,
};

const FunctionRow selection{
    .name = "selection",
    .qualname = "ExplorerView.selection",
    .params = {"self"},
    .annotations = {{{"return", "List[Path]"}}},
    .firstLine = 267,
    .body = selectionBody,
};

}  // namespace explorerview::panel
