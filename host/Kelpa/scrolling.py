"""QScrollDelegate: the host's smooth scrolling for item views."""
from PyQt6.QtCore import QObject
from PyQt6.QtWidgets import QAbstractItemView


class QScrollDelegate(QObject):
    """Attaches per-pixel scrolling to `view`; lives as the view's child."""

    STEP = 20  # pixels per wheel notch and arrow press

    def __init__(self, view):
        super().__init__(view)
        mode = QAbstractItemView.ScrollMode.ScrollPerPixel
        view.setVerticalScrollMode(mode)
        view.setHorizontalScrollMode(mode)
        view.verticalScrollBar().setSingleStep(self.STEP)
        view.horizontalScrollBar().setSingleStep(self.STEP)

    def view(self):
        return self.parent()
