// FileSystemView: the one-column tree over a QFileSystemModel wrapped in the
// folder-first proxy.
//
// The view owns the whole model stack: `fsmodel` (parented to the view) and
// `sortModel` (no parent; the attribute keeps it alive). The tree's own indexes
// are proxy indexes; the root is looked up in fsmodel and mapped across.
#include "module/except_clause.hpp"
#include "module/frame.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "tree/rows.hpp"

namespace explorerview::tree {
namespace {

const Name QScrollDelegate{"QScrollDelegate"}, QFileSystemModel{"QFileSystemModel"};
const Name FolderFirstSortModel{"FolderFirstSortModel"}, QDir{"QDir"};
const Name QAbstractItemView{"QAbstractItemView"};
const Name Filter{"Filter"}, AllEntries{"AllEntries"}, NoSymLinks{"NoSymLinks"};
const Name NoDotAndDotDot{"NoDotAndDotDot"}, Hidden{"Hidden"};
const Name SortOrder{"SortOrder"}, AscendingOrder{"AscendingOrder"};
const Name SelectionMode{"SelectionMode"}, ExtendedSelection{"ExtendedSelection"};
const Name DragDropMode{"DragDropMode"}, DragDrop{"DragDrop"};
const Name EditTrigger{"EditTrigger"}, NoEditTriggers{"NoEditTriggers"};
const Name setReadOnly{"setReadOnly"}, setNameFilterDisables{"setNameFilterDisables"};
const Name setFilter{"setFilter"}, setModel{"setModel"}, sortByColumn{"sortByColumn"};
const Name setSortingEnabled{"setSortingEnabled"}, columnCount{"columnCount"};
const Name setColumnHidden{"setColumnHidden"}, setHeaderHidden{"setHeaderHidden"};
const Name setAnimated{"setAnimated"}, setSelectionMode{"setSelectionMode"};
const Name setDragEnabled{"setDragEnabled"}, setDragDropMode{"setDragDropMode"};
const Name setEditTriggers{"setEditTriggers"}, setRootIndex{"setRootIndex"};
const Name noPermission{"You don't have the right permissions to open this directory."};
const Name notFound{"Directory not found."};

// QDir.Filter.<flag>, with QDir read from the globals at each use.
Object dirFilter(const Name& flag) { return getAttr(global(QDir), Filter, flag); }

// __init__(self, parent=None): builds fsmodel and sortModel and sets the tree
// up as one header-less name column that never renames in place.
Object viewInitBody(Frame& f) {
    py::handle self = f.self();
    callMethod(f.super(), names::init, f.arg(1));
    call(global(QScrollDelegate), self);  // lives on as the view's child
    setAttr(self, names::fsmodel, call(global(QFileSystemModel), self));
    callMethod(getAttr(self, names::fsmodel), setReadOnly, Py_False);
    callMethod(getAttr(self, names::fsmodel), setNameFilterDisables, Py_False);
    // AllEntries | NoSymLinks | NoDotAndDotDot | Hidden: each flag is read
    // just before its `|`, left to right, after the method they are given to.
    BoundMethod setFilterOfModel = methodOf(getAttr(self, names::fsmodel), setFilter);
    Object filter = dirFilter(AllEntries);
    filter = bitOr(filter, dirFilter(NoSymLinks));
    filter = bitOr(filter, dirFilter(NoDotAndDotDot));
    filter = bitOr(filter, dirFilter(Hidden));
    setFilterOfModel(filter);
    Object sortModelType = global(FolderFirstSortModel);
    setAttr(self, names::sortModel, call(sortModelType, getAttr(self, names::fsmodel)));
    methodOf(self, setModel)(getAttr(self, names::sortModel));
    methodOf(self, sortByColumn)(integer(0), getAttr(global(names::Qt), SortOrder, AscendingOrder));
    callMethod(self, setSortingEnabled, Py_False);

    // Only the name column stays; the count is whatever the model reports now.
    Py_ssize_t columns = asIndex(callMethod(getAttr(self, names::fsmodel), columnCount));
    for (Py_ssize_t column = 1; column < columns; ++column)
        callMethod(self, setColumnHidden, integer(column), Py_True);

    callMethod(self, setHeaderHidden, Py_True);
    callMethod(self, setAnimated, Py_False);
    methodOf(self, setSelectionMode)(getAttr(self, SelectionMode, ExtendedSelection));
    callMethod(self, setDragEnabled, Py_True);
    methodOf(self, setDragDropMode)(getAttr(global(QAbstractItemView), DragDropMode, DragDrop));
    methodOf(self, setEditTriggers)(getAttr(global(QAbstractItemView), EditTrigger, NoEditTriggers));
    return none();
}

// rootPath(self) -> Path: the model's root, in the model's own form.
Object rootPathBody(Frame& f) {
    Object pathType = global(names::Path);
    return call(pathType, callMethod(getAttr(f.self(), names::fsmodel), names::rootPath));
}

// Shows `message` (translated by the view) while `error` is the exception
// being handled, as inside an `except` clause: the host sees it in
// sys.exc_info(), and anything raised meanwhile is chained to it and
// propagates.
Object showHandledError(py::handle self, py::handle error, const Name& message) {
    HandledException handling(error);
    Object text = callMethod(self, names::tr, message);
    callMethod(hostWindow(), names::showErrorMessage, text);
    return boolean(false);
}

// setRootPath(self, path, expand=False) -> bool: False only after telling the
// user that the folder is not readable or not there; other errors propagate.
Object setRootPathBody(Frame& f) {
    py::handle self = f.self();
    try {
        // self.fsmodel.setRootPath(str(path)): the receiver and its method are
        // read before str() runs, and str() is Python's: a str subclass arrives
        // as a plain str, unless its own __str__ returns a subclass, which is
        // passed on as is.
        Object index = callMethodWithStr(getAttr(self, names::fsmodel), names::setRootPath, f.arg(1));
        Object rootIndex = callMethod(getAttr(self, names::sortModel), names::mapFromSource, index);
        callMethod(self, setRootIndex, rootIndex);
        if (truth(f.arg(2))) callMethod(self, names::expand, rootIndex);
        return boolean(true);
    } catch (const PythonError&) {
        // Matched as `except` matches: on the exception the error makes, so
        // OSError(errno.ENOENT, ...) raised by class and arguments is a
        // FileNotFoundError here too.
        Object error = caughtError();
        const Name* message = errorIs(error, PyExc_PermissionError)    ? &noPermission
                              : errorIs(error, PyExc_FileNotFoundError) ? &notFound
                                                                        : nullptr;
        if (!message) raiseAgain(std::move(error));
        return showHandledError(self, error, *message);
    }
}

}  // namespace

const FunctionRow fileSystemViewInit{
    .name = "__init__",
    .qualname = "FileSystemView.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 57,
    .usesSuper = true,
    .body = viewInitBody,
};

const FunctionRow rootPath{
    .name = "rootPath",
    .qualname = "FileSystemView.rootPath",
    .params = {"self"},
    .annotations = {{{"return", "Path"}}},
    .firstLine = 84,
    .body = rootPathBody,
};

const FunctionRow setRootPath{
    .name = "setRootPath",
    .qualname = "FileSystemView.setRootPath",
    .params = {"self", "path", "expand"},
    .defaults = Defaults::falseForLast,
    .annotations = {{{"path", "Path"}, {"return", "bool"}}},
    .firstLine = 87,
    .body = setRootPathBody,
};

}  // namespace explorerview::tree
