"""The demo host's commands on real temporary folders, and its headless run."""
import os
import subprocess
import sys
from contextlib import contextmanager
from pathlib import Path

import pytest

from Tavro import Services, errors, fileops, trash
from Tavro.commands_impl import HostCommands
from Tavro.fileops import FileOpsError, copy_name, paste, read_for_viewer

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
        self.agree = True
        self.shown = []
        self.notes = []
        self.progressCalls = []

    def panel(self):
        return self.thePanel

    def askFolder(self, start):
        return self.chosenFolder

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


def test_paste_never_overwrites(folder_tree):
    source = folder_tree({"notes.txt": "new", "docs/a.md": "A"})
    target = folder_tree({"notes.txt": "old", "notes (copy).txt": "older", "docs/": None})
    result = paste([source / "notes.txt", source / "docs"], target)
    assert result.created == [target / "notes (copy 2).txt", target / "docs (copy)"]
    assert tree_of(target) == {
        "docs": "/", "docs (copy)": "/", "docs (copy)/a.md": b"A",
        "notes (copy 2).txt": b"new", "notes (copy).txt": b"older", "notes.txt": b"old"}
    assert result.problems == [] and not result.cancelled


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


@pytest.mark.parametrize("into", [".", "sub", "sub/inner"])
def test_paste_refuses_a_folder_into_itself(folder_tree, into):
    source = folder_tree(["pkg/sub/inner/"])
    before = tree_of(source)
    result = paste([source / "pkg"], source / "pkg" / into)
    assert result.created == [] and "into itself" in result.problems[0][1]
    assert tree_of(source) == before


def test_paste_reports_progress_and_stops_on_cancel(folder_tree):
    source = folder_tree(["a.txt", "b.txt", "c.txt"])
    target = folder_tree([])
    seen = []
    result = paste([source / n for n in ("a.txt", "b.txt", "c.txt")], target,
                   progress=lambda done, total, path: seen.append((done, total)) or done < 2)
    assert seen == [(0, 3), (1, 3), (2, 3)]
    assert result.cancelled and sorted(os.listdir(target)) == ["a.txt", "b.txt"]


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
    assert "gone.txt no longer exists" in errors_of(services)[0]


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


# ---------------------------------------------------------------- delete

@pytest.fixture
def data_home(tmp_path, monkeypatch):
    home = tmp_path / "data"
    monkeypatch.setenv("XDG_DATA_HOME", str(home))
    monkeypatch.chdir(tmp_path)
    return home


def test_delete_moves_files_and_folders_to_the_trash(host, folder_tree, data_home):
    services, ui, _ = host
    root = folder_tree({"a.txt": "a", "dir/b.txt": "b", "keep.txt": "k"})
    services.commands.execute("Nodra.deleteFiles", [root / "a.txt", root / "dir"])
    assert sorted(os.listdir(root)) == ["keep.txt"]
    assert errors_of(services) == []
    if os.stat(root).st_dev == os.stat(Path.home()).st_dev:   # else a volume's own trash
        trashed = data_home / "Trash"
        assert (trashed / "files" / "a.txt").read_text() == "a"
        assert (trashed / "files" / "dir" / "b.txt").read_text() == "b"
        assert (trashed / "info" / "a.txt.trashinfo").is_file()


def test_delete_asks_first_and_keeps_files_when_declined(host, folder_tree, data_home):
    services, ui, _ = host
    root = folder_tree({"a.txt": "a"})
    ui.agree = False
    services.commands.execute("Nodra.deleteFiles", [root / "a.txt"])
    assert (root / "a.txt").read_text() == "a"
    assert ui.notes[0][0] == "confirm" and "a.txt" in ui.notes[0][1]


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


