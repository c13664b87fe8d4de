"""Kelpa: the host widget toolkit, on PyQt6.

The standard names are Qt's own classes; QAction, QPushButton, QTreeView and
QFileSystemModel add the host's behaviour, and the rest are the host's widgets.
"""
from PyQt6.QtCore import QDir, QKeyCombination, QModelIndex, QPoint, QSortFilterProxyModel, Qt
from PyQt6.QtGui import QClipboard, QKeySequence
from PyQt6.QtWidgets import QAbstractItemView, QApplication, QLabel, QWidget

from .actions import QAction
from .buttons import QPushButton
from .icons import icon
from .layout import MARGIN_LARGE, QHSpacer, QStacked, QVBox, QVLine, QVSpacer
from .menus import QRoundMenu
from .models import QFileSystemModel
from .plugin import QPluginWidget
from .scrolling import QScrollDelegate
from .toolbar import QViewToolBar
from .trees import QTreeView

__all__ = [
    "QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu",
    "QHSpacer", "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE",
    "QApplication", "QVLine", "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir",
    "QAbstractItemView", "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer",
    "QPoint", "QSortFilterProxyModel", "QClipboard", "icon",
]
