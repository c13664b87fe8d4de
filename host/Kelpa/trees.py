"""QTreeView whose recursive expand also opens folders not read yet, and whose
Return key opens the current row as a double click does.

Qt's `expandRecursively` opens only the levels a lazily loading model (such as
the file system model) has already fetched, so each press of "Expand" went
one level deeper. Here the expand carries on as the model delivers rows, up to
EXPAND_LIMIT rows, and says in the window's status bar when it is done or why
it stopped: once the folders it opened are read, sorted and painted, so that
what it says is what the tree shows.

Qt's tree answers Return and Enter only with `activated`, which plug-ins that
open items on `doubleClicked` never hear; file managers open the current item
with either key, so here they act on the current row as a double click on it.

The Menu key and Shift+F10 open the context menu of the current row, just
below that row so that its name stays in sight (above it when the screen has
no room below), as a right click on it would; Qt puts a keyboard menu in the
middle of the tree and leaves Shift+F10 to the application.

A drag within the tree moves, as in a file manager: Ctrl+drag copies and
Shift+drag moves, and the drag's cursor shows which. Qt's views drag with Copy
unless told otherwise.
"""
from PyQt6 import QtWidgets
from PyQt6.QtCore import QEvent, QPersistentModelIndex, QPoint, Qt, pyqtSignal
from PyQt6.QtWidgets import QMainWindow

from .menus import besideRow
from .models import afterTheSort

_FILE_PATH_ROLE = Qt.ItemDataRole.UserRole + 1   # QFileSystemModel's own role


def _rows(number):
    return f"{number:,} row" if number == 1 else f"{number:,} rows"


class QTreeView(QtWidgets.QTreeView):

    EXPAND_LIMIT = 10_000   # rows an expand may show before it stops
    # (rows shown, True when it stopped at EXPAND_LIMIT) at the end of an expand
    expandFinished = pyqtSignal(int, bool)

    def __init__(self, parent=None):
        super().__init__(parent)
        self._expansion = None
        self.setDefaultDropAction(Qt.DropAction.MoveAction)

    def expanding(self):
        """The path (or name) of the item an Expand Selected is opening, or None."""
        return self._expansion.title if self._expansion is not None else None

    def expandRecursively(self, index, depth=-1):
        """Expand `index` and everything below it, `depth` levels (-1: all),
        also what the model has yet to load."""
        self._stopExpanding()
        if index.isValid() and self.model() is not None:
            self._expansion = _Expansion(self, index, depth)
            self._expansion.start()

    def event(self, event):
        if (event.type() == QEvent.Type.ContextMenu
                and event.reason() == event.Reason.Keyboard and self._menuAtCurrentRow()):
            return True
        return super().event(event)

    def _menuAtCurrentRow(self):
        """Ask for the context menu (customContextMenuRequested, in the viewport's
        coordinates, as a right click does) just below the current row, from
        its left edge, or at the top of the tree when no row is current. False
        when the tree shows no custom menu: Qt's own handling stays then."""
        if self.contextMenuPolicy() != Qt.ContextMenuPolicy.CustomContextMenu:
            return False
        index = self.currentIndex()
        if not index.isValid():
            self.customContextMenuRequested.emit(QPoint(0, 0))
            return True
        self.scrollTo(index)
        row = self.visualRect(index).intersected(self.viewport().rect())
        # The menu is placed where the point says; the row it belongs to lets
        # it open above the row rather than be pushed up over the row's name.
        corner = self.viewport().mapToGlobal(row.topLeft())
        with besideRow(row.translated(corner - row.topLeft())):
            self.customContextMenuRequested.emit(QPoint(row.left(), row.bottom() + 1))
        return True

    def keyPressEvent(self, event):
        key, modifiers = event.key(), event.modifiers() & ~Qt.KeyboardModifier.KeypadModifier
        if ((key == Qt.Key.Key_Menu and modifiers == Qt.KeyboardModifier.NoModifier)
                or (key == Qt.Key.Key_F10 and modifiers == Qt.KeyboardModifier.ShiftModifier)):
            if self._menuAtCurrentRow():
                event.accept()
                return
        index = self.currentIndex()
        if (event.key() in (Qt.Key.Key_Return, Qt.Key.Key_Enter) and index.isValid()
                and self.state() != self.State.EditingState):
            event.accept()
            self.doubleClicked.emit(index)
            # What a double click does to the row itself: a folder opens or closes.
            if (self.expandsOnDoubleClick() and self.itemsExpandable()
                    and self.model().hasChildren(index)):
                self.setExpanded(index, not self.isExpanded(index))
            return
        super().keyPressEvent(event)

    def collapseAll(self):
        self._stopExpanding()
        super().collapseAll()

    def setModel(self, model):
        self._stopExpanding()
        super().setModel(model)

    def _stopExpanding(self):
        if self._expansion is not None:
            self._expansion.disconnect()
            self._expansion = None

    def _expandDone(self, expansion, shown, bounded):
        if expansion is not self._expansion:
            return
        self._stopExpanding()
        # What it says is said with the rows on screen, as the tree shows them.
        self.viewport().repaint()
        name = expansion.title
        if bounded:
            text = (f"Stopped expanding {name} at {_rows(shown)}; expand a folder inside "
                    f"it to see more.")
        else:
            text = f"Expanded {name}: {_rows(shown)}."
        window = self.window()
        if isinstance(window, QMainWindow):
            window.statusBar().showMessage(text, 10000)
            window.statusBar().repaint()
        self.expandFinished.emit(shown, bounded)


