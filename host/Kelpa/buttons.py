"""QPushButton with a `triggered` keyword run without arguments on each click."""
from PyQt6 import QtWidgets

from ._slots import connect_without_arguments


class QPushButton(QtWidgets.QPushButton):
    """`QPushButton(text, triggered=callable)`: `callable()` runs on each click."""

    def __init__(self, *args, triggered=None, **kwargs):
        super().__init__(*args, **kwargs)
        if triggered is not None:
            connect_without_arguments(self.clicked, triggered)
