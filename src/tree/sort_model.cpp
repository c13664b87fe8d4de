// FolderFirstSortModel: among a folder's children, folders first, then names
// compared after Python's lower().
#include "module/runtime.hpp"
#include "tree/rows.hpp"

namespace explorerview::tree {

const FunctionSpec sortModelInit{
    .name = "__init__",
    .qualname = "FolderFirstSortModel.__init__",
    .params = {"self", "fsModel"},
    .annotations = {{{"fsModel", "QFileSystemModel"}}},
    .firstLine = 35,
    .usesSuper = true,
    .body = notYetBuilt,
};

const FunctionSpec lessThan{
    .name = "lessThan",
    .qualname = "FolderFirstSortModel.lessThan",
    .params = {"self", "left", "right"},
    .annotations = {{{"left", "QModelIndex"}, {"right", "QModelIndex"}, {"return", "bool"}}},
    .firstLine = 40,
    .body = notYetBuilt,
};

}  // namespace explorerview::tree
