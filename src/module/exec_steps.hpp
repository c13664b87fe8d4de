// The steps of module exec that are more than a line: the imports and the
// class statements. Each binds its results in the module globals as it goes,
// so that a failure leaves what was bound before it in the module.
#pragma once

#include "module/object.hpp"

namespace explorerview::exec {


// `import os.path as osp`, `from typing import List`, `from pathlib import
// Path`, `from Tavro import tavro`, `from Kelpa import ...` (26 names), in order.
void importNames(py::handle globals);

// The four classes, in source order, each bound as soon as it exists.
void createClasses(py::handle globals);

// Once the toolkit is imported: the library that calls the toolkit's own C++
// model methods, when it binds to the very Qt the toolkit loaded
// (tree/toolkit_check.cpp). Never fails: without it the calls go the usual way.
void loadToolkitCalls(py::handle globals);

}  // namespace explorerview::exec
