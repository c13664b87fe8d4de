// The working folder (which page the stack shows) and the tree's own reactions:
// expanding the current item, opening a double-clicked file.
#include "module/frame.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"
#include "panel/selection.hpp"

namespace explorerview::panel {
namespace {

const Name setCurrentWidget{"setCurrentWidget"}, currentWidget{"currentWidget"}, setEnabled{"setEnabled"};
const Name currentIndex{"currentIndex"}, model{"model"}, row{"row"}, expandRecursively{"expandRecursively"};
const Name isFile{"is_file"};
const Name openFileCommand{"Nodra.openFile"};

// The folder is not stored on the panel: the stack's page says whether one is
// open, and the tree's model holds which. A root the tree refused (it has told
// the user why) still leaves the tree page up, so the user sees where they are.
// Once the tree shows a new folder, the selection holds only rows it shows:
// what was selected elsewhere would otherwise be copied, deleted or used as
// the folder of a new item without the user seeing it. A refused folder
// changes neither the root nor the selection, and closing the folder keeps
// the selection, as the tree keeps its root.
Object setWorkingFolderBody(Frame& f) {
    py::handle self = f.self(), path = f.arg(1);
    if (path.is_none()) {
        Object pages = getAttr(self, names::stacked);
        methodOf(pages, setCurrentWidget)(getAttr(self, names::noFolderOpenedPage));
        callMethod(getAttr(self, names::viewToolBar), setEnabled, Py_False);
    } else {
        Object pages = getAttr(self, names::stacked);
        methodOf(pages, setCurrentWidget)(getAttr(self, names::fileSystemView));
        Object opened = callMethod(getAttr(self, names::fileSystemView), names::setRootPath, path);
        callMethod(getAttr(self, names::viewToolBar), setEnabled, Py_True);
        if (truth(opened)) deselectRowsOutsideRoot(getAttr(self, names::fileSystemView));
    }
    return none();
}

Object workingFolderBody(Frame& f) {
    py::handle self = f.self();
    Object shown = callMethod(getAttr(self, names::stacked), currentWidget);
    Object placeholderPage = getAttr(self, names::noFolderOpenedPage);
    if (truth(equal(shown, placeholderPage))) return none();
    return callMethod(getAttr(self, names::fileSystemView), names::rootPath);
}

// "Expand Selected" works on the current item (where the keyboard is), not on
// the selection; the name column's index of its row is what the tree expands.
Object expandSelectedBody(Frame& f) {
    Object view = getAttr(f.self(), names::fileSystemView);
    Object current = callMethod(view, currentIndex);
    BoundMethod index = methodOf(callMethod(view, model), names::index);
    Object currentRow = callMethod(current, row);
    Object currentParent = callMethod(current, names::parent);
    Object idx = index(currentRow, integer(0), kw(names::parent, currentParent));
    if (truth(callMethod(idx, names::isValid))) callMethod(view, expandRecursively, idx);
    return none();
}

// A double-clicked file is opened by the host; a folder is left to the tree,
// which expands or collapses it by itself.
Object fsItemDoubleClickedBody(Frame& f) {
    py::handle self = f.self();
    Object pathType = global(names::Path);
    BoundMethod filePath = methodOf(getAttr(self, names::fileSystemView, names::fsmodel), names::filePath);
    Object proxy = callMethod(getAttr(self, names::fileSystemView), model);
    Object path = call(pathType, filePath(callMethod(proxy, names::mapToSource, f.arg(1))));
    if (truth(callMethod(path, isFile))) hostExecute()(openFileCommand, path);
    return none();
}

}  // namespace

const FunctionRow setWorkingFolder{
    .name = "setWorkingFolder",
    .qualname = "ExplorerView.setWorkingFolder",
    .params = {"self", "path"},
    .annotations = {{{"path", "Path | None"}}},
    .firstLine = 224,
    .body = setWorkingFolderBody,
};

const FunctionRow workingFolder{
    .name = "workingFolder",
    .qualname = "ExplorerView.workingFolder",
    .params = {"self"},
    .annotations = {{{"return", "Path | None"}}},
    .firstLine = 233,
    .doc = "\n        ",
    .body = workingFolderBody,
};

const FunctionRow expandSelected{
    .name = "_expandSelected",
    .qualname = "ExplorerView._expandSelected",
    .params = {"self"},
    .firstLine = 283,
    .body = expandSelectedBody,
};

const FunctionRow fsItemDoubleClicked{
    .name = "_fsItemDoubleClicked",
    .qualname = "ExplorerView._fsItemDoubleClicked",
    .params = {"self", "index"},
    .annotations = {{{"index", "QModelIndex"}}},
    .firstLine = 290,
    .body = fsItemDoubleClickedBody,
};

}  // namespace explorerview::panel
