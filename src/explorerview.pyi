"""Tavro_Workspace.explorerview: the workspace plug-in's file explorer panel.

The classes are native; this stub gives editors and type checkers their
signatures, every one annotated in full, and says what the panel's four
public methods do, where an editor's help shows it. A parameter takes what
the method accepts: a path is a `Path` or anything whose `str()` is a path,
written `str | os.PathLike[str]`. What the methods return stays as the
functions' own annotations say (`Path`, `list[Path]`).
"""
import os
from pathlib import Path
from typing import overload

from Kelpa import (
    QFileSystemModel,
    QModelIndex,
    QPluginWidget,
    QPoint,
    QSortFilterProxyModel,
    QTreeView,
    QWidget,
)

# Set at import, as in a module compiled from Python: doctest's table, empty.
__test__: dict[str, object]

class NoFolderOpenedPage(QPluginWidget, QWidget):
    """
    No folder opened
    """

    def __init__(self, parent: QWidget | None = None) -> None: ...

class FolderFirstSortModel(QSortFilterProxyModel):
    fsModel: QFileSystemModel

    def __init__(self, fsModel: QFileSystemModel) -> None: ...
    def lessThan(self, left: QModelIndex, right: QModelIndex) -> bool: ...

class FileSystemView(QPluginWidget, QTreeView):
    fsmodel: QFileSystemModel
    sortModel: FolderFirstSortModel

    def __init__(self, parent: QWidget | None = None) -> None: ...
    def rootPath(self) -> Path: ...
    def setRootPath(self, path: str | os.PathLike[str], expand: bool = False) -> bool: ...

class ExplorerView(QPluginWidget, QWidget):
    def __init__(self, parent: QWidget | None = None) -> None: ...
    def _showNewFileMenu(self) -> None: ...
    def setWorkingFolder(self, path: str | os.PathLike[str] | None) -> None:
        """Show the folder `path` in the tree, or for None the "Open Folder" page.

        A folder brings up the tree page and enables the toolbar. When the
        toolkit's file system model refuses the folder (PermissionError or
        FileNotFoundError: not readable, missing, or not a folder), a message
        box tells the user so and the tree is left showing what it showed.
        The rows the tree then does not show leave the selection (those
        outside the folder, and the folder itself), and so does the current
        row when it is one of them; rows inside the folder stay selected, so
        opening the same folder again or a parent of it keeps the selection.
        None shows the placeholder page and disables the toolbar; the tree
        keeps its folder and its selection. Returns None.
        """
    def workingFolder(self) -> Path | None:
        """The folder the tree shows, as a `Path`; None while the "Open Folder" page is shown.

        After a folder that could not be opened it is still the folder shown
        before.
        """
    # A list is invariant: a host's list[Path] or list[str] is not a
    # list[str | os.PathLike[str]], so each kind of list a host builds has its
    # own signature. Not one signature over a type variable, whose name
    # editors would show as the parameter's type; not one over a union of
    # lists, against which mypy cannot type an empty list. The docstring sits
    # on the last signature, the one editors read it from.
    @overload
    def select(self, paths: list[str]) -> None: ...
    @overload
    def select(self, paths: list[Path]) -> None: ...
    @overload
    def select(self, paths: list[str | Path]) -> None: ...
    @overload
    def select(self, paths: list[str | os.PathLike[str]]) -> None:
        """Make the rows of `paths` the tree's selection, in place of the old one.

        `paths` must be a `list` (not a tuple or a subclass): anything else
        raises TypeError and leaves the selection as it was. A path the
        tree's file system model cannot find is skipped without a message,
        and so is one the tree does not show: outside the working folder, or
        the folder itself (before any folder was set, the model's finding it
        is enough). The folder holding each selected row is expanded, the
        first row selected becomes the current row, and the tree scrolls to
        the last path of the list when that one is shown. An empty list
        clears the selection and the current row. Returns None.
        """
    def selection(self) -> list[Path]:
        """The paths of the selected rows, as a new list of `Path`.

        In the order of the tree's selection model (neither sorted nor
        de-duplicated); empty when nothing is selected. Opening a folder
        lets go of the rows outside it (see setWorkingFolder).
        """
    def _expandSelected(self) -> None: ...
    def _fsItemDoubleClicked(self, index: QModelIndex) -> None: ...
    def _showContextMenu(self, pos: QPoint) -> None: ...
    def _commonFolderInSelection(self) -> Path | None: ...
    def _pasteFiles(self) -> None:
        """
        Paste files
        """
    def _copyPathOfSelection(self) -> None: ...
    def _newFile(self) -> None: ...
    def _newFolder(self) -> None: ...
