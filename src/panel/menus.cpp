// The panel's two menus, opened where the user looks: the "New" menu under its
// toolbar button, the context menu at the pointer.
#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name widgetForAction{"widgetForAction"}, rect{"rect"}, bottomLeft{"bottomLeft"};
const Name mapToGlobal{"mapToGlobal"}, popup{"popup"}, viewport{"viewport"}, show{"show"};

// Under the toolbar button, whatever the pointer: the menu reads as the
// button's drop-down.
Object showNewFileMenuBody(Frame& f) {
    py::handle self = f.self();
    Object toolBar = getAttr(self, names::viewToolBar);
    Object button = methodOf(toolBar, widgetForAction)(getAttr(self, names::newFileOrFolderAction));
    methodOf(getAttr(self, names::newFileMenu), popup)(
        methodOf(button, mapToGlobal)(callMethod(callMethod(button, rect), bottomLeft)));
    return none();
}

// The tree reports the click in its viewport's coordinates (below the header
// and frame), so the viewport maps it to the screen.
Object showContextMenuBody(Frame& f) {
    py::handle self = f.self();
    Object view = getAttr(self, names::fileSystemView);
    Object where = callMethod(callMethod(view, viewport), mapToGlobal, f.arg(1));
    callMethod(getAttr(self, names::contextMenu), show, where);
    return none();
}

}  // namespace

const FunctionRow showNewFileMenu{
    .name = "_showNewFileMenu",
    .qualname = "ExplorerView._showNewFileMenu",
    .params = {"self"},
    .firstLine = 220,
    .body = showNewFileMenuBody,
};

const FunctionRow showContextMenu{
    .name = "_showContextMenu",
    .qualname = "ExplorerView._showContextMenu",
    .params = {"self", "pos"},
    .annotations = {{{"pos", "QPoint"}}},
    .firstLine = 295,
    .body = showContextMenuBody,
};

}  // namespace explorerview::panel
