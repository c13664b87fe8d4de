"""The file tree: folder-first order of real folders through the host's model,
the comparison hook on its own, and the view's set-up and root changes."""
import ctypes
import errno
import os
import random
import sys
import textwrap
import traceback
from pathlib import Path

import pytest
from PyQt6 import sip
from PyQt6.QtCore import QObject
from PyQt6.QtGui import QFileSystemModel as PyQt6QFileSystemModel
from Kelpa import QAbstractItemView, QDir, QFileSystemModel, QScrollDelegate, Qt, QWidget

from Tavro_Workspace import explorerview as ev

from conftest import make_tree
from test_hardening import run_child  # noqa: F401 (a fixture)

# The comparison written in Python, as a plug-in author would write it.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from bench.reference import FolderFirstSortModel as PythonSortModel  # noqa: E402

LESS_THAN = "Tavro_Workspace.explorerview.FolderFirstSortModel.lessThan"
SET_ROOT_PATH = "Tavro_Workspace.explorerview.FileSystemView.setRootPath"
NO_PERMISSION = "You don't have the right permissions to open this directory."
NOT_FOUND = "Directory not found."

# Each name probes one part of the rule: case is ignored, "_" and "." sort by
# code point, digits are not numbers, lower() is the full Unicode mapping
# ("İ" becomes two characters) and code points, not UTF-16 units, decide
# ("ﬁ" U+FB01 before the astral "𝐀"). README/readme only differ in case.
FOLDERS = ["zeta", "Build", "assets", "cmake", "_private", "Alpha", ".config", "Ωmega"]
FILES = [".gitignore", "0.txt", "9.txt", "a.txt", "alpha.txt", "file10", "file2",
         "Straße", "strasse", "İstanbul", "istanbul", "iz", "ωmega.txt", "𝐀bc", "ﬁle",
         "README", "readme", "_notes", "Zed"]


def folder_first(names, is_dir):
    return sorted(filter(is_dir, names), key=str.lower) + \
        sorted((n for n in names if not is_dir(n)), key=str.lower)


@pytest.fixture
def view(qtbot):
    view = ev.FileSystemView()
    qtbot.addWidget(view)
    return view


@pytest.fixture
def shown(tavro_double):
    """Everything the view asks of the host services, in order."""
    return tavro_double.calls


def message(text):
    return [("showErrorMessage", (text,))]


@pytest.fixture
def table(folder_tree):
    root = folder_tree([name + "/" for name in FOLDERS] + FILES
                       + ["zeta/sub/", "zeta/B.txt", "zeta/a.txt", "zeta/_x"])
    # Symbolic links are left out of the tree.
    (root / "link").symlink_to(root / "a.txt")
    (root / "folder-link").symlink_to(root / "assets")
    return root


def wait_for_rows(qtbot, view, parent, count):
    """The names under `parent` (a callable: proxy indexes go stale as rows arrive)."""
    model = view.model()
    qtbot.waitUntil(lambda: model.rowCount(parent()) == count, timeout=5000)
    return [model.index(row, 0, parent()).data() for row in range(count)]


def loaded(qtbot, view, folder, count):
    assert view.setRootPath(folder) is True
    return wait_for_rows(qtbot, view, view.rootIndex, count)


def test_children_come_folders_first_by_lowered_name(qtbot, view, table):
    names = loaded(qtbot, view, table, len(FOLDERS) + len(FILES))
    expected = folder_first(FOLDERS + FILES, FOLDERS.__contains__)
    # README and readme tie, so either may come first.
    assert [n.lower() for n in names] == [n.lower() for n in expected]
    assert sorted(names) == sorted(expected)

    zeta = lambda: view.sortModel.mapFromSource(view.fsmodel.index(str(table / "zeta")))  # noqa: E731
    view.model().fetchMore(zeta())
    assert wait_for_rows(qtbot, view, zeta, 4) == ["sub", "_x", "a.txt", "B.txt"]


