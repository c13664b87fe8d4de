// Selection as paths: select() puts paths into the tree's selection model,
// selection() reads them back in the model's order, and a new root lets go of
// the rows it does not show (panel/selection.hpp).
//
// The tree shows the proxy's indexes while paths live in the file system model:
// every crossing goes through the proxy's map.
#include "panel/selection.hpp"

#include <cassert>

#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name selectionModel{"selectionModel"}, clear{"clear"}, selectName{"select"};
const Name SelectionFlag{"SelectionFlag"}, Select{"Select"}, Deselect{"Deselect"}, Rows{"Rows"};
const Name value{"value"}, NoUpdate{"NoUpdate"}, setCurrentIndex{"setCurrentIndex"};
const Name scrollTo{"scrollTo"}, selectedRows{"selectedRows"}, rootIndex{"rootIndex"};
const Name currentIndex{"currentIndex"}, clearCurrentIndex{"clearCurrentIndex"}, parents{"parents"};

// The proxy index of a path: the file system model looks the path up by its
// string (a str is used as it is), the proxy maps it into the tree's space.
EXPLORERVIEW_ALWAYS_INLINE Object proxyIndexOf(py::handle model, py::handle fsModel, py::handle path) {
    return methodOf(model, names::mapFromSource)(callMethodWithStr(fsModel, names::index, path));
}

// sel.SelectionFlag(sel.SelectionFlag.<how>.value | sel.SelectionFlag.Rows.value):
// whole rows, selected or deselected. The members are combined as integers
// and turned back into the flag type, which holds whether or not the
// toolkit's members support | themselves.
Object rowsFlags(py::handle sel, const Name& how) {
    Object flagType = getAttr(sel, SelectionFlag);
    Object chosen = getAttr(sel, SelectionFlag, how, value);
    Object rows = getAttr(sel, SelectionFlag, Rows, value);
    return call(flagType, bitOr(chosen, rows));
}

// The path of a row of the tree: pathStr = view.fsmodel.filePath(view.sortModel.mapToSource(idx)),
// then Path(pathStr). Both attributes are read afresh for each row, and the
// method before its argument, as Python evaluates it.
Object pathOfRow(py::handle view, py::handle idx) {
    BoundMethod filePath = methodOf(getAttr(view, names::fsmodel), names::filePath);
    Object pathStr = filePath(callMethod(getAttr(view, names::sortModel), names::mapToSource, idx));
    return call(global(names::Path), pathStr);
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
        methodOf(sel, selectName)(idx, rowsFlags(sel, Select));
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
    forEach(indexes, [&](Object idx) {
        if (truth(callMethod(idx, names::isValid))) append(result, pathOfRow(view, idx));
    });
    return result;
}

}  // namespace

// A row is shown below the root when the root is among its path's ancestors
// (`root in path.parents`). pathlib compares by components, so /a/bc is not
// below /a/b, and as the platform's paths compare (without regard to case on
// Windows); a path has finitely many ancestors, so the test ends whatever the
// models answer. The root row itself is not below the root: the tree does not
// show it. The root's path is read from the models as the rows' are, so both
// are in the same form whatever spelling of the folder the host gave.
void deselectRowsOutsideRoot(py::handle view) {
    Object sel = callMethod(view, selectionModel);
    if (sel.is_none()) return;
    Object root = pathOfRow(view, callMethod(view, rootIndex));
    auto shown = [&](py::handle idx) { return contains(getAttr(pathOfRow(view, idx), parents), root); };
    Object indexes = callMethod(sel, selectedRows);
    forEach(indexes, [&](Object idx) {
        if (truth(callMethod(idx, names::isValid)) && !shown(idx))
            methodOf(sel, selectName)(idx, rowsFlags(sel, Deselect));
    });
    Object current = callMethod(sel, currentIndex);
    if (truth(callMethod(current, names::isValid)) && !shown(current)) callMethod(sel, clearCurrentIndex);
}

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
