// The four classes, in creation order. Each is described beside its bodies.
#pragma once

#include "module/function_spec.hpp"

namespace explorerview {

extern const ClassSpec noFolderOpenedPageClass;    // src/panel
extern const ClassSpec folderFirstSortModelClass;  // src/tree
extern const ClassSpec fileSystemViewClass;        // src/tree
extern const ClassSpec explorerViewClass;          // src/panel

}  // namespace explorerview
