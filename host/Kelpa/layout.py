"""Layout helpers: the vertical box, the page stack, spacers and a separator.

Spacers are small expanding widgets rather than QSpacerItems, because the
same spacer must fit into a toolbar (which takes widgets only) and a box.
"""
from PyQt6.QtCore import QMargins
from PyQt6.QtWidgets import (QFrame, QLayout, QLayoutItem, QSizePolicy,
                             QStackedWidget, QVBoxLayout, QWidget)

Policy = QSizePolicy.Policy

MARGIN_LARGE = QMargins(20, 20, 20, 20)


def _margins(value):
    if isinstance(value, QMargins):
        return value
    if isinstance(value, int):
        return QMargins(value, value, value, value)
    left, top, right, bottom = value
    return QMargins(left, top, right, bottom)


def QVBox(*items, margins=None, spacing=None):
    """A QVBoxLayout holding `items` (widgets, layouts or layout items) top to bottom."""
    box = QVBoxLayout()
    for item in items:
        if isinstance(item, QWidget):
            box.addWidget(item)
        elif isinstance(item, QLayout):
            box.addLayout(item)
        elif isinstance(item, QLayoutItem):
            box.addItem(item)
        else:
            raise TypeError(f"QVBox cannot hold a {type(item).__name__}")
    if margins is not None:
        box.setContentsMargins(_margins(margins))
    if spacing is not None:
        box.setSpacing(spacing)
    return box


class QStacked(QStackedWidget):
    """A stacked widget holding `pages` in order; the first is shown."""

    def __init__(self, *pages, parent=None):
        super().__init__(parent)
        for page in pages:
            self.addWidget(page)


class QHSpacer(QWidget):
    """Takes up the free width of a toolbar or a horizontal box."""

    def __init__(self, parent=None):
        super().__init__(parent)
        self.setSizePolicy(Policy.Expanding, Policy.Minimum)


class QVSpacer(QWidget):
    """Takes up the free height of a vertical box."""

    def __init__(self, parent=None):
        super().__init__(parent)
        self.setSizePolicy(Policy.Minimum, Policy.Expanding)


class QVLine(QFrame):
    """A thin vertical separator line."""

    def __init__(self, parent=None):
        super().__init__(parent)
        self.setFrameShape(QFrame.Shape.VLine)
        self.setFrameShadow(QFrame.Shadow.Sunken)
        self.setSizePolicy(Policy.Fixed, Policy.Preferred)
