// ExplorerView construction: toolbar, actions, menus, the tree, the placeholder
// page and the page stack, ending in the no-folder state.
//
// The steps run in a fixed order and each reads what an earlier one stored on
// the panel, the way the host's own plug-ins are written: children live in
// private attributes, actions are shared between toolbar, menus and tree, and
// every text goes through the panel's tr so that installed translations apply.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

// Module globals, read at each use.
const Name tavro{"tavro"}, QViewToolBar{"QViewToolBar"}, QLabel{"QLabel"}, QAction{"QAction"};
const Name QRoundMenu{"QRoundMenu"}, QKeySequence{"QKeySequence"}, QKeyCombination{"QKeyCombination"};
const Name Qt{"Qt"}, FileSystemView{"FileSystemView"}, QHSpacer{"QHSpacer"}, QVLine{"QVLine"};
const Name NoFolderOpenedPage{"NoFolderOpenedPage"}, QStacked{"QStacked"}, QVBox{"QVBox"};

// The panel's attributes.
const Name viewToolBar{"_viewToolBar"}, titleLabel{"_titleLabel"};
const Name newFileOrFolderAction{"_newFileOrFolderAction"}, newFileMenu{"_newFileMenu"};
const Name newFileAction{"_newFileAction"}, newFolderAction{"_newFolderAction"};
const Name selectOpenedFileAction{"_selectOpenedFileAction"}, expandSelectedAction{"_expandSelectedAction"};
const Name fileSystemView{"_fileSystemView"}, collapseAllAction{"_collapseAllAction"};
const Name contextMenu{"_fileSystemViewContextMenu"};
const Name contextNewFileSubMenu{"_fileSystemViewContextNewFileSubMenu"};
const Name copyAction{"_copyAction"}, copyPathAction{"_copyPathAction"};
const Name pasteAction{"_pasteAction"}, deleteAction{"_deleteAction"};
const Name noFolderOpenedPage{"_noFolderOpenedPage"}, stacked{"_stacked"};

// Methods of the panel handed to the toolkit as bound methods.
const Name showNewFileMenuName{"_showNewFileMenu"}, newFileName{"_newFile"}, newFolderName{"_newFolder"};
const Name expandSelectedName{"_expandSelected"}, fsItemDoubleClickedName{"_fsItemDoubleClicked"};
const Name showContextMenuName{"_showContextMenu"}, copyPathOfSelectionName{"_copyPathOfSelection"};
const Name pasteFilesName{"_pasteFiles"}, selectionName{"selection"};
const Name setWorkingFolderName{"setWorkingFolder"};

// Toolkit and services calls, keywords and enumeration members.
const Name init{"__init__"}, tr{"tr"}, setObjectName{"setObjectName"}, window{"window"};
const Name registerToolBar{"registerToolBar"}, font{"font"}, setBold{"setBold"}, setFont{"setFont"};
const Name addAction{"addAction"}, addActions{"addActions"}, addSections{"addSections"};
const Name addMenu{"addMenu"}, addItem{"addItem"}, setLayout{"setLayout"}, collapseAll{"collapseAll"};
const Name doubleClicked{"doubleClicked"}, customContextMenuRequested{"customContextMenuRequested"};
const Name connect{"connect"}, setContextMenuPolicy{"setContextMenuPolicy"};
const Name commands{"commands"}, execute{"execute"};
const Name icon{"icon"}, triggered{"triggered"}, shortcut{"shortcut"}, id{"id"}, spacing{"spacing"};
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

py::object selectOpenedFileBody(Frame&) {
    return callMethod(global(tavro).attr(commands), execute, selectOpenedFileCommand);
}

