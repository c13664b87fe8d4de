// Selection as paths: select() puts paths into the tree's selection model,
// selection() reads them back in the model's order, and a new root lets go of
// the rows it does not show (panel/selection.hpp). Both keep the selection to
// the rows the tree shows below its root, told by one rule (RootFolder).
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
const Name currentIndex{"currentIndex"}, clearCurrentIndex{"clearCurrentIndex"};
const Name osp{"osp"}, normpath{"normpath"}, normcase{"normcase"}, join{"join"}, noName{""};

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

// The path string of a row of the tree:
// view.fsmodel.filePath(view.sortModel.mapToSource(idx)). Both attributes are
// read afresh for each row, and the method before its argument, as Python
// evaluates it.
Object pathStrOfRow(py::handle view, py::handle idx) {
    BoundMethod filePath = methodOf(getAttr(view, names::fsmodel), names::filePath);
    return filePath(callMethod(getAttr(view, names::sortModel), names::mapToSource, idx));
}

// The path of a row of the tree: Path(pathStrOfRow(view, idx)).
Object pathOfRow(py::handle view, py::handle idx) {
    Object pathStr = pathStrOfRow(view, idx);
    return call(global(names::Path), pathStr);
}

// osp.normcase(osp.normpath(pathStr)): one spelling for the ways of writing a
// path on this platform (`.` and `..` collapsed, doubled separators single;
// on Windows `/` as `\` and one case), in one pass over the string.
Object normalised(py::handle pathStr) {
    BoundMethod normcaseOf = methodOf(global(osp), normcase);
    return normcaseOf(callMethod(global(osp), normpath, pathStr));
}

// Which rows the tree shows below its root, told by their path strings. A row
// is inside when its normalised path begins with the root's and a separator
// (so /a/bc is not inside /a/b, and on Windows C:\A holds c:/a/x) and is not
// the root itself, which the tree does not show. Strings, not ancestors: the
// test is linear in the path's length, however many components it has.
//
// The root's path is read from the models as the rows' are, so both are in
// the same form whatever spelling of the folder the host gave. An invalid root
// index is the model's own top: the tree then shows the whole file system
// (nothing has set a root yet), and every row is inside.
class RootFolder {
public:
    // `pathStrOf(rootIdx)` is asked only for a valid root.
    template <class PathStrOf>
    RootFolder(py::handle rootIdx, PathStrOf&& pathStrOf) {
        if (!truth(callMethod(rootIdx, names::isValid))) return;
        Object rootStr = pathStrOf(rootIdx);
        // osp.join(normalised, ""): the separator is added unless the root
        // ends in one already (`/`, `C:\`).
        BoundMethod joined = methodOf(global(osp), join);
        below_ = joined(normalised(rootStr), noName);
    }

    bool holds(py::handle pathStr) const {
        if (!below_) return true;
        Object name = normalised(pathStr);
        if (!startsWith(name, below_)) return false;
        return truth(notEqual(name, below_));
    }

private:
    Object below_;  // the root's normalised path ending in a separator; null: no root
};

// fsModel.filePath(model.mapToSource(idx)), with the models select() read once.
Object pathStrOf(py::handle fsModel, py::handle model, py::handle idx) {
    BoundMethod filePath = methodOf(fsModel, names::filePath);
    return filePath(callMethod(model, names::mapToSource, idx));
}

Object selectBody(Frame& f) {
    py::handle paths = f.arg(1);
    assert(PyList_CheckExact(paths.ptr()));  // binding checks it (ArgumentCheck::exactListAfterSelf)
    Object view = getAttr(f.self(), names::fileSystemView);
    Object sel = callMethod(view, selectionModel);
    Object model = getAttr(view, names::sortModel);
    Object fsModel = getAttr(view, names::fsmodel);
    // The toolkit's model finds any path on disk; only the rows the tree shows
    // are selected, so that Copy and Delete never act on rows nobody sees. A
    // path outside the root is skipped as one the model cannot find is.
    const RootFolder root(callMethod(view, rootIndex), [&](py::handle idx) { return pathStrOf(fsModel, model, idx); });
    auto shown = [&](py::handle idx) { return root.holds(pathStrOf(fsModel, model, idx)); };
    callMethod(sel, clear);
    Object first;  // the first path selected; held, as the list may drop it

    // Walk the list as Python's list iterator does: the length is read afresh
    // each step, since str() of an item may run code that changes the list.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths.ptr()); ++i) {
        // Held while str() runs: it may drop the list's own reference.
        Object p = Object::borrow(PyList_GET_ITEM(paths.ptr(), i));
        Object idx = proxyIndexOf(model, fsModel, p);
        if (!truth(idx) || !truth(callMethod(idx, names::isValid))) continue;  // not in the model
        if (!shown(idx)) continue;  // not below the root
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
        if (truth(callMethod(firstIdx, names::isValid)) && shown(firstIdx))
            methodOf(sel, setCurrentIndex)(firstIdx, getAttr(sel, SelectionFlag, NoUpdate));
    }

    Py_ssize_t count = PyList_GET_SIZE(paths.ptr());
    if (count > 0) {
        Object last = Object::borrow(PyList_GET_ITEM(paths.ptr(), count - 1));
        Object lastIdx = proxyIndexOf(model, fsModel, last);
        if (truth(callMethod(lastIdx, names::isValid)) && shown(lastIdx)) callMethod(view, scrollTo, lastIdx);
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

void deselectRowsOutsideRoot(py::handle view) {
    Object sel = callMethod(view, selectionModel);
    if (sel.is_none()) return;
    const RootFolder root(callMethod(view, rootIndex), [&](py::handle idx) { return pathStrOfRow(view, idx); });
    auto shown = [&](py::handle idx) { return root.holds(pathStrOfRow(view, idx)); };
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
