// ExplorerView construction: toolbar, actions, menus, the tree, the placeholder
// page and the page stack, ending in the no-folder state.
//
// The steps run in a fixed order and each reads what an earlier one stored on
// the panel, the way the host's own plug-ins are written: children live in
// private attributes, actions are shared between toolbar, menus and tree, and
// every text goes through the panel's tr so that installed translations apply.
// Each attribute is read where the Python reads it, once per use.
#include "module/frame.hpp"
#include "module/function.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

// Module globals, read at each use.
const Name QViewToolBar{"QViewToolBar"}, QAction{"QAction"}, QRoundMenu{"QRoundMenu"};
const Name QKeySequence{"QKeySequence"}, QKeyCombination{"QKeyCombination"}, FileSystemView{"FileSystemView"};
const Name QHSpacer{"QHSpacer"}, QVLine{"QVLine"}, NoFolderOpenedPage{"NoFolderOpenedPage"}, QStacked{"QStacked"};

// The panel's attributes (those other files read are in module/names.hpp).
const Name titleLabel{"_titleLabel"}, newFileAction{"_newFileAction"}, newFolderAction{"_newFolderAction"};
const Name selectOpenedFileAction{"_selectOpenedFileAction"}, expandSelectedAction{"_expandSelectedAction"};
const Name collapseAllAction{"_collapseAllAction"};
const Name contextNewFileSubMenu{"_fileSystemViewContextNewFileSubMenu"};
const Name copyAction{"_copyAction"}, copyPathAction{"_copyPathAction"};
const Name pasteAction{"_pasteAction"}, deleteAction{"_deleteAction"};

// Methods of the panel handed to the toolkit as bound methods.
const Name showNewFileMenuName{"_showNewFileMenu"}, newFileName{"_newFile"}, newFolderName{"_newFolder"};
const Name expandSelectedName{"_expandSelected"}, fsItemDoubleClickedName{"_fsItemDoubleClicked"};
const Name showContextMenuName{"_showContextMenu"}, copyPathOfSelectionName{"_copyPathOfSelection"};
const Name pasteFilesName{"_pasteFiles"}, setWorkingFolderName{"setWorkingFolder"};

// Toolkit and services calls, keywords and enumeration members.
const Name setObjectName{"setObjectName"}, registerToolBar{"registerToolBar"};
const Name font{"font"}, setBold{"setBold"}, setFont{"setFont"};
const Name addAction{"addAction"}, addActions{"addActions"}, addSections{"addSections"};
const Name addMenu{"addMenu"}, addItem{"addItem"}, collapseAll{"collapseAll"};
const Name doubleClicked{"doubleClicked"}, customContextMenuRequested{"customContextMenuRequested"};
const Name connect{"connect"}, setContextMenuPolicy{"setContextMenuPolicy"};
const Name icon{"icon"}, shortcut{"shortcut"}, id{"id"}, spacing{"spacing"};
const Name KeyboardModifier{"KeyboardModifier"}, ControlModifier{"ControlModifier"};
const Name Key{"Key"}, Key_Plus{"Key_Plus"}, Key_Minus{"Key_Minus"};
const Name ContextMenuPolicy{"ContextMenuPolicy"}, CustomContextMenu{"CustomContextMenu"};

// Constant strings: texts (translated at use), icon names, ids, sections, shortcuts, commands.
const Name explorerText{"Explorer"}, newFileOrFolderText{"New File or Folder"}, newText{"New"};
const Name fileText{"File"}, folderText{"Folder"}, selectOpenedFileText{"Select Opened File"};
const Name expandSelectedText{"Expand Selected"}, collapseAllText{"Collapse all"};
const Name copyText{"Copy"}, copyPathText{"Copy Path"}, pasteText{"Paste"}, deleteText{"Delete"};
const Name explorerToolbar{"explorer-toolbar"}, explorerNewFileMenu{"explorer-new-file-menu"};
const Name contextMenuId{"file-system-view-context-menu"};
const Name contextSubMenuId{"file-system-view-new-file-sub-menu"};
const Name addIcon{"add"}, textIcon{"text"}, folderIcon{"folder"}, locateIcon{"locate"};
const Name expandAllIcon{"expandAll"}, collapseAllIcon{"collapseAll"}, copyIcon{"copy"}, pasteIcon{"paste"};
const Name sectionNew{"new"}, sectionCopyPaste{"copy-paste"}, sectionDelete{"delete"};
const Name sectionRunDebug{"run-debug"}, sectionOpenIn{"open-in"};
const Name ctrlC{"Ctrl+C"}, ctrlV{"Ctrl+V"}, deleteKey{"Delete"};
const Name selectOpenedFileCommand{"Nodra.selectOpenedFile"}, copyFilesCommand{"Nodra.copyFiles"};
const Name deleteFilesCommand{"Nodra.deleteFiles"};

