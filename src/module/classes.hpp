// The four classes, each described beside its bodies, and the one list of
// them in creation order: exec builds their rows and creates them from it.
#pragma once

#include "module/function_row.hpp"

namespace explorerview {

extern const ClassRow noFolderOpenedPageClass;    // src/panel
extern const ClassRow folderFirstSortModelClass;  // src/tree
extern const ClassRow fileSystemViewClass;        // src/tree
extern const ClassRow explorerViewClass;          // src/panel

inline const ClassRow* const allClasses[] = {&noFolderOpenedPageClass, &folderFirstSortModelClass,
                                             &fileSystemViewClass, &explorerViewClass};

}  // namespace explorerview
