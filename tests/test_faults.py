"""Faults from the host and from the file system: each test name says what the
panel does when it meets the fault. Nothing may crash; a failure is a Python
exception naming the function it left, or one of the panel's user messages."""
import gc
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest
from PyQt6 import sip
from reliability_helpers import Boom, entries, flush_deletions, made_functions, open_folder

FOLDER = ["a.txt", "B.txt", "sub/c.txt", "sub/inner/d.txt", "empty/"]
MODULE = "Tavro_Workspace.explorerview."
HERE = Path(__file__).resolve().parent
# Entries in the folder of the large-folder test; `make fuzz` raises it to 100,000.
# Listing and sorting grow linearly (n log n) with the count, so the smaller
# folder runs the same code paths at a tenth of the cost.
LARGE_FOLDER = int(os.environ.get("EXPLORERVIEW_LARGE_FOLDER", "10000"))


def raising(*args, **kwargs):
    raise Boom("the host failed")


@pytest.fixture
def panel(qtbot, explorerview, tavro_double):
    panel = explorerview.ExplorerView()
    qtbot.addWidget(panel)
    tavro_double.calls.clear()  # the toolbar it registered would keep the panel alive
    return panel


@pytest.fixture
def opened(qtbot, panel, folder_tree, tavro_double):
    """The panel on a listed folder, the host workspace on the same folder: root."""
    root = folder_tree(FOLDER)
    tavro_double.workspace.folder = root
    open_folder(qtbot, panel, root)
    return root


def still_usable(panel, root):
    """The panel answers as before the fault."""
    panel.select([root / "sub"])
    assert panel.selection() == [root / "sub"]
    assert panel.workingFolder() == root


# ---------------------------------------------------------------- host faults

HANDLERS = {
    # name: (how to run it, expected traceback entry)
    "open folder button": (lambda p, r, d: p._noFolderOpenedPage._openFolderButton.click(),
                           "NoFolderOpenedPage.__init__.lambda"),
    "select opened file": (lambda p, r, d: p._selectOpenedFileAction.trigger(), "ExplorerView.__init__.lambda1"),
    "copy": (lambda p, r, d: p._copyAction.trigger(), "ExplorerView.__init__.lambda2"),
    "delete": (lambda p, r, d: p._deleteAction.trigger(), "ExplorerView.__init__.lambda3"),
    "double click": (lambda p, r, d: p._fsItemDoubleClicked(
        p._fileSystemView.sortModel.mapFromSource(p._fileSystemView.fsmodel.index(str(r / "a.txt")))),
        "ExplorerView._fsItemDoubleClicked"),
    "paste": (lambda p, r, d: (p._pasteFiles(), d.answer_prompt(str(r / "sub"))),
              "ExplorerView._pasteFiles.doPaste"),
    "new file": (lambda p, r, d: (p._newFile(), d.answer_prompt("n.txt")), "ExplorerView._newFile.doCreateFile"),
    "new folder": (lambda p, r, d: (p._newFolder(), d.answer_prompt("n")),
                   "ExplorerView._newFolder.doCreateFolder"),
}


@pytest.mark.parametrize("handler", sorted(HANDLERS))
def test_execute_raising_reaches_the_caller_and_leaves_the_panel_usable(
        qtbot, panel, opened, tavro_double, monkeypatch, handler):
    run, entry = HANDLERS[handler]
    monkeypatch.setattr(tavro_double.commands, "execute", raising)
    with qtbot.captureExceptions() as caught:  # handlers behind signals fail into Qt's dispatch
        try:
            run(panel, opened, tavro_double)
        except Boom as error:
            caught.append((Boom, error, error.__traceback__))
    assert [type(error) for _, error, _ in caught] == [Boom]
    assert MODULE + entry in entries(caught[0][1])
    still_usable(panel, opened)


@pytest.mark.parametrize("method", ["_pasteFiles", "_newFile", "_newFolder"])
def test_show_text_input_box_raising_propagates_and_keeps_no_callback(
        explorerview, panel, opened, tavro_double, monkeypatch, method):
    monkeypatch.setattr(tavro_double.window, "showTextInputBox", raising)
    with pytest.raises(Boom) as raised:
        getattr(panel, method)()
    assert MODULE + "ExplorerView." + method in entries(raised.value)
    del raised
    flush_deletions()
    assert made_functions(explorerview, {"_pasteFiles": "doPaste", "_newFile": "doCreateFile",
                                         "_newFolder": "doCreateFolder"}[method], panel) == []
    still_usable(panel, opened)


