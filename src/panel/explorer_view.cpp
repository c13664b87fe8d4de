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

Object selectOpenedFileBody(Frame&) { return hostExecute()(selectOpenedFileCommand); }

// Copy and Delete read the selection when they fire, not when they were made;
// tavro.commands.execute is read before the selection.
Object runOnSelection(Frame& f, const Name& command) {
    BoundMethod execute = hostExecute();
    Object paths = callMethod(f.captured(), names::selection);
    return execute(command, paths);
}

Object copyBody(Frame& f) { return runOnSelection(f, copyFilesCommand); }
Object deleteBody(Frame& f) { return runOnSelection(f, deleteFilesCommand); }

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

// ---- The actions, one row each ------------------------------------------------

// What an action's `triggered` runs: a method of the panel or of its tree,
// read when the action is made, or a handler made from its row then.
struct Handler {
    const Name* method = nullptr;       // self.<method>, or self.<part>.<method>
    const Name* part = nullptr;
    const FunctionRow* made = nullptr;  // instead of a method
    bool capturesPanel = false;         // the made handler holds the panel (else nothing)
};
constexpr Handler panelMethod(const Name& method) { return {&method}; }
constexpr Handler treeMethod(const Name& method) { return {&method, &names::fileSystemView}; }
constexpr Handler made(const FunctionRow& row, bool capturesPanel) {
    return {nullptr, nullptr, &row, capturesPanel};
}

// A shortcut is a text ("Ctrl+C"), or Ctrl with a key code: "Ctrl++" as text
// would have to use the separator itself as the key.
struct Shortcut {
    const Name* text = nullptr;
    const Name* controlKey = nullptr;  // Qt.Key.<controlKey>
};
constexpr Shortcut noShortcut{};
constexpr Shortcut typed(const Name& text) { return {&text}; }
constexpr Shortcut ctrl(const Name& key) { return {nullptr, &key}; }

// Where an action is placed besides its attribute; one action object may sit
// in several places, and a click in any of them or its shortcut runs it.
enum Place : unsigned {
    toolbar = 1,      // the toolbar, after the title and spacer
    newMenus = 2,     // the toolbar's "New" menu and the context menu's "New" sub-menu
    contextMenu = 4,  // the context menu, in the row's section
    tree = 8,         // the tree, so that the shortcut acts on it
};

struct ActionRow {
    const Name& attribute;
    const Name& text;  // translated when the action is made
    const Name* icon;  // an icon name, or none
    Shortcut shortcut;
    Handler handler;
    unsigned places;
    const Name* section = nullptr;  // the context menu's section
};

// The actions, complete: attribute, text, icon, shortcut, what `triggered`
// runs, where the action is placed.
const ActionRow newFileOrFolderRow{names::newFileOrFolderAction, newFileOrFolderText, &addIcon, noShortcut,
                                   panelMethod(showNewFileMenuName), toolbar};
const ActionRow newFileRow{newFileAction, fileText, &textIcon, noShortcut, panelMethod(newFileName), newMenus};
const ActionRow newFolderRow{newFolderAction, folderText, &folderIcon, noShortcut, panelMethod(newFolderName),
                             newMenus};
const ActionRow selectOpenedFileRow{selectOpenedFileAction, selectOpenedFileText, &locateIcon, noShortcut,
                                    made(selectOpenedFileHandler, false), toolbar};
const ActionRow expandSelectedRow{expandSelectedAction, expandSelectedText, &expandAllIcon, ctrl(Key_Plus),
                                  panelMethod(expandSelectedName), tree | toolbar};
const ActionRow collapseAllRow{collapseAllAction, collapseAllText, &collapseAllIcon, ctrl(Key_Minus),
                               treeMethod(collapseAll), tree | toolbar};
const ActionRow copyRow{copyAction, copyText, &copyIcon, typed(ctrlC), made(copyHandler, true),
                        contextMenu | tree, &sectionCopyPaste};
const ActionRow copyPathRow{copyPathAction, copyPathText, nullptr, noShortcut,
                            panelMethod(copyPathOfSelectionName), contextMenu, &sectionCopyPaste};
const ActionRow pasteRow{pasteAction, pasteText, &pasteIcon, typed(ctrlV), panelMethod(pasteFilesName),
                         contextMenu | tree, &sectionCopyPaste};
const ActionRow deleteRow{deleteAction, deleteText, nullptr, typed(deleteKey), made(deleteHandler, true),
                          contextMenu | tree, &sectionDelete};

