#pragma once
#include "module/function_spec.hpp"

namespace explorerview::tree {
extern const FunctionSpec sortModelInit, lessThan;
extern const FunctionSpec fileSystemViewInit, rootPath, setRootPath;
}  // namespace explorerview::tree
