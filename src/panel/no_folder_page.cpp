// NoFolderOpenedPage: the placeholder shown while no folder is open, with an
// "Open Folder" button that asks the host to open one.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const FunctionSpec openFolderLambda{
    .name = "lambda",
    .qualname = "NoFolderOpenedPage.__init__.<locals>.<lambda>",
    .firstLine = 22,
    .shape = CallShape::lambda,
    .body = notYetBuilt,
};

}  // namespace

const FunctionSpec noFolderOpenedPageInit{
    .name = "__init__",
    .qualname = "NoFolderOpenedPage.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 18,
    .usesSuper = true,
    .body = notYetBuilt,
    .inner = {&openFolderLambda},
};

}  // namespace explorerview::panel
