"""The demo host's commands on real temporary folders, and its headless run."""
import json
import os
import shutil
import subprocess
import sys
from urllib.parse import unquote_to_bytes
from contextlib import contextmanager
from pathlib import Path

import pytest

from Tavro import Services, errors, fileops, trash
from Tavro.commands_impl import HostCommands
from Tavro.fileops import FileOpsError, copy_name, move, paste, read_for_viewer

from conftest import make_tree

REPO = Path(__file__).resolve().parent.parent


class FakePanel:
    def __init__(self):
        self.calls = []

    def select(self, paths):
        self.calls.append(("select", paths))

    def setWorkingFolder(self, path):
        self.calls.append(("setWorkingFolder", path))


class FakeUi:
    """Answers the commands' questions as a test tells it to and records the rest."""

    def __init__(self):
        self.thePanel = FakePanel()
        self.chosenFolder = None
        self.refused = set()     # folders the panel refuses to show
        self.shownFolder = None
        self.agree = True
        self.shown = []
        self.notes = []
        self.progressCalls = []

    def panel(self):
        return self.thePanel

    def askFolder(self, start):
        return self.chosenFolder

    def openFolder(self, folder):
        """The panel is asked; it shows `folder` unless it is in `refused`."""
        self.thePanel.setWorkingFolder(folder)
        if folder not in self.refused:
            self.shownFolder = folder
        return self.shownFolder

    def confirm(self, title, question):
        self.notes.append(("confirm", question))
        return self.agree

    def showFile(self, content):
        self.shown.append(content)

    def status(self, text):
        self.notes.append(("status", text))

    @contextmanager
    def progress(self, title):
        yield lambda done, total, path: self.progressCalls.append((done, total)) or True


@pytest.fixture
def host():
    services = Services()
    ui = FakeUi()
    commands = HostCommands(services, ui).register()
    return services, ui, commands


def errors_of(services):
    return list(services.window.recentErrors)


def tree_of(root):
    """{relative path: content or "/"} of everything under `root`."""
    root = Path(root)
    return {str(p.relative_to(root)): ("/" if p.is_dir() else p.read_bytes())
            for p in sorted(root.rglob("*"))}


# ---------------------------------------------------------------- paste

@pytest.mark.parametrize("name, number, is_folder, expected", [
    ("notes.txt", 0, False, "notes.txt"),
    ("notes.txt", 1, False, "notes (copy).txt"),
    ("notes.txt", 3, False, "notes (copy 3).txt"),
    (".bashrc", 1, False, ".bashrc (copy)"),
    ("lib.d", 2, True, "lib.d (copy 2)"),
])
def test_copy_names(name, number, is_folder, expected):
    assert copy_name(name, number, is_folder) == expected


def made_by(result):
    """The top-level entries a paste or a move made."""
    return result.created if hasattr(result, "created") else [made for _, made in result.moved]


@pytest.mark.parametrize("operation", [paste, move])
def test_paste_and_move_never_overwrite(folder_tree, operation):
    # A rename would replace the file and the empty folder of the same names.
    source = folder_tree({"notes.txt": "new", "docs/a.md": "A"})
    target = folder_tree({"notes.txt": "old", "notes (copy).txt": "older", "docs/": None})
    result = operation([source / "notes.txt", source / "docs"], target)
    assert made_by(result) == [target / "notes (copy 2).txt", target / "docs (copy)"]
    assert tree_of(target) == {
        "docs": "/", "docs (copy)": "/", "docs (copy)/a.md": b"A",
        "notes (copy 2).txt": b"new", "notes (copy).txt": b"older", "notes.txt": b"old"}
    assert result.problems == [] and not result.cancelled
    assert tree_of(source) == ({} if operation is move else
                               {"docs": "/", "docs/a.md": b"A", "notes.txt": b"new"})


def test_paste_copies_folders_recursively(folder_tree):
    layout = {"pkg/a.py": "print(1)", "pkg/sub/deep/b.bin": b"\0\1\2", "pkg/empty/": None,
            "pkg/.hidden": "h"}
    source = folder_tree(layout)
    target = folder_tree([])
    os.symlink("a.py", source / "pkg" / "link")
    paste([source / "pkg"], target)
    paste([source / "pkg"], target)   # the second lands beside the first
    assert tree_of(target / "pkg") == tree_of(source / "pkg")
    assert tree_of(target / "pkg (copy)") == tree_of(source / "pkg")
    assert os.readlink(target / "pkg" / "link") == "a.py"   # copied as a link


@pytest.mark.parametrize("operation", [paste, move])
@pytest.mark.parametrize("into", [".", "sub", "sub/inner"])
def test_paste_and_move_refuse_a_folder_into_itself(folder_tree, into, operation):
    source = folder_tree(["pkg/sub/inner/"])
    before = tree_of(source)
    result = operation([source / "pkg"], source / "pkg" / into)
    assert made_by(result) == [] and "into itself" in result.problems[0][1]
    assert tree_of(source) == before


@pytest.mark.parametrize("operation", [paste, move])
def test_paste_and_move_report_progress_and_stop_on_cancel(folder_tree, operation):
    source = folder_tree(["a.txt", "b.txt", "c.txt"])
    target = folder_tree([])
    seen = []
    result = operation([source / n for n in ("a.txt", "b.txt", "c.txt")], target,
                       progress=lambda done, total, path: seen.append((done, total)) or done < 2)
    assert seen == [(0, 3), (1, 3), (2, 3)]
    assert result.cancelled and sorted(os.listdir(target)) == ["a.txt", "b.txt"]
    assert "c.txt" in os.listdir(source)


def test_move_to_another_volume_copies_then_removes_only_whole_copies(folder_tree, other_volume):
    source = folder_tree({"a.txt": "A", "pkg/sub/x.py": "x", "odd/keep.txt": "k"})
    os.mkfifo(source / "odd" / "pipe")
    result = move([source / "a.txt", source / "pkg", source / "odd"], other_volume)
    assert made_by(result) == [other_volume / "a.txt", other_volume / "pkg"]
    assert tree_of(other_volume / "pkg") == {"sub": "/", "sub/x.py": b"x"}
    assert (other_volume / "a.txt").read_text() == "A"
    # A folder whose copy left something out keeps its original, whole.
    assert os.listdir(source) == ["odd"]
    assert sorted(os.listdir(source / "odd")) == ["keep.txt", "pipe"]
    assert [message for _, message in result.problems] == [
        f"{source / 'odd' / 'pipe'} is a special file and was not copied",
        f"{source / 'odd'} was copied only in part, to {other_volume / 'odd'}; "
        f"the original stays where it was"]


def test_paste_command_uses_the_copied_paths(host, folder_tree):
    services, ui, _ = host
    source = folder_tree({"x.txt": "x", "gone.txt": "g"})
    target = folder_tree([])
    services.commands.execute("Nodra.copyFiles", [source / "x.txt", source / "gone.txt"])
    (source / "gone.txt").unlink()
    services.commands.execute("Nodra.pasteFiles", target)
    assert (target / "x.txt").read_text() == "x"
    assert ui.thePanel.calls == [("select", [target / "x.txt"])]
    assert ui.progressCalls[-1] == (1, 1)   # the vanished file is not counted
    gone = source / "gone.txt"
    assert errors_of(services) == [f"{gone} was not copied into {target}:\n{gone} no longer exists."]


@pytest.mark.parametrize("copied, folder, message", [
    ([], "target", "Nothing to paste"),
    (["x.txt"], "x.txt", "not a folder"),
])
def test_paste_command_problems(host, folder_tree, copied, folder, message):
    services, _, _ = host
    root = folder_tree({"x.txt": "x", "target/": None})
    if copied:
        services.commands.execute("Nodra.copyFiles", [root / p for p in copied])
    services.commands.execute("Nodra.pasteFiles", root / folder)
    assert message in errors_of(services)[0]
    assert (root / "x.txt").read_text() == "x"


