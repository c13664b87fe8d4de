"""QPluginWidget: the base that every plug-in widget lists first.

It is a plain cooperative mixin rather than a Qt class, so that it can stand
before any Qt widget class (QWidget, QTreeView, ...) in a class's bases and the
one `super().__init__(parent)` call reaches that widget's own constructor.
"""


class QPluginWidget:
    """Mixin for plug-in widgets: `class View(QPluginWidget, QTreeView)`."""

    def __init__(self, parent=None):
        super().__init__(parent)
