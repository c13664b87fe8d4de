"""The demo window's one truth about the folder: what the panel shows.

Opening a folder, expanding one and losing one are said while they happen, in
the status bar, naming the folder:

- "Loading <folder>…" and a busy cursor, put on screen before the work starts,
  until the model has listed the folder and its sort has settled; then how many
  entries it holds. A big folder holds the GUI thread for seconds (the toolkit's
  proxy inserts the rows batch by batch and sorts them through the comparison
  Python sees), and the rows seen meanwhile in a jumbled order are part of what
  the loading state explains.
- A folder the panel refuses leaves the panel where it was; the window follows
  the panel, and says which folder could not be opened and why.
- A folder that cannot be read says so when it is expanded.
- A working folder removed or moved away puts the panel back on its "Open
  Folder" page, so that nothing acts on the folder that is gone.
"""
import os
import stat
from pathlib import Path

from PyQt6.QtCore import QFileSystemWatcher, QObject, Qt, QTimer, pyqtSignal
from PyQt6.QtWidgets import QApplication


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


def _gone(folder):
    """Whether `folder` is no longer there; one out of reach for now is not gone."""
    try:
        return not stat.S_ISDIR(os.stat(folder).st_mode)
    except (FileNotFoundError, NotADirectoryError):
        return True
    except OSError:
        return False


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
        self._loading = {}      # folder being read -> True when it is the opened one
        self._said = None       # the last loading message, replaced only by its outcome
        self._root = None
        self._busy = False      # the busy cursor is ours on the application
        self._watcher = QFileSystemWatcher(self)
        self._watcher.directoryChanged.connect(self._folderChanged)
        self._model.directoryLoaded.connect(self._listedNow)
        self._view.expanded.connect(self._expanded)
        finished = getattr(self._view, "expandFinished", None)
        if finished is not None:
            finished.connect(self._expandFinished)

    def loading(self):
        return bool(self._loading)

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
        lists = folder != before and (self._model.rootPath() in ("", ".") or not index.isValid()
                                      or self._model.canFetchMore(index))
        self._loading.clear()   # what the previous folder was reading no longer matters
        self._begin(folder, opened=True)
        self._window.paintNow()
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
                self._afterTheSort(lambda: self._finish(_key(folder)))
        self._watch(shown)
        return shown

    def _watch(self, folder):
        if self._watcher.directories():
            self._watcher.removePaths(self._watcher.directories())
        self._root = folder
        if folder is not None:
            # A folder moved away is seen only by its parent's watch.
            self._watcher.addPaths(list(dict.fromkeys([str(folder), str(folder.parent)])))

    # ------------------------------------------------------------ loading

    def _begin(self, folder, opened=False):
        if not self._busy:
            QApplication.setOverrideCursor(Qt.CursorShape.WaitCursor)
            self._busy = True
        self._loading[_key(folder)] = opened
        self._said = f"Loading {folder}…"
        self._say(self._said, lasting=True)

    def _expanded(self, index):
        folder = self._model.filePath(self._view.model().mapToSource(index))
        if not folder or _key(folder) in self._listed or _key(folder) in self._loading:
            return
        why = unreadable(folder)
        if why is not None:
            self._say(f"Cannot read {folder}: {why}.")
            return
        first = not self._loading
        self._begin(folder)
        if first:
            # Only the status line: the tree is in the middle of expanding. The
            # folders an Expand Selected opens meanwhile show at the next paint.
            self._window.statusBar().repaint()

    def _listedNow(self, path):
        self._listed.add(_key(path))
        if _key(path) in self._loading:
            self._afterTheSort(lambda: self._finish(_key(path)))

    def _afterTheSort(self, then):
        """Call `then` once the model has sorted the rows it has just added.

        The model sorts them from a zero timer of its own, started with the last
        rows, which queues the sort as a call: a zero timer started now fires
        after the model's, and a call it queues runs after the sort."""
        timer = QTimer(self, singleShot=True, interval=0)
        timer.timeout.connect(lambda: QTimer.singleShot(0, then))
        timer.timeout.connect(timer.deleteLater)
        timer.start()

    def _finish(self, key):
        opened = self._loading.pop(key, None)
        if opened is None:
            return
        index = self._model.index(key)
        count = entries(self._model.rowCount(index))
        if opened:
            self._say(f"Opened {key}: {count}.")
        elif self._window.statusBar().currentMessage() == self._said:
            self._say(f"{key}: {count}.")   # unless something has been said since
        self._idle()

    def _idle(self):
        if not self._loading and self._busy:
            QApplication.restoreOverrideCursor()
            self._busy = False
            self.settled.emit()

    def _expandFinished(self, shown, bounded):
        # Expand Selected ends with its own count; an empty folder that cannot
        # be read gets the reason instead of "0 rows".
        if shown:
            return
        index = self._view.currentIndex()
        folder = self._model.filePath(self._view.model().mapToSource(index))
        why = unreadable(folder) if folder else None
        if why is not None:
            self._say(f"Cannot read {folder}: {why}.")

    # ------------------------------------------------------------ losing the folder

    def _folderChanged(self, path):
        root = self._root
        if root is None or _key(path) not in (_key(root), _key(root.parent)):
            return
        if not _gone(root):
            if str(root) not in self._watcher.directories():
                self._watcher.addPath(str(root))   # moved back or made anew: keep watching
            return
        self._loading.clear()
        self._idle()
        self._watch(None)
        self._panel.setWorkingFolder(None)
        self._services.workspace.setWorkingFolder(None)
        self._say(f"{root} no longer exists (deleted or moved); open a folder to go on.",
                  lasting=True)

    def _say(self, text, lasting=False):
        self._window.status(text, lasting)