@pytest.mark.parametrize("typed", ["../B", "{root}/B", "{root}/A-b", "/"])
@pytest.mark.parametrize("command", ["Nodra.pasteFiles", "Nodra.dropFiles", "Nodra.moveFiles"])
def test_nothing_is_copied_or_moved_outside_the_working_folder(host, folder_tree, command, typed):
    # Only the working folder's tree is on screen: what lands elsewhere would
    # be selected and acted on unseen.
    services, ui, commands = host
    root = folder_tree({"A/a1.txt": "a", "B/": None, "A-b/": None}).resolve()
    commands.setWorkingFolder(root / "A")
    services.commands.execute("Nodra.copyFiles", [root / "A" / "a1.txt"])
    before = tree_of(root)
    folder = Path(typed.format(root=root))
    args = (folder,) if command == "Nodra.pasteFiles" else ([root / "A" / "a1.txt"], folder)
    services.commands.execute(command, *args)
    doing, done = {"Nodra.pasteFiles": ("paste into", "copied"),
                   "Nodra.dropFiles": ("drop into", "copied"),
                   "Nodra.moveFiles": ("move into", "moved")}[command]
    where = os.path.normpath(root / "A" / folder)
    assert errors_of(services) == [f"Cannot {doing} {where}: it is outside the working folder "
                                   f"{root / 'A'}, and nothing was {done}."]
    assert tree_of(root) == before
    assert [call for call in ui.thePanel.calls if call[0] == "select"] == []


@pytest.mark.parametrize("command", ["Nodra.copyFiles", "Nodra.deleteFiles"])
def test_nothing_selected_is_said_in_the_status_line(host, command):
    services, ui, _ = host
    services.commands.execute(command, [])
    verb = "copy" if command == "Nodra.copyFiles" else "delete"
    assert (ui.notes, errors_of(services)) == ([("status", f"Nothing selected to {verb}.")], [])


@pytest.mark.parametrize("cwd", ["working folder", "elsewhere"])
@pytest.mark.parametrize("typed", ["docs", "./docs", "sub/../docs", "~/docs"])
def test_paste_into_a_relative_folder_means_the_working_folder(host, folder_tree, monkeypatch,
                                                               typed, cwd):
    services, ui, commands = host
    elsewhere = folder_tree(["docs/"])
    monkeypatch.chdir(elsewhere)
    root = folder_tree({"x.txt": "x", "docs/": None, "sub/": None})
    monkeypatch.setenv("HOME", str(root))
    services.workspace.onWorkingFolderChanged(commands.enterFolder)
    commands.setWorkingFolder(root)
    assert Path.cwd() == root    # where the explorer checks the typed folder, too
    if cwd == "elsewhere":       # the host's rule holds wherever the process stands
        monkeypatch.chdir(elsewhere)
    services.commands.execute("Nodra.copyFiles", [root / "x.txt"])
    services.commands.execute("Nodra.pasteFiles", Path(typed))
    assert os.listdir(root / "docs") == ["x.txt"] and os.listdir(elsewhere / "docs") == []
    assert ui.notes[-1] == ("status", f"Pasted {root / 'docs' / 'x.txt'}.")


def drop_on(view, index, paths, keys="none"):
    """Drag `paths` over the tree and drop them on the row `index`, as a user
    does, holding "none", "Ctrl" or "Shift". Without a drag of Qt's own under
    way, Qt proposes Copy unless Shift is held."""
    from PyQt6.QtCore import QMimeData, QPointF, Qt, QUrl
    from PyQt6.QtGui import QDragEnterEvent, QDragMoveEvent, QDropEvent
    from PyQt6.QtWidgets import QApplication
    data = QMimeData()
    data.setUrls([QUrl.fromLocalFile(str(p)) for p in paths])
    point = view.visualRect(index).center()
    held = Qt.KeyboardModifier
    modifiers = {"none": held.NoModifier, "Ctrl": held.ControlModifier,
                 "Shift": held.ShiftModifier}[keys]
    how = (Qt.DropAction.CopyAction | Qt.DropAction.MoveAction, data, Qt.MouseButton.LeftButton,
           modifiers)
    for event in (QDragEnterEvent(point, *how), QDragMoveEvent(point, *how),
                  QDropEvent(QPointF(point), *how)):
        QApplication.sendEvent(view.viewport(), event)
    return event.isAccepted()


@pytest.fixture
def panel_host(qtbot, explorerview, host, folder_tree, wait_folder_loaded):
    """The real panel on a folder, its drops handled by the demo's commands."""
    services, ui, commands = host
    panel = explorerview.ExplorerView()
    qtbot.addWidget(panel)
    panel.resize(300, 400)
    root = folder_tree({"a.txt": "1", "pkg/sub/x.py": "x", "dest/": None})
    view = panel._fileSystemView
    with wait_folder_loaded(view.fsmodel, root):
        panel.setWorkingFolder(root)
    panel.show()
    qtbot.waitExposed(panel)
    index_of = lambda name: view.sortModel.mapFromSource(view.fsmodel.index(str(root / name)))
    return root, view, index_of, ui, panel   # the panel too: it owns the view


def test_a_drop_copies_like_paste_and_says_so(qtbot, panel_host):
    root, view, index_of, ui, _ = panel_host
    dest = root / "dest"
    # The tree drops beside a file row, into its folder; the model itself never
    # takes a file as the folder to copy into.
    from PyQt6.QtCore import QMimeData, Qt, QUrl
    data = QMimeData()
    data.setUrls([QUrl.fromLocalFile(str(root / "pkg"))])
    on_file = (Qt.DropAction.CopyAction, -1, -1, view.fsmodel.index(str(root / "a.txt")))
    assert not view.fsmodel.canDropMimeData(data, *on_file)
    assert not view.fsmodel.dropMimeData(data, *on_file)
    # Copy and move are taken; a link is not.
    assert not view.fsmodel.canDropMimeData(data, Qt.DropAction.LinkAction, -1, -1,
                                            view.fsmodel.index(str(dest)))
    expected = [("a.txt", "1"), ("a (copy).txt", "2")]
    for name, content in expected:
        (root / "a.txt").write_text(content)
        assert drop_on(view, index_of("dest"), [root / "a.txt"], keys="Ctrl")
        qtbot.waitUntil(lambda: ui.notes[-1:] == [
            ("status", f"Copied {root / 'a.txt'} to {dest / name}.")])
    assert tree_of(dest) == {name: content.encode() for name, content in expected}
    # A drag that ends where it began is a slip: onto a sibling (into the
    # items' own folder) or a folder onto itself copies nothing; from a mixed
    # drag only the items from elsewhere are copied.
    before = tree_of(root)
    assert not drop_on(view, index_of("a.txt"), [root / "a.txt", root / "pkg"])
    assert not drop_on(view, index_of("dest"), [root / "dest"])
    qtbot.wait(50)
    assert tree_of(root) == before
    assert drop_on(view, index_of("dest"), [root / "pkg", dest / "a.txt", root / "a.txt"])
    qtbot.waitUntil(lambda: ui.notes[-1] == ("status", f"Copied 2 items into {dest}."))
    assert tree_of(dest / "pkg") == tree_of(root / "pkg")
    assert ui.progressCalls[-1] == (4, 4)   # pkg, sub, x.py and a.txt