// ---- The three handlers made by the constructor ----------------------------

py::object selectOpenedFileBody(Frame&) { return runHostCommand(hostCommands(), selectOpenedFileCommand); }

// Copy and Delete read the selection when they fire, not when they were made;
// the commands object is fetched before the selection is read.
py::object runOnSelection(Frame& f, const Name& command) {
    py::object commands = hostCommands();
    py::object paths = callMethod(f.captured(), names::selection);
    return runHostCommand(commands, command, paths);
}

py::object copyBody(Frame& f) { return runOnSelection(f, copyFilesCommand); }
py::object deleteBody(Frame& f) { return runOnSelection(f, deleteFilesCommand); }

// "Select Opened File": captures nothing.
const FunctionRow selectOpenedFileHandler{
    .name = "lambda1",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 141,
    .shape = CallShape::lambda,
    .body = selectOpenedFileBody,
};

// "Copy" and "Delete": both capture the panel, through one shared cell.
const FunctionRow copyHandler{
    .name = "lambda2",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 177,
    .shape = CallShape::lambda,
    .body = copyBody,
};

const FunctionRow deleteHandler{
    .name = "lambda3",
    .qualname = "ExplorerView.__init__.<locals>.<lambda>",
    .firstLine = 193,
    .shape = CallShape::lambda,
    .body = deleteBody,
};

// ---- Construction helpers ---------------------------------------------------

py::object translated(py::handle self, const Name& text) { return callMethod(self, names::tr, text); }

// QKeySequence(QKeyCombination(Qt.KeyboardModifier.ControlModifier, Qt.Key.<key>)):
// Ctrl with a key given by its key code; as text, "Ctrl++" would have to use the
// separator itself as the key.
py::object controlWith(const Name& key) {
    py::object keySequence = global(QKeySequence);
    py::object keyCombination = global(QKeyCombination);
    py::object control = getAttr(global(names::Qt), KeyboardModifier, ControlModifier);
    py::object keyCode = getAttr(global(names::Qt), Key, key);
    return call(keySequence, call(keyCombination, control, keyCode));
}

// QRoundMenu(title, id=...) or, without a title, QRoundMenu(id=...).
py::object roundMenu(py::handle self, const Name* title, const Name& menuId) {
    py::object menuType = global(QRoundMenu);
    if (!title) return call(menuType, kw(id, menuId));
    py::object text = translated(self, *title);
    return call(menuType, text, kw(id, menuId));
}

// self.<part>.<method>(self.<item>, extra...): the part and its method are
// read before the item, as Python reads them; each call reads all afresh.
template <class... Extra>
void callOnPart(py::handle self, const Name& part, const Name& method, const Name& item, const Extra&... extra) {
    py::object receiver = getAttr(self, part);
    methodOf(receiver, method)(getAttr(self, item), extra...);
}

