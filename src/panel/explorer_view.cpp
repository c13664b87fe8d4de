// ExplorerView construction: toolbar, actions, menus, the tree, the placeholder
// page and the page stack, ending in the no-folder state.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

// "Select Opened File": captures nothing.
const FunctionSpec selectOpenedFileHandler{
    .name = "lambda1",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 141,
    .shape = CallShape::lambda,
    .body = notYetBuilt,
};

// "Copy" and "Delete": both capture the panel, through one shared cell.
const FunctionSpec copyHandler{
    .name = "lambda2",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 177,
    .shape = CallShape::lambda,
    .body = notYetBuilt,
};

const FunctionSpec deleteHandler{
    .name = "lambda3",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 193,
    .shape = CallShape::lambda,
    .body = notYetBuilt,
};

}  // namespace

const FunctionSpec explorerViewInit{
    .name = "__init__",
    .qualname = "ExplorerView.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 107,
    .usesSuper = true,
    .body = notYetBuilt,
    .inner = {&selectOpenedFileHandler, &copyHandler, &deleteHandler},
};

}  // namespace explorerview::panel
