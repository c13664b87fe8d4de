// "Copy Path": the first selected path, absolute, as clipboard text.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {

const FunctionSpec copyPathOfSelection{
    .name = "_copyPathOfSelection",
    .qualname = "ExplorerView._copyPathOfSelection",
    .params = {"self"},
    .firstLine = 330,
    .body = notYetBuilt,
};

}  // namespace explorerview::fileops
