"""The reference: the explorer panel plug-in written in plain Python.

This is the code a plug-in author would otherwise write, and what every
benchmark case measures the native module against. Each method follows the
native one step by step (the same calls, in the same order, on the same
objects), so that a benchmark running both measures only how they are
executed. Globals are read from this module at each use, as the native module
reads its own.
"""
import os.path as osp
from pathlib import Path
from typing import List  # noqa: F401 (annotations name it, as the module's globals do)

from Kelpa import (MARGIN_LARGE, QAbstractItemView, QAction, QApplication, QClipboard, QDir,
                   QFileSystemModel, QHSpacer, QKeyCombination, QKeySequence, QLabel,
                   QModelIndex, QPluginWidget, QPoint, QPushButton, QRoundMenu, QScrollDelegate,
                   QSortFilterProxyModel, QStacked, QTreeView, QVBox, QVLine, QVSpacer,
                   QViewToolBar, QWidget, Qt)
from Tavro import tavro


def _normalised(pathStr):
    return osp.normcase(osp.normpath(pathStr))


def _below(rootStr):
    """The root's path as _inside compares it, ending in a separator."""
    return osp.join(_normalised(rootStr), "")


def _inside(below, pathStr):
    """Whether the tree shows the row of `pathStr` below the root (`below`,
    None when no root is set: the whole file system is shown)."""
    if below is None:
        return True
    name = _normalised(pathStr)
    if not name.startswith(below):
        return False
    return name != below


class NoFolderOpenedPage(QPluginWidget, QWidget):
    """
    No folder opened
    """

    def __init__(self, parent=None):
        super().__init__(parent)
        self._openFolderButton = QPushButton(
            self.tr("Open Folder"), triggered=lambda: tavro.commands.execute("Nodra.openFolder"))
        self._openFolderButton.setMaximumWidth(300)
        self.setLayout(QVBox(QLabel(self.tr("You have not yet opened a folder."), wordWrap=True),
                             self._openFolderButton, QVSpacer(), margins=MARGIN_LARGE))


class FolderFirstSortModel(QSortFilterProxyModel):

    def __init__(self, fsModel: "QFileSystemModel"):
        super().__init__()
        self.fsModel = fsModel
        self.setSourceModel(fsModel)

    def lessThan(self, left: "QModelIndex", right: "QModelIndex") -> "bool":
        leftIsDir = self.fsModel.isDir(left)
        rightIsDir = self.fsModel.isDir(right)
        if leftIsDir != rightIsDir:
            return leftIsDir
        leftName = self.fsModel.fileName(left).lower()
        rightName = self.fsModel.fileName(right).lower()
        return leftName < rightName


class FileSystemView(QPluginWidget, QTreeView):

    def __init__(self, parent=None):
        super().__init__(parent)
        QScrollDelegate(self)
        self.fsmodel = QFileSystemModel(self)
        self.fsmodel.setReadOnly(False)
        self.fsmodel.setNameFilterDisables(False)
        self.fsmodel.setFilter(QDir.Filter.AllEntries | QDir.Filter.NoSymLinks
                               | QDir.Filter.NoDotAndDotDot | QDir.Filter.Hidden)
        self.sortModel = FolderFirstSortModel(self.fsmodel)
        self.setModel(self.sortModel)
        self.sortByColumn(0, Qt.SortOrder.AscendingOrder)
        self.setSortingEnabled(False)
        for column in range(1, self.fsmodel.columnCount()):
            self.setColumnHidden(column, True)
        self.setHeaderHidden(True)
        self.setAnimated(False)
        self.setSelectionMode(self.SelectionMode.ExtendedSelection)
        self.setDragEnabled(True)
        self.setDragDropMode(QAbstractItemView.DragDropMode.DragDrop)
        self.setEditTriggers(QAbstractItemView.EditTrigger.NoEditTriggers)

    def rootPath(self) -> "Path":
        return Path(self.fsmodel.rootPath())

    def setRootPath(self, path: "Path", expand=False) -> "bool":
        try:
            index = self.fsmodel.setRootPath(str(path))
            rootIndex = self.sortModel.mapFromSource(index)
            self.setRootIndex(rootIndex)
            if expand:
                self.expand(rootIndex)
            return True
        except PermissionError:
            tavro.window.showErrorMessage(
                self.tr("You don't have the right permissions to open this directory."))
            return False
        except FileNotFoundError:
            tavro.window.showErrorMessage(self.tr("Directory not found."))
            return False


