// FileSystemView: the one-column tree over a QFileSystemModel wrapped in the
// folder-first proxy.
#include "module/runtime.hpp"
#include "tree/rows.hpp"

namespace explorerview::tree {

const FunctionSpec fileSystemViewInit{
    .name = "__init__",
    .qualname = "FileSystemView.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 57,
    .usesSuper = true,
    .body = notYetBuilt,
};

const FunctionSpec rootPath{
    .name = "rootPath",
    .qualname = "FileSystemView.rootPath",
    .params = {"self"},
    .annotations = {{{"return", "Path"}}},
    .firstLine = 84,
    .body = notYetBuilt,
};

const FunctionSpec setRootPath{
    .name = "setRootPath",
    .qualname = "FileSystemView.setRootPath",
    .params = {"self", "path", "expand"},
    .defaults = Defaults::falseForLast,
    .annotations = {{{"path", "Path"}, {"return", "bool"}}},
    .firstLine = 87,
    .body = notYetBuilt,
};

}  // namespace explorerview::tree
