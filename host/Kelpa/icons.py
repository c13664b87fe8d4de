"""The host icon set: icon names that plug-ins pass as strings.

Each name tries a few freedesktop theme names first and falls back to one of
the style's standard pixmaps, so that every name shows a picture even on a
machine without an icon theme.
"""
import os
from pathlib import Path

from PyQt6.QtGui import QIcon
from PyQt6.QtWidgets import QApplication, QStyle

SP = QStyle.StandardPixmap

# name -> (theme names in order of preference, standard pixmap fallback)
ICONS = {
    "add": (("list-add", "document-new"), SP.SP_FileDialogNewFolder),
    "text": (("text-x-generic", "document-new"), SP.SP_FileIcon),
    "folder": (("folder", "folder-new"), SP.SP_DirIcon),
    "locate": (("mark-location", "find-location", "edit-find"), SP.SP_FileDialogContentsView),
    # The boxed plus and minus of some themes' zoom icons read as tree expanders.
    "expandAll": (("view-list-tree", "zoom-in", "go-down"), SP.SP_ArrowDown),
    "collapseAll": (("zoom-out", "go-up"), SP.SP_ArrowUp),
    "copy": (("edit-copy",), SP.SP_FileDialogDetailedView),
    "paste": (("edit-paste",), SP.SP_DialogSaveButton),
}

# Themes tried, in order, when the platform names none (offscreen, bare X).
_PREFERRED_THEMES = ("Adwaita", "breeze", "gnome", "Tango", "hicolor")
_theme_checked = False


def _data_dirs():
    home = os.environ.get("XDG_DATA_HOME") or str(Path.home() / ".local/share")
    dirs = os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share"
    return [home, *dirs.split(":")]


def _ensure_theme():
    """Pick an installed icon theme once, when the platform did not set one."""
    global _theme_checked
    if _theme_checked:
        return
    _theme_checked = True
    if QIcon.themeName():
        return
    roots = [str(Path(d) / "icons") for d in _data_dirs() if d]
    roots = [r for r in roots if Path(r).is_dir()]
    QIcon.setThemeSearchPaths([*QIcon.themeSearchPaths(), *roots])
    for theme in _PREFERRED_THEMES:
        if any((Path(r) / theme / "index.theme").is_file() for r in roots):
            QIcon.setThemeName(theme)
            return


def icon(name):
    """The QIcon for a host icon name; ValueError for a name not in the set."""
    try:
        theme_names, fallback = ICONS[name]
    except KeyError:
        raise ValueError(f"unknown icon name {name!r}; known: {', '.join(ICONS)}") from None
    _ensure_theme()
    for theme_name in theme_names:
        found = QIcon.fromTheme(theme_name)
        if not found.isNull():
            return found
    app = QApplication.instance()
    if isinstance(app, QApplication):
        return app.style().standardIcon(fallback)
    return QIcon()
