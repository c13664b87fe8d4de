"""QFileSystemModel that reports a root it cannot show as an exception.

Qt's own model accepts any root path silently and shows an empty tree; the
host's model checks the folder first, so a panel can tell the user why.
"""
import os

from PyQt6 import QtGui

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


class QFileSystemModel(QtGui.QFileSystemModel):

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.setIconProvider(_shared_icon_provider())

    def setRootPath(self, path):
        """Qt's `setRootPath`, after checking that `path` is a folder it can list.

        Raises FileNotFoundError when `path` does not exist or is not a folder
        and PermissionError when the folder cannot be listed; nothing changes
        then. The empty path keeps Qt's meaning (the file system's top).
        """
        path = os.fspath(path)
        if path:
            try:
                with os.scandir(path):
                    pass
            except NotADirectoryError:
                raise FileNotFoundError(f"Not a folder: {path!r}") from None
            # Listing names needs read access, showing them needs search access.
            if not os.access(path, os.R_OK | os.X_OK):
                raise PermissionError(f"Cannot open folder: {path!r}")
        return super().setRootPath(path)
