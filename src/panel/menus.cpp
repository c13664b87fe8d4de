// The panel's two menus, opened where the user looks: the "New" menu under its
// toolbar button, the context menu at the pointer.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {

const FunctionSpec showNewFileMenu{
    .name = "_showNewFileMenu",
    .qualname = "ExplorerView._showNewFileMenu",
    .params = {"self"},
    .firstLine = 220,
    .body = notYetBuilt,
};

const FunctionSpec showContextMenu{
    .name = "_showContextMenu",
    .qualname = "ExplorerView._showContextMenu",
    .params = {"self", "pos"},
    .annotations = {{{"pos", "QPoint"}}},
    .firstLine = 295,
    .body = notYetBuilt,
};

}  // namespace explorerview::panel