def test_show_error_message_raising_propagates_from_set_working_folder_with_the_cause(
        panel, opened, tavro_double, monkeypatch):
    monkeypatch.setattr(tavro_double.window, "showErrorMessage", raising)
    panel.setWorkingFolder(None)
    with pytest.raises(Boom) as raised:
        panel.setWorkingFolder(opened / "gone")
    assert isinstance(raised.value.__context__, FileNotFoundError)
    assert MODULE + "FileSystemView.setRootPath" in entries(raised.value)
    # The tree page was shown before the root failed; the toolbar kept its state.
    assert panel._stacked.currentWidget() is panel._fileSystemView
    assert not panel._viewToolBar.isEnabled()


def test_show_error_message_raising_propagates_from_paste_and_runs_no_command(
        panel, opened, tavro_double, monkeypatch):
    monkeypatch.setattr(tavro_double.window, "showErrorMessage", raising)
    panel._pasteFiles()
    with pytest.raises(Boom):
        tavro_double.answer_prompt(str(opened / "a.txt"))
    assert tavro_double.executed() == []


def test_register_toolbar_raising_fails_construction_and_frees_the_half_built_panel(
        qtbot, explorerview, tavro_double, monkeypatch):
    monkeypatch.setattr(tavro_double.window, "registerToolBar", raising)
    flush_deletions()
    alive = len([o for o in gc.get_objects() if type(o) is explorerview.ExplorerView])
    with pytest.raises(Boom) as raised:
        explorerview.ExplorerView()
    assert MODULE + "ExplorerView.__init__" in entries(raised.value)
    del raised
    flush_deletions()
    assert len([o for o in gc.get_objects() if type(o) is explorerview.ExplorerView]) == alive
    monkeypatch.undo()
    qtbot.addWidget(explorerview.ExplorerView())  # and the next one builds


# ---------------------------------------------------------------- prompt callbacks

PROMPTS = {"_pasteFiles": ("sub", "Nodra.pasteFiles"), "_newFile": ("n.txt", "Nodra.newFile"),
           "_newFolder": ("n", "Nodra.newFolder")}


def answer_for(method, root):
    text, _ = PROMPTS[method]
    return str(root / text) if method == "_pasteFiles" else text


@pytest.mark.parametrize("method", sorted(PROMPTS))
def test_prompt_callback_called_twice_runs_its_command_twice(panel, opened, tavro_double, method):
    getattr(panel, method)()
    callback = tavro_double.pendingPrompts.pop()
    callback(answer_for(method, opened), True)
    callback(answer_for(method, opened), True)
    assert len(tavro_double.executed(PROMPTS[method][1])) == 2


@pytest.mark.parametrize("method", sorted(PROMPTS))
def test_prompt_answered_synchronously_inside_show_text_input_box_runs_its_command(
        panel, opened, tavro_double, monkeypatch, method):
    def answer_at_once(label, text, *, then):
        then(answer_for(method, opened), True)

    monkeypatch.setattr(tavro_double.window, "showTextInputBox", answer_at_once)
    getattr(panel, method)()
    assert len(tavro_double.executed(PROMPTS[method][1])) == 1


@pytest.mark.parametrize("method", ["_newFile", "_newFolder"])
def test_new_item_callback_after_the_panel_was_deleted_raises_runtime_error(
        qtbot, explorerview, tavro_double, folder_tree, method):
    panel = explorerview.ExplorerView()
    open_folder(qtbot, panel, folder_tree(FOLDER))
    getattr(panel, method)()
    sip.delete(panel)  # Qt deletes the widgets; the Python object stays
    with pytest.raises(RuntimeError, match="deleted"):
        tavro_double.answer_prompt("n.txt")
    assert tavro_double.executed() == []


