"""The demo window's one truth about the folder: what the panel shows.

Opening a folder, expanding one and losing one are said while they happen, in
the status bar, naming the folder:

- "Loading <folder>…" and a busy cursor, put on screen before the work starts,
  until the model has listed the folder, its sort has settled and the sorted
  rows are painted; then how many rows the tree shows for it, kept true while
  it is said. A big folder holds the GUI thread for seconds (the toolkit's
  proxy inserts the rows batch by batch and sorts them through the comparison
  Python sees), and the rows seen meanwhile in a jumbled order are part of what
  the loading state explains. An Expand Selected is one loading state, named
  after the folder it expands; it ends with the tree's own count.
- A loading state belongs to a folder that is being read because it was opened
  or expanded in the tree, and it always ends: a folder that turns out not to be
  read after all (gone, or out of the tree's sight) lets it go.
- A folder the panel refuses leaves the panel where it was; the window follows
  the panel, and says which folder could not be opened and why.
- A folder that cannot be read says so when it is expanded.
- A working folder removed or moved away, itself or any folder above it, puts
  the panel back on its "Open Folder" page, so that nothing acts on the folder
  that is gone. A watched folder that is itself renamed says nothing, so every
  folder from the working folder up to the top is watched.
"""
import os
import stat
from pathlib import Path

from PyQt6.QtCore import QFileSystemWatcher, QObject, Qt, QTimer, pyqtSignal
from PyQt6.QtWidgets import QApplication

from Kelpa.models import afterTheSort

from .errors import sentence

CHECK_MS = 500   # how often a loading state checks that its folder is still being read


def entries(number):
    return f"{number:,} entry" if number == 1 else f"{number:,} entries"


def unreadable(folder):
    """Why `folder` cannot be listed, in the person's words; None when it can."""
    try:
        with os.scandir(folder):
            pass
    except OSError as exc:
        reason = exc.strerror or str(exc)
        return reason[:1].lower() + reason[1:]
    # Listing names needs read access, showing them needs search access.
    if not os.access(folder, os.R_OK | os.X_OK):
        return "permission denied"
    return None


def _identity(folder):
    """The folder at that path as the disk knows it; None when none is there,
    False when it is out of reach for now (which is not gone)."""
    try:
        info = os.stat(folder)
    except (FileNotFoundError, NotADirectoryError):
        return None
    except OSError:
        return False
    return (info.st_dev, info.st_ino) if stat.S_ISDIR(info.st_mode) else None


def _key(path):
    return os.path.normpath(os.fspath(path))