@pytest.mark.parametrize("agree", [True, False], ids=["agreed", "declined"])
def test_a_shift_drop_moves_after_asking_and_never_overwrites(qtbot, panel_host, host, agree):
    root, view, index_of, ui, _ = panel_host
    dest = root / "dest"
    (dest / "a.txt").write_text("kept")
    ui.agree = agree
    commands = host[2]
    commands.openedFile = root / "pkg" / "sub" / "x.py"
    before = tree_of(root)
    assert drop_on(view, index_of("dest"), [root / "a.txt", root / "pkg"], keys="Shift")
    # The question names the free name an item takes where its own is taken.
    question = f"Move these 2 items into {dest}?\n{root / 'a.txt'} (as \"a (copy).txt\")\n{root / 'pkg'}"
    qtbot.waitUntil(lambda: ("confirm", question) in ui.notes)
    if not agree:
        qtbot.wait(50)
        assert tree_of(root) == before and ui.notes == [("confirm", question)]
        return
    qtbot.waitUntil(lambda: ui.notes[-1] == ("status", f"Moved 2 items into {dest}."))
    assert tree_of(root) == {"dest": "/", "dest/a (copy).txt": b"1", "dest/a.txt": b"kept",
                             "dest/pkg": "/", "dest/pkg/sub": "/", "dest/pkg/sub/x.py": b"x"}
    assert ui.thePanel.calls == [("select", [dest / "a (copy).txt", dest / "pkg"])]
    assert commands.openedFile == dest / "pkg" / "sub" / "x.py"   # Select Opened File finds it
    # One item is named with where it went; a move into the folder the item
    # is already in is a slip of the hand, and Shift makes it no less one.
    assert not drop_on(view, index_of("dest"), [dest / "a.txt"], keys="Shift")
    view.expand(index_of("dest"))
    qtbot.waitUntil(lambda: not view.visualRect(index_of("dest/pkg")).isEmpty())
    assert drop_on(view, index_of("dest/pkg"), [dest / "a.txt"], keys="Shift")
    qtbot.waitUntil(lambda: ui.notes[-1] == (
        "status", f"Moved {dest / 'a.txt'} to {dest / 'pkg' / 'a.txt'}."))
    assert ui.notes[-2] == ("confirm", f"Move {dest / 'a.txt'} into {dest / 'pkg'}?")


# ---------------------------------------------------------------- delete

@pytest.fixture
def data_home(tmp_path, monkeypatch):
    """A home folder and data folder of the test's own, on the test folder's volume."""
    home = tmp_path / "data"
    monkeypatch.setenv("XDG_DATA_HOME", str(home))
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    (tmp_path / "home").mkdir()
    monkeypatch.chdir(tmp_path)
    return home


@pytest.fixture
def other_volume(tmp_path):
    """A tmpfs mounted for the test: a volume other than the home folder's."""
    mount_point = tmp_path / "volume"
    mount_point.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(mount_point)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip() or mounted.returncode}")
    yield mount_point
    subprocess.run(["umount", "-l", str(mount_point)], check=True)


def trash_records(trash_folder):
    """{original path as bytes: what files/ holds}, read back per the trash format:
    the Path line URL-escaped, relative paths meaning the trash's own volume."""
    records = {}
    for info in (trash_folder / "info").iterdir():
        lines = info.read_text(encoding="ascii").splitlines()
        assert lines[0] == "[Trash Info]"
        path = unquote_to_bytes(next(line[5:] for line in lines if line.startswith("Path=")))
        if not path.startswith(b"/"):
            assert trash_folder.name.startswith(".Trash"), "a relative path in the home trash"
            path = os.path.join(os.fsencode(trash_folder.parent), path)
        kept = trash_folder / "files" / info.name[:-len(".trashinfo")]
        records[path] = tree_of(kept) if kept.is_dir() else kept.read_bytes()
    return records


TRASHED_NAMES = ["a b%c.txt", "100%20off.txt", "#1 draft.txt", "two\nlines.txt",
                 os.fsdecode(b"caf\xe9.txt"), "dir"]


@pytest.mark.parametrize("volume", ["home", "other"])
def test_delete_records_each_original_path(host, data_home, tmp_path, request, volume):
    services, ui, _ = host
    root = tmp_path / "tree" if volume == "home" else request.getfixturevalue("other_volume")
    content = {name: os.fsencode(name) for name in TRASHED_NAMES}
    make_tree(root, {name if name != "dir" else "dir/b.txt": content[name] for name in TRASHED_NAMES})
    services.commands.execute("Nodra.deleteFiles", [root / name for name in TRASHED_NAMES])
    assert errors_of(services) == []
    assert [n for n in os.listdir(root) if not n.startswith(".Trash")] == []
    trash = data_home / "Trash" if volume == "home" else root / f".Trash-{os.getuid()}"
    assert trash_records(trash) == {
        os.fsencode(root / name): {"b.txt": b"dir"} if name == "dir" else content[name]
        for name in TRASHED_NAMES}
    assert ui.notes[-1] == ("status", f"Moved {len(TRASHED_NAMES)} items from {root} to the trash.")


def test_delete_uses_the_trash_of_the_data_home_set_now(host, folder_tree, data_home, tmp_path,
                                                       monkeypatch):
    services, _, _ = host
    root = folder_tree(["a.txt", "b.txt"])
    services.commands.execute("Nodra.deleteFiles", [root / "a.txt"])
    later = tmp_path / "later-data"
    monkeypatch.setenv("XDG_DATA_HOME", str(later))
    services.commands.execute("Nodra.deleteFiles", [root / "b.txt"])
    assert errors_of(services) == []
    assert list(trash_records(data_home / "Trash")) == [os.fsencode(root / "a.txt")]
    assert list(trash_records(later / "Trash")) == [os.fsencode(root / "b.txt")]


def test_delete_asks_first_and_keeps_files_when_declined(host, folder_tree, data_home):
    services, ui, _ = host
    root = folder_tree({"a.txt": "a"})
    ui.agree = False
    services.commands.execute("Nodra.deleteFiles", [root / "a.txt"])
    assert (root / "a.txt").read_text() == "a"
    assert ui.notes == [("confirm", f"Move {root / 'a.txt'} to the trash?")]


def test_delete_without_a_trash_deletes_nothing(host, folder_tree, tmp_path, monkeypatch):
    services, ui, _ = host
    blocked = tmp_path / "not-a-folder"
    blocked.write_text("")            # the data folder cannot be made here
    monkeypatch.setenv("XDG_DATA_HOME", str(blocked))
    monkeypatch.chdir(tmp_path)
    root = folder_tree({"a.txt": "a"})
    services.commands.execute("Nodra.deleteFiles", [root / "a.txt"])
    assert (root / "a.txt").read_text() == "a"
    assert "Nothing was deleted" in errors_of(services)[0]
    assert not (tmp_path / "files").exists()


def test_what_the_trash_cannot_take_stays_in_place(host, data_home, tmp_path, other_volume):
    # The volume's trash folder cannot be made (a file has its name): those files stay.
    services, ui, _ = host
    (other_volume / f".Trash-{os.getuid()}").write_text("")
    stuck = make_tree(other_volume, {"stuck.txt": "s"}) / "stuck.txt"
    home_file = make_tree(tmp_path / "tree", {"gone.txt": "g"}) / "gone.txt"
    services.commands.execute("Nodra.deleteFiles", [stuck, home_file])
    assert stuck.read_text() == "s" and not home_file.exists()
    [message] = errors_of(services)
    assert message.startswith(f"Cannot move to the trash:\n{stuck} could not be moved")
    assert message.endswith(f"{home_file} was moved to the trash; {stuck} stays where it was.")


# ---------------------------------------------------------------- new file and folder

