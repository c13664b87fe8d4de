"""File icons and type names judged by a file's name, never by its content.

Qt's default provider sniffs a file's first bytes to find its type. Some files
never answer a read (/proc/kmsg, device-like files on network mounts), and the
model asks on the GUI thread, so opening such a folder froze the whole window.
Names are enough for an explorer's icons.
"""
from PyQt6.QtCore import QFileInfo, QMimeDatabase
from PyQt6.QtGui import QAbstractFileIconProvider, QIcon

from . import icons

_BY_NAME = QMimeDatabase.MatchMode.MatchExtension


class NameOnlyIconProvider(QAbstractFileIconProvider):

    def __init__(self):
        super().__init__()
        icons.use_theme()
        self._mimes = QMimeDatabase()

    def _mime(self, info):
        return self._mimes.mimeTypeForFile(info.fileName(), _BY_NAME)

    def icon(self, what):
        if isinstance(what, QFileInfo) and not (what.isDir() or what.isRoot()):
            mime = self._mime(what)
            icon = QIcon.fromTheme(mime.iconName())
            return icon if not icon.isNull() else QIcon.fromTheme(
                mime.genericIconName(), super().icon(QAbstractFileIconProvider.IconType.File))
        return super().icon(what)

    def type(self, info):
        if info.isDir() or info.isRoot():
            return super().type(info)
        return self._mime(info).comment()
