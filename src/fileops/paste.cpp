// "Paste": ask the host for a target folder, proposing the selection's folder,
// then hand the confirmed folder to the host's paste command.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const FunctionSpec doPaste{
    .name = "doPaste",
    .qualname = "ExplorerView._pasteFiles.<locals>.doPaste",
    .params = {"folderStr", "ok"},
    .firstLine = 314,
    .body = notYetBuilt,
};

}  // namespace

const FunctionSpec pasteFiles{
    .name = "_pasteFiles",
    .qualname = "ExplorerView._pasteFiles",
    .params = {"self"},
    .firstLine = 308,
    .doc = "\n        Paste files\n        ",
    .body = notYetBuilt,
    .inner = {&doPaste},
};

}  // namespace explorerview::fileops
