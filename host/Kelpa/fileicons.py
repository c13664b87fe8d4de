"""File icons and type names judged by a file's name, never by its content.

Qt's default provider sniffs a file's first bytes to find its type. Some files
never answer a read (/proc/kmsg, device-like files on network mounts), and the
model asks on the GUI thread, so opening such a folder froze the whole window.
Names are enough for an explorer's icons.

The model asks for every file's icon and type name on the GUI thread, and a
MIME look-up by name took most of the time of opening a large folder. Almost
every name is decided by its last suffix alone ("*.py"), so the answer is kept
per suffix; the few names that other patterns of the MIME database may match
(whole names such as "Makefile", "README*", "*.tar.gz", "*~") are looked up
each time, as before.
"""
import fnmatch
import re

from PyQt6.QtCore import QFileInfo, QMimeDatabase
from PyQt6.QtGui import QAbstractFileIconProvider, QIcon

from . import icons

_BY_NAME = QMimeDatabase.MatchMode.MatchExtension
# "*.ext" with one plain suffix: such a pattern matches a name exactly when the
# name's last suffix is that one.
_ONE_SUFFIX = re.compile(r"\*\.[^.*?\[\]]+")
_WILDCARD = re.compile(r"[*?\[]")


class _OtherPatterns:
    """Says whether a glob of the MIME database other than a one-suffix "*.ext"
    may match a name. Case is ignored: it may say yes too often, never too
    rarely. Most such globs are a fixed ending ("*.tar.gz", "*~"), tested as
    one `endswith`; the rest ("README*", "Makefile", "*.[1-9]") as one regex."""

    def __init__(self, mimes):
        others = {pattern for mime in mimes.allMimeTypes() for pattern in mime.globPatterns()
                  if not _ONE_SUFFIX.fullmatch(pattern)}
        endings = {p for p in others if p.startswith("*") and not _WILDCARD.search(p[1:])}
        self._endings = tuple(sorted(p[1:].lower() for p in endings))
        self._rest = re.compile("|".join(fnmatch.translate(p) for p in sorted(others - endings))
                                or "(?!)", re.IGNORECASE)

    def match(self, name):
        return name.lower().endswith(self._endings) or self._rest.match(name) is not None


class NameOnlyIconProvider(QAbstractFileIconProvider):

    def __init__(self):
        super().__init__()
        icons.use_theme()
        self._mimes = QMimeDatabase()
        self._others = _OtherPatterns(self._mimes)
        self._bySuffix = {}   # a name's last suffix (None: no dot) -> (icon, type name)
        self._byMime = {}     # MIME type name -> (icon, type name)

    def _lookUp(self, info):
        """(icon, type name) of a file that is not a folder, from its name."""
        name = info.fileName()
        if self._others.match(name):
            return self._ofMime(self._mimes.mimeTypeForFile(name, _BY_NAME))
        suffix = name.rpartition(".")[2] if "." in name else None
        found = self._bySuffix.get(suffix)
        if found is None:
            found = self._bySuffix[suffix] = self._ofMime(
                self._mimes.mimeTypeForFile(name, _BY_NAME))
        return found

    def _ofMime(self, mime):
        found = self._byMime.get(mime.name())
        if found is None:
            icon = QIcon.fromTheme(mime.iconName())
            if icon.isNull():
                icon = QIcon.fromTheme(mime.genericIconName(),
                                       super().icon(QAbstractFileIconProvider.IconType.File))
            found = self._byMime[mime.name()] = (icon, mime.comment())
        return found

    def icon(self, what):
        if isinstance(what, QFileInfo) and not (what.isDir() or what.isRoot()):
            return self._lookUp(what)[0]
        return super().icon(what)

    def type(self, info):
        if info.isDir() or info.isRoot():
            return super().type(info)
        return self._lookUp(info)[1]