def test_comparison_of_real_entries(qtbot, view, table):
    loaded(qtbot, view, table, len(FOLDERS) + len(FILES))
    index = lambda name: view.fsmodel.index(str(table / name))  # noqa: E731
    for name in ("zeta", "a.txt"):
        assert view.sortModel.lessThan(index(name), index(name)) is False
    assert view.sortModel.lessThan(index("README"), index("readme")) is False
    assert view.sortModel.lessThan(index("readme"), index("README")) is False
    assert view.sortModel.lessThan(index("zeta"), index("a.txt")) is True
    assert view.sortModel.lessThan(index("a.txt"), index("zeta")) is False


def test_sort_model_passes_the_model_tester(qtbot, table, qtmodeltester):
    view = ev.FileSystemView()
    try:
        loaded(qtbot, view, table, len(FOLDERS) + len(FILES))
        qtmodeltester.check(view.sortModel)
    finally:
        # The tester asks for every folder it meets, up to the file system's
        # top; deleting the model now stops those loads before they run.
        sip.delete(view)


class Name(str):
    """A file name whose lower() hands back a chosen object."""

    def __new__(cls, text, lowered=None):
        name = super().__new__(cls, text)
        name.lowered = lowered
        return name

    def lower(self):
        return self.lowered if self.lowered is not None else str.lower(self)


class FakeModel:
    """isDir/fileName over plain entries (name, isDir); `fail` names a call that raises."""

    def __init__(self, fail=None, error=None):
        self.fail, self.error, self.calls = fail, error, []

    def _answer(self, call, value):
        self.calls.append(call)
        if call == self.fail:
            raise self.error
        return value

    def isDir(self, entry):
        return self._answer("isDir", entry[1])

    def fileName(self, entry):
        return self._answer("fileName", entry[0])


@pytest.fixture
def proxy(qapp):
    model = QFileSystemModel()
    proxy = ev.FolderFirstSortModel(fsModel=model)
    assert proxy.fsModel is model and proxy.sourceModel() is model
    assert QObject.parent(proxy) is None
    yield proxy
    proxy.setSourceModel(None)


def test_comparison_returns_what_python_gave(proxy):
    proxy.fsModel = FakeModel()
    folder_flag, file_flag = "folder", ""
    assert proxy.lessThan(("b", folder_flag), ("a", file_flag)) is folder_flag
    assert proxy.lessThan(("a", file_flag), ("b", folder_flag)) is file_flag

    verdict = object()

    class Lowered:
        def __lt__(self, other):
            return verdict
    assert proxy.lessThan((Name("x", Lowered()), 0), ("y", 0)) is verdict


def test_model_is_read_afresh_for_every_call(proxy):
    first, second = FakeModel(), FakeModel()
    proxy.fsModel = first
    assert proxy.lessThan(("a", False), ("B", False)) is True
    proxy.fsModel = second
    assert proxy.lessThan(("a", False), ("B", True)) is False
    assert first.calls == ["isDir", "isDir", "fileName", "fileName"]
    assert second.calls == ["isDir", "isDir"]

    # Swapped between the calls of one comparison: each call sees the newest.
    models = [FakeModel() for _ in range(4)]
    holder = type("Holder", (), {"fsModel": property(lambda self: models.pop(0))})()
    seen = list(models)
    assert ev.FolderFirstSortModel.lessThan(holder, ("a", 0), ("b", 0)) is True
    assert [m.calls for m in seen] == [["isDir"], ["isDir"], ["fileName"], ["fileName"]]


class Touchy:
    """Refuses to be compared."""

    def __ne__(self, other):
        raise LookupError("no verdict")

    __lt__ = __ne__


@pytest.mark.parametrize("left, fail", [
    (("a", False), "isDir"),
    (("a", False), "fileName"),
    ((Name("a", Touchy()), False), None),         # the lowered names are compared
    (("a", Touchy()), None),                       # the isDir results are compared
])
def test_model_errors_propagate_with_traceback_entry(proxy, left, fail):
    error = LookupError("model gone")
    proxy.fsModel = FakeModel(fail, error)
    with pytest.raises(LookupError) as caught:
        proxy.lessThan(left, ("b", False))
    if fail:
        assert caught.value is error
    assert LESS_THAN in [frame.name for frame in traceback.extract_tb(caught.tb)]


