"""The host icon set: icon names that plug-ins pass as strings.

The toolkit draws with one icon theme, Adwaita (Debian's adwaita-icon-theme,
installed by `make setup`), set explicitly rather than taken from the platform:
a bare X display names "hicolor", which has almost no pictures, and offscreen
names none, so the same window looked different on each. Adwaita ships PNGs,
which Qt reads without its SVG plug-in. Each name still falls back to one of
the style's standard pixmaps on a machine without the theme.
"""
import os
from pathlib import Path

from PyQt6.QtGui import QIcon
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
            return found
    app = QApplication.instance()
    if isinstance(app, QApplication):
        return app.style().standardIcon(fallback)
    return QIcon()
