// What a new root does to the tree's selection (panel/selection.cpp).
#pragma once

#include "module/object.hpp"

namespace explorerview::panel {

// The rows that `view` (the panel's tree) no longer shows below its root leave
// the selection, and the current row too when it is one of them: Copy, Delete
// and the folder of a new item act on the selection, which must hold nothing
// the user cannot see. Rows below the root stay as they were; select() keeps
// to the same rows by the same rule.
void deselectRowsOutsideRoot(py::handle view);

}  // namespace explorerview::panel