def test_view_right_after_construction(qtbot):
    parent = QWidget()
    qtbot.addWidget(parent)
    view = ev.FileSystemView(parent=parent)
    fsmodel, sort_model = view.fsmodel, view.sortModel
    assert view.parent() is parent and QObject.parent(fsmodel) is view
    assert view.model() is sort_model and sort_model.fsModel is fsmodel
    assert sort_model.sourceModel() is fsmodel
    assert not fsmodel.isReadOnly() and not fsmodel.nameFilterDisables()
    assert fsmodel.filter() == (QDir.Filter.AllEntries | QDir.Filter.NoSymLinks
                                | QDir.Filter.NoDotAndDotDot | QDir.Filter.Hidden)
    assert fsmodel.columnCount() > 1
    assert [c for c in range(fsmodel.columnCount()) if not view.isColumnHidden(c)] == [0]
    assert view.isHeaderHidden() and not view.isAnimated()
    assert not view.rootIndex().isValid()
    assert (sort_model.sortColumn(), sort_model.sortOrder()) == (0, Qt.SortOrder.AscendingOrder)
    assert not view.isSortingEnabled()
    assert view.selectionMode() == QAbstractItemView.SelectionMode.ExtendedSelection
    assert view.dragEnabled()
    assert view.dragDropMode() == QAbstractItemView.DragDropMode.DragDrop
    assert view.editTriggers() == QAbstractItemView.EditTrigger.NoEditTriggers
    assert len(view.findChildren(QScrollDelegate)) == 1
    assert isinstance(view.rootPath(), Path)


@pytest.mark.parametrize("name, args", [("FileSystemView", ()), ("FolderFirstSortModel", ("fsModel",))])
def test_constructor_makes_the_calls_of_its_python_in_the_same_order(qapp, constructor_calls, name, args):
    native, python = constructor_calls(name, *args)
    assert native == python  # the filter's flags, too, each read just before its `|`
    assert native


class Spelled:
    """Not a path type at all, but its str() is one."""

    def __init__(self, path):
        self.path = path

    def __str__(self):
        return str(self.path)


@pytest.mark.parametrize("spell", [str, Path, Spelled])
def test_root_path_from_str_path_or_anything_spelling_one(qtbot, view, tmp_path, spell):
    (tmp_path / "one").mkdir()
    assert loaded(qtbot, view, spell(tmp_path), 1) == ["one"]
    assert view.rootPath() == tmp_path and isinstance(view.rootPath(), Path)
    assert view.sortModel.mapToSource(view.rootIndex()) == view.fsmodel.index(str(tmp_path))


class Respelled(str):
    """A str whose str() is another path: the model gets what str() gives."""

    def __str__(self):
        return self + "/inner"


def test_model_gets_a_plain_str_made_by_str(view, tmp_path, monkeypatch):
    (tmp_path / "inner").mkdir()
    given = []
    real = view.fsmodel.setRootPath
    monkeypatch.setattr(view.fsmodel, "setRootPath", lambda path: given.append(path) or real(path))
    assert view.setRootPath(Respelled(tmp_path)) is True
    assert given == [str(tmp_path / "inner")] and type(given[0]) is str
    assert view.rootPath() == tmp_path / "inner"


@pytest.mark.parametrize("expand, expanded", [((), False), ((True,), True), ((1,), True), (("",), False)])
def test_expand_opens_the_new_root(view, tmp_path, expand, expanded):
    assert view.setRootPath(tmp_path, *expand) is True
    assert view.isExpanded(view.rootIndex()) is expanded


class Denied(PermissionError):
    pass


class RaisedByC:
    """`kind(*args)` raised as C code may raise it, by class and arguments
    (PyErr_SetObject): on 3.11 the error stays an OSError until the
    interpreter makes the instance, which errno then turns into a subclass."""

    def __init__(self, kind, *args):
        self.kind, self.args = kind, args

    def __call__(self, path):
        ctypes.pythonapi.PyErr_SetObject(ctypes.py_object(self.kind), ctypes.py_object(self.args))

    def __repr__(self):
        return f"RaisedByC{(self.kind.__name__, *self.args)}"