// The table, in the order the constructor makes the actions; each place
// receives its actions in this order.
const ActionRow* const actionRows[] = {
    &newFileOrFolderRow, &newFileRow, &newFolderRow, &selectOpenedFileRow, &expandSelectedRow,
    &collapseAllRow,     &copyRow,    &copyPathRow,  &pasteRow,            &deleteRow,
};

// The rows placed in every one of `places`, in table order.
template <class Use>
void forEachIn(unsigned places, Use use) {
    for (const ActionRow* row : actionRows)
        if ((row->places & places) == places) use(*row);
}

// ---- Construction helpers ---------------------------------------------------

Object translated(py::handle self, const Name& text) { return callMethod(self, names::tr, text); }

// QKeySequence(QKeyCombination(Qt.KeyboardModifier.ControlModifier, Qt.Key.<key>)).
Object controlWith(const Name& key) {
    Object keySequence = global(QKeySequence);
    Object keyCombination = global(QKeyCombination);
    Object control = getAttr(global(names::Qt), KeyboardModifier, ControlModifier);
    Object keyCode = getAttr(global(names::Qt), Key, key);
    return call(keySequence, call(keyCombination, control, keyCode));
}

Object handlerFor(py::handle self, py::handle panelCell, const Handler& handler) {
    if (handler.made) return makeFunction(*handler.made, handler.capturesPanel ? panelCell : none());
    if (handler.part) return getAttr(self, *handler.part, *handler.method);
    return getAttr(self, *handler.method);
}

py::handle nameOrNull(const Name* name) { return name ? name->get() : py::handle(); }

// self.<attribute> = QAction(self.tr(text), icon=..., shortcut=..., triggered=...):
// the handler is read before a key sequence is made, and the keywords come in
// the order the panel's Python writes them: a text shortcut before
// `triggered`, a key sequence after it.
void makeAction(py::handle self, py::handle panelCell, const ActionRow& row) {
    Object actionType = global(QAction);
    Object text = translated(self, row.text);
    Object handler = handlerFor(self, panelCell, row.handler);
    Object keys = row.shortcut.controlKey ? controlWith(*row.shortcut.controlKey) : Object();
    setAttr(self, row.attribute,
            callWithOptional(actionType, text,
                             {kw(icon, nameOrNull(row.icon)), kw(shortcut, nameOrNull(row.shortcut.text)),
                              kw(names::triggered, handler), kw(shortcut, keys)}));
}

// QRoundMenu(title, id=...) or, without a title, QRoundMenu(id=...).
Object roundMenu(py::handle self, const Name* title, const Name& menuId) {
    Object menuType = global(QRoundMenu);
    if (!title) return call(menuType, kw(id, menuId));
    Object text = translated(self, *title);
    return call(menuType, text, kw(id, menuId));
}

// self.<part>.<method>(self.<item>, extra...): the part and its method are
// read before the item, as Python reads them; each call reads all afresh.
template <class... Extra>
void callOnPart(py::handle self, const Name& part, const Name& method, const Name& item, const Extra&... extra) {
    Object receiver = getAttr(self, part);
    methodOf(receiver, method)(getAttr(self, item), extra...);
}

// self.<part>.<method>(<type>()): an item made on the spot and held by the part.
void addNew(py::handle self, const Name& part, const Name& method, const Name& type) {
    Object receiver = getAttr(self, part);
    methodOf(receiver, method)(call(global(type)));
}

