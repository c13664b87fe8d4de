"""The panel's file operations on real folders selected in a real tree: the
folder a selection designates, Copy Path, Paste, and New file / New folder
through the host's prompts and commands."""
import traceback
import types
from pathlib import Path

import pytest
from Kelpa import QApplication, QClipboard

from Tavro_Workspace import explorerview as ev

TREE = ["A/x.txt", "A/y.txt", "A/sub/z.txt", "B/w.txt", "top.txt"]
NOT_VALID = "Folder is not valid."
WORKSPACE = "host-workspace"  # the host workspace's folder, distinct from the tree
TWINS = {
    "file": ("_newFile", "File name", "Nodra.newFile"),
    "folder": ("_newFolder", "Folder name", "Nodra.newFolder"),
}


class Undecided:
    """A flag whose truth test fails."""

    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.fixture
def panel(qtbot, tavro_double):
    view = ev.ExplorerView()
    qtbot.addWidget(view)
    return view


@pytest.fixture
def root(panel, tavro_double, folder_tree, wait_folder_loaded, tmp_path):
    """The panel's working folder, listed; the host workspace is elsewhere."""
    root = folder_tree(TREE)
    tavro_double.workspace.folder = tmp_path / WORKSPACE
    with wait_folder_loaded(panel._fileSystemView.fsmodel, root):
        panel.setWorkingFolder(root)
    return root


def select(panel, root, *relative):
    panel.select([root / r for r in relative])
    assert set(panel.selection()) == {root / r for r in relative}


@pytest.fixture
def counted_selection(panel, monkeypatch):
    """How often the panel's selection is read from now on."""
    reads = []
    real = panel.selection

    def selection():
        reads.append(1)
        return real()

    monkeypatch.setattr(panel, "selection", selection, raising=False)
    return reads


# ---------------------------------------------------------------- common folder

@pytest.mark.parametrize("selected, expected", [
    ((), ""),                                 # nothing: the tree's root
    (("A",), "A"),                            # a folder: itself, not its parent
    (("A/x.txt",), WORKSPACE),                # a lone file: the host decides
    (("A/sub/z.txt",), WORKSPACE),            # ... even deep in a subfolder
    (("A/x.txt", "A/y.txt"), "A"),
    (("A/x.txt", "A"), "A"),
    (("A/sub", "B"), ""),                     # different branches: the root
    (("A/sub/z.txt", "A/y.txt"), "A"),
])
def test_common_folder_of_the_selection(panel, root, tmp_path, selected, expected):
    select(panel, root, *selected)
    base = tmp_path if expected == WORKSPACE else root
    assert panel._commonFolderInSelection() == base / expected


def test_common_folder_with_no_folder_open_is_none(panel, tavro_double, tmp_path):
    tavro_double.workspace.folder = tmp_path
    assert panel._commonFolderInSelection() is None


def test_a_selected_folder_deleted_on_disk_gives_the_host_workspace(panel, root, tmp_path):
    select(panel, root, "B")
    (root / "B" / "w.txt").unlink()
    (root / "B").rmdir()
    # No event loop runs in between: the tree still shows B as selected.
    assert panel.selection() == [root / "B"]
    assert panel._commonFolderInSelection() == tmp_path / WORKSPACE


# ---------------------------------------------------------------- copy path

@pytest.fixture
def clipboard():
    board = QApplication.clipboard()
    board.setText("before", mode=QClipboard.Mode.Clipboard)
    return board


@pytest.mark.parametrize("selected", [(), ("A/x.txt",), ("A",), ("B", "A/y.txt", "top.txt")])
def test_copy_path_puts_the_first_selected_path_on_the_clipboard(panel, root, clipboard, selected):
    select(panel, root, *selected)
    assert panel._copyPathOfSelection() is None
    text = clipboard.text(QClipboard.Mode.Clipboard)
    if not selected:
        assert text == "before"
    else:
        first = panel.selection()[0]
        assert text == str(first.absolute())
        assert Path(text) in {root / s for s in selected}
        assert not text.endswith("/")