def failing(error):
    """A model's setRootPath that raises `error` (an exception or a RaisedByC)."""
    if isinstance(error, RaisedByC):
        return error

    def raising(path):
        raise error
    return raising


@pytest.mark.parametrize("error, text", [
    (PermissionError(errno.EACCES, "denied"), NO_PERMISSION),
    (Denied(), NO_PERMISSION),
    (OSError(errno.EPERM, "not permitted"), NO_PERMISSION),   # Python makes it a PermissionError
    (FileNotFoundError(errno.ENOENT, "gone"), NOT_FOUND),
    (RaisedByC(OSError, errno.ENOENT, "gone"), NOT_FOUND),
    (RaisedByC(OSError, errno.EACCES, "denied"), NO_PERMISSION),
])
def test_file_system_errors_become_messages(view, tmp_path, monkeypatch, shown, error, text):
    monkeypatch.setattr(view.fsmodel, "setRootPath", failing(error))
    monkeypatch.setattr(view, "tr", lambda text: f"<{text}>")
    assert view.setRootPath(tmp_path) is False
    assert shown == message(f"<{text}>")


@pytest.mark.parametrize("target", ["missing", "file.txt"])
def test_missing_folder_keeps_the_old_root(qtbot, view, tmp_path, shown, target):
    (tmp_path / "file.txt").write_text("")
    loaded(qtbot, view, tmp_path, 1)
    assert view.setRootPath(tmp_path / target) is False
    assert shown == message(NOT_FOUND)
    assert view.rootPath() == tmp_path
    assert view.model().rowCount(view.rootIndex()) == 1


@pytest.mark.skipif(os.geteuid() == 0, reason="root may open any folder")
def test_unreadable_folder(view, tmp_path, shown):
    locked = tmp_path / "locked"
    locked.mkdir(mode=0)
    try:
        assert view.setRootPath(locked) is False
    finally:
        locked.chmod(0o755)
    assert shown == message(NO_PERMISSION)


@pytest.mark.parametrize("error", [
    OSError(errno.EIO, "I/O error"), NotADirectoryError(), ValueError("bad"), KeyboardInterrupt(),
    RaisedByC(OSError, errno.EIO, "I/O error"), RaisedByC(OSError, errno.ENOTDIR, "not a folder"),
])
def test_other_errors_propagate_with_nothing_shown(view, tmp_path, monkeypatch, shown, error):
    monkeypatch.setattr(view.fsmodel, "setRootPath", failing(error))
    expected = error.kind(*error.args) if isinstance(error, RaisedByC) else error
    with pytest.raises(type(expected)) as caught:
        view.setRootPath(tmp_path)
    assert type(caught.value) is type(expected) and caught.value.args == expected.args and shown == []
    assert caught.value is error or isinstance(error, RaisedByC)
    # The error goes on with its own traceback, one entry of setRootPath's added.
    names = [frame.name for frame in traceback.extract_tb(caught.tb)]
    assert names.count(SET_ROOT_PATH) == 1 and names[-1] in ("raising", "__call__")


def test_path_the_model_rejects_outright_propagates(view, shown):
    with pytest.raises(ValueError, match="null"):
        view.setRootPath("/tmp/bad\0name")
    assert shown == []


def test_message_is_shown_while_the_error_is_handled(view, tmp_path, monkeypatch, tavro_double):
    def broken(text):
        assert isinstance(sys.exc_info()[1], FileNotFoundError)
        raise RuntimeError("no window")
    monkeypatch.setattr(tavro_double.window, "showErrorMessage", broken)
    with pytest.raises(RuntimeError) as caught:
        view.setRootPath(tmp_path / "missing")
    assert isinstance(caught.value.__context__, FileNotFoundError)
    assert sys.exc_info() == (None, None, None)


