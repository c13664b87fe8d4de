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

}  // namespace explorerview::exec