@pytest.mark.parametrize("command", ["Nodra.newFile", "Nodra.newFolder"])
@pytest.mark.parametrize("existing", ["taken.txt", "taken/"])
def test_new_refuses_an_existing_name(host, folder_tree, command, existing):
    services, ui, _ = host
    root = folder_tree({existing: None} if existing.endswith("/") else {existing: "keep"})
    before = tree_of(root)
    services.commands.execute(command, root / existing.rstrip("/"))
    assert "already exists" in errors_of(services)[0]
    assert tree_of(root) == before
    assert ui.thePanel.calls == []


@pytest.mark.parametrize("name, message", [
    ("..", '".." cannot be a name: nothing was created in {inner}.'),
    ("../escape.txt", 'Cannot create {inner}/../escape.txt: ".." would put it outside its '
                      'folder, at {root}/escape.txt.'),
    ("   ", "A name cannot be blank: nothing was created in {inner}."),
    # An absolute name replaces the folder in the join: anywhere outside the
    # working folder is refused, also beside it under a longer name.
    ("{outside}/x.txt", "Cannot create {outside}/x.txt: it would be outside the working folder "
                        "{root}, and nothing was created."),
    ("{root}-b/x.txt", "Cannot create {root}-b/x.txt: it would be outside the working folder "
                       "{root}, and nothing was created."),
])
def test_new_refuses_bad_names(host, folder_tree, name, message):
    services, _, _ = host
    root = folder_tree(["inner/"])
    outside = folder_tree([])
    services.workspace.setWorkingFolder(root)
    name = name.format(root=root, outside=outside)
    services.commands.execute("Nodra.newFile", root / "inner" / name)
    assert errors_of(services) == [message.format(root=root, inner=root / "inner", outside=outside)]
    assert tree_of(root) == {"inner": "/"} and tree_of(outside) == {}
    assert not Path(f"{root}-b").exists()


@pytest.mark.parametrize("command", ["Nodra.newFile", "Nodra.newFolder"])
@pytest.mark.parametrize("moved", ["working folder", "parent", "grandparent"])
def test_new_never_makes_the_working_folder_again(host, folder_tree, command, moved):
    # Moved away behind the window's back, the working folder (or one above
    # it) is not made anew to hold a new item: the tree would show stale rows
    # beside it.
    services, ui, _ = host
    root = folder_tree({"g1/p2/D/d1.txt": ""})
    folder = root / "g1" / "p2" / "D"
    services.workspace.setWorkingFolder(folder)
    gone = {"working folder": folder, "parent": folder.parent, "grandparent": folder.parent.parent}
    os.rename(gone[moved], gone[moved].with_name("away"))
    before = tree_of(root)
    services.commands.execute(command, folder / "sub" / "ghost")
    assert errors_of(services) == [f"Cannot create {folder / 'sub' / 'ghost'}: the working folder "
                                   f"{folder} no longer exists (deleted or moved), and nothing "
                                   f"was created."]
    assert tree_of(root) == before and ui.thePanel.calls == []


@pytest.mark.parametrize("command, name, is_dir, made", [
    ("Nodra.newFile", "notes.txt", False, ""),
    ("Nodra.newFile", "sub/notes.txt", False, " and the folder {root}/sub to hold it"),
    ("Nodra.newFolder", "pkg", True, ""),
    ("Nodra.newFolder", "a/b/pkg", True, " and the folders {root}/a and {root}/a/b to hold it"),
    # A folder the tree shows inside the working folder is inside it, wherever
    # a link leads; so is an absolute name that stays inside.
    ("Nodra.newFile", "link/notes.txt", False, ""),
    ("Nodra.newFile", "{root}/sub/notes.txt", False, " and the folder {root}/sub to hold it"),
])
def test_new_creates_and_selects(host, folder_tree, command, name, is_dir, made):
    services, ui, _ = host
    root = folder_tree([])
    os.symlink(folder_tree([]), root / "link")
    services.workspace.setWorkingFolder(root)
    name = name.format(root=root)
    services.commands.execute(command, root / name)
    assert (root / name).is_dir() == is_dir and (root / name).exists()
    assert ui.thePanel.calls == [("select", [root / name])]
    assert ui.notes == [("status", f"Created {root / name}{made.format(root=root)}.")]
    assert errors_of(services) == []


# ---------------------------------------------------------------- open, select, folder

@pytest.mark.parametrize("content, text, message", [
    ("hello\n", "hello\n", None),
    (b"\x89PNG\r\n\x1a\n\0\0", None, "binary file"),
    (b"caf\xe9", "caf\ufffd", "Not valid UTF-8"),
    ("x" * 200, None, "too large"),
])
def test_viewer_content(folder_tree, content, text, message):
    root = folder_tree({"f": content})
    shown = read_for_viewer(root / "f", limit=100)
    assert shown.text == text
    assert (message is None and shown.message is None) or message in shown.message


def test_open_then_select_opened_file(host, folder_tree):
    services, ui, _ = host
    root = folder_tree({"a.txt": "A"})
    services.commands.execute("Nodra.selectOpenedFile")
    assert errors_of(services) == ["No file is open."]
    services.commands.execute("Nodra.openFile", root / "a.txt")
    services.commands.execute("Nodra.selectOpenedFile")
    assert ui.shown[0].text == "A"
    assert ui.thePanel.calls == [("select", [root / "a.txt"])]


@pytest.mark.parametrize("chosen", ["chosen", "cancelled", "refused"])
def test_open_folder(host, folder_tree, chosen):
    # The workspace follows the folder the panel shows, not the one asked for.
    services, ui, commands = host
    before, root = folder_tree([]).resolve(), folder_tree([]).resolve()
    commands.setWorkingFolder(before)
    ui.chosenFolder = None if chosen == "cancelled" else root
    if chosen == "refused":
        ui.refused.add(root)
    services.commands.execute("Nodra.openFolder")
    expected = root if chosen == "chosen" else before
    assert services.workspace.workingFolder() == expected
    assert ui.thePanel.calls == [("setWorkingFolder", before)] + (
        [("setWorkingFolder", root)] if chosen != "cancelled" else [])


@pytest.mark.parametrize("names, readme", [
    (["README.md", "readme_embed.py"], "README.md"),
    (["readme_embed.py", "readme-notes.txt", "READMEs.md"], None),
    (["ReadMe.RST", "setup.py"], "ReadMe.RST"),
    (["README", "README.txt"], "README"),
    (["README.md/", "readme.txt"], "readme.txt"),   # a folder is no README
])
def test_only_real_readme_names_are_the_folders_readme(folder_tree, names, readme):
    from Tavro.app import _readme
    root = folder_tree(names)
    assert _readme(root) == (root / readme if readme else None)


# ---------------------------------------------------------------- the window and the panel

@pytest.fixture
def demo_window(qtbot, explorerview):
    """The demo's main window with its real panel and commands, shown offscreen."""
    from Tavro.mainwindow import MainWindow
    services = Services()
    window = MainWindow(services)
    qtbot.addWidget(window)
    commands = HostCommands(services, window).register()
    window.show()
    qtbot.waitExposed(window)
    yield services, window, commands
    # The busy cursor is the application's: a window closed mid-load lets it go.
    window.close()
    assert busy() is False
    services.window.attach(None)


def settled(qtbot, window):
    """Wait until the window has said how the folders it reads turned out."""
    qtbot.waitUntil(lambda: not window.folders.loading(), timeout=10000)


def busy():
    from PyQt6.QtWidgets import QApplication
    cursor = QApplication.overrideCursor()
    return cursor is not None and cursor.shape().name