def test_a_file_qt_moved_outside_any_trash_is_put_back(folder_tree, data_home, monkeypatch):
    # Qt reports success even when it fell back to "./files" of the current folder.
    root = folder_tree({"a.txt": "a"})

    class StrayQFile:
        @staticmethod
        def moveToTrash(path):
            os.makedirs("files")
            os.makedirs("info")
            Path("info/a.txt.trashinfo").write_text("[Trash Info]\n")
            os.rename(path, "files/a.txt")
            return True, "./files/a.txt"

    monkeypatch.setattr(trash, "QFile", StrayQFile)
    with pytest.raises(trash.TrashUnavailable):
        trash.move_to_trash(root / "a.txt")
    assert (root / "a.txt").read_text() == "a"
    assert not Path("files").exists() and not Path("info").exists()


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


@pytest.mark.parametrize("name", ["..", "../escape.txt", "   "])
def test_new_refuses_bad_names(host, folder_tree, name):
    services, _, _ = host
    root = folder_tree(["inner/"])
    services.commands.execute("Nodra.newFile", root / "inner" / name)
    assert len(errors_of(services)) == 1
    assert tree_of(root) == {"inner": "/"}


@pytest.mark.parametrize("command, name, is_dir", [
    ("Nodra.newFile", "notes.txt", False),
    ("Nodra.newFile", "sub/notes.txt", False),
    ("Nodra.newFolder", "pkg", True),
])
def test_new_creates_and_selects(host, folder_tree, command, name, is_dir):
    services, ui, _ = host
    root = folder_tree([])
    services.commands.execute(command, root / name)
    assert (root / name).is_dir() == is_dir and (root / name).exists()
    assert ui.thePanel.calls == [("select", [root / name])]
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


@pytest.mark.parametrize("chosen", [True, False], ids=["chosen", "cancelled"])
def test_open_folder(host, folder_tree, chosen):
    services, ui, _ = host
    root = folder_tree([])
    ui.chosenFolder = root if chosen else None
    services.commands.execute("Nodra.openFolder")
    expected = root.resolve() if chosen else None
    assert services.workspace.workingFolder() == expected
    assert ui.thePanel.calls == ([("setWorkingFolder", expected)] if chosen else [])


def test_uncaught_exception_is_shown_and_logged(monkeypatch, capsys):
    monkeypatch.setattr(sys, "excepthook", sys.excepthook)
    from Tavro import tavro
    errors.install_excepthook()
    try:
        raise LookupError("lost")
    except LookupError:
        sys.excepthook(*sys.exc_info())
    assert tavro.window.recentErrors[-1] == "Unexpected error: LookupError: lost"
    assert "Traceback" in capsys.readouterr().err


# ---------------------------------------------------------------- the window

def test_window_shows_a_placeholder_when_the_panel_is_missing(qtbot, monkeypatch):
    from Tavro.mainwindow import MainWindow
    monkeypatch.setitem(sys.modules, "Tavro_Workspace.explorerview", None)
    services = Services()
    window = MainWindow(services)
    qtbot.addWidget(window)
    assert window.panel() is None
    placeholder = window.findChild(type(window.viewer.title), "explorer-placeholder")
    assert "could not be imported" in placeholder.text()
    services.window.attach(None)


@pytest.mark.parametrize("env", [
    {"QT_QPA_PLATFORM": "offscreen"},
    {},                                  # no display and no platform named
], ids=["offscreen", "no-display"])
def test_headless_demo_writes_a_screenshot(tmp_path, folder_tree, env):
    folder = folder_tree({"README.md": "# hello", "src/main.py": "print()"})
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    environment.update(env)
    shot = tmp_path / "shot.png"
    run = subprocess.run([sys.executable, "-m", "Tavro", str(folder), "--screenshot", str(shot)],
                         cwd=tmp_path, env=environment, capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 0, run.stderr
    assert str(shot) in run.stdout
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


def test_demo_refuses_a_missing_folder(tmp_path):
    run = subprocess.run([sys.executable, "-m", "Tavro", str(tmp_path / "nope")],
                         cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 2 and "not a folder" in run.stderr
    assert not (tmp_path / "demo-screenshot.png").exists()
