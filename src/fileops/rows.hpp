#pragma once
#include "module/function_spec.hpp"

namespace explorerview::fileops {
extern const FunctionSpec commonFolderInSelection, pasteFiles, copyPathOfSelection;
extern const FunctionSpec newFile, newFolder;
}  // namespace explorerview::fileops