class FolderWatch(QObject):
    """Follows the panel of `window` (the main window: `status(text, lasting)`
    and `paintNow()`) and keeps `services.workspace` on the folder it shows."""

    settled = pyqtSignal()   # the last folder being read is in and sorted

    def __init__(self, window, services, panel):
        super().__init__(window)
        self._window = window
        self._services = services
        self._panel = panel
        self._view = panel._fileSystemView
        self._model = self._view.fsmodel
        self._listed = set()    # folders the model has listed at least once
        # folder being read -> "opened", "expanded", or "within" an Expand Selected
        self._loading = {}
        self._said = None       # the last loading message, replaced only by its outcome
        self._counted = None    # (folder, opened) whose count the status shows
        self._root = None
        self._rootIdentity = None
        self._lost = None       # the working folder that went away, while the model still holds it
        self._busy = False      # the busy cursor is ours on the application
        self._watcher = QFileSystemWatcher(self)
        self._watcher.directoryChanged.connect(self._folderChanged)
        self._model.directoryLoaded.connect(self._listedNow)
        self._view.expanded.connect(self._expanded)
        finished = getattr(self._view, "expandFinished", None)
        if finished is not None:
            finished.connect(self._expandFinished)
        self._check = QTimer(self, interval=CHECK_MS)
        self._check.timeout.connect(self._checkLoading)
        self._unread = set()    # loading folders the last check found not being read
        # The count said stays the count shown: rows that come or go later
        # (the model re-reads a folder that changed) are counted again.
        self._recount = QTimer(self, singleShot=True, interval=0)
        self._recount.timeout.connect(self._countAgain)
        rows = self._view.model()
        for signal in (rows.rowsInserted, rows.rowsRemoved, rows.layoutChanged, rows.modelReset):
            signal.connect(self._recount.start)

    def loading(self):
        return bool(self._loading)

    def stop(self):
        """End every loading state at once: the window is closing, and the busy
        cursor is the application's, not the window's, so it must not outlive it."""
        self._loading.clear()
        self._check.stop()
        if self._busy:
            QApplication.restoreOverrideCursor()
            self._busy = False

    # ------------------------------------------------------------ opening

    def open(self, folder):
        """Show `folder` in the panel; the folder the panel shows afterwards
        (the previous one when it refused, None when it shows none)."""
        folder = Path(folder)
        before = self._panel.workingFolder()
        # Qt lists a new root, but not the root it already shows nor a folder it
        # has listed as an expanded one: those have nothing left to load. (Its
        # model answers canFetchMore only once it has had a root.)
        index = self._model.index(str(folder))
        afresh = self._lost == _key(folder)
        lists = folder != before and (afresh or self._model.rootPath() in ("", ".")
                                      or not index.isValid() or self._model.canFetchMore(index))
        self._loading.clear()   # what the previous folder was reading no longer matters
        self._begin(folder, "opened")
        self._window.paintNow()
        if afresh:
            # The folder that went away was the model's root. Qt keeps the rows
            # it read for its root and reads nothing when asked for the same
            # root again: they are let go, and the folder now there is read.
            self._model.setRootPath("")
        self._lost = None
        self._panel.setWorkingFolder(folder)
        shown = self._panel.workingFolder()
        if shown != folder:
            self._loading.pop(_key(folder), None)
            if before is None:
                # Refused as the first folder: the tree has nothing to show.
                self._panel.setWorkingFolder(None)
                shown = None
            why = unreadable(folder) or "the explorer could not show it"
            still = f"; still showing {before}" if shown is not None else ""
            self._say(f"Could not open {folder}: {why}{still}.", lasting=True)
            self._idle()
        else:
            # The tree's page as it stands, before the rows keep the thread busy.
            self._panel.repaint()
            if not lists:
                afterTheSort(self, lambda: self._finish(_key(folder)))
        self._watch(shown)
        return shown

    def _watch(self, folder):
        if self._watcher.directories():
            self._watcher.removePaths(self._watcher.directories())
        self._root = folder
        self._rootIdentity = _identity(folder) if folder is not None else None
        if folder is not None:
            # A folder moved away is seen only by its parent's watch, at any
            # height: the working folder and every folder above it.
            self._watcher.addPaths([str(folder), *map(str, folder.parents)])

    # ------------------------------------------------------------ loading

    def _begin(self, folder, kind):
        if not self._busy:
            QApplication.setOverrideCursor(Qt.CursorShape.WaitCursor)
            self._busy = True
        self._check.start()
        self._loading[_key(folder)] = kind
        expanding = self._expanding()
        self._said = f"Loading {expanding if kind == 'within' else folder}…"
        self._say(self._said, lasting=True)

    def _expanding(self):
        """The folder an Expand Selected is opening, or None."""
        return getattr(self._view, "expanding", lambda: None)()

    def _shownFolder(self, index):
        """The folder path of the tree's row `index` when the tree reads it on
        being expanded: a folder of the working folder's tree whose rows the
        tree shows; else None (a path selected outside it, a file, a row
        inside a folder left closed)."""
        rows = self._view.model()
        source = rows.mapToSource(index)
        if not source.isValid() or not self._model.isDir(source):
            return None
        root, parent = self._view.rootIndex(), rows.parent(index)
        while parent != root:
            if not parent.isValid() or not self._view.isExpanded(parent):
                return None
            parent = rows.parent(parent)
        return self._model.filePath(source) or None

    def _expanded(self, index):
        folder = self._shownFolder(index)
        if folder is None or _key(folder) in self._listed or _key(folder) in self._loading:
            return
        why = unreadable(folder)
        if why is not None:
            self._say(f"Cannot read {folder}: {why}.")
            return
        first = not self._loading
        self._begin(folder, "within" if self._expanding() else "expanded")
        if first:
            # Only the status line: the tree is in the middle of expanding. The
            # folders an Expand Selected opens meanwhile show at the next paint.
            self._window.statusBar().repaint()

    def _listedNow(self, path):
        self._listed.add(_key(path))
        if _key(path) in self._loading:
            afterTheSort(self, lambda: self._finish(_key(path)))

    def _rows(self, key, kind):
        """The rows the tree shows for the folder `key`."""
        rows = self._view.model()
        index = (self._view.rootIndex() if kind == "opened"
                 else rows.mapFromSource(self._model.index(key)))
        return rows.rowCount(index)

    def _counting(self, key, opened):
        count = entries(self._rows(key, "opened" if opened else "expanded"))
        return f"Opened {key}: {count}." if opened else f"{key}: {count}."

    def _finish(self, key):
        kind = self._loading.pop(key, None)
        if kind is None:
            return
        # The sorted rows reach the screen before anything says they are there.
        self._view.viewport().repaint()
        if kind == "opened" or (kind == "expanded"
                                and self._window.statusBar().currentMessage() == self._said):
            # An expanded folder's count only while nothing has been said since.
            self._counted = (key, kind == "opened")
            self._say(self._counting(*self._counted))
            self._window.statusBar().repaint()
        self._idle()

    def _countAgain(self):
        if self._counted is None or self._loading:
            return
        key, opened = self._counted
        said = self._window.statusBar().currentMessage()
        now = sentence(self._counting(key, opened))
        if said != now and said.startswith(f"Opened {key}: " if opened else f"{key}: "):
            self._say(now)

    def _checkLoading(self):
        """End the loading of folders that are not being read after all: gone,
        or never fetched (canFetchMore still true at two checks in a row)."""
        unread = set()
        for key in list(self._loading):
            index = self._model.index(key)
            if not index.isValid() or _identity(key) is None:
                self._loading.pop(key)
            elif self._model.canFetchMore(index):
                unread.add(key)
        for key in unread & self._unread:
            self._loading.pop(key)
        self._unread = unread - self._unread
        if not self._loading and self._window.statusBar().currentMessage() == self._said:
            self._window.statusBar().clearMessage()
        self._idle()

    def _idle(self):
        # An Expand Selected ends with its own words, and the cursor comes back
        # with them; one stopped without them is let go at the next check.
        if self._loading or (self._busy and self._expanding() is not None):
            return
        self._check.stop()
        self._unread = set()
        if self._busy:
            QApplication.restoreOverrideCursor()
            self._busy = False
            self.settled.emit()

    def _expandFinished(self, shown, bounded):
        # Expand Selected ends with its own count; a file has nothing to expand,
        # and an empty folder that cannot be read gets the reason instead of "0 rows".
        self._idle()
        if shown:
            return
        index = self._view.model().mapToSource(self._view.currentIndex())
        folder = self._model.filePath(index)
        if folder and not self._model.isDir(index):
            self._say(f"{folder} is a file: there is nothing in it to expand.")
            return
        why = unreadable(folder) if folder else None
        if why is not None:
            self._say(f"Cannot read {folder}: {why}.")

    # ------------------------------------------------------------ losing the folder

    def _folderChanged(self, path):
        root = self._root
        if root is None:
            return
        now = _identity(root)
        if now is False or now == self._rootIdentity:
            if str(root) not in self._watcher.directories():
                self._watcher.addPath(str(root))   # moved back: keep watching
            return
        self._loading.clear()
        self._idle()
        self._watch(None)
        self._lost = _key(root)
        self._panel.setWorkingFolder(None)
        self._services.workspace.setWorkingFolder(None)
        self._say(f"{root} no longer exists (deleted or moved); open a folder to go on.",
                  lasting=True)

    def _say(self, text, lasting=False):
        self._window.status(text, lasting)
