#pragma once
#include "module/function_row.hpp"

namespace explorerview::panel {
extern const FunctionRow noFolderOpenedPageInit;
extern const FunctionRow explorerViewInit;
extern const FunctionRow showNewFileMenu, showContextMenu;
extern const FunctionRow setWorkingFolder, workingFolder, select, selection;
extern const FunctionRow expandSelected, fsItemDoubleClicked;
}  // namespace explorerview::panel