def test_paste_callback_after_the_panel_was_deleted_still_judges_the_text(
        qtbot, explorerview, tavro_double, folder_tree):
    """doPaste reads no widget: the text alone decides."""
    panel = explorerview.ExplorerView()
    root = folder_tree(FOLDER)
    open_folder(qtbot, panel, root)
    panel._pasteFiles()
    panel._pasteFiles()
    sip.delete(panel)
    tavro_double.answer_prompt(str(root / "a.txt"))
    tavro_double.answer_prompt(str(root / "sub"))
    assert tavro_double.errors() == ["Folder is not valid."]
    assert tavro_double.executed() == [("Nodra.pasteFiles", root / "sub")]


@pytest.mark.parametrize("call", [
    lambda p: p.selection(), lambda p: p.workingFolder(), lambda p: p.select([]),
    lambda p: p.setWorkingFolder(None), lambda p: p._copyAction.trigger(),
    lambda p: p._commonFolderInSelection(), lambda p: p._showNewFileMenu(),
], ids=["selection", "workingFolder", "select", "setWorkingFolder", "copy handler",
        "common folder", "new file menu"])
def test_methods_of_a_panel_whose_widgets_were_deleted_raise_runtime_error(qtbot, explorerview, tavro_double,
                                                                          call):
    panel = explorerview.ExplorerView()
    sip.delete(panel)
    with qtbot.captureExceptions() as caught:
        try:
            call(panel)
        except RuntimeError as error:
            caught.append((RuntimeError, error, None))
    assert [type(error) for _, error, _ in caught] == [RuntimeError]


def test_tree_deleted_under_a_live_panel_makes_its_methods_raise_runtime_error(panel, opened):
    sip.delete(panel._fileSystemView)
    for call in (panel.selection, lambda: panel.select([opened / "a.txt"]),
                 panel._expandSelected, panel._commonFolderInSelection):
        with pytest.raises(RuntimeError):
            call()
    # The stack fell back to its remaining page: no folder is shown any more.
    assert panel.workingFolder() is None


CAPTURE_RELEASED = """
import sys
from PyQt6.QtWidgets import QApplication
app = QApplication([])
import Tavro_Workspace.explorerview as ev
sys.path.insert(0, {tests!r})
from conftest import TavroDouble
double = TavroDouble()
ev.tavro = double
panel = ev.ExplorerView()
panel.setWorkingFolder({folder!r})
panel._pasteFiles()
callback = double.pendingPrompts.pop()
cell = callback.__closure__[0]

class Colliding(str):
    # Looking "tr" up in the instance dict compares with this key, which
    # drops the last reference to the object being looked up.
    def __hash__(self):
        return hash("tr")
    def __eq__(self, other):
        cell.cell_contents = None
        return False

class Panel:
    def tr(self, text):
        return text + str(len(self.__dict__))

stand_in = Panel()
stand_in.__dict__[Colliding("x")] = 1
cell.cell_contents = stand_in
del stand_in
callback({missing!r}, True)
print("survived", double.errors())
"""


def test_callback_whose_captured_panel_is_released_during_the_call_does_not_crash(folder_tree):
    root = folder_tree(FOLDER)
    script = CAPTURE_RELEASED.format(tests=str(HERE), folder=str(root), missing=str(root / "missing"))
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    assert "survived" in run.stdout


# ---------------------------------------------------------------- file system faults

def test_working_folder_deleted_while_shown_keeps_the_panel_usable_and_refuses_paste_into_it(
        panel, opened, tavro_double):
    panel.select([opened / "sub"])
    shutil.rmtree(opened)
    # What the tree still lists is what it had read; paths that have gone are
    # judged afresh by every operation.
    assert panel.workingFolder() == opened
    assert panel._commonFolderInSelection() == opened  # the host workspace's folder
    panel.select([opened / "sub" / "c.txt"])
    panel._pasteFiles()
    tavro_double.answer_prompt(tavro_double.prompts()[-1][1])
    assert tavro_double.errors() == ["Folder is not valid."]
    assert tavro_double.executed("Nodra.pasteFiles") == []
    panel._newFile()
    tavro_double.answer_prompt("n.txt")
    assert tavro_double.executed("Nodra.newFile") == [("Nodra.newFile", opened / "n.txt")]
    panel.setWorkingFolder(opened)
    assert tavro_double.errors()[-1] == "Directory not found."


