"""QFileSystemModel that reports a root it cannot show as an exception, and
hands dropped files to the host.

Qt's own model accepts any root path silently and shows an empty tree; the
host's model checks the folder first, so a panel can tell the user why.

Qt's own drop copies each file with QFile::copy, silently, and does nothing
at all when the name is taken. Here a drop is a copy or a move, as the drag
says (the tree drags with Move unless Ctrl asks for Copy), and the host's drop
handler does it (asking, never overwriting, saying what happened); with no
handler set, the model takes no drops. A drag that ends where it began (onto
the folder the items already live in, or a folder onto itself) is a slip of
the hand, not a request: those items are left out.
"""
import errno
import inspect
import os
import weakref

from PyQt6 import QtGui
from PyQt6.QtCore import Qt, QTimer

from .fileicons import NameOnlyIconProvider


_icon_provider = None


def _shared_icon_provider():
    """One provider for the process, never freed.

    The model does not own its provider, and its background gatherer may still
    ask it for an icon while the model's Python side is being torn down; a
    provider that lives as long as the process can't be freed under it.
    """
    global _icon_provider
    if _icon_provider is None:
        _icon_provider = NameOnlyIconProvider()
    return _icon_provider


_drop_handler = lambda: None   # gives the live drop handler, or None
_TAKEN = Qt.DropAction.CopyAction | Qt.DropAction.MoveAction


def _away_from(paths, folder):
    """The paths that neither live in `folder` nor are it. Each distinct parent
    is resolved once: the check runs at every move of a drag."""
    here, same = os.path.normpath(folder), os.path.realpath(folder)
    resolved = {}
    kept = []
    for path in map(os.path.normpath, paths):
        parent = os.path.dirname(path)
        if parent not in resolved:
            resolved[parent] = os.path.realpath(parent) == same
        if not resolved[parent] and path != here:
            kept.append(path)
    return kept


class QFileSystemModel(QtGui.QFileSystemModel):

    @staticmethod
    def setDropHandler(handler):
        """`handler(paths, folder, action)` copies (action Qt.DropAction.CopyAction)
        or moves (MoveAction) files dropped on any tree into `folder`; None
        refuses drops. A bound method is held weakly: the toolkit must not
        keep the host's window alive."""
        global _drop_handler
        if inspect.ismethod(handler):
            _drop_handler = weakref.WeakMethod(handler)
        else:
            _drop_handler = lambda: handler

    def supportedDropActions(self):
        return _TAKEN

    def _dropped(self, data, action, parent):
        """(local paths, target folder, action) of a drop, or None when it is
        not one we take."""
        if _drop_handler() is None or not data.hasUrls() or not action & _TAKEN:
            return None
        paths = [url.toLocalFile() for url in data.urls() if url.isLocalFile()]
        folder = self.filePath(parent) if parent.isValid() else self.rootPath()
        if not paths or not folder or not os.path.isdir(folder):
            return None
        paths = _away_from(paths, folder)
        return (paths, folder, action) if paths else None

    def canDropMimeData(self, data, action, row, column, parent):
        return self._dropped(data, action, parent) is not None

    def dropMimeData(self, data, action, row, column, parent):
        dropped = self._dropped(data, action, parent)
        if dropped is None:
            return False
        # After the drag has ended: a move asks first and a long copy shows
        # progress, neither of which may run inside the drag's own event loop.
        handler = _drop_handler()
        QTimer.singleShot(0, lambda: handler(*dropped))
        return True

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.setIconProvider(_shared_icon_provider())

    def setRootPath(self, path):
        """Qt's `setRootPath`, after checking that `path` is a folder it can list.

        Raises FileNotFoundError when `path` does not exist or is not a folder
        and PermissionError when the folder cannot be listed (each naming the
        folder in its `filename`); nothing changes then. The empty path keeps
        Qt's meaning (the file system's top).
        """
        path = os.fspath(path)
        if path:
            try:
                with os.scandir(path):
                    pass
            except NotADirectoryError:
                raise FileNotFoundError(errno.ENOTDIR, "Not a folder", path) from None
            # Listing names needs read access, showing them needs search access.
            if not os.access(path, os.R_OK | os.X_OK):
                raise PermissionError(errno.EACCES, "Cannot open folder", path)
        return super().setRootPath(path)


def afterTheSort(parent, then):
    """Call `then` once a file system model has sorted the rows it has just added.

    The model sorts them from a zero timer of its own, started with the last
    rows, which queues the sort as a call: a zero timer started now fires
    after the model's, and a call it queues runs after the sort. `parent`
    owns the timer."""
    timer = QTimer(parent, singleShot=True, interval=0)
    timer.timeout.connect(lambda: QTimer.singleShot(0, then))
    timer.timeout.connect(timer.deleteLater)
    timer.start()
