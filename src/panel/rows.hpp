#pragma once
#include "module/function_spec.hpp"

namespace explorerview::panel {
extern const FunctionSpec noFolderOpenedPageInit;
extern const FunctionSpec explorerViewInit;
extern const FunctionSpec showNewFileMenu, showContextMenu;
extern const FunctionSpec setWorkingFolder, workingFolder, select, selection;
extern const FunctionSpec expandSelected, fsItemDoubleClicked;
}  // namespace explorerview::panel