def test_copy_path_makes_a_relative_path_absolute_against_the_current_folder(
        explorerview, qapp, clipboard, tmp_path, monkeypatch):
    """absolute(), not resolve(): ".." stays, the current folder goes first."""
    monkeypatch.chdir(tmp_path)
    panel = types.SimpleNamespace(selection=lambda: [Path("rel/../x.txt")])
    assert explorerview.ExplorerView._copyPathOfSelection(panel) is None
    assert clipboard.text(QClipboard.Mode.Clipboard) == str(tmp_path / "rel" / ".." / "x.txt")


# ---------------------------------------------------------------- paste

@pytest.mark.parametrize("answer, ok, pasted", [
    ("{A}", True, "{A}"),          # the proposal, confirmed unchanged
    ("{B}", True, "{B}"),          # edited to another folder
    ("{A}", False, None),          # cancelled, though the text is a folder
    ("{A}/x.txt", True, None),     # a file
    ("{A}/missing", True, None),   # nothing there
    ("", True, None),              # empty: not the process's current folder
    ("B", True, "B"),              # relative to the current folder, kept so
])
def test_paste_asks_for_a_folder_and_pastes_only_into_one(
        panel, root, tavro_double, monkeypatch, answer, ok, pasted):
    monkeypatch.chdir(root)
    select(panel, root, "A")
    assert panel._pasteFiles() is None
    assert tavro_double.prompts() == [("Copy to", str(root / "A"))]

    text = answer.format(A=root / "A", B=root / "B")
    assert tavro_double.answer_prompt(text, ok) is None
    if pasted is not None:
        target = Path(pasted.format(A=root / "A", B=root / "B"))
        assert tavro_double.executed() == [("Nodra.pasteFiles", target)]
        assert type(tavro_double.executed()[0][1]) is type(target)
        assert tavro_double.errors() == []
    else:
        assert tavro_double.executed() == []
        assert tavro_double.errors() == ([NOT_VALID] if ok else [])
    assert not (root / "A" / "missing").exists()


@pytest.mark.parametrize("selected, proposed", [
    (("top.txt",), WORKSPACE),     # a lone file: the host workspace, not its folder
    ((), ""),                      # nothing selected: the root
])
def test_paste_proposes_the_common_folder(panel, root, tavro_double, tmp_path, selected, proposed):
    select(panel, root, *selected)
    panel._pasteFiles()
    base = tmp_path if proposed == WORKSPACE else root
    assert tavro_double.prompts() == [("Copy to", str(base / proposed))]


def test_paste_with_no_folder_open_opens_no_prompt(panel, tavro_double):
    with pytest.raises(AttributeError):
        panel._pasteFiles()
    assert tavro_double.prompts() == []


# ---------------------------------------------------------------- new file / folder

@pytest.fixture(params=sorted(TWINS))
def twin(request):
    return TWINS[request.param]


@pytest.mark.parametrize("name, expected", [
    ("new.txt", "{A}/new.txt"),
    ("deeper/new.txt", "{A}/deeper/new.txt"),   # nested: no folders made here
    ("{B}/elsewhere", "{B}/elsewhere"),         # absolute: replaces the folder
])
def test_new_item_goes_into_the_selected_folder(panel, root, tavro_double, twin, name, expected):
    method, label, command = twin
    select(panel, root, "A")
    assert getattr(panel, method)() is None
    assert tavro_double.prompts() == [(label, "")]

    fill = dict(A=root / "A", B=root / "B")
    assert tavro_double.answer_prompt(name.format(**fill)) is None
    assert tavro_double.executed() == [(command, Path(expected.format(**fill)))]
    assert not (root / "A" / "deeper").exists()


@pytest.mark.parametrize("name, ok", [("new.txt", False), ("", True), (".", True)])
def test_new_item_cancelled_or_unnamed_does_nothing(
        panel, root, tavro_double, counted_selection, twin, name, ok):
    select(panel, root, "A")
    getattr(panel, twin[0])()
    counted_selection.clear()
    tavro_double.answer_prompt(name, ok)
    assert tavro_double.executed() == []
    assert counted_selection == []  # the selection is not even read


def test_new_item_goes_where_the_selection_is_at_confirmation(panel, root, tavro_double, twin):
    select(panel, root, "A")
    getattr(panel, twin[0])()
    select(panel, root, "B")
    tavro_double.answer_prompt("n")
    assert tavro_double.executed() == [(twin[2], root / "B" / "n")]


