"""QViewToolBar: the row of a panel's title, buttons and separators."""
from PyQt6.QtCore import QSize, Qt
from PyQt6.QtGui import QAction, QKeySequence
from PyQt6.QtWidgets import QToolBar, QWidget


def tooltip(action):
    """The action's text with its shortcut, as the user types it: "Expand Selected (Ctrl++)"."""
    text = action.text().replace("&&", "\0").replace("&", "").replace("\0", "&")
    keys = action.shortcut().toString(QKeySequence.SequenceFormat.NativeText)
    return f"{text} ({keys})" if keys else text


class QViewToolBar(QToolBar):
    """A panel toolbar whose items appear in the order of `addItem` calls.

    Actions show as icon buttons whose tooltip is their text and shortcut (an
    icon-only button shows neither otherwise); widgets such as a label, a
    spacer or a separator line are placed as they are.
    """

    def __init__(self, parent=None):
        super().__init__(parent)
        self._items = []
        self.setMovable(False)
        self.setFloatable(False)
        self.setIconSize(QSize(16, 16))
        self.setToolButtonStyle(Qt.ToolButtonStyle.ToolButtonIconOnly)

    def addItem(self, item):
        """Append an action (as a button) or a widget; returns the item."""
        if isinstance(item, QAction):
            self.addAction(item)
            self._showShortcut(item)
            # A button takes its action's tooltip back on each change: the
            # shortcut is added again after it.
            item.changed.connect(self._actionChanged)
        elif isinstance(item, QWidget):
            self.addWidget(item)
        else:
            raise TypeError(f"a toolbar item must be a QAction or a QWidget, "
                            f"not {type(item).__name__}")
        self._items.append(item)
        return item

    def items(self):
        """The items given to `addItem`, in order."""
        return list(self._items)

    def _actionChanged(self):
        self._showShortcut(self.sender())

    def _showShortcut(self, action):
        button = self.widgetForAction(action)
        if button is not None:
            button.setToolTip(tooltip(action))