# setRootPath showing its message as a Python `except` clause would, in a
# fresh interpreter (3.12 and 3.13 run them too, tests/test_portability.py):
# `fail()` shows it, with no toolkit, while FileNotFoundError is handled.
SHOWING = """
    class FileSystemModel:
        failure = None  # raised instead of a new FileNotFoundError
        def setRootPath(self, path):
            raise self.failure or FileNotFoundError(2, "gone", path)

    class Tree:
        fsmodel = FileSystemModel()
        def tr(self, text): return text

    def showErrorMessage(text, refusal=None):
        assert isinstance(sys.exc_info()[1], FileNotFoundError)
        if refusal: raise refusal

    def fail(refusal=None):
        m.tavro = types.SimpleNamespace(window=types.SimpleNamespace(
            showErrorMessage=lambda text: showErrorMessage(text, refusal)))
        assert m.FileSystemView.setRootPath(Tree(), "/missing") is False

    def thrown_into(generator):
        # `generator.throw(e)` from inside the caller's own `except e`, then
        # out of it: `e` was handled at both levels while fail() ran.
        next(generator)
        thrown = KeyError("thrown")
        try:
            raise thrown
        except KeyError:
            generator.throw(thrown)
        return thrown
"""

# Each scenario shows the message where a handler slot may hold an exception
# and checks that it holds the same one afterwards: a generator's bare `raise`
# after its next `yield` re-raises what it was handling.
HANDLED_AROUND_THE_MESSAGE = {
    "generator thrown into, resumed by next": """
        def steps():
            try:
                yield
            except KeyError:
                fail()
                yield
                raise
        walker = steps()
        thrown = thrown_into(walker)
        assert raises(KeyError, lambda: next(walker)) is thrown
    """,
    "generator thrown into, resumed by send": """
        def steps():
            try:
                yield
            except KeyError as thrown:
                fail()
                assert (yield) == "sent" and sys.exc_info()[1] is thrown
                raise
        walker = steps()
        thrown = thrown_into(walker)
        assert raises(KeyError, lambda: walker.send("sent")) is thrown
    """,
    "nested generators": """
        def inner():
            try:
                yield
            except KeyError:
                fail()
                yield
                yield sys.exc_info()[1]
                raise
        def outer():
            # An empty slot of its own between the caller's and inner()'s.
            yield from inner()
        walker = outer()
        thrown = thrown_into(walker)
        assert next(walker) is thrown
        assert raises(KeyError, lambda: next(walker)) is thrown
    """,
    "coroutine": """
        class Pause:
            def __await__(self):
                yield
        async def task():
            try:
                await Pause()
            except KeyError:
                fail()
                await Pause()
                raise
        running = task()
        thrown = thrown_into(running.__await__())
        assert raises(KeyError, lambda: running.send(None)) is thrown
    """,
    "plain function, on its own and in a generator": """
        def check():  # shares its caller's slot
            fail()
            return sys.exc_info()[1]
        try:
            raise KeyError("outer")
        except KeyError as outer:
            assert check() is outer
        assert check() is None and sys.exc_info() == (None, None, None)
        def steps():
            try:
                yield
            except KeyError:
                yield check()
                yield sys.exc_info()[1]
        walker = steps()
        next(walker)
        thrown = KeyError("thrown")
        try:
            raise thrown
        except KeyError:
            assert walker.throw(thrown) is thrown
        assert next(walker) is thrown
    """,
    "the error shown is the one being handled": """
        def steps():
            try:
                yield
            except KeyError as thrown:
                FileSystemModel.failure = thrown.args[0]
                fail()
                yield
                raise
        walker = steps()
        next(walker)
        gone = FileNotFoundError(2, "gone")
        thrown = KeyError(gone)
        try:
            raise thrown
        except KeyError:
            walker.throw(thrown)
        assert raises(KeyError, lambda: next(walker)) is thrown
        def again():
            try:
                yield
            except FileNotFoundError as handled:
                FileSystemModel.failure = handled
                fail()
                yield
                raise
        walker = again()
        next(walker)
        try:
            raise gone
        except FileNotFoundError:
            walker.throw(gone)
        assert raises(FileNotFoundError, lambda: next(walker)) is gone
    """,
    "the host raising while the message shows": """
        def steps():
            try:
                yield
            except KeyError:
                refused = raises(RuntimeError, lambda: fail(RuntimeError("no window")))
                assert isinstance(refused.__context__, FileNotFoundError)
                yield
                raise
        walker = steps()
        thrown = thrown_into(walker)
        assert raises(KeyError, lambda: next(walker)) is thrown
    """,
    # The other way round: the slot was empty and stays so, even though the
    # caller's slot holds an exception while the message shows.
    "generator with an empty slot of its own": """
        def steps():
            fail()
            yield sys.exc_info()[1]
            yield sys.exc_info()[1]
        try:
            raise KeyError("outer")
        except KeyError as outer:
            walker = steps()
            assert next(walker) is outer
        assert next(walker) is None
    """,
}