UNREADABLE = """
import json, os, sys, tempfile
from pathlib import Path
from PyQt6.QtCore import QEventLoop
from PyQt6.QtWidgets import QApplication
app = QApplication([])
import Tavro_Workspace.explorerview as ev
sys.path.insert(0, {tests!r})
from conftest import TavroDouble

root = Path(tempfile.mkdtemp(dir=os.environ.get("HOME")))
for folder in ("sub/inner", "locked"):
    (root / folder).mkdir(parents=True)
(root / "a.txt").write_text("")
(root / "locked" / "secret.txt").write_text("")
double = TavroDouble()
double.workspace.folder = root
ev.tavro = double
panel = ev.ExplorerView()
loop = QEventLoop()
panel._fileSystemView.fsmodel.directoryLoaded.connect(lambda *args: loop.quit())
panel.setWorkingFolder(root)
loop.exec()

results = {{}}
def attempt(name, call):
    try:
        value = call()
        results[name] = ["ok", None if value is None else str(value)]
    except Exception as error:
        results[name] = ["raised", type(error).__name__]

os.chmod(root / "locked", 0)
attempt("open locked folder", lambda: panel.setWorkingFolder(root / "locked"))
attempt("open root again", lambda: panel.setWorkingFolder(root))
panel.select([root / "sub"])
os.chmod(root, 0)  # the working folder itself, while it is shown
attempt("selection", lambda: [str(p) for p in panel.selection()])
attempt("common folder", panel._commonFolderInSelection)
attempt("paste", panel._pasteFiles)
attempt("select", lambda: panel.select([root / "a.txt"]))
attempt("reopen working folder", lambda: panel.setWorkingFolder(root))
attempt("working folder", panel.workingFolder)
os.chmod(root, 0o755)
os.chmod(root / "locked", 0o755)
results["messages"] = double.errors()
print(json.dumps(results))
"""


@pytest.fixture
def shared_home():
    """A home folder an unprivileged user can write (pytest's own tmp_path is private to root)."""
    home = Path(tempfile.mkdtemp(prefix="explorerview-home-"))
    home.chmod(0o777)
    yield home
    shutil.rmtree(home, ignore_errors=True)


def test_unreadable_folders_give_the_permission_message_or_permission_error(shared_home):
    script = UNREADABLE.format(tests=str(HERE))
    user, env = {}, dict(os.environ)
    if os.geteuid() == 0:  # root reads everything: run the scenario as an ordinary user
        user = {"user": 65534, "group": 65534, "extra_groups": []}
        home = shared_home
        env.update(HOME=str(home), XDG_RUNTIME_DIR=str(home), XDG_DATA_HOME=str(home / "data"),
                   XDG_CACHE_HOME=str(home / "cache"), XDG_CONFIG_HOME=str(home / "config"))
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                         cwd="/", env=env, **user)
    if run.returncode != 0 and "Permission denied" in run.stderr and user:
        pytest.skip("the unprivileged user cannot read the build: " + run.stderr.splitlines()[-1])
    assert run.returncode == 0, run.stderr[-3000:]
    results = json.loads(run.stdout.splitlines()[-1])
    message = "You don't have the right permissions to open this directory."
    assert results["open locked folder"] == ["ok", None]
    assert results["open root again"] == ["ok", None]
    assert results["selection"][0] == "ok"  # read from the tree, not the disk
    # Judging a selected folder needs the disk: the permission error propagates.
    assert results["common folder"] == ["raised", "PermissionError"]
    assert results["paste"] == ["raised", "PermissionError"]
    assert results["select"] == ["ok", None]
    assert results["reopen working folder"] == ["ok", None]
    assert results["working folder"][0] == "ok"
    assert results["messages"] == [message, message]


def test_symlink_loops_are_hidden_skipped_by_select_and_refused_as_working_folder(
        panel, opened, tavro_double):
    (opened / "loop").symlink_to("loop")
    (opened / "ping").symlink_to("pong")
    (opened / "pong").symlink_to("ping")
    panel.select([opened / "loop", opened / "ping", opened / "a.txt"])
    assert panel.selection() == [opened / "a.txt"]
    panel._pasteFiles()
    tavro_double.answer_prompt(str(opened / "loop"))
    assert tavro_double.errors() == ["Folder is not valid."]
    with pytest.raises(OSError) as raised:  # neither missing nor forbidden: not the panel's to explain
        panel.setWorkingFolder(opened / "ping")
    assert raised.value.errno == 40  # ELOOP
    assert MODULE + "ExplorerView.setWorkingFolder" in entries(raised.value)


