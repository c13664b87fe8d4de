// The four classes, in creation order. Each is described beside its bodies.
#pragma once

#include "module/function_row.hpp"

namespace explorerview {

extern const ClassRow noFolderOpenedPageClass;    // src/panel
extern const ClassRow folderFirstSortModelClass;  // src/tree
extern const ClassRow fileSystemViewClass;        // src/tree
extern const ClassRow explorerViewClass;          // src/panel

}  // namespace explorerview
