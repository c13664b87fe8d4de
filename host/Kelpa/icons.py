"""The host icon set: icon names that plug-ins pass as strings.

The toolkit draws with one icon theme, Adwaita (Debian's adwaita-icon-theme,
installed by `make setup`), set explicitly rather than taken from the platform:
a bare X display names "hicolor", which has almost no pictures, and offscreen
names none, so the same window looked different on each. Adwaita ships PNGs,
which Qt reads without its SVG plug-in. Each name still falls back to one of
the style's standard pixmaps on a machine without the theme.

Adwaita's arrows are as light a grey as a disabled button's picture, so an
enabled "Expand Selected" looked disabled. Those pictures are drawn in the
palette's button text colour instead, as the theme's symbolic icons are: dark
when enabled, the palette's disabled text colour when not.
"""
import os
from pathlib import Path

from PyQt6.QtGui import QGuiApplication, QIcon, QIconEngine, QPainter, QPalette, QPixmap
from PyQt6.QtWidgets import QApplication, QStyle

SP = QStyle.StandardPixmap

THEME = "Adwaita"

# name -> (theme names in order of preference, standard pixmap fallback)
ICONS = {
    "add": (("list-add", "document-new"), SP.SP_FileDialogNewFolder),
    "text": (("text-x-generic", "document-new"), SP.SP_FileIcon),
    "folder": (("folder", "folder-new"), SP.SP_DirIcon),
    "locate": (("mark-location", "find-location", "edit-find"), SP.SP_FileDialogContentsView),
    "expandAll": (("view-list-tree", "go-down"), SP.SP_ArrowDown),
    "collapseAll": (("go-up",), SP.SP_ArrowUp),
    "copy": (("edit-copy",), SP.SP_FileDialogDetailedView),
    "paste": (("edit-paste",), SP.SP_FileDialogListView),
}

# Names whose theme pictures are drawn in the text colour.
TINTED = {"expandAll", "collapseAll"}

_theme_set = False


def _data_dirs():
    home = os.environ.get("XDG_DATA_HOME") or str(Path.home() / ".local/share")
    dirs = os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share"
    return [home, *dirs.split(":")]


def use_theme():
    """Make THEME the icon theme of the process (once), whatever the platform chose."""
    global _theme_set
    if _theme_set:
        return
    _theme_set = True
    roots = [str(Path(d) / "icons") for d in _data_dirs() if d]
    search = QIcon.themeSearchPaths()
    QIcon.setThemeSearchPaths(
        [*search, *(r for r in roots if Path(r).is_dir() and r not in search)])
    QIcon.setThemeName(THEME)
    QIcon.setFallbackThemeName("hicolor")


def icon(name):
    """The QIcon for a host icon name; ValueError for a name not in the set."""
    try:
        theme_names, fallback = ICONS[name]
    except KeyError:
        raise ValueError(f"unknown icon name {name!r}; known: {', '.join(ICONS)}") from None
    use_theme()
    for theme_name in theme_names:
        found = QIcon.fromTheme(theme_name)
        if not found.isNull():
            return QIcon(_TextColoured(found)) if name in TINTED else found
    app = QApplication.instance()
    if isinstance(app, QApplication):
        return app.style().standardIcon(fallback)
    return QIcon()


class _TextColoured(QIconEngine):
    """A theme icon's shape filled with the palette's button text colour of the
    mode asked for; it keeps the theme name the picture came from."""

    def __init__(self, source):
        super().__init__()
        self._source = source

    def pixmap(self, size, mode, state):
        shape = self._source.pixmap(size, QIcon.Mode.Normal, state)
        if shape.isNull():
            return shape
        group = (QPalette.ColorGroup.Disabled if mode == QIcon.Mode.Disabled
                 else QPalette.ColorGroup.Active)
        coloured = QPixmap(shape)
        painter = QPainter(coloured)
        painter.setCompositionMode(QPainter.CompositionMode.CompositionMode_SourceIn)
        colour = QGuiApplication.palette().color(group, QPalette.ColorRole.ButtonText)
        painter.fillRect(coloured.rect(), colour)
        painter.end()
        return coloured

    def paint(self, painter, rect, mode, state):
        painter.drawPixmap(rect, self.pixmap(rect.size(), mode, state))

    def availableSizes(self, mode=QIcon.Mode.Normal, state=QIcon.State.Off):
        return self._source.availableSizes(QIcon.Mode.Normal, state)

    def iconName(self):
        return self._source.name()

    def clone(self):
        return _TextColoured(self._source)