@pytest.mark.parametrize("scenario", HANDLED_AROUND_THE_MESSAGE.values(), ids=HANDLED_AROUND_THE_MESSAGE.keys())
def test_handled_exception_is_put_back_as_it_was(run_child, scenario):
    run_child(textwrap.dedent(SHOWING) + textwrap.dedent(scenario), debug_malloc=True)


def test_root_path_is_made_by_the_current_path_type(view, tmp_path, monkeypatch):
    view.setRootPath(tmp_path)
    monkeypatch.setattr(ev, "Path", lambda text: ("made", text))
    assert view.rootPath() == ("made", str(tmp_path))


# ---------------------------------------------------------------- the toolkit's own model calls
#
# Where the build has it, the comparison calls the toolkit's own C++ isDir and
# fileName when the method Python finds is the toolkit's own, bound to the
# model; everything else is called as Python calls it. Either way the order
# and everything Python can see are those of the Python class below.

class _ModelCalls(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("compiledQtVersion", ctypes.c_long)] \
        + [(name, ctypes.c_void_p) for name in ("runtimeQtVersion", "metaObject")] \
        + [("nameSize", ctypes.c_size_t), ("nameAlignment", ctypes.c_size_t)] \
        + [(name, ctypes.c_void_p) for name in ("isDir", "fileName", "releaseName")] \
        + [(name, ctypes.POINTER(ctypes.c_ulonglong)) for name in ("callsInC", "callsInPython")]


@pytest.fixture(scope="module")
def paths_taken():
    """`paths_taken()`: (calls made in C++, calls made through Python) so far,
    read from the library beside the module; None in a build without it."""
    found = sorted(Path(ev.__file__).parent.glob("*explorerview-qt*"))
    if not found:
        return lambda: None
    entry = ctypes.CDLL(str(found[0])).explorerview_model_calls
    entry.restype = ctypes.POINTER(_ModelCalls)
    calls = entry().contents
    return lambda: (calls.callsInC[0], calls.callsInPython[0])


@pytest.fixture
def counted(paths_taken):
    """`counted(action)`: what `action()` gave, and how many model calls it
    made in C++ and through Python ((0, n) where the build has no C++ calls)."""
    def run(action):
        before = paths_taken()
        result = action()
        after = paths_taken()
        return result, (None if before is None else (after[0] - before[0], after[1] - before[1]))
    return run


def expect(fast, ordinary, built):
    """The (C++, Python) calls expected: the C++ ones go through Python where
    the build has no C++ calls (where `built` is None)."""
    return None if built is None else (fast, ordinary)


# Pieces of names: case, digits, dots, underscores, and what lower() maps in
# full: "İ" to two code points, final sigma by its place, "ß" and "ﬁ" staying,
# combining marks, astral letters and emoji (surrogate pairs in the toolkit).
PIECES = ["a", "B", "z", "Z", "_", ".", "1", "10", "2", "İ", "i", "ß", "SS", "ﬁ", "FI", "Σ", "σ", "ς",
          "e\u0301", "é", "😀", "𝐀", "ω", "Ω", "-", " "]
# Names that are not UTF-8: the toolkit leaves them out of its rows.
NOT_UTF8 = [b"caf\xe9", b"\xff\xfe", b"a\xc3", b"\xed\xa0\x80x"]


