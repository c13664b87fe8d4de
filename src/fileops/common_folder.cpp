// Where a new or pasted item goes: the folder the selection designates, or the
// working folder when the selection designates none.
#include "fileops/rows.hpp"
#include "module/frame.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name workingFolder{"workingFolder"}, osp{"osp"}, commonpath{"commonpath"};

// _commonFolderInSelection(self): the selected folder itself, or the deepest
// folder that holds everything selected. The parent of a lone file is never
// guessed: when the common path is a file, or has gone from disk, the host
// workspace decides.
Object commonFolderInSelectionBody(Frame& f) {
    Object files = callMethod(f.self(), names::selection);
    if (!truth(files)) return callMethod(f.self(), workingFolder);
    // Path(osp.commonpath(files)): Path is read before osp.
    Object pathType = global(names::Path);
    Object commonPath = call(pathType, callMethod(global(osp), commonpath, files));
    if (truth(callMethod(commonPath, names::is_dir))) return commonPath;
    return callMethod(hostWorkspace(), workingFolder);
}

}  // namespace

const FunctionRow commonFolderInSelection{
    .name = "_commonFolderInSelection",
    .qualname = "ExplorerView._commonFolderInSelection",
    .params = {"self"},
    .annotations = {{{"return", "Path"}}},
    .firstLine = 299,
    .body = commonFolderInSelectionBody,
};

}  // namespace explorerview::fileops
