"""Moving files to the desktop trash, and making sure they really got there.

Qt's move-to-trash reports success even when it could not find the trash: it
then moves the file into "files/" under the current directory, where the user
would never look. So the data folder is created first (Qt uses the one that
XDG_DATA_HOME names, or ~/.local/share), and the result is checked: a file
that did not land in a trash with its restore information is put back and the
move reported as impossible.
"""
import os
from pathlib import Path

from PyQt6.QtCore import QFile, QStandardPaths


class TrashUnavailable(Exception):
    """The trash cannot take this file; the file was left where it was."""


def home_trash():
    """The trash folder for files on the home volume, as Qt computes it."""
    data = QStandardPaths.writableLocation(QStandardPaths.StandardLocation.GenericDataLocation)
    if not data:
        return None
    return Path(data) / "Trash"


def prepare():
    """Create the data folder that holds the home trash; TrashUnavailable if impossible."""
    trash = home_trash()
    if trash is None:
        raise TrashUnavailable("no data folder for the trash (HOME and XDG_DATA_HOME unset)")
    try:
        trash.parent.mkdir(parents=True, exist_ok=True)
    except OSError as exc:
        raise TrashUnavailable(f"cannot create {trash.parent}: {exc.strerror or exc}") from None
    return trash


def _is_trash_folder(folder):
    """`folder` is a trash of the freedesktop layout: the home trash,
    <volume>/.Trash/<uid> or <volume>/.Trash-<uid>."""
    uid = str(os.getuid())
    home = home_trash()
    return ((home is not None and os.path.abspath(folder) == os.path.abspath(home))
            or folder.name == f".Trash-{uid}"
            or (folder.name == uid and folder.parent.name == ".Trash"))


def _landed_in_trash(trashed):
    if not trashed.is_absolute() or trashed.parent.name != "files":
        return False
    folder = trashed.parent.parent
    info = folder / "info" / f"{trashed.name}.trashinfo"
    return _is_trash_folder(folder) and info.is_file() and os.path.lexists(trashed)


def _undo(original, trashed_text, stray_folders):
    """Put a file that Qt moved somewhere other than a trash back in place."""
    trashed = Path(os.path.abspath(trashed_text))
    if os.path.lexists(trashed) and not os.path.lexists(original):
        os.rename(trashed, original)
    info = trashed.parent.parent / "info" / f"{trashed.name}.trashinfo"
    if info.is_file():
        info.unlink()
    for folder in stray_folders:   # the "files" and "info" folders Qt just made
        try:
            folder.rmdir()
        except OSError:
            pass


def move_to_trash(path):
    """Move `path` (file or folder) to the trash; returns its place in the trash.

    Raises TrashUnavailable when it could not be trashed; the file stays then.
    """
    original = Path(os.path.abspath(path))
    if not os.path.lexists(original):
        raise TrashUnavailable(f"{original} does not exist")
    prepare()
    strays = [Path.cwd() / name for name in ("files", "info")]
    strays = [folder for folder in strays if not folder.exists()]
    ok, trashed_text = QFile.moveToTrash(str(original))
    if not ok:
        raise TrashUnavailable(f"the system refused to move {original.name} to the trash")
    if _landed_in_trash(Path(trashed_text)):
        return Path(trashed_text)
    try:
        _undo(original, trashed_text, strays)
    except OSError as exc:
        raise TrashUnavailable(f"no trash could be found, and {original.name} could not be "
                               f"put back from {os.path.abspath(trashed_text)}: "
                               f"{exc.strerror or exc}") from None
    raise TrashUnavailable(f"no trash could be found for {original}")
