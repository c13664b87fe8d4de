"""QAction with the host's keyword form: icon by name, shortcut, triggered."""
from PyQt6 import QtGui
from PyQt6.QtCore import Qt

from . import icons
from ._slots import connect_without_arguments


class QAction(QtGui.QAction):
    """`QAction(text, icon="copy", shortcut="Ctrl+C", triggered=callable)`.

    `triggered` is called with no argument each time the action fires.
    A shortcut acts only where the action has been added (the widget and its
    children, a tool button, a menu), so that a key such as Delete given to one
    panel's tree does not fire while the user types in another widget.
    """

    def __init__(self, *args, icon=None, shortcut=None, triggered=None, **kwargs):
        super().__init__(*args, **kwargs)
        self.setProperty("iconName", None)
        if icon is not None:
            if isinstance(icon, str):
                self.setProperty("iconName", icon)
                icon = icons.icon(icon)
            self.setIcon(icon)
        if shortcut is not None:
            self.setShortcut(QtGui.QKeySequence(shortcut))
            self.setShortcutContext(Qt.ShortcutContext.WidgetWithChildrenShortcut)
        if triggered is not None:
            connect_without_arguments(self.triggered, triggered)

    def iconName(self):
        """The host icon name given at construction, or None."""
        return self.property("iconName")