@pytest.mark.parametrize("steps", [
    ["a"], ["a", "a"], ["a", "b", "a"], ["a/sub", "a"], ["", "+a", "a"], ["", "+a", "", "a"],
], ids=["first", "same again", "back", "parent", "expanded one", "root again"])
def test_an_opened_folder_says_it_loads_until_it_has_loaded(qtbot, demo_window, folder_tree,
                                                           steps):
    # Each step opens a folder ("+": expands it in the tree) and the window says
    # "Loading" with a busy cursor until the folder is read, then its count;
    # never a busy cursor left for a folder Qt has nothing more to read for.
    services, window, commands = demo_window
    root = folder_tree(["a/sub/x.txt", "a/y.txt", "b/z.txt"]).resolve()
    view = window.panel()._fileSystemView
    for step in steps:
        folder = root / step.lstrip("+")
        if step.startswith("+"):
            view.expand(view.model().mapFromSource(view.fsmodel.index(str(folder))))
            settled(qtbot, window)
            continue
        assert commands.setWorkingFolder(folder)
        assert (window.statusBar().currentMessage(), busy()) == (f"Loading {folder}…", "WaitCursor")
        settled(qtbot, window)
        count = len(os.listdir(folder))
        assert window.statusBar().currentMessage() == (
            f"Opened {folder}: {count} {'entry' if count == 1 else 'entries'}.")
        assert busy() is False
        assert services.workspace.workingFolder() == folder
        assert window.windowTitle() == f"{folder.name} - Tavro"


@pytest.mark.parametrize("then", ["folder deleted", "folder moved", "parent moved",
                                  "grandparent moved", "file deleted", "file changed",
                                  "other folder", "parent folder"])
def test_the_window_lets_go_of_what_is_gone(qtbot, demo_window, folder_tree, then):
    # The viewer shows a file only while it is there and in the folder shown;
    # a working folder removed behind the panel's back, or moved away with a
    # folder above it, is said and let go.
    services, window, commands = demo_window
    root = folder_tree({"g1/p2/a/notes.txt": "one", "g1/p2/a/two.txt": "", "b/": None}).resolve()
    folder = root / "g1" / "p2" / "a"
    notes = folder / "notes.txt"
    panel = window.panel()
    commands.setWorkingFolder(folder)
    settled(qtbot, window)
    services.commands.execute("Nodra.openFile", notes)
    panel.select([notes])
    assert window.viewer.text.toPlainText() == "one"
    if then.startswith("folder") or then.endswith("moved"):
        moved = {"folder moved": folder, "parent moved": folder.parent,
                 "grandparent moved": folder.parent.parent}.get(then)
        if moved is None:
            shutil.rmtree(folder)
        else:
            os.rename(moved, moved.with_name("elsewhere"))
        qtbot.waitUntil(lambda: "no longer exists" in window.statusBar().currentMessage())
        assert window.statusBar().currentMessage() == (
            f"{folder} no longer exists (deleted or moved); open a folder to go on.")
        # Nothing is left to act on it: the panel is back on its "Open Folder"
        # page with its toolbar off, the workspace holds no folder, the viewer no file.
        assert panel.workingFolder() is None and not panel._fileSystemView.isVisible()
        assert not panel._viewToolBar.isEnabled()
        assert (services.workspace.workingFolder(), window.windowTitle()) == (None, "Tavro")
        assert window.viewer.path is None
        # Made anew with other contents, it opens as it now is: the count is
        # the rows the tree shows.
        make_tree(folder, ["only.txt"])
        assert commands.setWorkingFolder(folder)
        settled(qtbot, window)
        rows = panel._fileSystemView.model()
        assert rows.rowCount(panel._fileSystemView.rootIndex()) == 1
        assert window.statusBar().currentMessage() == f"Opened {folder}: 1 entry."
    elif then == "file deleted":
        notes.unlink()
        qtbot.waitUntil(lambda: window.viewer.path is None)
        assert f"{notes} was deleted or moved" in window.viewer.message.text()
        assert window.viewer.pages.currentWidget() is window.viewer.message
    elif then == "file changed":
        notes.write_text("two")
        qtbot.waitUntil(lambda: window.viewer.text.toPlainText() == "two")
        notes.write_text("three")   # and it is still watched
        qtbot.waitUntil(lambda: window.viewer.text.toPlainText() == "three")
    else:
        commands.setWorkingFolder(root / "b" if then == "other folder" else root)
        assert window.viewer.path == (None if then == "other folder" else notes)
        assert window.viewer.title.text() == "No file open" or then == "parent folder"


@pytest.mark.parametrize("selected", ["outside the folder", "in a closed folder"])
def test_selecting_a_row_the_tree_does_not_show_loads_nothing(qtbot, demo_window, folder_tree,
                                                             selected):
    # Selecting expands the row's folder; a folder the tree does not show is
    # not read, and no loading state waits for it. Every loading state ends.
    services, window, commands = demo_window
    root = folder_tree({"A/notes.txt": "", "B/sub/deep/x.txt": "", "B/b.txt": ""}).resolve()
    commands.setWorkingFolder(root / "B")
    settled(qtbot, window)
    if selected == "outside the folder":
        window.panel().select([root / "A" / "notes.txt"])
        assert (window.folders.loading(), busy()) == (False, False)
        assert window.statusBar().currentMessage() == f"Opened {root / 'B'}: 2 entries."
    else:
        window.panel().select([root / "B" / "sub" / "deep" / "x.txt"])
    settled(qtbot, window)
    assert busy() is False


@pytest.mark.parametrize("action, typed, said", [
    ("_expandSelectedAction", None, "{root}/f2.txt is a file: there is nothing in it to expand."),
    ("_newFileAction", "", "A name cannot be empty: nothing was created."),
    ("_newFolderAction", ".", '"." cannot be a name: nothing was created.'),
    ("_newFileAction", "./", '"./" cannot be a name: nothing was created.'),
    ("_newFolderAction", "  ", "A name cannot be blank: nothing was created in {root}."),
])
def test_an_action_that_does_nothing_says_why(qtbot, demo_window, folder_tree, monkeypatch,
                                              explorerview, action, typed, said):
    from PyQt6.QtWidgets import QApplication, QInputDialog
    services, window, commands = demo_window
    monkeypatch.setattr(explorerview, "tavro", services)   # the prompts are the window's
    root = folder_tree(["f2.txt"]).resolve()
    commands.setWorkingFolder(root)
    settled(qtbot, window)
    panel = window.panel()
    view = panel._fileSystemView
    view.setCurrentIndex(view.model().mapFromSource(view.fsmodel.index(str(root / "f2.txt"))))
    getattr(panel, action).trigger()
    if typed is None:
        qtbot.waitUntil(lambda: window.statusBar().currentMessage() == said.format(root=root))
        return
    [prompt] = [w for w in QApplication.topLevelWidgets()
                if isinstance(w, QInputDialog) and w.isVisible()]
    prompt.setTextValue(typed)
    prompt.accept()
    assert errors_of(services) == [said.format(root=root)]
    assert os.listdir(root) == ["f2.txt"]


def test_uncaught_exception_is_shown_and_logged(monkeypatch, capsys):
    monkeypatch.setattr(sys, "excepthook", sys.excepthook)
    from Tavro import tavro
    errors.install_excepthook()
    try:
        raise LookupError("lost")
    except LookupError:
        sys.excepthook(*sys.exc_info())
    assert tavro.window.recentErrors[-1] == "Unexpected error: LookupError: lost."
    assert "Traceback" in capsys.readouterr().err


# ---------------------------------------------------------------- the window

