// The names that bodies in more than one file use, declared once. A name that
// only one file uses stays beside its body.
#pragma once

#include "module/name.hpp"

namespace explorerview::names {

// Module globals, read at each use (the services object `tavro` is in module/host.hpp).
inline const Name Path{"Path"}, Qt{"Qt"}, QVBox{"QVBox"}, QLabel{"QLabel"};

// What bodies ask of the host's window (reached through module/host.hpp).
inline const Name showTextInputBox{"showTextInputBox"}, then{"then"}, showErrorMessage{"showErrorMessage"};

// The panel's attributes and the methods its handlers call on it.
inline const Name viewToolBar{"_viewToolBar"}, fileSystemView{"_fileSystemView"};
inline const Name stacked{"_stacked"}, noFolderOpenedPage{"_noFolderOpenedPage"};
inline const Name newFileOrFolderAction{"_newFileOrFolderAction"}, newFileMenu{"_newFileMenu"};
inline const Name contextMenu{"_fileSystemViewContextMenu"};
inline const Name selection{"selection"}, commonFolderInSelection{"_commonFolderInSelection"};

// The tree's attributes: the file system model and the folder-first proxy over it.
inline const Name fsmodel{"fsmodel"}, sortModel{"sortModel"};

// Toolkit methods and keywords.
inline const Name init{"__init__"}, tr{"tr"}, triggered{"triggered"}, setLayout{"setLayout"};
inline const Name setRootPath{"setRootPath"}, rootPath{"rootPath"}, expand{"expand"};
inline const Name index{"index"}, parent{"parent"}, isValid{"isValid"}, filePath{"filePath"};
inline const Name mapToSource{"mapToSource"}, mapFromSource{"mapFromSource"};

// pathlib.Path methods.
inline const Name is_dir{"is_dir"}, absolute{"absolute"};

}  // namespace explorerview::names
