#pragma once
#include "module/function_row.hpp"

namespace explorerview::fileops {
extern const FunctionRow commonFolderInSelection, pasteFiles, copyPathOfSelection;
extern const FunctionRow newFile, newFolder;
}  // namespace explorerview::fileops