def test_window_shows_a_placeholder_when_the_panel_is_missing_and_one_error_at_a_time(
        qtbot, monkeypatch):
    from PyQt6.QtWidgets import QMessageBox
    from Tavro.mainwindow import MainWindow
    monkeypatch.setitem(sys.modules, "Tavro_Workspace.explorerview", None)
    services = Services()
    window = MainWindow(services)
    qtbot.addWidget(window)
    assert window.panel() is None
    placeholder = window.findChild(type(window.viewer.title), "explorer-placeholder")
    assert "could not be imported" in placeholder.text()
    # Errors do not pile up: the newest replaces the one still open, and each
    # message ends in one full stop.
    for text in ("First problem", "Second problem.", "Third problem"):
        services.window.showErrorMessage(text)
    shown = lambda: [box.text() for box in window.findChildren(QMessageBox) if box.isVisible()]
    assert shown() == ["Third problem."]
    window.findChild(QMessageBox).close()   # and so deleted
    services.window.showErrorMessage("Fourth problem")
    assert shown() == ["Fourth problem."]
    assert list(services.window.recentErrors) == [
        "First problem.", "Second problem.", "Third problem.", "Fourth problem."]
    services.window.attach(None)


@pytest.mark.parametrize("env, opened, said", [
    ({"QT_QPA_PLATFORM": "offscreen"}, ".", "Opened {folder}: 3 entries."),
    ({}, ".", "Opened {folder}: 3 entries."),     # no display and no platform named
    # Started on a folder it cannot read, or one inside a folder it cannot
    # search, the demo opens its window all the same and says what happened.
    ({}, "locked", "Could not open {folder}: permission denied."),
    ({}, "locked/inner", "Could not open {folder}: permission denied."),
], ids=["offscreen", "no-display", "unreadable", "unreachable"])
def test_headless_demo_writes_a_screenshot(tmp_path, folder_tree, env, opened, said):
    root = folder_tree({"README.md": "# hello", "src/main.py": "print()", "locked/inner/": None})
    folder = (root / opened).resolve()
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    environment.update(env)
    shot = tmp_path / "shot.png"
    (root / "locked").chmod(0)
    try:
        run = subprocess.run(without_dac([sys.executable, "-m", "Tavro", str(folder),
                                          "--screenshot", str(shot)]),
                             cwd=tmp_path, env=environment, capture_output=True, text=True,
                             timeout=300)
    finally:
        (root / "locked").chmod(0o755)
    assert run.returncode == 0, run.stderr
    assert "Traceback" not in run.stderr
    assert str(shot) in run.stdout
    assert f"Status: {said.format(folder=folder)}" in run.stdout.splitlines()
    assert shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def _headless_environment(**extra):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "MAKEFLAGS", "MAKELEVEL")}
    environment.update(QT_QPA_PLATFORM="offscreen", **extra)
    return environment


