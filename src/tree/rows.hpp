#pragma once
#include "module/function_row.hpp"

namespace explorerview::tree {
extern const FunctionRow sortModelInit, lessThan;
extern const FunctionRow fileSystemViewInit, rootPath, setRootPath;
}  // namespace explorerview::tree