def test_new_item_judges_ok_before_anything_else(panel, root, tavro_double, counted_selection, twin):
    getattr(panel, twin[0])()
    then = tavro_double.pendingPrompts.pop()
    with pytest.raises(ZeroDivisionError):
        then(None, Undecided())  # None as a name would fail later, in the join
    assert counted_selection == [] and tavro_double.executed() == []


@pytest.mark.parametrize("path_global", ["bound", "deleted"])
def test_new_item_with_no_folder_open_raises_from_the_join(
        explorerview, panel, tavro_double, twin, monkeypatch, path_global):
    if path_global == "deleted":  # the callback itself reads no global Path
        monkeypatch.delattr(explorerview, "Path")
    getattr(panel, twin[0])()
    with pytest.raises(TypeError):
        tavro_double.answer_prompt("n")
    assert tavro_double.executed() == []


# Names that add no path component create nothing, as an empty name; decided
# from the text as pathlib parses it (a leading "/" is a root, ".." a step up),
# also when a host hands back a path object instead of a str.
@pytest.mark.parametrize("name", ["", ".", "./", "./.", ".//./", "..", "...", ".a", "a/.", "/", "/.", "./..",
                                  Path("."), Path("x")], ids=repr)
def test_new_item_name_that_adds_no_component_creates_nothing(
        explorerview, panel, root, tavro_double, twin, monkeypatch, name):
    made = []
    monkeypatch.setattr(explorerview, "Path", lambda *args: made.append(args) or Path(*args))
    select(panel, root, "A")
    getattr(panel, twin[0])()
    tavro_double.answer_prompt(name)
    adds = bool(Path(name).parts)
    assert tavro_double.executed() == ([(twin[2], root / "A" / name)] if adds else [])
    assert (name,) not in made  # the global Path is not asked


# ---------------------------------------------------------------- the callbacks

CALLBACKS = {
    "doPaste": ("_pasteFiles", "ExplorerView._pasteFiles.<locals>.doPaste", {}, ("folderStr", "ok")),
    "doCreateFile": ("_newFile", "ExplorerView._newFile.<locals>.doCreateFile",
                     {"ok": "bool"}, ("name", "ok")),
    "doCreateFolder": ("_newFolder", "ExplorerView._newFolder.<locals>.doCreateFolder",
                       {"ok": "bool"}, ("name", "ok")),
}


@pytest.fixture(params=sorted(CALLBACKS))
def callback(request, panel, root, tavro_double):
    method, qualname, annotations, params = CALLBACKS[request.param]
    getattr(panel, method)()
    then = tavro_double.pendingPrompts.pop()
    return request.param, then, qualname, annotations, params


def test_callbacks_are_functions_that_capture_the_panel(panel, callback):
    name, then, qualname, annotations, _ = callback
    assert then.__name__ == name and then.__qualname__ == qualname
    assert then.__annotations__ == annotations
    assert then.__module__ == "Tavro_Workspace.explorerview" and then.__doc__ is None
    assert len(then.__closure__) == 1 and then.__closure__[0].cell_contents is panel


@pytest.mark.parametrize("args, kwargs, message", [
    (("x",), {}, "{name}() takes exactly 2 positional arguments (1 given)"),
    (("x", True), {"extra": 1}, "{name}() got an unexpected keyword argument 'extra'"),
    (("x",), {"ok": True, "{first}": "y"}, "{name}() got multiple values for keyword argument '{first}'"),
])
def test_callbacks_bind_arguments_like_python(tavro_double, callback, args, kwargs, message):
    name, then, _, _, params = callback
    kwargs = {key.format(first=params[0]): value for key, value in kwargs.items()}
    with pytest.raises(TypeError) as caught:
        then(*args, **kwargs)
    assert str(caught.value) == message.format(name=name, first=params[0])
    assert tavro_double.executed() == [] and tavro_double.errors() == []


def test_a_failing_callback_names_itself_in_the_traceback(callback):
    _, then, qualname, _, _ = callback
    with pytest.raises(ZeroDivisionError) as caught:
        then("x", Undecided())
    names = [entry.name for entry in traceback.extract_tb(caught.value.__traceback__)]
    assert "Tavro_Workspace.explorerview." + qualname.replace(".<locals>", "") in names