class ExplorerView(QPluginWidget, QWidget):

    def __init__(self, parent=None):
        super().__init__(parent)
        self._viewToolBar = QViewToolBar(self)
        self._viewToolBar.setObjectName("explorer-toolbar")
        tavro.window.registerToolBar(self._viewToolBar)
        self._titleLabel = QLabel(self.tr("Explorer"))
        font = self._titleLabel.font()
        font.setBold(True)
        self._titleLabel.setFont(font)
        self._newFileOrFolderAction = QAction(self.tr("New File or Folder"), icon="add",
                                              triggered=self._showNewFileMenu)
        self._newFileMenu = QRoundMenu(self.tr("New"), id="explorer-new-file-menu")
        self._newFileAction = QAction(self.tr("File"), icon="text", triggered=self._newFile)
        self._newFolderAction = QAction(self.tr("Folder"), icon="folder", triggered=self._newFolder)
        self._selectOpenedFileAction = QAction(
            self.tr("Select Opened File"), icon="locate",
            triggered=lambda: tavro.commands.execute("Nodra.selectOpenedFile"))
        self._expandSelectedAction = QAction(
            self.tr("Expand Selected"), icon="expandAll", triggered=self._expandSelected,
            shortcut=QKeySequence(QKeyCombination(Qt.KeyboardModifier.ControlModifier,
                                                  Qt.Key.Key_Plus)))
        self._newFileMenu.addAction(self._newFileAction)
        self._newFileMenu.addAction(self._newFolderAction)
        self._fileSystemView = FileSystemView(self)
        self._collapseAllAction = QAction(
            self.tr("Collapse all"), icon="collapseAll", triggered=self._fileSystemView.collapseAll,
            shortcut=QKeySequence(QKeyCombination(Qt.KeyboardModifier.ControlModifier,
                                                  Qt.Key.Key_Minus)))
        self._fileSystemView.addAction(self._expandSelectedAction)
        self._fileSystemView.addAction(self._collapseAllAction)
        self._fileSystemView.doubleClicked.connect(self._fsItemDoubleClicked)
        self._fileSystemView.setContextMenuPolicy(Qt.ContextMenuPolicy.CustomContextMenu)
        self._fileSystemView.customContextMenuRequested.connect(self._showContextMenu)
        self._fileSystemViewContextMenu = QRoundMenu(id="file-system-view-context-menu")
        self._fileSystemViewContextMenu.addSections(
            ["new", "copy-paste", "delete", "run-debug", "open-in"])
        self._fileSystemViewContextNewFileSubMenu = QRoundMenu(
            self.tr("New"), id="file-system-view-new-file-sub-menu")
        self._fileSystemViewContextNewFileSubMenu.addActions(
            [self._newFileAction, self._newFolderAction])
        self._fileSystemViewContextMenu.addMenu(self._fileSystemViewContextNewFileSubMenu, "new")
        self._copyAction = QAction(
            self.tr("Copy"), icon="copy", shortcut="Ctrl+C",
            triggered=lambda: tavro.commands.execute("Nodra.copyFiles", self.selection()))
        self._copyPathAction = QAction(self.tr("Copy Path"), triggered=self._copyPathOfSelection)
        self._pasteAction = QAction(self.tr("Paste"), icon="paste", shortcut="Ctrl+V",
                                    triggered=self._pasteFiles)
        self._deleteAction = QAction(
            self.tr("Delete"), shortcut="Delete",
            triggered=lambda: tavro.commands.execute("Nodra.deleteFiles", self.selection()))
        self._fileSystemViewContextMenu.addAction(self._copyAction, "copy-paste")
        self._fileSystemViewContextMenu.addAction(self._copyPathAction, "copy-paste")
        self._fileSystemViewContextMenu.addAction(self._pasteAction, "copy-paste")
        self._fileSystemViewContextMenu.addAction(self._deleteAction, "delete")
        self._fileSystemView.addAction(self._copyAction)
        self._fileSystemView.addAction(self._pasteAction)
        self._fileSystemView.addAction(self._deleteAction)
        self._viewToolBar.addItem(self._titleLabel)
        self._viewToolBar.addItem(QHSpacer())
        self._viewToolBar.addItem(self._newFileOrFolderAction)
        self._viewToolBar.addItem(QVLine())
        self._viewToolBar.addItem(self._selectOpenedFileAction)
        self._viewToolBar.addItem(self._expandSelectedAction)
        self._viewToolBar.addItem(self._collapseAllAction)
        self._noFolderOpenedPage = NoFolderOpenedPage()
        self._stacked = QStacked(self._noFolderOpenedPage, self._fileSystemView)
        self.setLayout(QVBox(self._viewToolBar, self._stacked, spacing=0))
        self.setWorkingFolder(None)

    def _showNewFileMenu(self):
        button = self._viewToolBar.widgetForAction(self._newFileOrFolderAction)
        self._newFileMenu.popup(button.mapToGlobal(button.rect().bottomLeft()))

    def setWorkingFolder(self, path: "Path | None"):
        if path is None:
            self._stacked.setCurrentWidget(self._noFolderOpenedPage)
            self._viewToolBar.setEnabled(False)
        else:
            self._stacked.setCurrentWidget(self._fileSystemView)
            opened = self._fileSystemView.setRootPath(path)
            self._viewToolBar.setEnabled(True)
            if not opened:
                return
            # The rows the tree no longer shows below its new root leave the
            # selection, and so does the current row when it is one of them.
            view = self._fileSystemView
            sel = view.selectionModel()
            if sel is None:
                return
            rootIdx = view.rootIndex()
            below = None
            if rootIdx.isValid():
                below = _below(view.fsmodel.filePath(view.sortModel.mapToSource(rootIdx)))
            for idx in sel.selectedRows():
                if idx.isValid():
                    if not _inside(below, view.fsmodel.filePath(view.sortModel.mapToSource(idx))):
                        sel.select(idx, sel.SelectionFlag(sel.SelectionFlag.Deselect.value
                                                          | sel.SelectionFlag.Rows.value))
            current = sel.currentIndex()
            if current.isValid():
                if not _inside(below, view.fsmodel.filePath(view.sortModel.mapToSource(current))):
                    sel.clearCurrentIndex()

    def workingFolder(self) -> "Path | None":
        if self._stacked.currentWidget() == self._noFolderOpenedPage:
            return None
        return self._fileSystemView.rootPath()

    def select(self, paths: "List[Path]"):
        # The native method takes exactly a list; so does its reference.
        if type(paths) is not list:
            raise TypeError("Argument 'paths' has incorrect type (expected list, got %s)"
                            % type(paths).__name__)
        view = self._fileSystemView
        sel = view.selectionModel()
        model = view.sortModel
        fsModel = view.fsmodel
        # Only rows the tree shows below its root are selected.
        rootIdx = view.rootIndex()
        below = None
        if rootIdx.isValid():
            below = _below(fsModel.filePath(model.mapToSource(rootIdx)))
        sel.clear()
        first = None
        for p in paths:
            idx = model.mapFromSource(fsModel.index(str(p)))
            if not idx or not idx.isValid():
                continue
            if not _inside(below, fsModel.filePath(model.mapToSource(idx))):
                continue
            view.expand(model.parent(idx))
            sel.select(idx, sel.SelectionFlag(sel.SelectionFlag.Select.value
                                              | sel.SelectionFlag.Rows.value))
            if first is None:
                first = p
        if first is not None:
            firstIdx = model.mapFromSource(fsModel.index(str(first)))
            if firstIdx.isValid() and _inside(below, fsModel.filePath(model.mapToSource(firstIdx))):
                sel.setCurrentIndex(firstIdx, sel.SelectionFlag.NoUpdate)
        if paths:
            lastIdx = model.mapFromSource(fsModel.index(str(paths[-1])))
            if lastIdx.isValid() and _inside(below, fsModel.filePath(model.mapToSource(lastIdx))):
                view.scrollTo(lastIdx)

    def selection(self) -> "List[Path]":
        view = self._fileSystemView
        sel = view.selectionModel()
        if sel is None:
            return []
        indexes = sel.selectedRows()
        result = []
        for idx in indexes:
            if idx.isValid():
                pathStr = view.fsmodel.filePath(view.sortModel.mapToSource(idx))
                result.append(Path(pathStr))
        return result

    def _expandSelected(self):
        view = self._fileSystemView
        sel = view.currentIndex()
        idx = view.model().index(sel.row(), 0, parent=sel.parent())
        if idx.isValid():
            view.expandRecursively(idx)

    def _fsItemDoubleClicked(self, index: "QModelIndex"):
        path = Path(self._fileSystemView.fsmodel.filePath(
            self._fileSystemView.model().mapToSource(index)))
        if path.is_file():
            tavro.commands.execute("Nodra.openFile", path)

    def _showContextMenu(self, pos: "QPoint"):
        pos = self._fileSystemView.viewport().mapToGlobal(pos)
        self._fileSystemViewContextMenu.show(pos)

    def _commonFolderInSelection(self) -> "Path":
        files = self.selection()
        if not files:
            folder = self.workingFolder()
        else:
            commonPath = Path(osp.commonpath(files))
            folder = commonPath if commonPath.is_dir() else tavro.workspace.workingFolder()
        return folder

    def _pasteFiles(self):
        folder = self._commonFolderInSelection()

        def doPaste(folderStr, ok):
            if not ok:
                return
            if not Path(folderStr).is_dir():
                tavro.window.showErrorMessage(self.tr("Folder is not valid."))
                return
            tavro.commands.execute("Nodra.pasteFiles", Path(folderStr))

        tavro.window.showTextInputBox(self.tr("Copy to"), str(folder.absolute()), then=doPaste)

    def _copyPathOfSelection(self):
        if len(self.selection()) == 0:
            return
        pathStr = str(self.selection()[0].absolute())
        QApplication.clipboard().setText(pathStr, mode=QClipboard.Mode.Clipboard)

    def _newFile(self):
        def doCreateFile(name, ok: "bool"):
            if not ok:
                return
            folder = self._commonFolderInSelection()
            tavro.commands.execute("Nodra.newFile", folder / name)

        tavro.window.showTextInputBox(self.tr("File name"), "", then=doCreateFile)

    def _newFolder(self):
        def doCreateFolder(name, ok: "bool"):
            if not ok:
                return
            folder = self._commonFolderInSelection()
            tavro.commands.execute("Nodra.newFolder", folder / name)

        tavro.window.showTextInputBox(self.tr("Folder name"), "", then=doCreateFolder)
