// Selection as paths: select() puts paths into the tree's selection model,
// selection() reads them back in the model's order.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {

const FunctionSpec select{
    .name = "select",
    .qualname = "ExplorerView.select",
    .params = {"self", "paths"},
    .annotations = {{{"paths", "List[Path]"}}},
    .firstLine = 241,
    .check = ArgumentCheck::exactListAfterSelf,
    .body = notYetBuilt,
};

const FunctionSpec selection{
    .name = "selection",
    .qualname = "ExplorerView.selection",
    .params = {"self"},
    .annotations = {{{"return", "List[Path]"}}},
    .firstLine = 267,
    .body = notYetBuilt,
};

}  // namespace explorerview::panel
