// Where a new or pasted item goes: the folder the selection designates, or the
// working folder when the selection designates none.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {

const FunctionSpec commonFolderInSelection{
    .name = "_commonFolderInSelection",
    .qualname = "ExplorerView._commonFolderInSelection",
    .params = {"self"},
    .annotations = {{{"return", "Path"}}},
    .firstLine = 299,
    .body = notYetBuilt,
};

}  // namespace explorerview::fileops