@pytest.mark.parametrize("name", ["My Project", "src (copy)", "it's \"quoted\" $HOME `x` #1"])
def test_make_demo_opens_a_folder_with_any_name(explorerview, tmp_path, name):
    folder = make_tree(tmp_path / name, {"README.md": "# hi"})
    shot = tmp_path / "shot.png"
    build = Path(explorerview.__file__).parent.parent
    run = subprocess.run(["make", "demo", f"FOLDER={folder}", f"BUILD={build}"],
                         cwd=REPO, env=_headless_environment(TAVRO_SCREENSHOT=str(shot)),
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert f"rendered {folder} offscreen" in run.stdout
    assert shot.is_file()


def test_make_clean_leaves_only_the_sources(tmp_path):
    shutil.copy(REPO / "Makefile", tmp_path)
    make_tree(tmp_path, ["build/Tavro_Workspace/m.so", "build-asan/x", "_skbuild/x", "dist/x.whl",
                         "explorerview.egg-info/PKG-INFO", "demo-screenshot.png",
                         ".hypothesis/examples/x", "src/keep.cpp"])
    run = subprocess.run(["make", "clean"], cwd=tmp_path, env=_headless_environment(),
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert sorted(os.listdir(tmp_path)) == ["Makefile", "src"]


def test_demo_refuses_a_missing_folder(tmp_path):
    run = subprocess.run([sys.executable, "-m", "Tavro", str(tmp_path / "nope")],
                         cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 2 and "not a folder" in run.stderr
    assert not (tmp_path / "demo-screenshot.png").exists()


def without_dac(argv):
    """`argv` run as a process that reads only what its rights allow: root's
    capabilities to read and search every folder are dropped."""
    if os.geteuid() != 0:
        return argv
    if not shutil.which("setpriv"):
        pytest.skip("setpriv is needed to run without root's read rights")
    return ["setpriv", "--bounding-set", "-dac_override,-dac_read_search", *argv]


UNREADABLE_IN_THE_WINDOW = r"""
import json, sys
from pathlib import Path
from PyQt6.QtCore import QEventLoop, QTimer
from PyQt6.QtWidgets import QApplication
from Tavro import tavro
from Tavro.app import _wait_for_folder
from Tavro.commands_impl import HostCommands
from Tavro.mainwindow import MainWindow

app = QApplication([])
window = MainWindow(tavro)
commands = HostCommands(tavro, window).register()
window.show()
root = Path(sys.argv[1])
panel = window.panel()
view = panel._fileSystemView
seen = {}
def look(name):
    seen[name] = {"title": window.windowTitle(), "status": window.statusBar().currentMessage(),
                  "workspace": str(tavro.workspace.workingFolder()),
                  "panel": str(panel.workingFolder()), "busy": QApplication.overrideCursor() is not None}

commands.setWorkingFolder(root / "locked")   # refused as the first folder
_wait_for_folder(window)
look("first")
commands.setWorkingFolder(root)
_wait_for_folder(window)
panel.select([root / "a.txt"])
seen["opened"] = commands.setWorkingFolder(root / "locked")
_wait_for_folder(window)
look("refused")
panel._newFileAction.trigger()   # with a file selected: into the working folder
from PyQt6.QtWidgets import QInputDialog
[prompt] = [w for w in QApplication.topLevelWidgets() if isinstance(w, QInputDialog) and w.isVisible()]
prompt.setTextValue("new.txt")
prompt.accept()
seen["new file"] = window.statusBar().currentMessage()
locked = view.model().mapFromSource(view.fsmodel.index(str(root / "locked")))
view.expand(locked)
_wait_for_folder(window)
look("expanded")
view.collapse(locked)
view.setCurrentIndex(locked)
loop = QEventLoop()
view.expandFinished.connect(lambda *args: QTimer.singleShot(0, loop.quit))
panel._expandSelectedAction.trigger()
loop.exec()
look("expand selected")
seen["boxes"] = list(tavro.window.recentErrors)
print(json.dumps(seen))
"""


def test_a_folder_that_cannot_be_read_is_said_and_the_window_follows_the_panel(folder_tree):
    root = folder_tree({"a.txt": "a", "locked/secret.txt": "s"}).resolve()
    locked = root / "locked"
    locked.chmod(0)
    try:
        run = subprocess.run(without_dac([sys.executable, "-c", UNREADABLE_IN_THE_WINDOW, str(root)]),
                             env=_headless_environment(), capture_output=True, text=True,
                             timeout=120)
    finally:
        locked.chmod(0o755)
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout.splitlines()[-1])
    denied = f"Could not open {locked}: permission denied"
    assert seen["first"] == {"title": "Tavro", "status": f"{denied}.", "workspace": "None",
                             "panel": "None", "busy": False}
    # The tree keeps the folder it showed, and so do the title, the status and
    # the workspace: a new file with a file selected goes where the tree is.
    assert seen["opened"] is False
    assert seen["refused"] == {"title": f"{root.name} - Tavro", "status": f"{denied}; still showing {root}.",
                               "workspace": str(root), "panel": str(root), "busy": False}
    assert seen["new file"] == f"Created {root / 'new.txt'}."
    for how in ("expanded", "expand selected"):
        assert seen[how]["status"] == f"Cannot read {locked}: permission denied.", how
        assert not seen[how]["busy"]
    assert "You don't have the right permissions to open this directory." in run.stderr
    # The panel's own words name no folder: the box names it.
    assert seen["boxes"] == [
        f"You don't have the right permissions to open this directory.\n{locked}"] * 2


# ---------------------------------------------------------------- under a real X server

DEMO_UNDER_X = r"""
import json, shutil, subprocess, sys
from PyQt6.QtCore import QPoint, QRect, Qt
from PyQt6.QtGui import QColor, QIcon
from PyQt6.QtTest import QTest
from PyQt6.QtWidgets import QApplication, QMenu, QToolButton
from Tavro import tavro
from Tavro.app import _wait_for_folder
from Tavro.commands_impl import HostCommands
from Tavro.mainwindow import MainWindow
from Kelpa.icons import use_theme

app = QApplication([])
use_theme()
window = MainWindow(tavro)
commands = HostCommands(tavro, window).register()
asked = []
window.confirm = lambda title, question: asked.append(question) or True
commands.setWorkingFolder(sys.argv[1])
window.show()
_wait_for_folder(window, tavro.workspace.workingFolder())
view = window.panel()._fileSystemView
model = view.model()

def colours(image):
    return len({image.pixel(x, y) for x in range(image.width()) for y in range(image.height())})

def painted(icon):
    # The theme name the icon came from and the colours of its 16-pixel picture.
    return [icon.name(), colours(icon.pixmap(16, 16).toImage())]

rows = {}
root = view.rootIndex()
for row in range(model.rowCount(root)):
    index = model.index(row, 0, root)
    rows[model.data(index)] = painted(model.data(index, Qt.ItemDataRole.DecorationRole))
bar = tavro.window.toolBars()[0]
buttons, tips = {}, []
for action in bar.actions():
    button = bar.widgetForAction(action)
    if isinstance(button, QToolButton) and action.isVisible():
        buttons[action.text()] = [action.icon().name(), colours(button.grab().toImage())]
        tips.append(button.toolTip())
context = menu = window.panel()._fileSystemViewContextMenu
entries = [*menu.actions(), *(a for m in menu.findChildren(QMenu) for a in m.actions())]
menus = {a.text(): painted(a.icon()) for a in entries if getattr(a, "iconName", lambda: None)()}

def darkness(icon, mode):
    # How dark the picture's drawn pixels are, 0 (white) to 255 (black).
    image = icon.pixmap(16, 16, mode).toImage()
    pixels = [QColor.fromRgba(image.pixel(x, y)) for x in range(16) for y in range(16)]
    cover = sum(p.alphaF() for p in pixels)
    return sum(p.alphaF() * (255 - p.lightness()) for p in pixels) / cover
shades = {a.text(): [darkness(a.icon(), mode) for mode in (QIcon.Mode.Normal, QIcon.Mode.Disabled)]
          for a in bar.actions() if a.isVisible() and not a.icon().isNull()}

# The keyboard: Return and Enter open the current row as a double click does.
panel = window.panel()
root = tavro.workspace.workingFolder()
row = lambda name: model.mapFromSource(view.fsmodel.index(str(root / name)))
window.activateWindow()
view.setFocus()
keys = {}
for name, key, modifier in (("README.md", Qt.Key.Key_Return, Qt.KeyboardModifier.NoModifier),
                            ("main.py", Qt.Key.Key_Enter, Qt.KeyboardModifier.KeypadModifier),
                            ("src", Qt.Key.Key_Return, Qt.KeyboardModifier.NoModifier)):
    view.setCurrentIndex(row(name))
    QTest.keyClick(view, key, modifier)
    keys[name] = [str(commands.openedFile), view.isExpanded(row(name))]
# Copy Path says what it copied.
panel.select([root / "notes.txt"])
panel._copyPathAction.trigger()
QTest.qWait(50)
status = window.statusBar().currentMessage()
# The Menu key (pressed on the X server: Qt turns it into a keyboard menu
# request) and Shift+F10 open the context menu just below the current row:
# [shown, covers the row, its top below the row's bottom, its left from the row's].
def menu_key():
    if shutil.which("xdotool"):
        subprocess.run(["xdotool", "key", "Menu"], check=True)
    else:
        QTest.keyClick(view, Qt.Key.Key_Menu)
opened_at = {}
for name, press in (("Menu", menu_key),
                    ("Shift+F10", lambda: QTest.keyClick(view, Qt.Key.Key_F10, Qt.KeyboardModifier.ShiftModifier))):
    panel.select([root / "src"])
    rect = view.visualRect(row("src"))
    on_row = QRect(view.viewport().mapToGlobal(rect.topLeft()), rect.size())
    press()
    QTest.qWait(200)
    opened_at[name] = [context.isVisible(), context.geometry().intersects(on_row),
                       context.pos().y() - on_row.bottom(), context.pos().x() - on_row.left()]
    context.close()
    QTest.qWait(50)

# Real drags, by the X server's mouse: onto the folder src, plain, with Ctrl
# and with Shift. The hand runs apart: Qt's drag holds the GUI thread until
# the button is let go.
def centre(name):
    point = view.viewport().mapToGlobal(view.visualRect(row(name)).center())
    return point.x(), point.y()

def drag(name, onto, key):
    (x0, y0), (x1, y1) = centre(name), centre(onto)
    steps = ["mousemove", x0, y0, "sleep", 0.2, "mousedown", 1, "sleep", 0.2]
    steps += ["keydown", key] if key else []
    for step in range(1, 11):
        steps += ["mousemove", x0 + (x1 - x0) * step // 10, y0 + (y1 - y0) * step // 10,
                  "sleep", 0.05]
    steps += ["sleep", 0.2, "mouseup", 1] + (["keyup", key] if key else [])
    window.statusBar().clearMessage()
    asked.clear()
    hand = subprocess.Popen(["xdotool", *map(str, steps)])
    while hand.poll() is None:
        QTest.qWait(50)
    status = lambda: window.statusBar().currentMessage()
    for _ in range(100):   # until the drop has run its command, or 5 s
        if status().startswith(("Moved", "Copied")):
            break
        QTest.qWait(50)
    return [status(), list(asked)]

drags = None
if shutil.which("xdotool"):
    drags = {name: drag(name, "src", key)
             for name, key in (("main.py", None), ("notes.txt", "ctrl"), ("README.md", "shift"))}

# The window as big as the screen, its last row at the bottom: the keyboard's
# menu has no room below it and opens above it, clear of the row.
window.setGeometry(window.screen().availableGeometry())
view.expand(row("lots"))
_wait_for_folder(window)
last = row("lots/f_059")
view.setCurrentIndex(last)
view.scrollTo(last)
QTest.qWait(200)
QTest.keyClick(view, Qt.Key.Key_F10, Qt.KeyboardModifier.ShiftModifier)
QTest.qWait(200)
rect = view.visualRect(last)
on_row = QRect(view.viewport().mapToGlobal(rect.topLeft()), rect.size())
menu = context.geometry()
at_bottom = [window.screen().availableGeometry().bottom() - on_row.bottom() < menu.height(),
             context.isVisible(), menu.intersects(on_row), menu.bottom() < on_row.top()]
context.close()
print(json.dumps({"platform": app.platformName(), "rows": rows, "buttons": buttons, "menus": menus,
                  "shades": shades, "keys": keys, "copy path": status, "tips": tips,
                  "menu keys": opened_at, "drags": drags, "last row menu": at_bottom}))
"""


def run_under_x(script, *args, timeout=120):
    if not shutil.which("xvfb-run"):
        pytest.skip("xvfb-run is not installed (make setup installs it)")
    environment = {k: v for k, v in os.environ.items() if k != "QT_QPA_PLATFORM"}
    return subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x800x24",
                           sys.executable, "-c", script, *map(str, args)],
                          env=environment, capture_output=True, text=True, timeout=timeout)