def random_tree(root, seed, count=48):
    rng = random.Random(seed)
    names = set()
    while len(names) < count:
        name = "".join(rng.choice(PIECES) for _ in range(rng.randint(1, 4)))
        if name.strip(".") and name not in names:
            names.add(name)
    root.mkdir()
    for name in sorted(names):
        (root / name).mkdir() if rng.random() < 0.2 else (root / name).touch()
    for name in NOT_UTF8:
        os.close(os.open(os.fsencode(root) + b"/" + name, os.O_CREAT | os.O_WRONLY))
    return count


@pytest.fixture
def loaded_model(qtbot, tmp_path):
    """`loaded_model(make, model_class)`: a model of `model_class` over the
    folder `make(root)` fills, every entry listed; (model, the folder's index)."""
    def load(make, model_class=QFileSystemModel):
        root = tmp_path / f"tree{len(list(tmp_path.iterdir()))}"
        count = make(root)
        model = model_class()
        model.setFilter(QDir.Filter.AllEntries | QDir.Filter.NoDotAndDotDot | QDir.Filter.Hidden)
        model.setRootPath(str(root))
        qtbot.waitUntil(lambda: model.rowCount(model.index(str(root))) == count, timeout=10000)
        return model, model.index(str(root))
    return load


def sorted_names(proxy, folder, order):
    proxy.sort(-1)
    proxy.sort(0, order)
    parent = proxy.mapFromSource(folder)
    return [proxy.index(row, 0, parent).data() for row in range(proxy.rowCount(parent))]


def calling_through_python(model):
    """Patches the instance: each method found is a Python callable that calls the toolkit's."""
    model.isDir = lambda index: type(model).isDir(model, index)
    model.fileName = lambda index: type(model).fileName(model, index)


@pytest.mark.parametrize("seed", [1, 2, 3])
@pytest.mark.parametrize("order", [Qt.SortOrder.AscendingOrder, Qt.SortOrder.DescendingOrder])
def test_both_paths_order_strange_names_as_the_python_class(loaded_model, counted, seed, order):
    model, folder = loaded_model(lambda root: random_tree(root, seed))
    native, python = ev.FolderFirstSortModel(model), PythonSortModel(model)
    expected = sorted_names(python, folder, order)
    assert len(expected) == 48

    fast, paths = counted(lambda: sorted_names(native, folder, order))
    assert fast == expected
    assert paths is None or (paths[0] > 100 and paths[1] == 0)

    calling_through_python(model)   # a patched instance: every call goes through Python
    ordinary, paths = counted(lambda: sorted_names(native, folder, order))
    assert ordinary == expected
    assert paths is None or (paths[0] == 0 and paths[1] > 100)

    del model.isDir, model.fileName   # the patch deleted: the toolkit's own again
    assert counted(lambda: sorted_names(native, folder, order)) == (expected, paths and (paths[1], 0))


class IsDirInPython(QFileSystemModel):
    def isDir(self, index):
        return super().isDir(index)


class FileNameInPython(QFileSystemModel):
    def fileName(self, index):
        return super().fileName(index)


# A surrogate pair given to the toolkit comes back as one code point, which
# sorts after "ﬁ" (U+FB01) where its first half would sort before; a lone
# surrogate stays what it is, before the U+FFFD that a decoder would put in its
# place ("b.txt" against "i.txt"); a number is named by the text fileName() makes of it.
SHOWN_AS = {"a.txt": "\ud83d\ude00", "b.txt": "a\ud800b", "c.txt": "Zeta", "d.txt": "_x", "e.txt": "İ",
            "f.txt": "ﬁle", "g.txt": 7, "h.txt": "69", "i.txt": "a\ufffdb"}


class DataInPython(QFileSystemModel):
    """Shows other names: the C++ fileName asks data(), as the toolkit's does."""

    def data(self, index, role=Qt.ItemDataRole.DisplayRole):
        shown = super().data(index, role)
        return SHOWN_AS.get(shown, shown) if role == Qt.ItemDataRole.DisplayRole else shown


def patch_class(monkeypatch):
    monkeypatch.setattr(QFileSystemModel, "fileName", lambda self, index: PyQt6QFileSystemModel.fileName(self, index))