def test_names_that_are_not_utf8_are_left_out_of_the_tree_and_skipped_by_select(
        qtbot, panel, folder_tree, tavro_double):
    root = folder_tree(["good.txt"])
    tavro_double.workspace.folder = root
    raw = os.fsencode(root)
    os.close(os.open(raw + b"/bad\xff.txt", os.O_CREAT | os.O_WRONLY))
    os.mkdir(raw + b"/folder\xfe")
    open_folder(qtbot, panel, root)
    bad = Path(os.fsdecode(raw + b"/bad\xff.txt"))  # as os.listdir names it
    panel.select([bad, root / "good.txt", Path(os.fsdecode(raw + b"/folder\xfe"))])
    assert panel.selection() == [root / "good.txt"]
    panel._copyPathOfSelection()
    panel._pasteFiles()
    tavro_double.answer_prompt(os.fsdecode(raw + b"/folder\xfe"))
    assert tavro_double.executed("Nodra.pasteFiles") == [
        ("Nodra.pasteFiles", Path(os.fsdecode(raw + b"/folder\xfe")))]


def deep_folder(base, length):
    """A folder whose path is longer than `length`, made one level at a time
    (the kernel refuses whole paths longer than PATH_MAX)."""
    name = "d" * 250
    fd = os.open(base, os.O_RDONLY)
    path = str(base)
    try:
        while len(path) <= length:
            os.mkdir(name, dir_fd=fd)
            child = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = child
            path += "/" + name
    finally:
        os.close(fd)
    return Path(path)


def test_paths_too_long_are_skipped_by_select_and_raise_oserror_elsewhere(panel, opened, tavro_double):
    too_long = deep_folder(opened, 5000)
    long_name = opened / ("x" * 300)
    panel.select([too_long, long_name, opened / "a.txt"])
    assert panel.selection() == [opened / "a.txt"]
    for path in (too_long, long_name):
        panel._pasteFiles()
        with pytest.raises(OSError) as raised:  # is_dir() cannot tell: ENAMETOOLONG
            tavro_double.answer_prompt(str(path))
        assert raised.value.errno == 36
        with pytest.raises(OSError):
            panel.setWorkingFolder(path)
    assert tavro_double.executed("Nodra.pasteFiles") == []
    shutil.rmtree(opened)  # rmtree walks with file descriptors: it can remove what it made


@pytest.mark.slow
def test_large_folder_is_listed_folders_first_and_selections_work(qtbot, panel, tmp_path, tavro_double):
    root = tmp_path / "large"
    root.mkdir()
    for number in range(LARGE_FOLDER):
        os.close(os.open(root / f"File{number:06d}.txt", os.O_CREAT | os.O_WRONLY))
    (root / "zz-folder").mkdir()
    open_folder(qtbot, panel, root, timeout=120000)
    view = panel._fileSystemView
    qtbot.waitUntil(lambda: view.model().rowCount(view.rootIndex()) == LARGE_FOLDER + 1, timeout=120000)
    model = view.model()
    first = model.index(0, 0, view.rootIndex())
    assert model.data(first) == "zz-folder"
    names = [model.data(model.index(row, 0, view.rootIndex())) for row in range(1, 200)]
    assert names == sorted(names, key=str.lower)
    # Selecting goes row by row through the toolkit's selection model: a sample.
    sample = [root / f"File{number:06d}.txt" for number in range(0, LARGE_FOLDER, LARGE_FOLDER // 50)]
    panel.select(sample)
    assert sorted(panel.selection()) == sorted(sample)
    assert panel._commonFolderInSelection() == root
    panel._fsItemDoubleClicked(model.mapFromSource(view.fsmodel.index(str(sample[-1]))))
    assert tavro_double.executed("Nodra.openFile") == [("Nodra.openFile", sample[-1])]
