"""Moving files to the desktop trash, where the desktop's own tools restore them.

The work is done by send2trash (Debian's python3-send2trash): it writes the
restore record with the path URL-escaped, as the trash format requires, so a
name such as "100%20off.txt" comes back as itself, and it uses the trash of
the file's own volume (<volume>/.Trash-<uid>) for files outside the home
volume. Whatever it cannot move stays where it was, and the caller is told why.
"""
import os
from pathlib import Path


class TrashUnavailable(Exception):
    """The trash cannot take this file; the file was left where it was."""


def data_home():
    """The folder that holds the home trash: $XDG_DATA_HOME, else ~/.local/share."""
    return Path(os.environ.get("XDG_DATA_HOME") or Path.home() / ".local" / "share")


def home_trash():
    return data_home() / "Trash"


def prepare():
    """Create the data folder that holds the home trash; TrashUnavailable if impossible."""
    trash = home_trash()
    try:
        trash.parent.mkdir(parents=True, exist_ok=True)
    except OSError as exc:
        raise TrashUnavailable(f"cannot create {trash.parent}: {exc.strerror or exc}") from None
    return trash


def _send2trash():
    """send2trash's function, told where the home trash is now.

    The library reads XDG_DATA_HOME once, when it is imported; the host reads
    it at each delete, as every other part of the desktop does.
    """
    try:
        from send2trash import plat_other
    except ImportError:
        raise TrashUnavailable("the trash needs python3-send2trash (run make setup)") from None
    data = os.fsencode(data_home())
    if hasattr(plat_other, "HOMETRASH_B"):
        plat_other.XDG_DATA_HOME = data
        plat_other.HOMETRASH_B = os.path.join(data, b"Trash")
        plat_other.HOMETRASH = os.fsdecode(plat_other.HOMETRASH_B)
    return plat_other.send2trash


def move_to_trash(path):
    """Move `path` (file or folder) to the trash.

    Raises TrashUnavailable when it could not be trashed; the file stays then.
    """
    original = Path(os.path.abspath(path))
    if not os.path.lexists(original):
        raise TrashUnavailable(f"{original} does not exist")
    send = _send2trash()
    try:
        send(str(original))
    except OSError as exc:
        reason = exc.strerror or str(exc)
        raise TrashUnavailable(f"{original} could not be moved to the trash: {reason}") from None
    if os.path.lexists(original):
        raise TrashUnavailable(f"{original} is still in place after moving it to the trash")