@pytest.mark.parametrize("model_class, patch, per_pair", [
    (QFileSystemModel, None, (4, 0)),
    (PyQt6QFileSystemModel, None, (4, 0)),   # the toolkit's own class, not the host's subclass
    (IsDirInPython, None, (2, 2)),
    (FileNameInPython, None, (2, 2)),
    (DataInPython, None, (4, 0)),
    (QFileSystemModel, patch_class, (2, 2)),
], ids=["host model", "toolkit model", "isDir overridden", "fileName overridden", "data overridden",
        "class patched"])
def test_only_the_toolkits_own_method_is_called_in_cpp(loaded_model, counted, monkeypatch, model_class, patch,
                                                      per_pair):
    model, folder = loaded_model(lambda root: make_tree(root, list(SHOWN_AS)) and len(SHOWN_AS), model_class)
    if patch:
        patch(monkeypatch)
    native, python = ev.FolderFirstSortModel(model), PythonSortModel(model)
    index = [model.index(row, 0, folder) for row in range(model.rowCount(folder))]
    pairs = [(a, b) for a in index for b in index]
    expected = [python.lessThan(a, b) for a, b in pairs]
    result, paths = counted(lambda: [native.lessThan(a, b) for a, b in pairs])
    assert result == expected
    assert paths == expect(per_pair[0] * len(pairs), per_pair[1] * len(pairs), paths)


def counting_lookups(base, log, names):
    class Counting(base):
        def __getattribute__(self, name):
            if name in names:
                log.append(name)
            return super().__getattribute__(name)
    return Counting


@pytest.mark.parametrize("names, seen", [
    (["a.txt", "b.txt"], ["fsModel", "isDir", "fsModel", "isDir", "fsModel", "fileName", "fsModel", "fileName"]),
    (["sub/", "b.txt"], ["fsModel", "isDir", "fsModel", "isDir"]),
])
def test_every_read_and_look_up_is_made_as_in_python(loaded_model, counted, names, seen):
    log = []
    model, folder = loaded_model(lambda root: make_tree(root, names) and 2,
                                 counting_lookups(QFileSystemModel, log, {"isDir", "fileName"}))
    left, right = (model.index(str(Path(model.filePath(folder)) / name.rstrip("/"))) for name in names)
    for proxy_class in (ev.FolderFirstSortModel, PythonSortModel):
        proxy = counting_lookups(proxy_class, log, {"fsModel"})(model)
        log.clear()
        verdict, paths = counted(lambda: proxy.lessThan(left, right))
        assert verdict is (names[0] < names[1] if seen[-1] == "fileName" else True)
        assert log == seen
        # Found on a model whose look-ups Python code answers: still the toolkit's own, bound to it.
        if proxy_class is ev.FolderFirstSortModel:
            assert paths == expect(len(seen) // 2, 0, paths)


@pytest.mark.parametrize("borrowed", [None, "isDir", "fileName"],
                         ids=["model deleted", "isDir of a deleted model", "fileName of a deleted model"])
def test_a_deleted_model_raises_the_toolkits_error(proxy, qapp, borrowed):
    model = QFileSystemModel()
    index = model.index(str(Path.home()))
    deleted = QFileSystemModel() if borrowed else model
    if borrowed:   # another model's own method stored on this one: it is bound to that model
        setattr(model, borrowed, getattr(deleted, borrowed))
    for sort_model in (proxy, PythonSortModel(QFileSystemModel())):
        sort_model.fsModel = model
    sip.delete(deleted)
    errors = []
    for sort_model in (proxy, PythonSortModel(QFileSystemModel())):
        sort_model.fsModel = model
        with pytest.raises(RuntimeError) as caught:
            sort_model.lessThan(index, index)
        errors.append(str(caught.value))
    assert errors[0] == errors[1] and "deleted" in errors[0]


def test_the_host_tree_calls_the_toolkit_in_cpp(qtbot, view, table, counted):
    names, paths = counted(lambda: loaded(qtbot, view, table, len(FOLDERS) + len(FILES)))
    assert sorted(names) == sorted(FOLDERS + FILES)
    assert type(view.fsmodel) is QFileSystemModel and QFileSystemModel is not PyQt6QFileSystemModel
    assert paths is None or (paths[0] > 0 and paths[1] == 0)