class _Expansion:
    """One recursive expand in progress: folders waiting for their rows, rows shown."""

    def __init__(self, view, index, depth):
        self.view = view
        self.model = view.model()
        self.depth = depth
        self.shown = 0
        self.levels = {}       # key of each folder opened -> its depth below the start
        self.waiting = set()   # keys of folders whose rows are still being read
        self.ending = False    # all is read: it ends once the model has sorted
        self.title = self._key(index)
        self.start_index = QPersistentModelIndex(index)
        self.connections = [(self.model.rowsInserted, self._rowsInserted)]
        source = self.model.sourceModel() if hasattr(self.model, "sourceModel") else self.model
        loaded = getattr(source, "directoryLoaded", None)
        if loaded is not None:
            self.connections.append((loaded, self._folderLoaded))
        for signal, slot in self.connections:
            signal.connect(slot)

    def disconnect(self):
        for signal, slot in self.connections:
            try:
                signal.disconnect(slot)
            except TypeError:
                pass
        self.connections = []

    def start(self):
        self._open(self.model.index(self.start_index.row(), 0, self.start_index.parent()), 0)
        self._finishIfIdle()

    def _key(self, index):
        path = self.model.data(index, _FILE_PATH_ROLE)
        if path:
            return path
        names = []
        while index.isValid():
            names.append(str(self.model.data(index)))
            index = index.parent()
        return "/".join(reversed(names))

    def _bounded(self):
        return self.shown >= self.view.EXPAND_LIMIT

    def _open(self, index, level):
        key = self._key(index)
        self.levels[key] = level
        # Asked before expanding: expanding may itself start the fetch.
        if self.model.canFetchMore(index):
            self.waiting.add(key)
        self.view.expand(index)
        if self.model.canFetchMore(index):
            self.model.fetchMore(index)
        self._walk(index, 0, self.model.rowCount(index) - 1, level)

    def _walk(self, parent, first, last, level):
        for row in range(first, last + 1):
            if self._bounded():
                return
            self.shown += 1
            child = self.model.index(row, 0, parent)
            if (self.depth < 0 or level < self.depth) and self.model.hasChildren(child):
                self._open(child, level + 1)

    def _rowsInserted(self, parent, first, last):
        level = self.levels.get(self._key(parent)) if parent.isValid() else None
        if level is None or self._bounded():
            return
        self._walk(parent, first, last, level)
        self._finishIfIdle()

    def _folderLoaded(self, path):
        self.waiting.discard(path)
        self._finishIfIdle()

    def _finishIfIdle(self):
        # At the limit nothing more is opened, but the folders already opened
        # are still being read: the rows they bring belong to what it shows.
        if self.waiting or self.ending:
            return
        self.ending = True
        afterTheSort(self.view, lambda: self.view._expandDone(self, self.shown, self._bounded()))
