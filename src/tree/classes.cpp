// The file tree's two classes: the folder-first proxy and the view over it.
#include "module/classes.hpp"
#include "tree/rows.hpp"

namespace explorerview {

const ClassRow folderFirstSortModelClass{
    .name = "FolderFirstSortModel",
    .bases = {"QSortFilterProxyModel"},
    .methods = {&tree::sortModelInit, &tree::lessThan},
};

const ClassRow fileSystemViewClass{
    .name = "FileSystemView",
    .bases = {"QPluginWidget", "QTreeView"},
    .methods = {&tree::fileSystemViewInit, &tree::rootPath, &tree::setRootPath},
};

}  // namespace explorerview
