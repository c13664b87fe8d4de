// The working folder (which page the stack shows) and the tree's own reactions:
// expanding the current item, opening a double-clicked file.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name Path{"Path"}, tavro{"tavro"}, commands{"commands"}, execute{"execute"};
const Name stacked{"_stacked"}, noFolderOpenedPage{"_noFolderOpenedPage"};
const Name fileSystemView{"_fileSystemView"}, viewToolBar{"_viewToolBar"};
const Name setCurrentWidget{"setCurrentWidget"}, currentWidget{"currentWidget"};
const Name setEnabled{"setEnabled"}, setRootPathName{"setRootPath"}, rootPathName{"rootPath"};
const Name currentIndex{"currentIndex"}, model{"model"}, index{"index"}, row{"row"}, parent{"parent"};
const Name isValid{"isValid"}, expandRecursively{"expandRecursively"};
const Name fsmodel{"fsmodel"}, filePath{"filePath"}, mapToSource{"mapToSource"}, isFile{"is_file"};
const Name openFileCommand{"Nodra.openFile"};

// The folder is not stored on the panel: the stack's page says whether one is
// open, and the tree's model holds which. A root the tree refused (it has told
// the user why) still leaves the tree page up, so the user sees where they are.
py::object setWorkingFolderBody(Frame& f) {
    py::handle self = f.self(), path = f.arg(1);
    if (path.is_none()) {
        callMethod(self.attr(stacked), setCurrentWidget, self.attr(noFolderOpenedPage));
        callMethod(self.attr(viewToolBar), setEnabled, Py_False);
    } else {
        callMethod(self.attr(stacked), setCurrentWidget, self.attr(fileSystemView));
        callMethod(self.attr(fileSystemView), setRootPathName, path);
        callMethod(self.attr(viewToolBar), setEnabled, Py_True);
    }
    return py::none();
}

py::object workingFolderBody(Frame& f) {
    py::handle self = f.self();
    py::object shown = callMethod(self.attr(stacked), currentWidget);
    int placeholder = PyObject_RichCompareBool(shown.ptr(), self.attr(noFolderOpenedPage).ptr(), Py_EQ);
    if (placeholder < 0) throw py::error_already_set();
    if (placeholder) return py::none();
    return callMethod(self.attr(fileSystemView), rootPathName);
}

// "Expand Selected" works on the current item (where the keyboard is), not on
// the selection; the name column's index of its row is what the tree expands.
py::object expandSelectedBody(Frame& f) {
    py::object view = f.self().attr(fileSystemView);
    py::object current = callMethod(view, currentIndex);
    py::object itemModel = callMethod(view, model);
    py::object currentRow = callMethod(current, row);
    py::object currentParent = callMethod(current, parent);
    py::object idx = callMethod(itemModel, index, currentRow, py::int_(0), kw(parent, currentParent));
    if (truth(callMethod(idx, isValid))) callMethod(view, expandRecursively, idx);
    return py::none();
}

// A double-clicked file is opened by the host; a folder is left to the tree,
// which expands or collapses it by itself.
py::object fsItemDoubleClickedBody(Frame& f) {
    py::handle self = f.self();
    py::object pathType = global(Path);
    py::object source = self.attr(fileSystemView).attr(fsmodel);
    py::object sourceIndex = callMethod(callMethod(self.attr(fileSystemView), model), mapToSource, f.arg(1));
    py::object path = call(pathType, callMethod(source, filePath, sourceIndex));
    if (truth(callMethod(path, isFile))) {
        py::object commandsObject = global(tavro).attr(commands);
        callMethod(commandsObject, execute, openFileCommand, path);
    }
    return py::none();
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
