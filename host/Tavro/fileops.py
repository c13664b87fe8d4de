"""File operations behind the host's commands: paste, move, create and read.

Nothing here ever overwrites: every file is created exclusively and every
folder with a plain mkdir, so a name taken meanwhile is an error or a new name,
never lost data. Problems the user can act on are raised as FileOpsError with
a message meant for them.
"""
import errno
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


def free_name(folder, name, is_folder):
    """The name a copy or a move of `name` takes in `folder` as it stands now."""
    number = 0
    while os.path.lexists(Path(folder) / copy_name(name, number, is_folder)):
        number += 1
    return copy_name(name, number, is_folder)


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
    sources: list = field(default_factory=list)     # what each of them is a copy of
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
        result.sources.append(source)
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


# ---------------------------------------------------------------- move

@dataclass
class MoveResult:
    moved: list = field(default_factory=list)       # (source, where it is now)
    problems: list = field(default_factory=list)    # (source path, message)
    cancelled: bool = False


class _NotPlaced(Exception):
    """The rename failed after its name was taken; carries the OSError."""


def _rename_unique(source, folder, is_folder):
    """Rename `source` into `folder` under its own name or a "(copy)" one.

    A plain rename replaces a file of the same name without a word. Here the
    name is taken first, as paste takes it (an empty file, or an empty folder
    for a folder), and the rename then replaces only that stand-in of ours.
    """
    def place(target):
        if is_folder:
            os.mkdir(target)
        else:
            open(target, "xb").close()
        try:
            os.replace(source, target)
        except OSError as exc:
            try:
                (os.rmdir if is_folder else os.unlink)(target)
            except OSError:
                pass
            # Not FileExistsError: that would send _create_unique to the next name.
            raise _NotPlaced(exc) from None

    return _create_unique(folder, source.name, is_folder, place)


def _remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    else:
        os.unlink(path)


def _move_across(source, folder, result, keep_going):
    """Move `source` to another volume: copy it by the rules of paste, and remove
    the original only once the whole copy is made."""
    copied = paste([source], folder, progress=lambda done, total, path: keep_going(path))
    result.problems.extend(copied.problems)
    result.cancelled = copied.cancelled
    if not copied.created:
        return
    target = copied.created[0]
    if copied.problems or copied.cancelled:
        result.problems.append((source, f"{source} was copied only in part, to {target}; "
                                        f"the original stays where it was"))
        return
    try:
        _remove(source)
    except OSError as exc:
        result.problems.append((source, f"{source} was copied to {target}, but the original "
                                        f"could not be removed: {_reason(exc)}"))
    result.moved.append((source, target))


def move(sources, folder, progress=None):
    """Move `sources` (files and folders) into `folder`, never overwriting.

    A name already taken gets a "(copy)" name, as in paste. On the same volume
    an entry is renamed; to another volume it is copied and the original then
    removed. `progress(done, total, path)` is called before each source (and
    each entry of a copy across volumes); when it returns False the move stops
    there. Problems with single sources are collected and the rest goes on.
    """
    folder = Path(folder)
    if not folder.is_dir():
        raise FileOpsError(f"Cannot move into {folder}: it is not a folder.")
    result = MoveResult()
    sources = [Path(source) for source in sources]
    here = os.path.realpath(folder)
    for done, source in enumerate(sources):
        def keep_going(path, done=done):
            return progress is None or progress(done, len(sources), path) is not False

        if not keep_going(source):
            result.cancelled = True
            break
        if not os.path.lexists(source):
            result.problems.append((source, f"{source} no longer exists"))
            continue
        is_folder = source.is_dir() and not source.is_symlink()
        if os.path.realpath(source.parent) == here:
            result.problems.append((source, f"{source} is already in {folder}"))
        elif is_folder and _inside(folder, source):
            result.problems.append((source, f"Cannot move the folder {source} into itself "
                                            f"({folder} is inside it)"))
        else:
            try:
                result.moved.append((source, _rename_unique(source, folder, is_folder)))
            except _NotPlaced as failed:
                exc = failed.args[0]
                if exc.errno == errno.EXDEV:
                    _move_across(source, folder, result, keep_going)
                    if result.cancelled:
                        break
                else:
                    result.problems.append((source, f"{source}: {_reason(exc)}"))
            except OSError as exc:
                result.problems.append((source, f"{source}: {_reason(exc)}"))
    if progress is not None and not result.cancelled:
        progress(len(sources), len(sources), None)
    return result


# ---------------------------------------------------------------- new entries

def outside(path, folder):
    """Whether `path` lies outside `folder`, judged from the names as typed: a
    folder reached through a link inside `folder` is inside it, as the tree
    shows it. Another drive or network share is always outside."""
    path, folder = (os.path.normcase(os.path.normpath(p)) for p in (path, folder))
    try:
        return os.path.commonpath([path, folder]) != folder
    except ValueError:   # different drives, or one path relative
        return True


def _check_new_path(path, within=None):
    path = Path(path)
    if not path.name.strip():
        raise FileOpsError(f"A name cannot be blank: nothing was created in {path.parent}.")
    if path.name in (".", ".."):
        raise FileOpsError(f"\"{path.name}\" cannot be a name: nothing was created in {path.parent}.")
    if ".." in path.parts:
        raise FileOpsError(f"Cannot create {path}: \"..\" would put it outside its folder, "
                           f"at {os.path.normpath(path)}.")
    # The name typed is joined to the folder it was asked for, and an absolute
    # name (a root, a drive, a share) replaces that folder in the join. What
    # arrives here is only the joined path, so the line drawn is the working
    # folder: every folder the tree offers lies inside it.
    if within is not None and outside(path, within):
        raise FileOpsError(f"Cannot create {path}: it would be outside the working folder "
                           f"{within}, and nothing was created.")
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


def _create(path, make, within):
    path = _check_new_path(path, within)
    try:
        folders = _missing_folders(path.parent)
        # Folders are made to hold the new item inside the working folder only:
        # a working folder moved or removed meanwhile is not made anew.
        if within is not None and folders and (outside(folders[0], within)
                                               or not outside(within, folders[0])):
            raise FileOpsError(f"Cannot create {path}: the working folder {within} no longer "
                               f"exists (deleted or moved), and nothing was created.")
        for folder in folders:
            try:
                os.mkdir(folder)
            except FileExistsError:
                if not os.path.isdir(folder):
                    raise
        make(path)
    except FileExistsError:
        raise FileOpsError(f"Something already exists at {path}: nothing was created.") from None
    except (OSError, ValueError) as exc:
        reason = _reason(exc) if isinstance(exc, OSError) else str(exc)
        raise FileOpsError(f"Cannot create {path}: {reason}.") from None
    return path, folders


def create_file(path, within=None):
    """Create an empty file, and missing folders above it; never touches an
    existing one nor creates outside the folder `within` (when given).
    Returns (the file, [the folders made for it, top first])."""
    return _create(path, lambda p: open(p, "xb").close(), within)


def create_folder(path, within=None):
    """Create a folder, and missing folders above it; an existing name is an
    error, and so is a place outside the folder `within` (when given).
    Returns (the folder, [the folders made for it, top first])."""
    return _create(path, lambda p: p.mkdir(), within)


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
