"""File operations behind the host's commands: paste, create and read.

Nothing here ever overwrites: every file is created exclusively and every
folder with a plain mkdir, so a name taken meanwhile is an error or a new name,
never lost data. Problems the user can act on are raised as FileOpsError with
a message meant for them.
"""
import os
import shutil
import stat
from dataclasses import dataclass, field
from pathlib import Path

VIEW_LIMIT = 4 * 1024 * 1024   # bytes the viewer shows at most
_SNIFF = 8192                  # bytes read to tell text from binary
_CHUNK = 1024 * 1024


class FileOpsError(Exception):
    """A problem to show to the user as it is."""


def _reason(exc):
    return exc.strerror or str(exc)


# ---------------------------------------------------------------- new names

def copy_name(name, number, is_folder):
    """The `number`-th name tried for a copy: 0 is the name itself, then
    "name (copy).ext", "name (copy 2).ext", ..."""
    if number == 0:
        return name
    tag = "copy" if number == 1 else f"copy {number}"
    if is_folder:
        return f"{name} ({tag})"
    path = Path(name)
    return f"{path.stem} ({tag}){path.suffix}"


def _create_unique(folder, name, is_folder, create):
    """Call `create(candidate)` on free names until one is not taken."""
    number = 0
    while True:
        candidate = Path(folder) / copy_name(name, number, is_folder)
        if not os.path.lexists(candidate):
            try:
                create(candidate)
                return candidate
            except FileExistsError:
                pass  # taken between the check and the creation: try the next
        number += 1


# ---------------------------------------------------------------- paste

@dataclass
class PasteResult:
    created: list = field(default_factory=list)     # top-level copies made
    problems: list = field(default_factory=list)    # (source path, message)
    cancelled: bool = False


def _copy_file(source, target):
    with open(source, "rb") as reader, open(target, "xb") as writer:
        shutil.copyfileobj(reader, writer, _CHUNK)
    try:
        shutil.copystat(source, target)
    except OSError:
        pass  # times and mode are kept where the file system allows


def _copy_link(source, target):
    os.symlink(os.readlink(source), target)


def _make_entry(source, target):
    """Create `target` as a copy of the single entry `source` (not its contents)."""
    mode = os.lstat(source).st_mode
    if stat.S_ISLNK(mode):
        _copy_link(source, target)
    elif stat.S_ISDIR(mode):
        os.mkdir(target)
    elif stat.S_ISREG(mode):
        _copy_file(source, target)
    else:
        raise FileOpsError(f"{source} is a special file and was not copied")


def _plan(source, problems):
    """Paths below the folder `source`, relative to it, parents before children.
    Symbolic links are copied as links, not followed; a sub-folder that cannot
    be read is noted in `problems` rather than copied as if it were empty."""
    entries = []

    def unreadable(exc):
        problems.append((Path(exc.filename), f"Cannot read {exc.filename}: {_reason(exc)}"))

    for root, folders, files in os.walk(source, onerror=unreadable):
        folders.sort()
        relative_root = Path(root).relative_to(source)
        entries.extend(relative_root / name for name in folders + sorted(files))
    return entries


def _inside(path, folder):
    try:
        Path(path).resolve().relative_to(Path(folder).resolve())
        return True
    except ValueError:
        return False