// Copy and Delete read the selection when they fire, not when they were made;
// the commands object is fetched before the selection is read.
py::object runOnSelection(Frame& f, const Name& command) {
    py::object commandsObject = global(tavro).attr(commands);
    py::object paths = callMethod(f.captured(), selectionName);
    return callMethod(commandsObject, execute, command, paths);
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

py::object translated(py::handle self, const Name& text) { return callMethod(self, tr, text); }

// QKeySequence(QKeyCombination(Qt.KeyboardModifier.ControlModifier, Qt.Key.<key>)):
// Ctrl with a key given by its key code; as text, "Ctrl++" would have to use the
// separator itself as the key.
py::object controlWith(const Name& key) {
    py::object keySequence = global(QKeySequence);
    py::object keyCombination = global(QKeyCombination);
    py::object control = global(Qt).attr(KeyboardModifier).attr(ControlModifier);
    py::object keyCode = global(Qt).attr(Key).attr(key);
    return call(keySequence, call(keyCombination, control, keyCode));
}

// QRoundMenu(title, id=...) or, without a title, QRoundMenu(id=...).
py::object roundMenu(py::handle self, const Name* title, const Name& menuId) {
    py::object menuType = global(QRoundMenu);
    if (!title) return call(menuType, kw(id, menuId));
    py::object text = translated(self, *title);
    return call(menuType, text, kw(id, menuId));
}

py::object initBody(Frame& f) {
    py::handle self = f.self();
    // The cell of the Copy and Delete handlers, shared by both as a Python
    // closure would share it; the collector sees it through the handlers.
    py::object panelCell = captureOne(self);

    // 1. The bases, through super().
    callMethod(f.super(), init, f.arg(1));

    // 2-3. The toolbar, registered with the host window while still empty.
    {
        py::object toolBarType = global(QViewToolBar);
        self.attr(viewToolBar) = call(toolBarType, self);
        callMethod(self.attr(viewToolBar), setObjectName, explorerToolbar);
        py::object hostWindow = global(tavro).attr(window);
        callMethod(hostWindow, registerToolBar, self.attr(viewToolBar));
    }

    // 4. The bold title.
    {
        py::object labelType = global(QLabel);
        py::object text = translated(self, explorerText);
        self.attr(titleLabel) = call(labelType, text);
        py::object titleFont = callMethod(self.attr(titleLabel), font);
        callMethod(titleFont, setBold, Py_True);
        callMethod(self.attr(titleLabel), setFont, titleFont);
    }

    // 5. The toolbar button that opens the "New" menu.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, newFileOrFolderText);
        py::object handler = self.attr(showNewFileMenuName);
        self.attr(newFileOrFolderAction) = call(actionType, text, kw(icon, addIcon), kw(triggered, handler));
    }

    // 6. The "New" menu of that button.
    self.attr(newFileMenu) = roundMenu(self, &newText, explorerNewFileMenu);

    // 7-8. New file, new folder.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, fileText);
        py::object handler = self.attr(newFileName);
        self.attr(newFileAction) = call(actionType, text, kw(icon, textIcon), kw(triggered, handler));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, folderText);
        py::object handler = self.attr(newFolderName);
        self.attr(newFolderAction) = call(actionType, text, kw(icon, folderIcon), kw(triggered, handler));
    }

    // 9. Select Opened File: its handler captures nothing.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, selectOpenedFileText);
        py::object handler = makeFunction(selectOpenedFileHandler, py::none());
        self.attr(selectOpenedFileAction) = call(actionType, text, kw(icon, locateIcon), kw(triggered, handler));
    }

    // 10. Expand Selected, Ctrl with the plus key.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, expandSelectedText);
        py::object handler = self.attr(expandSelectedName);
        py::object keys = controlWith(Key_Plus);
        self.attr(expandSelectedAction) =
            call(actionType, text, kw(icon, expandAllIcon), kw(triggered, handler), kw(shortcut, keys));
    }

    // 11. Fill the "New" menu, without sections.
    callMethod(self.attr(newFileMenu), addAction, self.attr(newFileAction));
    callMethod(self.attr(newFileMenu), addAction, self.attr(newFolderAction));

    // 12. The tree, a child of the panel.
    {
        py::object viewType = global(FileSystemView);
        self.attr(fileSystemView) = call(viewType, self);
    }

    // 13. Collapse all: the tree's own slot, Ctrl with the minus key.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, collapseAllText);
        py::object handler = self.attr(fileSystemView).attr(collapseAll);
        py::object keys = controlWith(Key_Minus);
        self.attr(collapseAllAction) =
            call(actionType, text, kw(icon, collapseAllIcon), kw(triggered, handler), kw(shortcut, keys));
    }

    // 14. The tree carries the two actions so that their shortcuts act on it.
    callMethod(self.attr(fileSystemView), addAction, self.attr(expandSelectedAction));
    callMethod(self.attr(fileSystemView), addAction, self.attr(collapseAllAction));

    // 15. The tree's double click and its context menu request.
    {
        py::object signal = self.attr(fileSystemView).attr(doubleClicked);
        callMethod(signal, connect, self.attr(fsItemDoubleClickedName));
        py::object tree = self.attr(fileSystemView);
        py::object policy = global(Qt).attr(ContextMenuPolicy).attr(CustomContextMenu);
        callMethod(tree, setContextMenuPolicy, policy);
        signal = self.attr(fileSystemView).attr(customContextMenuRequested);
        callMethod(signal, connect, self.attr(showContextMenuName));
    }

    // 16. The context menu, untitled, in five named sections.
    self.attr(contextMenu) = roundMenu(self, nullptr, contextMenuId);
    {
        py::list sections;
        for (const Name* name : {&sectionNew, &sectionCopyPaste, &sectionDelete, &sectionRunDebug, &sectionOpenIn})
            sections.append(name->get());
        callMethod(self.attr(contextMenu), addSections, sections);
    }

    // 17. Its "New" sub-menu, holding the same two actions as the toolbar's menu.
    self.attr(contextNewFileSubMenu) = roundMenu(self, &newText, contextSubMenuId);
    {
        py::list actions;
        actions.append(self.attr(newFileAction));
        actions.append(self.attr(newFolderAction));
        callMethod(self.attr(contextNewFileSubMenu), addActions, actions);
        callMethod(self.attr(contextMenu), addMenu, self.attr(contextNewFileSubMenu), sectionNew);
    }

    // 18-21. Copy, Copy Path, Paste, Delete.
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, copyText);
        py::object handler = makeFunction(copyHandler, panelCell);
        self.attr(copyAction) =
            call(actionType, text, kw(icon, copyIcon), kw(shortcut, ctrlC), kw(triggered, handler));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, copyPathText);
        py::object handler = self.attr(copyPathOfSelectionName);
        self.attr(copyPathAction) = call(actionType, text, kw(triggered, handler));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, pasteText);
        py::object handler = self.attr(pasteFilesName);
        self.attr(pasteAction) =
            call(actionType, text, kw(icon, pasteIcon), kw(shortcut, ctrlV), kw(triggered, handler));
    }
    {
        py::object actionType = global(QAction);
        py::object text = translated(self, deleteText);
        py::object handler = makeFunction(deleteHandler, panelCell);
        self.attr(deleteAction) = call(actionType, text, kw(shortcut, deleteKey), kw(triggered, handler));
    }

    // 22. The context menu's entries, then the tree's shortcuts for them.
    callMethod(self.attr(contextMenu), addAction, self.attr(copyAction), sectionCopyPaste);
    callMethod(self.attr(contextMenu), addAction, self.attr(copyPathAction), sectionCopyPaste);
    callMethod(self.attr(contextMenu), addAction, self.attr(pasteAction), sectionCopyPaste);
    callMethod(self.attr(contextMenu), addAction, self.attr(deleteAction), sectionDelete);
    callMethod(self.attr(fileSystemView), addAction, self.attr(copyAction));
    callMethod(self.attr(fileSystemView), addAction, self.attr(pasteAction));
    callMethod(self.attr(fileSystemView), addAction, self.attr(deleteAction));

    // 23. The toolbar, left to right.
    callMethod(self.attr(viewToolBar), addItem, self.attr(titleLabel));
    callMethod(self.attr(viewToolBar), addItem, call(global(QHSpacer)));
    callMethod(self.attr(viewToolBar), addItem, self.attr(newFileOrFolderAction));
    callMethod(self.attr(viewToolBar), addItem, call(global(QVLine)));
    callMethod(self.attr(viewToolBar), addItem, self.attr(selectOpenedFileAction));
    callMethod(self.attr(viewToolBar), addItem, self.attr(expandSelectedAction));
    callMethod(self.attr(viewToolBar), addItem, self.attr(collapseAllAction));

    // 24-25. The placeholder page and the stack: page 0 placeholder, page 1 tree.
    {
        py::object pageType = global(NoFolderOpenedPage);
        self.attr(noFolderOpenedPage) = call(pageType);
        py::object stackedType = global(QStacked);
        self.attr(stacked) = call(stackedType, self.attr(noFolderOpenedPage), self.attr(fileSystemView));
    }

    // 26. Toolbar above the stack, no gap between them.
    {
        py::object boxType = global(QVBox);
        py::object layout =
            call(boxType, self.attr(viewToolBar), self.attr(stacked), kw(spacing, py::int_(0)));
        callMethod(self, setLayout, layout);
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
