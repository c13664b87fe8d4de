"""QRoundMenu: a popup menu with an id and named sections.

Entries are kept per section and the Qt menu is rebuilt from that record on
each change, so an entry added to an early section later still shows in its
place. Sections appear in `addSections` order, separated by a line; empty
sections take no room. Entries added without a section follow the sections.

A menu asked for just below a row (the keyboard's menu of a tree's current
row, see `besideRow`) opens above that row when the screen has no room below
it: Qt would push it up over the row it belongs to.
"""
from contextlib import contextmanager

from PyQt6.QtCore import QPoint
from PyQt6.QtGui import QAction, QGuiApplication
from PyQt6.QtWidgets import QMenu, QWidget

_row = None   # the row, in screen coordinates, that a menu is being asked for


@contextmanager
def besideRow(rect):
    """While it lasts, a menu opened at the point just below the row `rect`
    (global coordinates) belongs to that row."""
    global _row
    before, _row = _row, rect
    try:
        yield
    finally:
        _row = before


def _placed(menu, pos):
    """Where `menu` opens when asked for at `pos`: above the row it belongs to
    when it does not fit below."""
    row = _row
    if row is None or pos != QPoint(row.left(), row.bottom() + 1):
        return pos
    screen = QGuiApplication.screenAt(pos) or QGuiApplication.primaryScreen()
    if screen is None:
        return pos
    height = menu.sizeHint().height()
    room = screen.availableGeometry()
    if pos.y() + height - 1 <= room.bottom() or row.top() - height < room.top():
        return pos
    return QPoint(pos.x(), row.top() - height)


class QRoundMenu(QMenu):
    """`QRoundMenu(title=None, id="menu-id")`."""

    def __init__(self, title=None, parent=None, *, id=""):
        super().__init__(parent)
        if title is not None:
            self.setTitle(title)
        self._id = id
        self.setObjectName(id)
        self._sections = {}     # section name -> entries, in display order
        self._unsectioned = []
        self._separators = []   # owned by this menu, reused by each rebuild
        self._submenus = []     # keeps parentless sub-menus alive with the menu

    def id(self):
        return self._id

    def addSections(self, names):
        """Declare sections in display order; known names keep their place."""
        for name in names:
            self._sections.setdefault(name, [])
        self._rebuild()

    def sectionNames(self):
        return list(self._sections)

    def sections(self):
        """[(section name, [entries])] in display order."""
        return [(name, list(entries)) for name, entries in self._sections.items()]

    def sectionActions(self, name):
        return list(self._entries(name))

    def unsectionedActions(self):
        return list(self._unsectioned)

    def addAction(self, action, section=None):
        """Add a QAction (or a new one made from a text) to `section` or the end."""
        if isinstance(action, str):
            action = QAction(action, self)
        elif not isinstance(action, QAction):
            raise TypeError(f"addAction needs a QAction or a text, not {type(action).__name__}")
        self._entries(section).append(action)
        self._rebuild()
        return action

    def addActions(self, actions):
        for action in actions:
            self.addAction(action)

    def addMenu(self, menu, section=None):
        """Add a sub-menu as one entry of `section`; returns its menu action."""
        if not isinstance(menu, QMenu):
            raise TypeError(f"addMenu needs a QMenu, not {type(menu).__name__}")
        self._submenus.append(menu)
        return self.addAction(menu.menuAction(), section)

    def clear(self):
        """Remove every entry; the sections stay declared."""
        for entries in self._sections.values():
            entries.clear()
        self._unsectioned.clear()
        self._submenus.clear()
        self._rebuild()

    def show(self, pos=None):
        """Open at the global point `pos`, like `popup`; without one, a plain show."""
        if pos is None:
            super().show()
        else:
            self.popup(pos)

    def popup(self, pos, action=None):
        super().popup(_placed(self, pos), action)

    def _entries(self, section):
        if section is None:
            return self._unsectioned
        try:
            return self._sections[section]
        except KeyError:
            raise ValueError(f"menu {self._id!r} has no section {section!r}; "
                             f"sections: {list(self._sections)}") from None

    def _rebuild(self):
        for action in self.actions():
            self.removeAction(action)
        groups = [entries for entries in (*self._sections.values(), self._unsectioned) if entries]
        for number, entries in enumerate(groups):
            if number:
                QWidget.addAction(self, self._separator(number - 1))
            for action in entries:
                QWidget.addAction(self, action)

    def _separator(self, number):
        while len(self._separators) <= number:
            separator = QAction(self)
            separator.setSeparator(True)
            self._separators.append(separator)
        return self._separators[number]
