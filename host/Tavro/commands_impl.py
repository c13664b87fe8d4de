"""The eight "Nodra." commands that the explorer panel asks the host to run,
and the two the host runs itself when files are dropped on the tree.

The logic lives here, apart from the window, and talks to the screen through
a small `ui` object (the main window in the application, a fake in tests):

    ui.panel()                      the explorer panel, or None
    ui.askFolder(start)             a folder chosen by the user, or None
    ui.openFolder(folder)           show it in the panel; the folder the panel shows
    ui.confirm(title, question)     True when the user agrees
    ui.showFile(content)            show a fileops.FileContent
    ui.progress(title)              context manager giving a progress callback
    ui.status(text)                 a short note for the status line
"""
import os
import sys
from pathlib import Path

from Kelpa import QFileSystemModel, Qt

from . import errors, fileops, trash
from .fileops import FileOpsError

_LISTED = 5  # paths spelled out in a message before "and N more"


def _count(number, noun="item"):
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


def _describe(paths):
    """Paths named in a sentence: one by its full path, several by their count
    and the folder they share."""
    if len(paths) == 1:
        return str(paths[0])
    parents = {path.parent for path in paths}
    where = f" from {parents.pop()}" if len(parents) == 1 else ""
    return f"{_count(len(paths))}{where}"


def _listing(paths):
    lines = [str(path) for path in paths[:_LISTED]]
    if len(paths) > _LISTED:
        lines.append(f"... and {len(paths) - _LISTED} more")
    return "\n".join(lines)


def _problems_text(problems):
    lines = [errors.sentence(message) for _, message in problems[:_LISTED]]
    if len(problems) > _LISTED:
        lines.append(f"... and {len(problems) - _LISTED} more.")
    return "\n".join(lines)


def _renamed(source, folder):
    """`source` as a move question names it: with the free name it will take
    when its own is taken in `folder`."""
    name = fileops.free_name(folder, source.name, source.is_dir() and not source.is_symlink())
    return source if name == source.name else f'{source} (as "{name}")'


def _and(words):
    return words[0] if len(words) == 1 else f"{', '.join(words[:-1])} and {words[-1]}"


