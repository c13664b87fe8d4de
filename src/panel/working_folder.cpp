// The working folder (which page the stack shows) and the tree's own reactions:
// expanding the current item, opening a double-clicked file.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {

const FunctionSpec setWorkingFolder{
    .name = "setWorkingFolder",
    .qualname = "ExplorerView.setWorkingFolder",
    .params = {"self", "path"},
    .annotations = {{{"path", "Path | None"}}},
    .firstLine = 224,
    .body = notYetBuilt,
};

const FunctionSpec workingFolder{
    .name = "workingFolder",
    .qualname = "ExplorerView.workingFolder",
    .params = {"self"},
    .annotations = {{{"return", "Path | None"}}},
    .firstLine = 233,
    .doc = "\n        ",
    .body = notYetBuilt,
};

const FunctionSpec expandSelected{
    .name = "_expandSelected",
    .qualname = "ExplorerView._expandSelected",
    .params = {"self"},
    .firstLine = 283,
    .body = notYetBuilt,
};

const FunctionSpec fsItemDoubleClicked{
    .name = "_fsItemDoubleClicked",
    .qualname = "ExplorerView._fsItemDoubleClicked",
    .params = {"self", "index"},
    .annotations = {{{"index", "QModelIndex"}}},
    .firstLine = 290,
    .body = notYetBuilt,
};

}  // namespace explorerview::panel