Object initBody(Frame& f) {
    py::handle self = f.self();
    // The cell of the Copy and Delete handlers, shared by both as a Python
    // closure would share it; the collector sees it through the handlers.
    Object panelCell = captureOne(self);

    // 1. The bases, through super().
    callMethod(f.super(), names::init, f.arg(1));

    // 2-3. The toolbar, registered with the host window while still empty.
    {
        Object toolBarType = global(QViewToolBar);
        setAttr(self, names::viewToolBar, call(toolBarType, self));
        callMethod(getAttr(self, names::viewToolBar), setObjectName, explorerToolbar);
        Object window = hostWindow();
        methodOf(window, registerToolBar)(getAttr(self, names::viewToolBar));
    }

    // 4. The bold title.
    {
        Object labelType = global(names::QLabel);
        Object text = translated(self, explorerText);
        setAttr(self, titleLabel, call(labelType, text));
        Object titleFont = callMethod(getAttr(self, titleLabel), font);
        callMethod(titleFont, setBold, Py_True);
        callMethod(getAttr(self, titleLabel), setFont, titleFont);
    }

    // 5-6. The toolbar button that opens the "New" menu, and that menu.
    makeAction(self, panelCell, newFileOrFolderRow);
    setAttr(self, names::newFileMenu, roundMenu(self, &newText, explorerNewFileMenu));

    // 7-10. New file, new folder, Select Opened File, Expand Selected.
    for (const ActionRow* row : {&newFileRow, &newFolderRow, &selectOpenedFileRow, &expandSelectedRow})
        makeAction(self, panelCell, *row);

    // 11. Fill the "New" menu, without sections.
    forEachIn(newMenus,
              [&](const ActionRow& row) { callOnPart(self, names::newFileMenu, addAction, row.attribute); });

    // 12-13. The tree, a child of the panel; Collapse all is its own slot.
    {
        Object viewType = global(FileSystemView);
        setAttr(self, names::fileSystemView, call(viewType, self));
    }
    makeAction(self, panelCell, collapseAllRow);

    // 14. The tree carries the toolbar's two tree actions so that their shortcuts act on it.
    forEachIn(toolbar | tree,
              [&](const ActionRow& row) { callOnPart(self, names::fileSystemView, addAction, row.attribute); });

    // 15. The tree's double click and its context menu request.
    {
        Object signal = getAttr(self, names::fileSystemView, doubleClicked);
        methodOf(signal, connect)(getAttr(self, fsItemDoubleClickedName));
        methodOf(getAttr(self, names::fileSystemView), setContextMenuPolicy)(
            getAttr(global(names::Qt), ContextMenuPolicy, CustomContextMenu));
        signal = getAttr(self, names::fileSystemView, customContextMenuRequested);
        methodOf(signal, connect)(getAttr(self, showContextMenuName));
    }

    // 16. The context menu, untitled, in five named sections.
    setAttr(self, names::contextMenu, roundMenu(self, nullptr, contextMenuId));
    {
        Object sections = newList();
        for (const Name* name : {&sectionNew, &sectionCopyPaste, &sectionDelete, &sectionRunDebug, &sectionOpenIn})
            append(sections, *name);
        callMethod(getAttr(self, names::contextMenu), addSections, sections);
    }

    // 17. Its "New" sub-menu, holding the same two actions as the toolbar's menu.
    setAttr(self, contextNewFileSubMenu, roundMenu(self, &newText, contextSubMenuId));
    {
        BoundMethod addActionsToSubMenu = methodOf(getAttr(self, contextNewFileSubMenu), addActions);
        Object actions = newList();
        forEachIn(newMenus, [&](const ActionRow& row) { append(actions, getAttr(self, row.attribute)); });
        addActionsToSubMenu(actions);
        callOnPart(self, names::contextMenu, addMenu, contextNewFileSubMenu, sectionNew);
    }

    // 18-21. Copy, Copy Path, Paste, Delete.
    forEachIn(contextMenu, [&](const ActionRow& row) { makeAction(self, panelCell, row); });

    // 22. The context menu's entries, then the tree's shortcuts for them.
    forEachIn(contextMenu, [&](const ActionRow& row) {
        callOnPart(self, names::contextMenu, addAction, row.attribute, *row.section);
    });
    forEachIn(contextMenu | tree,
              [&](const ActionRow& row) { callOnPart(self, names::fileSystemView, addAction, row.attribute); });

    // 23. The toolbar, left to right: the title, a spacer, its actions, with a
    // line between the "New" button and the rest.
    callOnPart(self, names::viewToolBar, addItem, titleLabel);
    addNew(self, names::viewToolBar, addItem, QHSpacer);
    forEachIn(toolbar, [&](const ActionRow& row) {
        callOnPart(self, names::viewToolBar, addItem, row.attribute);
        if (&row == &newFileOrFolderRow) addNew(self, names::viewToolBar, addItem, QVLine);
    });

    // 24-25. The placeholder page and the stack: page 0 placeholder, page 1 tree.
    {
        Object pageType = global(NoFolderOpenedPage);
        setAttr(self, names::noFolderOpenedPage, call(pageType));
        Object stackedType = global(QStacked);
        Object placeholder = getAttr(self, names::noFolderOpenedPage);
        setAttr(self, names::stacked, call(stackedType, placeholder, getAttr(self, names::fileSystemView)));
    }

    // 26. Toolbar above the stack, no gap between them.
    {
        BoundMethod setLayout = methodOf(self, names::setLayout);
        Object boxType = global(names::QVBox);
        Object toolBar = getAttr(self, names::viewToolBar);
        setLayout(call(boxType, toolBar, getAttr(self, names::stacked), kw(spacing, integer(0))));
    }

    // 27. Start with no folder open.
    callMethod(self, setWorkingFolderName, none());
    return none();
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