class HostCommands:
    """Runs the explorer's host commands against `services` and `ui`."""

    IDS = ("openFolder", "openFile", "selectOpenedFile", "copyFiles",
           "pasteFiles", "deleteFiles", "newFile", "newFolder")
    DROP_IDS = ("dropFiles", "moveFiles")   # the host's own, run by drops on the tree

    def __init__(self, services, ui):
        self.services = services
        self.ui = ui
        self.copied = []        # paths remembered by copyFiles
        self.openedFile = None

    def register(self):
        for name in self.IDS + self.DROP_IDS:
            self.services.commands.register(f"Nodra.{name}", getattr(self, name))
        QFileSystemModel.setDropHandler(self._dropHandler)
        return self

    def _dropHandler(self, paths, folder, action):
        """A drop is a change to files like any other: it runs a named command."""
        command = "Nodra.moveFiles" if action == Qt.DropAction.MoveAction else "Nodra.dropFiles"
        self.services.commands.execute(command, paths, folder)

    def _error(self, text):
        self.services.window.showErrorMessage(text)

    def _select(self, paths):
        panel = self.ui.panel()
        if panel is not None and paths:
            panel.select([Path(p) for p in paths])

    # ------------------------------------------------------------ folders

    def setWorkingFolder(self, folder):
        """Show `folder` in the panel and make what it shows the working folder;
        True when that is `folder`."""
        folder = Path(folder).expanduser().resolve()
        try:
            missing = not folder.is_dir()
        except PermissionError:
            missing = False   # behind a folder that cannot be searched: the panel says so
        if missing:
            self._error(f"{folder} is not a folder.")
            return False
        # The panel may refuse the folder: the workspace follows what it shows.
        shown = self.ui.openFolder(folder)
        self.services.workspace.setWorkingFolder(shown)
        return shown == folder

    def enterFolder(self, folder):
        """Keep the process's current folder at the working folder.

        The explorer checks a folder typed into "Copy to" against the current
        folder before the host sees it; in the working folder, that check and
        the host agree on what a relative path means."""
        if folder is not None:
            try:
                os.chdir(folder)
            except OSError as exc:
                print(f"Tavro: cannot enter {folder}: {exc.strerror or exc}", file=sys.stderr)

    def openFolder(self):
        folder = self.ui.askFolder(self.services.workspace.workingFolder())
        if folder is not None:
            self.setWorkingFolder(folder)

    # ------------------------------------------------------------ files

    def openFile(self, path):
        content = fileops.read_for_viewer(path)
        self.openedFile = Path(path)
        self.ui.showFile(content)

    def selectOpenedFile(self):
        if self.openedFile is None:
            self._error("No file is open.")
        elif not self.openedFile.exists():
            self._error(f"The opened file {self.openedFile} no longer exists.")
        elif self.ui.panel() is None:
            self._error("The explorer panel is not available.")
        else:
            self._select([self.openedFile])

    def copyFiles(self, paths):
        paths = [Path(p) for p in paths]
        if not paths:
            self.ui.status("Nothing selected to copy.")
            return
        self.copied = paths
        self.ui.status(f"Copied {_describe(paths)}: choose Paste to put a copy in a folder.")

    def _inWorkingFolder(self, folder):
        """`folder` as an absolute path: a relative one is taken from the working
        folder, the only folder the user sees, never from the process's own."""
        folder = Path(folder).expanduser()
        base = self.services.workspace.workingFolder()
        if not folder.is_absolute() and base is not None:
            folder = Path(base) / folder
        return Path(os.path.abspath(folder))

    def _outsideWorkingFolder(self, folder, doing, done):
        """Refuse, with a message, a `folder` outside the working folder: only
        its tree is on screen, and what is made elsewhere is made unseen."""
        base = self.services.workspace.workingFolder()
        if base is None or not fileops.outside(folder, base):
            return False
        self._error(f"Cannot {doing} {folder}: it is outside the working folder {base}, "
                    f"and nothing was {done}.")
        return True

    def pasteFiles(self, folder):
        if not self.copied:
            self._error("Nothing to paste: copy files or folders first.")
            return
        self.copyInto(self.copied, folder, "Paste")

    def dropFiles(self, paths, folder):
        """Files dropped on the tree: copied by the rules of Paste."""
        self.copyInto([Path(p) for p in paths], folder, "Drop")

    def copyInto(self, sources, folder, action):
        """Copy `sources` into `folder`, never overwriting, and say what happened."""
        folder = self._inWorkingFolder(folder)
        verb = {"Paste": "Pasted", "Drop": "Copied"}[action]
        if self._outsideWorkingFolder(folder, f"{action.lower()} into", "copied"):
            return
        try:
            with self.ui.progress(f"Copying into {folder}") as report:
                result = fileops.paste(sources, folder, progress=report)
        except FileOpsError as exc:
            self._error(str(exc))
            return
        self._select(result.created)
        self._problems(result.problems, "copied", folder)
        made = (f"{result.created[0]}" if len(result.created) == 1
                else f"{_count(len(result.created))} into {folder}")
        if action == "Drop" and len(result.created) == 1:
            made = f"{result.sources[0]} to {result.created[0]}"   # a drag says what went where
        if result.cancelled:
            self.ui.status(f"{action} cancelled: {made} made before it stopped.")
        elif result.created:
            self.ui.status(f"{verb} {made}.")
        else:
            self.ui.status(f"Nothing was copied into {folder}.")

    def _problems(self, problems, verb, folder):
        """One message for what a copy or a move could not carry into `folder`."""
        if problems:
            which = (f"{problems[0][0]} was" if len(problems) == 1
                     else f"{_count(len(problems))} were")
            self._error(f"{which} not {verb} into {folder}:\n" + _problems_text(problems))

    def moveFiles(self, paths, folder):
        """Files dragged onto a folder of the tree (a plain or Shift drag): moved
        there after asking, never overwriting, by the naming rules of Paste."""
        sources = [Path(p) for p in paths]
        folder = self._inWorkingFolder(folder)
        if not sources:
            self._error("Nothing to move.")
            return
        if self._outsideWorkingFolder(folder, "move into", "moved"):
            return
        question = (f"Move {_renamed(sources[0], folder)} into {folder}?" if len(sources) == 1 else
                    f"Move these {len(sources)} items into {folder}?\n"
                    + _listing([_renamed(source, folder) for source in sources]))
        if not self.ui.confirm("Move", question):
            return
        try:
            with self.ui.progress(f"Moving into {folder}") as report:
                result = fileops.move(sources, folder, progress=report)
        except FileOpsError as exc:
            self._error(str(exc))
            return
        self._select([target for _, target in result.moved])
        for source, target in result.moved:   # "Select Opened File" finds it where it went
            if self.openedFile is not None and self.openedFile.is_relative_to(source):
                self.openedFile = target / self.openedFile.relative_to(source)
        self._problems(result.problems, "moved", folder)
        made = (f"{result.moved[0][0]} to {result.moved[0][1]}" if len(result.moved) == 1
                else f"{_count(len(result.moved))} into {folder}")
        if result.cancelled:
            self.ui.status(f"Move cancelled: {made} moved before it stopped.")
        elif result.moved:
            self.ui.status(f"Moved {made}.")
        else:
            self.ui.status(f"Nothing was moved into {folder}.")

    def deleteFiles(self, paths):
        paths = [Path(p) for p in paths]
        if not paths:
            self.ui.status("Nothing selected to delete.")   # as Copy says it
            return
        try:
            trash.prepare()
        except trash.TrashUnavailable as exc:
            self._error(f"Cannot move to the trash: {exc}. Nothing was deleted.")
            return
        question = (f"Move {paths[0]} to the trash?" if len(paths) == 1 else
                    f"Move these {len(paths)} items to the trash?\n{_listing(paths)}")
        if not self.ui.confirm("Move to Trash", question):
            return
        moved, problems = [], []
        for path in paths:
            try:
                trash.move_to_trash(path)
                moved.append(path)
            except trash.TrashUnavailable as exc:
                problems.append((path, str(exc)))
        if problems:
            stuck = [path for path, _ in problems]
            if moved:
                outcome = (f"{_describe(moved)} {'was' if len(moved) == 1 else 'were'} moved "
                           f"to the trash; {_describe(stuck)} "
                           + ("stays where it was." if len(stuck) == 1 else "stay where they were."))
            else:
                outcome = "Nothing was deleted."
            self._error("Cannot move to the trash:\n" + _problems_text(problems) + "\n" + outcome)
        if moved:
            self.ui.status(f"Moved {_describe(moved)} to the trash.")

    def newFile(self, path):
        self._create(fileops.create_file, path)

    def newFolder(self, path):
        self._create(fileops.create_folder, path)

    def _create(self, make, path):
        try:
            # Only the working folder's tree is on screen: nothing is made outside it.
            created, folders = make(path, within=self.services.workspace.workingFolder())
        except FileOpsError as exc:
            self._error(str(exc))
            return
        self._select([created])
        # The folders typed before the name were made too: say so.
        holders = (f" and the folder{'s' if len(folders) > 1 else ''} "
                   f"{_and([str(f) for f in folders])} to hold it" if folders else "")
        self.ui.status(f"Created {created}{holders}.")