py::object initBody(Frame& f) {
    py::handle self = f.self();
    // The cell of the Copy and Delete handlers, shared by both as a Python
    // closure would share it; the collector sees it through the handlers.
    py::object panelCell = captureOne(self);

    // 1. The bases, through super().
    callMethod(f.super(), names::init, f.arg(1));

    // 2-3. The toolbar, registered with the host window while still empty.
    {
        py::object toolBarType = global(QViewToolBar);
        setAttr(self, names::viewToolBar, call(toolBarType, self));
        callMethod(getAttr(self, names::viewToolBar), setObjectName, explorerToolbar);
        py::object window = hostWindow();
        methodOf(window, registerToolBar)(getAttr(self, names::viewToolBar));
    }

    // 4. The bold title.
    {
        py::object labelType = global(names::QLabel);
        py::object text = translated(self, explorerText);
        setAttr(self, titleLabel, call(labelType, text));
        py::object titleFont = callMethod(getAttr(self, titleLabel), font);
        callMethod(titleFont, setBold, Py_True);
        callMethod(getAttr(self, titleLabel), setFont, titleFont);
    }

    // 5. The toolbar button that opens the "New" menu.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, newFileOrFolderText);
        py::object handler = getAttr(self, showNewFileMenuName);
        setAttr(self, names::newFileOrFolderAction,
                call(actionType, text, kw(icon, addIcon), kw(names::triggered, handler)));
    }

    // 6. The "New" menu of that button.
    setAttr(self, names::newFileMenu, roundMenu(self, &newText, explorerNewFileMenu));

    // 7-8. New file, new folder.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, fileText);
        py::object handler = getAttr(self, newFileName);
        setAttr(self, newFileAction, call(actionType, text, kw(icon, textIcon), kw(names::triggered, handler)));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, folderText);
        py::object handler = getAttr(self, newFolderName);
        setAttr(self, newFolderAction, call(actionType, text, kw(icon, folderIcon), kw(names::triggered, handler)));
    }

    // 9. Select Opened File: its handler captures nothing.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, selectOpenedFileText);
        py::object handler = makeFunction(selectOpenedFileHandler, py::none());
        setAttr(self, selectOpenedFileAction,
                call(actionType, text, kw(icon, locateIcon), kw(names::triggered, handler)));
    }

    // 10. Expand Selected, Ctrl with the plus key.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, expandSelectedText);
        py::object handler = getAttr(self, expandSelectedName);
        py::object keys = controlWith(Key_Plus);
        setAttr(self, expandSelectedAction,
                call(actionType, text, kw(icon, expandAllIcon), kw(names::triggered, handler), kw(shortcut, keys)));
    }

    // 11. Fill the "New" menu, without sections.
    callOnPart(self, names::newFileMenu, addAction, newFileAction);
    callOnPart(self, names::newFileMenu, addAction, newFolderAction);

    // 12. The tree, a child of the panel.
    {
        py::object viewType = global(FileSystemView);
        setAttr(self, names::fileSystemView, call(viewType, self));
    }

    // 13. Collapse all: the tree's own slot, Ctrl with the minus key.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, collapseAllText);
        py::object handler = getAttr(self, names::fileSystemView, collapseAll);
        py::object keys = controlWith(Key_Minus);
        setAttr(self, collapseAllAction,
                call(actionType, text, kw(icon, collapseAllIcon), kw(names::triggered, handler), kw(shortcut, keys)));
    }

    // 14. The tree carries the two actions so that their shortcuts act on it.
    callOnPart(self, names::fileSystemView, addAction, expandSelectedAction);
    callOnPart(self, names::fileSystemView, addAction, collapseAllAction);

    // 15. The tree's double click and its context menu request.
    {
        py::object signal = getAttr(self, names::fileSystemView, doubleClicked);
        methodOf(signal, connect)(getAttr(self, fsItemDoubleClickedName));
        py::object tree = getAttr(self, names::fileSystemView);
        py::object policy = getAttr(global(names::Qt), ContextMenuPolicy, CustomContextMenu);
        callMethod(tree, setContextMenuPolicy, policy);
        signal = getAttr(self, names::fileSystemView, customContextMenuRequested);
        methodOf(signal, connect)(getAttr(self, showContextMenuName));
    }

    // 16. The context menu, untitled, in five named sections.
    setAttr(self, names::contextMenu, roundMenu(self, nullptr, contextMenuId));
    {
        py::list sections;
        for (const Name* name : {&sectionNew, &sectionCopyPaste, &sectionDelete, &sectionRunDebug, &sectionOpenIn})
            sections.append(name->get());
        callMethod(getAttr(self, names::contextMenu), addSections, sections);
    }

    // 17. Its "New" sub-menu, holding the same two actions as the toolbar's menu.
    setAttr(self, contextNewFileSubMenu, roundMenu(self, &newText, contextSubMenuId));
    {
        py::object subMenu = getAttr(self, contextNewFileSubMenu);
        py::list actions;
        actions.append(getAttr(self, newFileAction));
        actions.append(getAttr(self, newFolderAction));
        callMethod(subMenu, addActions, actions);
        callOnPart(self, names::contextMenu, addMenu, contextNewFileSubMenu, sectionNew);
    }

    // 18-21. Copy, Copy Path, Paste, Delete.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, copyText);
        py::object handler = makeFunction(copyHandler, panelCell);
        setAttr(self, copyAction,
                call(actionType, text, kw(icon, copyIcon), kw(shortcut, ctrlC), kw(names::triggered, handler)));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, copyPathText);
        py::object handler = getAttr(self, copyPathOfSelectionName);
        setAttr(self, copyPathAction, call(actionType, text, kw(names::triggered, handler)));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, pasteText);
        py::object handler = getAttr(self, pasteFilesName);
        setAttr(self, pasteAction,
                call(actionType, text, kw(icon, pasteIcon), kw(shortcut, ctrlV), kw(names::triggered, handler)));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, deleteText);
        py::object handler = makeFunction(deleteHandler, panelCell);
        setAttr(self, deleteAction, call(actionType, text, kw(shortcut, deleteKey), kw(names::triggered, handler)));
    }

    // 22. The context menu's entries, then the tree's shortcuts for them.
    callOnPart(self, names::contextMenu, addAction, copyAction, sectionCopyPaste);
    callOnPart(self, names::contextMenu, addAction, copyPathAction, sectionCopyPaste);
    callOnPart(self, names::contextMenu, addAction, pasteAction, sectionCopyPaste);
    callOnPart(self, names::contextMenu, addAction, deleteAction, sectionDelete);
    callOnPart(self, names::fileSystemView, addAction, copyAction);
    callOnPart(self, names::fileSystemView, addAction, pasteAction);
    callOnPart(self, names::fileSystemView, addAction, deleteAction);

    // 23. The toolbar, left to right.
    callOnPart(self, names::viewToolBar, addItem, titleLabel);
    {
        py::object toolBar = getAttr(self, names::viewToolBar);
        methodOf(toolBar, addItem)(call(global(QHSpacer)));
    }
    callOnPart(self, names::viewToolBar, addItem, names::newFileOrFolderAction);
    {
        py::object toolBar = getAttr(self, names::viewToolBar);
        methodOf(toolBar, addItem)(call(global(QVLine)));
    }
    callOnPart(self, names::viewToolBar, addItem, selectOpenedFileAction);
    callOnPart(self, names::viewToolBar, addItem, expandSelectedAction);
    callOnPart(self, names::viewToolBar, addItem, collapseAllAction);

    // 24-25. The placeholder page and the stack: page 0 placeholder, page 1 tree.
    {
        py::object pageType = global(NoFolderOpenedPage);
        setAttr(self, names::noFolderOpenedPage, call(pageType));
        py::object stackedType = global(QStacked);
        py::object placeholder = getAttr(self, names::noFolderOpenedPage);
        setAttr(self, names::stacked, call(stackedType, placeholder, getAttr(self, names::fileSystemView)));
    }

    // 26. Toolbar above the stack, no gap between them.
    {
        py::object boxType = global(names::QVBox);
        py::object toolBar = getAttr(self, names::viewToolBar);
        py::object layout = call(boxType, toolBar, getAttr(self, names::stacked), kw(spacing, py::int_(0)));
        callMethod(self, names::setLayout, layout);
    }

    // 27. Start with no folder open.
    callMethod(self, setWorkingFolderName, py::none());
    return py::none();
}

}  // namespace

const FunctionRow explorerViewInit{
    .name = "__init__",
    .qualname = "ExplorerView.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 107,
    .usesSuper = true,
    .body = initBody,
    .inner = {&selectOpenedFileHandler, &copyHandler, &deleteHandler},
};

}  // namespace explorerview::panel
