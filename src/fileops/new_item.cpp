// "File" and "Folder": ask the host for a name, then have it create the item in
// the selection's folder as it is when the user confirms.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const FunctionSpec doCreateFile{
    .name = "doCreateFile",
    .qualname = "ExplorerView._newFile.<locals>.doCreateFile",
    .params = {"name", "ok"},
    .annotations = {{{"ok", "bool"}}},
    .firstLine = 336,
    .body = notYetBuilt,
};

const FunctionSpec doCreateFolder{
    .name = "doCreateFolder",
    .qualname = "ExplorerView._newFolder.<locals>.doCreateFolder",
    .params = {"name", "ok"},
    .annotations = {{{"ok", "bool"}}},
    .firstLine = 349,
    .body = notYetBuilt,
};

}  // namespace

const FunctionSpec newFile{
    .name = "_newFile",
    .qualname = "ExplorerView._newFile",
    .params = {"self"},
    .firstLine = 335,
    .body = notYetBuilt,
    .inner = {&doCreateFile},
};

const FunctionSpec newFolder{
    .name = "_newFolder",
    .qualname = "ExplorerView._newFolder",
    .params = {"self"},
    .firstLine = 348,
    .body = notYetBuilt,
    .inner = {&doCreateFolder},
};

}  // namespace explorerview::fileops
