"""Tavro_Workspace.explorerview: the workspace plug-in's file explorer panel.

The classes are native; this stub gives editors and type checkers their
signatures, every one annotated in full. A parameter takes what the method
accepts: a path is a `Path` or anything whose `str()` is a path, written
`str | os.PathLike[str]`. What the methods return stays as the functions'
own annotations say (`Path`, `list[Path]`).
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
    def setWorkingFolder(self, path: str | os.PathLike[str] | None) -> None: ...
    def workingFolder(self) -> Path | None: ...
    # A list is invariant: a host's list[Path] or list[str] is not a
    # list[str | os.PathLike[str]], so each kind of list a host builds has its
    # own signature. Not one signature over a type variable, whose name
    # editors would show as the parameter's type; not one over a union of
    # lists, against which mypy cannot type an empty list.
    @overload
    def select(self, paths: list[str]) -> None: ...
    @overload
    def select(self, paths: list[Path]) -> None: ...
    @overload
    def select(self, paths: list[str | Path]) -> None: ...
    @overload
    def select(self, paths: list[str | os.PathLike[str]]) -> None: ...
    def selection(self) -> list[Path]: ...
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