def paste(sources, folder, progress=None):
    """Copy `sources` (files and folders, recursively) into `folder`.

    A name already taken gets a "(copy)" name. `progress(done, total, path)`
    is called before each entry; when it returns False the paste stops there
    (what was copied stays). Problems with single entries are collected in
    the result and the rest goes on.
    """
    folder = Path(folder)
    if not folder.is_dir():
        raise FileOpsError(f"Cannot paste into {folder}: it is not a folder.")
    result = PasteResult()
    jobs = []
    for source in map(Path, sources):
        if not os.path.lexists(source):
            result.problems.append((source, f"{source} no longer exists"))
        elif source.is_dir() and not source.is_symlink() and _inside(folder, source):
            result.problems.append((source, f"Cannot copy the folder {source} into itself "
                                            f"({folder} is inside it)"))
        elif source.is_dir() and not source.is_symlink():
            jobs.append((source, _plan(source, result.problems)))
        else:
            jobs.append((source, []))
    total = sum(1 + len(entries) for _, entries in jobs)
    done = 0

    def step(path):
        nonlocal done
        keep_going = progress is None or progress(done, total, path) is not False
        done += 1
        return keep_going

    for source, entries in jobs:
        if not step(source):
            result.cancelled = True
            break
        is_folder = source.is_dir() and not source.is_symlink()
        try:
            top = _create_unique(folder, source.name, is_folder,
                                 lambda target: _make_entry(source, target))
        except FileOpsError as exc:
            result.problems.append((source, str(exc)))
            continue
        except OSError as exc:
            result.problems.append((source, f"{source}: {_reason(exc)}"))
            continue
        result.created.append(top)
        failed = []   # folders not created: their contents are skipped
        for relative in entries:
            if not step(source / relative):
                result.cancelled = True
                break
            if any(relative.is_relative_to(f) for f in failed):
                continue
            try:
                _make_entry(source / relative, top / relative)
            except FileOpsError as exc:
                result.problems.append((source / relative, str(exc)))
            except OSError as exc:
                result.problems.append((source / relative, f"{source / relative}: {_reason(exc)}"))
                failed.append(relative)
        if result.cancelled:
            break
    if progress is not None and not result.cancelled:
        progress(total, total, None)
    return result


# ---------------------------------------------------------------- new entries

def _check_new_path(path):
    path = Path(path)
    if not path.name.strip():
        raise FileOpsError(f"A name cannot be blank: nothing was created in {path.parent}.")
    if path.name in (".", ".."):
        raise FileOpsError(f"\"{path.name}\" cannot be a name: nothing was created in {path.parent}.")
    if ".." in path.parts:
        raise FileOpsError(f"Cannot create {path}: \"..\" would put it outside its folder, "
                           f"at {os.path.normpath(path)}.")
    if os.path.lexists(path):
        kind = "folder" if path.is_dir() else "file"
        raise FileOpsError(f"A {kind} already exists at {path}: nothing was created.")
    return path


def _missing_folders(folder):
    """The folders that creating `folder` with its parents would make, top first."""
    missing = []
    while not os.path.lexists(folder) and folder != folder.parent:
        missing.append(folder)
        folder = folder.parent
    return missing[::-1]


def _create(path, make):
    path = _check_new_path(path)
    try:
        folders = _missing_folders(path.parent)
        path.parent.mkdir(parents=True, exist_ok=True)
        make(path)
    except FileExistsError:
        raise FileOpsError(f"Something already exists at {path}: nothing was created.") from None
    except (OSError, ValueError) as exc:
        reason = _reason(exc) if isinstance(exc, OSError) else str(exc)
        raise FileOpsError(f"Cannot create {path}: {reason}.") from None
    return path, folders


def create_file(path):
    """Create an empty file, and missing folders above it; never touches an
    existing one. Returns (the file, [the folders made for it, top first])."""
    return _create(path, lambda p: open(p, "xb").close())


def create_folder(path):
    """Create a folder, and missing folders above it; an existing name is an
    error. Returns (the folder, [the folders made for it, top first])."""
    return _create(path, lambda p: p.mkdir())


# ---------------------------------------------------------------- viewing

@dataclass
class FileContent:
    path: Path
    text: str = None        # None when the file is not shown
    message: str = None     # why it is not shown, or a note about the text


def read_for_viewer(path, limit=VIEW_LIMIT):
    """The text of `path` for a read-only viewer, or a message why not."""
    path = Path(path)
    try:
        info = path.stat()
        if not stat.S_ISREG(info.st_mode):
            return FileContent(path, message=f"{path.name} is not a regular file.")
        if info.st_size > limit:
            return FileContent(path, message=(
                f"{path.name} is too large to show ({info.st_size / 1048576:.1f} MB; "
                f"the viewer shows files up to {limit / 1048576:.0f} MB)."))
        with open(path, "rb") as reader:
            data = reader.read(limit + 1)
    except OSError as exc:
        return FileContent(path, message=f"Cannot open {path.name}: {_reason(exc)}.")
    if b"\0" in data[:_SNIFF]:
        return FileContent(path, message=f"{path.name} is a binary file and is not shown.")
    try:
        return FileContent(path, text=data.decode("utf-8"))
    except UnicodeDecodeError:
        return FileContent(path, text=data.decode("utf-8", errors="replace"),
                           message="Not valid UTF-8: unreadable bytes are shown as \ufffd.")
