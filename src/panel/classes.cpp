// The panel's two classes: the placeholder page and the explorer view.
#include "fileops/rows.hpp"
#include "module/classes.hpp"
#include "panel/rows.hpp"

namespace explorerview {

const ClassRow noFolderOpenedPageClass{
    .name = "NoFolderOpenedPage",
    .bases = {"QPluginWidget", "QWidget"},
    .doc = "\n    No folder opened\n    ",
    .methods = {&panel::noFolderOpenedPageInit},
};

const ClassRow explorerViewClass{
    .name = "ExplorerView",
    .bases = {"QPluginWidget", "QWidget"},
    .methods = {&panel::explorerViewInit, &panel::showNewFileMenu, &panel::setWorkingFolder,
                &panel::workingFolder, &panel::select, &panel::selection, &panel::expandSelected,
                &panel::fsItemDoubleClicked, &panel::showContextMenu,
                &fileops::commonFolderInSelection, &fileops::pasteFiles,
                &fileops::copyPathOfSelection, &fileops::newFile, &fileops::newFolder},
};

}  // namespace explorerview