LOADING_UNDER_X = r"""
import json, sys
from pathlib import Path
from PyQt6.QtCore import QPoint
from PyQt6.QtGui import QGuiApplication, QImage
from PyQt6.QtWidgets import QApplication
from Tavro import tavro
from Tavro.app import _wait_for_folder
from Tavro.commands_impl import HostCommands
from Tavro.mainwindow import MainWindow

app = QApplication([])
window = MainWindow(tavro)
commands = HostCommands(tavro, window).register()
window.show()
window.paintNow()
view = window.panel()._fileSystemView
seen = {}

def state():
    cursor = QApplication.overrideCursor()
    return [window.statusBar().currentMessage(), cursor.shape().name if cursor else None]

def on_screen(widget):
    # Whether the X server shows what the widget paints now: painted, not just set.
    corner = widget.mapToGlobal(QPoint(0, 0))
    shown = QGuiApplication.primaryScreen().grabWindow(0, corner.x(), corner.y(),
                                                       widget.width(), widget.height())
    rgb = QImage.Format.Format_RGB32
    return shown.toImage().convertToFormat(rgb) == widget.grab().toImage().convertToFormat(rgb)

def while_loading(name, folder):
    # The first rows arrive while the model is still reading the folder.
    def first_rows(parent, first, last):
        if name not in seen and view.fsmodel.filePath(parent) == str(folder):
            seen[name] = state() + [on_screen(window.statusBar())]
    view.fsmodel.rowsInserted.connect(first_rows)

# The model sorts what it has read after the last rows: still while loading.
sorts = []
view.fsmodel.layoutChanged.connect(lambda *args: sorts.append(state()))
# What the X server shows when a count is said and when the cursor comes
# back: the tree's rows as the tree now has them, and the status line.
said, restored = [], []
window.statusBar().messageChanged.connect(
    lambda text: said.append([text, on_screen(view.viewport()) and not window.folders.loading()])
    if text else None)
restore = QApplication.restoreOverrideCursor
def restoring():
    restored.append([window.statusBar().currentMessage(), on_screen(view.viewport()),
                     on_screen(window.statusBar())])
    restore()
QApplication.restoreOverrideCursor = restoring
root = Path(sys.argv[1])
while_loading("opening", root)
commands.setWorkingFolder(root)
_wait_for_folder(window)
seen["opened"] = state()
while_loading("expanding", root / "big")
view.expand(view.model().mapFromSource(view.fsmodel.index(str(root / "big"))))
_wait_for_folder(window)
seen["expanded"] = state()
seen["sorts"] = sorts
# Expand Selected on a folder of folders, stopped at its limit: one loading
# state named after that folder, its end said with the rows on screen.
view.EXPAND_LIMIT = 500
view.setCurrentIndex(view.model().mapFromSource(view.fsmodel.index(str(root / "deep"))))
window.panel()._expandSelectedAction.trigger()
_wait_for_folder(window)
while view.expanding() is not None:
    QApplication.processEvents()
seen["said"], seen["restored"] = said, restored
print(json.dumps(seen))
"""


def test_demo_under_x_says_a_folder_is_loading_on_screen_before_the_work(explorerview, tmp_path):
    root = make_tree(tmp_path / "many", [f"file_{i:05}" for i in range(2000)]
                     + [f"big/entry_{i:05}" for i in range(2000)]
                     + [f"deep/zeta_{d}/entry_{i:03}" for d in range(3) for i in range(300)])
    run = run_under_x(LOADING_UNDER_X, root)
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout.splitlines()[-1])
    # While the rows come in: the loading state, already painted on the X server.
    assert seen["opening"] == [f"Loading {root}…", "WaitCursor", True]
    assert seen["expanding"] == [f"Loading {root / 'big'}…", "WaitCursor", True]
    assert seen["opened"] == [f"Opened {root}: 2,002 entries.", None]
    assert seen["expanded"] == [f"{root / 'big'}: 2,000 entries.", None]
    # Counted only once the sort has settled: no sort after the count is said.
    assert seen["sorts"] and all(status.startswith("Loading ") and cursor == "WaitCursor"
                                 for status, cursor in seen["sorts"]), seen["sorts"]
    # The count, the end of an Expand Selected and the normal cursor come with
    # the sorted rows on the screen; the loading names the folder expanded.
    stopped = f"Stopped expanding {root / 'deep'} at 500 rows; expand a folder inside it to see more."
    assert [text for text, _ in seen["said"]] == [
        f"Loading {root}…", f"Opened {root}: 2,002 entries.",
        f"Loading {root / 'big'}…", f"{root / 'big'}: 2,000 entries.",
        f"Loading {root / 'deep'}…", stopped]
    assert all(shown for text, shown in seen["said"] if not text.startswith("Loading")), seen["said"]
    assert seen["restored"] == [[f"Opened {root}: 2,002 entries.", True, True],
                                [f"{root / 'big'}: 2,000 entries.", True, True],
                                [stopped, True, True]]


def test_demo_under_x_paints_icons_opens_from_the_keyboard_and_says_what_it_copied(
        explorerview, folder_tree):
    root = folder_tree({"README.md": "# r", "main.py": "", "notes.txt": "", "src/x.py": "",
                        **{f"lots/f_{i:03}": "" for i in range(60)}})
    run = run_under_x(DEMO_UNDER_X, root)
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout.splitlines()[-1])
    assert seen["platform"] == "xcb"
    # Every picture comes from the theme (a name) and is a picture: more than
    # two colours, not a flat square.
    assert sorted(seen["rows"]) == ["README.md", "lots", "main.py", "notes.txt", "src"]
    assert sorted(seen["buttons"]) == ["Collapse all", "Expand Selected",
                                       "New File or Folder", "Select Opened File"]
    assert sorted(seen["menus"]) == ["Copy", "Paste"]
    for kind in ("rows", "buttons", "menus"):
        assert all(name and n > 2 for name, n in seen[kind].values()), seen[kind]
    # An enabled button's picture is darker than any disabled one's.
    enabled, disabled = zip(*seen["shades"].values())
    assert min(enabled) > max(disabled), seen["shades"]
    # A file opens from the keyboard; a folder opens in the tree and opens no file.
    assert seen["keys"] == {"README.md": [str(root / "README.md"), False],
                            "main.py": [str(root / "main.py"), False],
                            "src": [str(root / "main.py"), True]}
    assert seen["copy path"] == f"Copied path {root / 'notes.txt'}."
    # Each button says its keys; the keyboard opens the context menu on the current row.
    assert seen["tips"] == ["New File or Folder", "Select Opened File", "Expand Selected (Ctrl++)",
                            "Collapse all (Ctrl+-)"]
    assert seen["menu keys"] == {"Menu": [True, False, 1, 0], "Shift+F10": [True, False, 1, 0]}
    assert seen["last row menu"] == [True, True, False, True]
    # A plain drag within the tree moves and Shift+drag too, each after asking;
    # Ctrl+drag copies.
    if seen["drags"] is not None:
        move = lambda name: [f"Moved {root / name} to {root / 'src' / name}.",
                             [f"Move {root / name} into {root / 'src'}?"]]
        assert seen["drags"] == {"main.py": move("main.py"),
                                 "notes.txt": [f"Copied {root / 'notes.txt'} to "
                                               f"{root / 'src' / 'notes.txt'}.", []],
                                 "README.md": move("README.md")}
        assert sorted(os.listdir(root)) == ["lots", "notes.txt", "src"]
        assert sorted(os.listdir(root / "src")) == ["README.md", "main.py", "notes.txt", "x.py"]
