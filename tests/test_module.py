"""The module as Python sees it: import-time rules, the four classes, and the
native function objects (attributes, binding, errors, traceback entries).

Import-time cases run in fresh interpreters: the module loads once per process.
"""
import ast
import builtins
import contextlib
import functools
import gc
import inspect
import os
import pickle
import pydoc
import re
import subprocess
import sys
import textwrap
import traceback
import types
import typing
import weakref
from pathlib import Path
from unittest import mock

import pytest

FULL_NAME = "Tavro_Workspace.explorerview"
FILE_NAME = "<Tavro_Workspace.explorerview>"
STUB = Path(__file__).resolve().parents[1] / "src" / "explorerview.pyi"

KELPA_NAMES = [
    "QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu", "QHSpacer",
    "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE", "QApplication", "QVLine",
    "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir", "QAbstractItemView",
    "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer", "QPoint", "QSortFilterProxyModel",
    "QClipboard",
]
CLASSES = ["NoFolderOpenedPage", "FolderFirstSortModel", "FileSystemView", "ExplorerView"]

# Every function of the module: key (its traceback name after the module's),
# co_name, parameters, first line, __defaults__, __annotations__, __doc__.
FUNCTIONS = [
    ("NoFolderOpenedPage.__init__", "__init__", ("self", "parent"), 18, (None,), {}, None),
    ("NoFolderOpenedPage.__init__.lambda", "<lambda>", (), 22, None, {}, None),
    ("FolderFirstSortModel.__init__", "__init__", ("self", "fsModel"), 35, None,
     {"fsModel": "QFileSystemModel"}, None),
    ("FolderFirstSortModel.lessThan", "lessThan", ("self", "left", "right"), 40, None,
     {"left": "QModelIndex", "right": "QModelIndex", "return": "bool"}, None),
    ("FileSystemView.__init__", "__init__", ("self", "parent"), 57, (None,), {}, None),
    ("FileSystemView.rootPath", "rootPath", ("self",), 84, None, {"return": "Path"}, None),
    ("FileSystemView.setRootPath", "setRootPath", ("self", "path", "expand"), 87, (False,),
     {"path": "Path", "return": "bool"}, None),
    ("ExplorerView.__init__", "__init__", ("self", "parent"), 107, (None,), {}, None),
    ("ExplorerView.__init__.lambda1", "<lambda>", (), 141, None, {}, None),
    ("ExplorerView.__init__.lambda2", "<lambda>", (), 177, None, {}, None),
    ("ExplorerView.__init__.lambda3", "<lambda>", (), 193, None, {}, None),
    ("ExplorerView._showNewFileMenu", "_showNewFileMenu", ("self",), 220, None, {}, None),
    ("ExplorerView.setWorkingFolder", "setWorkingFolder", ("self", "path"), 224, None,
     {"path": "Path | None"}, None),
    ("ExplorerView.workingFolder", "workingFolder", ("self",), 233, None,
     {"return": "Path | None"}, "\n        "),
    ("ExplorerView.select", "select", ("self", "paths"), 241, None, {"paths": "List[Path]"}, None),
    ("ExplorerView.selection", "selection", ("self",), 267, None, {"return": "List[Path]"}, None),
    ("ExplorerView._expandSelected", "_expandSelected", ("self",), 283, None, {}, None),
    ("ExplorerView._fsItemDoubleClicked", "_fsItemDoubleClicked", ("self", "index"), 290, None,
     {"index": "QModelIndex"}, None),
    ("ExplorerView._showContextMenu", "_showContextMenu", ("self", "pos"), 295, None,
     {"pos": "QPoint"}, None),
    ("ExplorerView._commonFolderInSelection", "_commonFolderInSelection", ("self",), 299, None,
     {"return": "Path"}, None),
    ("ExplorerView._pasteFiles", "_pasteFiles", ("self",), 308, None, {},
     "\n        Paste files\n        "),
    ("ExplorerView._pasteFiles.doPaste", "doPaste", ("folderStr", "ok"), 314, None, {}, None),
    ("ExplorerView._copyPathOfSelection", "_copyPathOfSelection", ("self",), 330, None, {}, None),
    ("ExplorerView._newFile", "_newFile", ("self",), 335, None, {}, None),
    ("ExplorerView._newFile.doCreateFile", "doCreateFile", ("name", "ok"), 336, None,
     {"ok": "bool"}, None),
    ("ExplorerView._newFolder", "_newFolder", ("self",), 348, None, {}, None),
    ("ExplorerView._newFolder.doCreateFolder", "doCreateFolder", ("name", "ok"), 349, None,
     {"ok": "bool"}, None),
]
BY_KEY = {row[0]: row for row in FUNCTIONS}
CAPTURING_PANEL = {"ExplorerView.__init__.lambda2", "ExplorerView.__init__.lambda3",
                   "ExplorerView._pasteFiles.doPaste", "ExplorerView._newFile.doCreateFile",
                   "ExplorerView._newFolder.doCreateFolder"}
BINDING_ERROR = re.compile(r"^\w+\(\) (takes |got |keywords must be strings)|^Argument '")


def qualname_of(key):
    cls, *rest = key.split(".")
    if len(rest) == 1:
        return key
    inner = "<lambda>" if rest[1].startswith("lambda") else rest[1]
    return f"{cls}.{rest[0]}.<locals>.{inner}"


def is_method(key):
    return key.count(".") == 1


class Reached(Exception):
    """Raised by Probe: the body ran (binding succeeded)."""


class Probe:
    def __getattr__(self, name):
        reached = Reached(name)
        reached.probe = self  # which object the body got
        raise reached


@pytest.fixture
def native(explorerview, tavro_double, qapp, tmp_path):
    """`native(key)`: the live function object for a row of FUNCTIONS, and the
    panel it captures (or None). Lambdas and callbacks come from a real panel."""
    keep = []

    def made_by(owner, name, captured):
        # Handlers are handed to the toolkit, not stored on the panel: find them
        # among the live objects, by the panel they capture where they do.
        for obj in gc.get_objects():
            if type(obj) is type(explorerview.ExplorerView.select) and obj.__name__ == name:
                if not captured or obj.__closure__[0].cell_contents is owner:
                    return obj
        raise LookupError(name)

    def get(key):
        if is_method(key):
            cls, name = key.split(".")
            return vars(getattr(explorerview, cls))[name], None
        if key.startswith("NoFolderOpenedPage"):
            keep.append(explorerview.NoFolderOpenedPage())
            return made_by(keep[-1], "lambda", False), None
        panel = explorerview.ExplorerView()
        keep.append(panel)
        name = key.rsplit(".", 1)[1]
        if name.startswith("lambda"):
            return made_by(panel, name, key in CAPTURING_PANEL), panel
        tavro_double.workspace.folder = tmp_path
        panel.setWorkingFolder(tmp_path)
        getattr(panel, key.split(".")[1])()
        return tavro_double.pendingPrompts.pop(), panel

    yield get
    keep.clear()


def call_failing(fn, *args, **kwargs):
    with pytest.raises(BaseException) as info:
        fn(*args, **kwargs)
    return info.value


def own_entries(error):
    return [entry for entry in traceback.extract_tb(error.__traceback__) if entry.filename == FILE_NAME]


# ------------------------------------------------------------------ function objects

@pytest.mark.parametrize("row", FUNCTIONS, ids=[row[0] for row in FUNCTIONS])
def test_function_attributes(explorerview, native, row):
    key, co_name, params, first_line, defaults, annotations, doc = row
    fn, panel = native(key)
    assert fn.__name__ == key.rsplit(".", 1)[1]
    assert fn.__qualname__ == qualname_of(key)
    assert fn.__module__ == FULL_NAME
    assert fn.__doc__ == doc
    assert fn.__defaults__ == defaults
    assert fn.__kwdefaults__ is None
    assert fn.__annotations__ == annotations
    assert fn.__globals__ is vars(explorerview)
    assert fn.__builtins__ is vars(builtins)
    assert repr(fn) == f"<function {qualname_of(key)} at {id(fn):#x}>"

    code = fn.__code__
    assert (code.co_name, code.co_argcount, code.co_varnames[:len(params)]) == (co_name, len(params), params)
    assert (code.co_firstlineno, code.co_qualname, code.co_flags) == (first_line, qualname_of(key),
                                                                      inspect.CO_OPTIMIZED | inspect.CO_NEWLOCALS)
    assert code.co_posonlyargcount == code.co_kwonlyargcount == 0

    # The closure matches the code's free variables, as Python keeps them.
    if key.endswith("__init__"):
        cls = getattr(explorerview, key.split(".")[0])
        assert code.co_freevars == ("__class__",)
        assert fn.__closure__[0].cell_contents is cls
    elif key in CAPTURING_PANEL:
        assert code.co_freevars == ("self",)
        assert fn.__closure__[0].cell_contents is panel
    else:
        assert code.co_freevars == () and fn.__closure__ is None


def test_code_objects_are_shared_by_the_functions_of_one_row(native):
    first, _ = native("ExplorerView._pasteFiles.doPaste")
    second, _ = native("ExplorerView._pasteFiles.doPaste")
    assert first is not second and first.__code__ is second.__code__
    assert first.__annotations__ is not second.__annotations__  # each def gets its own dict
    lambdas = [native("ExplorerView.__init__.lambda2")[0] for _ in range(2)]
    assert lambdas[0].__code__ is lambdas[1].__code__


def reference_callback():
    """A Python function shaped like doCreateFile: one free variable."""
    self = None

    def doCreateFile(name, ok: "bool"):
        return self

    return doCreateFile


SETTINGS = [
    ("__name__", 1), ("__name__", "renamed"), ("__qualname__", b"x"), ("__qualname__", "A.b"),
    ("__defaults__", [1]), ("__defaults__", (1,)), ("__defaults__", None),
    ("__kwdefaults__", [1]), ("__kwdefaults__", {"ok": 1}), ("__kwdefaults__", None),
    ("__annotations__", [1]), ("__annotations__", {"x": "int"}), ("__annotations__", None),
    ("__code__", 1), ("__code__", (lambda: None).__code__), ("__code__", reference_callback().__code__),
    ("__doc__", 3), ("__module__", "elsewhere"),
    ("__globals__", {}), ("__closure__", ()), ("__builtins__", {}), ("__dict__", 1), ("__dict__", {"a": 1}),
    ("__class__", int), ("anything", 1),
]


@pytest.mark.parametrize("attribute, value", SETTINGS)
@pytest.mark.parametrize("delete", [False, True], ids=["set", "del"])
def test_attributes_set_and_delete_as_on_a_python_function(native, attribute, value, delete):
    fn, _ = native("ExplorerView._newFile.doCreateFile")
    reference = reference_callback()
    outcomes = []
    for target in (reference, fn):
        try:
            delattr(target, attribute) if delete else setattr(target, attribute, value)
        except Exception as error:
            # The type's own name is the one difference allowed in messages.
            outcomes.append((type(error), str(error).replace("Tavro_Workspace.explorerview.function", "function")))
            continue
        read = getattr(target, attribute, "<absent>")
        outcomes.append(("ok", type(read) if attribute == "__class__" else read))
    if attribute == "__code__" and outcomes[0][0] == "ok":
        # Another code object would not change what the native body runs:
        # refused rather than silently stored; its own code may go back.
        assert outcomes[1] == (TypeError, "doCreateFile() is a native function: its __code__ cannot be replaced")
        fn.__code__ = own = fn.__code__
        assert fn.__code__ is own
        return
    assert outcomes[0] == outcomes[1]


def test_dict_weakref_and_garbage_collection(native, tavro_double):
    fn, _ = native("ExplorerView._pasteFiles.doPaste")
    fn.note = "kept"
    assert fn.__dict__ == {"note": "kept"}
    holder = types.SimpleNamespace(fn=fn)
    fn.holder = holder  # a cycle through the function's __dict__
    alive = weakref.ref(fn)
    del fn, holder
    gc.collect()
    assert alive() is None


def test_binding_and_failing_calls_leak_no_references(explorerview, native):
    panel = native("ExplorerView.__init__.lambda2")[1]
    paths, extra = [], object()
    before = sys.getrefcount(paths), sys.getrefcount(extra), sys.getrefcount(panel)
    for _ in range(50):
        panel.select(paths)
        explorerview.ExplorerView.select(panel, paths=paths)
        with pytest.raises(TypeError):
            panel.workingFolder(extra)
        with pytest.raises(TypeError):
            explorerview.ExplorerView.select(panel, paths, paths=extra)
    assert (sys.getrefcount(paths), sys.getrefcount(extra), sys.getrefcount(panel)) == before


def test_binds_like_a_python_method(explorerview, native):
    cls = explorerview.ExplorerView
    fn = vars(cls)["select"]
    panel = native("ExplorerView.__init__.lambda2")[1]
    assert cls.select is fn and fn.__get__(None, cls) is fn
    bound = panel.select
    assert type(bound) is types.MethodType and bound.__func__ is fn and bound.__self__ is panel
    assert isinstance(fn, types.FunctionType) and inspect.isfunction(fn)


def test_pyqt_connects_a_bound_method_as_a_method(explorerview, native, tmp_path, qtbot):
    from PyQt6.QtCore import QObject, pyqtSignal

    class Emitter(QObject):
        changed = pyqtSignal(object)

    panel = native("ExplorerView.__init__.lambda2")[1]
    emitter = Emitter()
    emitter.changed.connect(panel.setWorkingFolder)
    emitter.changed.emit(tmp_path)
    assert panel.workingFolder() == tmp_path


# ------------------------------------------------------------------ binding and its errors

@pytest.mark.parametrize("key, args, kwargs, message", [
    ("ExplorerView.workingFolder", ["panel", 1], {},
     "workingFolder() takes exactly 1 positional argument (2 given)"),
    ("ExplorerView.__init__", [], {}, "__init__() takes at least 1 positional argument (0 given)"),
    ("ExplorerView.__init__", [1, 2, 3], {}, "__init__() takes at most 2 positional arguments (3 given)"),
    ("ExplorerView.select", ["panel"], {"path": []}, "select() got an unexpected keyword argument 'path'"),
    ("ExplorerView.select", ["panel", []], {"paths": []},
     "select() got multiple values for keyword argument 'paths'"),
    ("ExplorerView.select", [], {"self": "panel"}, "select() takes exactly 2 positional arguments (1 given)"),
    ("FolderFirstSortModel.__init__", [], {}, "__init__() takes exactly 2 positional arguments (0 given)"),
    ("FolderFirstSortModel.lessThan", [1, 2], {}, "lessThan() takes exactly 3 positional arguments (2 given)"),
    ("FileSystemView.setRootPath", [1], {"expand": True},
     "setRootPath() takes at least 2 positional arguments (1 given)"),
    ("FileSystemView.setRootPath", [1, 2, 3, 4], {}, "setRootPath() takes at most 3 positional arguments (4 given)"),
    ("ExplorerView._pasteFiles.doPaste", [], {"ok": True}, "doPaste() takes exactly 2 positional arguments (0 given)"),
    ("NoFolderOpenedPage.__init__.lambda", [1], {}, "lambda() takes no arguments (1 given)"),
    ("ExplorerView.__init__.lambda1", [], {"x": 1}, "lambda1() takes no keyword arguments"),
    ("ExplorerView.__init__.lambda3", [1, 2], {"x": 1}, "lambda3() takes no keyword arguments"),
    ("ExplorerView.select", ["panel", ("a",)], {},
     "Argument 'paths' has incorrect type (expected list, got tuple)"),
    ("ExplorerView.select", ["panel", None], {},
     "Argument 'paths' has incorrect type (expected list, got NoneType)"),
    ("ExplorerView.select", ["panel"], {"paths": type("PathList", (list,), {})()},
     "Argument 'paths' has incorrect type (expected list, got PathList)"),
])
def test_binding_error_texts_and_traceback_entry(native, key, args, kwargs, message):
    fn, panel = native(key)
    panel = panel or native("ExplorerView.__init__.lambda2")[1]
    fill = lambda value: panel if value == "panel" else value  # noqa: E731
    error = call_failing(fn, *map(fill, args), **{k: fill(v) for k, v in kwargs.items()})
    assert (type(error), str(error)) == (TypeError, message)
    [entry] = own_entries(error)
    assert (entry.name, entry.lineno) == (f"{FULL_NAME}.{key}", BY_KEY[key][3])


def test_keywords_must_be_strings(native):
    fn, _ = native("ExplorerView._pasteFiles.doPaste")
    with pytest.raises(TypeError, match="keywords must be strings$"):
        fn("x", **{1: True})


def test_select_check_runs_before_the_body():
    from Tavro_Workspace.explorerview import ExplorerView
    error = call_failing(ExplorerView.select, Probe(), (Path("/"),))
    assert isinstance(error, TypeError)  # not Reached: the body never touched self


def test_defaults_are_read_at_each_call(explorerview, monkeypatch):
    select = explorerview.ExplorerView.select
    monkeypatch.setattr(select, "__defaults__", ((),))
    assert "got tuple" in str(call_failing(select, Probe()))
    set_root = explorerview.FileSystemView.setRootPath
    monkeypatch.setattr(set_root, "__defaults__", None)
    assert str(call_failing(set_root, Probe(), "/")) == \
        "setRootPath() takes exactly 3 positional arguments (2 given)"
    monkeypatch.setattr(set_root, "__defaults__", ("x", "/", True, 0))  # longer than the parameters
    assert isinstance(call_failing(set_root, Probe()), Reached)
    # The last ones bind, as Python takes them: `self` gets the second of four.
    defaults = tuple(Probe() for _ in range(4))
    monkeypatch.setattr(set_root, "__defaults__", defaults)
    assert call_failing(set_root).probe is defaults[1]


def call_shapes(params):
    """Every mix of 0..n+1 positional arguments with keywords for any subset
    of the parameters and one unknown name."""
    names = list(params) + ["bogus"]
    for count in range(len(params) + 2):
        for mask in range(1 << len(names)):
            yield count, [name for bit, name in enumerate(names) if mask >> bit & 1]


# How a caller spells its keyword names: the interned strs of a call site in
# Python source, strs built at run time as **kwargs often carries them (equal to
# the parameter names, but not the same objects), or the first interned and the
# rest built.
KEYWORD_SPELLINGS = {
    "interned": lambda index, name: sys.intern(name),
    "built": lambda index, name: "".join(list(name)),
    "mixed": lambda index, name: sys.intern(name) if index == 0 else "".join(list(name)),
}


@pytest.mark.parametrize("spelling", sorted(KEYWORD_SPELLINGS))
@pytest.mark.parametrize("key", ["ExplorerView.workingFolder", "ExplorerView.setWorkingFolder",
                                 "ExplorerView.__init__", "FileSystemView.setRootPath",
                                 "FolderFirstSortModel.lessThan"])
def test_binds_exactly_when_a_python_def_binds(native, tavro_double, key, spelling):
    fn, _ = native(key)
    _, _, params, _, defaults, _, _ = BY_KEY[key]
    namespace = {}
    exec(f"def reference({', '.join(params)}): pass", namespace)
    reference = namespace["reference"]
    reference.__defaults__ = defaults
    for count, keywords in call_shapes(params):
        args = [Probe()] + [[] for _ in range(count - 1)] if count else []
        spell = KEYWORD_SPELLINGS[spelling]
        kwargs = {spell(index, name): Probe() if name == "self" else [] for index, name in enumerate(keywords)}
        try:
            reference(*args, **kwargs)
            python_binds = True
        except TypeError:
            python_binds = False
        try:
            fn(*args, **kwargs)
            native_binds = True
        except TypeError as error:
            native_binds = not BINDING_ERROR.match(str(error))
        except Exception:  # the body ran and failed on the probe
            native_binds = True
        assert native_binds == python_binds, (count, keywords)


# ------------------------------------------------------------------ globals and body errors

def test_bodies_read_globals_at_each_call_with_builtins_as_fallback(explorerview, native, monkeypatch):
    fn, _ = native("NoFolderOpenedPage.__init__.lambda")
    services = types.SimpleNamespace(commands=types.SimpleNamespace(execute=lambda *a: ("ran", a)))
    monkeypatch.setattr(explorerview, "tavro", services)
    assert fn() == ("ran", ("Nodra.openFolder",))
    monkeypatch.delattr(explorerview, "tavro")
    error = call_failing(fn)
    assert (type(error), str(error)) == (NameError, "name 'tavro' is not defined")
    assert [entry.name for entry in own_entries(error)] == [f"{FULL_NAME}.NoFolderOpenedPage.__init__.lambda"]
    # The function's own builtins answer, as for a Python function, not the
    # builtins of the frame that calls it.
    error = call_failing(exec, "fn()", {"__builtins__": {"tavro": services}, "fn": fn})
    assert (type(error), str(error)) == (NameError, "name 'tavro' is not defined")
    monkeypatch.setattr(builtins, "tavro", services, raising=False)
    assert fn() == ("ran", ("Nodra.openFolder",))
    assert exec("fn()", {"__builtins__": {}, "fn": fn}) is None
    # Nor those the module has now: a function keeps the builtins it was made with.
    monkeypatch.delattr(builtins, "tavro")
    monkeypatch.setattr(explorerview, "__builtins__", {"tavro": services})
    assert isinstance(call_failing(fn), NameError)


class Book:
    """What a run of one body did, in order, and how the host answers it:
    `answers` maps an event to its result (an exception class is raised), and
    `handed` keeps the functions the body gave to the host (callbacks)."""

    def __init__(self, answers=None):
        self.log, self.answers, self.handed, self.recording = [], dict(answers or {}), [], False

    def note(self, event, default):
        if self.recording:
            self.log.append(event)
        answer = self.answers.get(event, default)
        if isinstance(answer, type) and issubclass(answer, BaseException):
            raise answer(event)
        return answer


class Recorder:
    """A host object, a global or an argument that logs, by name, everything
    asked of it: attribute reads, calls, operators, comparisons, truth (through
    len()), str() and iteration."""

    def __init__(self, book, name):
        self._book, self._name = book, name

    def _note(self, event, default=None):
        return self._book.note(event, Recorder(self._book, event) if default is None else default)

    def __getattr__(self, attribute):
        if attribute.startswith("__"):
            raise AttributeError(attribute)
        return self._note(f"{self._name}.{attribute}")

    def __call__(self, *args, **kwargs):
        self._book.handed += [v for v in (*args, *kwargs.values()) if callable(v) and not isinstance(v, Recorder)]
        return self._note(f"{self._name}()")

    def _operator(self, symbol, other, default=None):
        return self._note(f"{self._name} {symbol} {getattr(other, '_name', repr(other))}", default)

    __or__ = lambda self, other: self._operator("|", other)
    __truediv__ = lambda self, other: self._operator("/", other)
    __eq__ = lambda self, other: self._operator("==", other, False)
    __ne__ = lambda self, other: self._operator("!=", other, True)
    __lt__ = lambda self, other: self._operator("<", other, True)
    __hash__ = object.__hash__
    __len__ = lambda self: self._note(f"len({self._name})", 1)
    __index__ = lambda self: self._note(f"index({self._name})", 2)
    __getitem__ = lambda self, key: self._note(f"{self._name}[{key!r}]")
    __iter__ = lambda self: iter([self._note(f"iter({self._name})", Recorder(self._book, f"{self._name}[0]"))])

    def __str__(self):
        return self._note(f"str({self._name})", "/x")


class GlobalName(str):
    """A key of a module's dict that logs each look-up of its name: equal to
    the name and with its hash, so a dict compares it with the name looked up
    (another str object) and this __eq__ runs, for the interpreter's global
    reads and the module's alike."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        self.book.note(f"global {str(self)}", None)
        return str.__eq__(self, other)


@contextlib.contextmanager
def recorded_globals(module, names, book):
    """Every global in `names` a Recorder of its name, each read of it logged."""
    namespace = vars(module)
    saved = dict(namespace)
    try:
        for name in names:
            key = GlobalName(name)
            key.book = book
            del namespace[name]
            namespace[key] = Recorder(book, name)
        yield
    finally:  # the dict's own order back, with plain keys
        book.recording = False
        namespace.clear()
        namespace.update(saved)


def recorded_instance(cls, book):
    """An object of a subclass of `cls`, not yet initialised, whose every
    attribute read is a Recorder of `self` and whose attributes set are logged:
    a constructor runs against it with its real base initialisers."""
    class Recorded(cls):
        def __getattribute__(self, attribute):
            if attribute.startswith("__"):
                return object.__getattribute__(self, attribute)
            return Recorder(book, "self").__getattr__(attribute)

        def __setattr__(self, attribute, value):
            book.note(f"self.{attribute} = {getattr(value, '_name', type(value).__name__)}", None)

    return Recorded.__new__(Recorded)


# The functions made at run time, by what makes them and in which order it
# hands them to the host.
MADE_BY = {
    "NoFolderOpenedPage.__init__.lambda": ("NoFolderOpenedPage.__init__", 0),
    "ExplorerView.__init__.lambda1": ("ExplorerView.__init__", 0),
    "ExplorerView.__init__.lambda2": ("ExplorerView.__init__", 1),
    "ExplorerView.__init__.lambda3": ("ExplorerView.__init__", 2),
    "ExplorerView._pasteFiles.doPaste": ("ExplorerView._pasteFiles", 0),
    "ExplorerView._newFile.doCreateFile": ("ExplorerView._newFile", 0),
    "ExplorerView._newFolder.doCreateFolder": ("ExplorerView._newFolder", 0),
}

# Every function of the module, with Recorders for its arguments (None for a
# widget's parent, a list for select), and the other ways through a body:
# case id -> (function, arguments given apart from Recorders, the host's answers).
ORDER_CASES = {key: (key, {"parent": None}, {}) for key, *_ in FUNCTIONS}
ORDER_CASES.update({
    "ExplorerView.select": ("ExplorerView.select", {"paths": "list"}, {}),
    "ExplorerView.select, paths outside the root": (
        "ExplorerView.select", {"paths": "list"}, {"osp.normcase().startswith()": False}),
    "ExplorerView.select, the root itself": (
        "ExplorerView.select", {"paths": "list"}, {"osp.normcase() != osp.join()": False}),
    "ExplorerView.select, no root yet": (
        "ExplorerView.select", {"paths": "list"}, {"self._fileSystemView.rootIndex().isValid()": False}),
    "ExplorerView.setWorkingFolder(None)": ("ExplorerView.setWorkingFolder", {"path": None}, {}),
    "ExplorerView.setWorkingFolder, rows outside the root": (
        "ExplorerView.setWorkingFolder", {}, {"osp.normcase().startswith()": False}),
    "ExplorerView.setWorkingFolder, a folder refused": (
        "ExplorerView.setWorkingFolder", {}, {"self._fileSystemView.setRootPath()": False}),
    "ExplorerView.setWorkingFolder, the whole file system": (
        "ExplorerView.setWorkingFolder", {}, {"self._fileSystemView.rootIndex().isValid()": False}),
    "ExplorerView.workingFolder, no folder": (
        "ExplorerView.workingFolder", {}, {"self._stacked.currentWidget() == self._noFolderOpenedPage": True}),
    "FolderFirstSortModel.lessThan, same kind": (
        "FolderFirstSortModel.lessThan", {}, {"self.fsModel.isDir() != self.fsModel.isDir()": False}),
    "FileSystemView.setRootPath, permission": (
        "FileSystemView.setRootPath", {}, {"self.fsmodel.setRootPath()": PermissionError}),
    "FileSystemView.setRootPath, not found": (
        "FileSystemView.setRootPath", {}, {"self.fsmodel.setRootPath()": FileNotFoundError}),
    "ExplorerView._fsItemDoubleClicked, a folder": ("ExplorerView._fsItemDoubleClicked", {}, {"Path().is_file()": 0}),
    "ExplorerView._commonFolderInSelection, nothing selected": (
        "ExplorerView._commonFolderInSelection", {}, {"len(self.selection())": 0}),
    "ExplorerView._commonFolderInSelection, not a folder": (
        "ExplorerView._commonFolderInSelection", {}, {"Path().is_dir()": 0}),
    "ExplorerView._copyPathOfSelection, nothing selected": (
        "ExplorerView._copyPathOfSelection", {}, {"len(self.selection())": 0}),
    "ExplorerView._pasteFiles.doPaste, not a folder": ("ExplorerView._pasteFiles.doPaste", {}, {"Path().is_dir()": 0}),
    "ExplorerView._pasteFiles.doPaste, cancelled": ("ExplorerView._pasteFiles.doPaste", {}, {"len(ok)": 0}),
    "ExplorerView._newFile.doCreateFile, cancelled": ("ExplorerView._newFile.doCreateFile", {}, {"len(ok)": 0}),
})
# A new item's name is text: the prompt hands back a str.
for key in ("ExplorerView._newFile.doCreateFile", "ExplorerView._newFolder.doCreateFolder"):
    ORDER_CASES[key][1]["name"] = "notes.txt"
# setRootPath's message is translated before tavro.window is read, as the
# view has always shown it; every other step is in Python's order.
TRANSLATED_FIRST = {"FileSystemView.setRootPath, permission", "FileSystemView.setRootPath, not found"}


def translated_first(log):
    at = log.index("global tavro")
    return log[:at] + ["self.tr", "self.tr()"] + [e for e in log[at:] if e not in ("self.tr", "self.tr()")]


def recorded_run(module, key, given, book):
    """Runs the function `key` of `module` on Recorders, every global of the
    module a Recorder too: what it did, as the book's log. A constructor runs
    on a recorded instance of its class. The plain-Python plug-in's own helper
    functions run as they are: they stand for steps inside the native bodies,
    whose every read and call is recorded."""
    creator, handed = MADE_BY.get(key, (key, None))
    cls_name, name = creator.split(".")[:2]
    cls = getattr(module, cls_name)
    hosts = [n for n, v in vars(module).items() if not n.startswith("__")
             and not (inspect.isfunction(v) and v.__module__ == module.__name__)]
    with recorded_globals(module, hosts, book):
        return run_recorded(cls, name, handed, key, given, book)


def run_recorded(cls, name, handed, key, given, book):
    self = recorded_instance(cls, book) if name == "__init__" else Recorder(book, "self")
    fn = getattr(cls, name)
    if handed is not None:  # made by a run of its creator, recorded apart
        fn(self, *([None] if name == "__init__" else []))
        fn = book.handed[handed]
    params = BY_KEY[key][2]
    args = [self if p == "self" else
            [Recorder(book, "a"), Recorder(book, "b")] if given.get(p) == "list" else
            given[p] if p in given else Recorder(book, p) for p in params]
    book.log.clear()
    book.recording = True
    try:
        fn(*args)
    except Exception as error:  # the same step fails on a stand-in in both
        book.log.append(type(error).__name__)
    book.recording = False
    return book.log


@pytest.mark.parametrize("case", ORDER_CASES)
def test_bodies_evaluate_in_the_order_python_does(explorerview, qapp, monkeypatch, case):
    """Every read of the host (module globals, attributes), call, operator and
    truth test of a body, in the order of the plain-Python plug-in: a method is
    read before its arguments are evaluated."""
    monkeypatch.syspath_prepend(str(Path(__file__).resolve().parents[1]))
    from bench import reference
    key, given, answers = ORDER_CASES[case]
    native, python = (recorded_run(module, key, given, Book(answers)) for module in (explorerview, reference))
    if case in TRANSLATED_FIRST:
        python = translated_first(python)
    assert native == python
    assert native


def test_bodies_read_the_globals_of_their_own_module(run_python):
    """A function made by an exec that failed keeps that module's globals, as a Python function would."""
    run_python("""
        import importlib.util, sys, types
        spec = importlib.util.find_spec("Tavro_Workspace.explorerview")
        failed = importlib.util.module_from_spec(spec)
        sys.modules[spec.name] = failed
        try:
            spec.loader.exec_module(failed)
        except RuntimeError:
            pass
        else:
            raise AssertionError("the first exec succeeded")
        del sys.modules[spec.name]
        import Tavro_Workspace.explorerview as fixed
        root_path = failed.FileSystemView.rootPath
        assert fixed is not failed and root_path.__globals__ is vars(failed)
        failed.Path, fixed.Path = (lambda p: ("failed", p)), (lambda p: ("fixed", p))
        view = types.SimpleNamespace(fsmodel=types.SimpleNamespace(rootPath=lambda: "/r"))
        assert root_path(view) == ("failed", "/r")
        assert fixed.FileSystemView.rootPath(view) == ("fixed", "/r")
    """, fake_kelpa="""
        class Meta(type):
            failing = True
            def __init__(cls, name, bases, namespace):
                super().__init__(name, bases, namespace)
                if name == "ExplorerView" and Meta.failing:
                    Meta.failing = False
                    raise RuntimeError("the first exec fails")
        class QPluginWidget(metaclass=Meta):
            pass
        class QTreeView(metaclass=Meta):
            pass
    """)


def test_body_error_gets_one_entry_per_function_it_leaves(explorerview, native, monkeypatch):
    do_paste, panel = native("ExplorerView._pasteFiles.doPaste")
    monkeypatch.setattr(explorerview, "tavro", None)
    error = call_failing(do_paste, "/", True)
    assert [entry.name for entry in own_entries(error)] == [f"{FULL_NAME}.ExplorerView._pasteFiles.doPaste"]
    error = call_failing(panel._pasteFiles)
    assert [entry.name for entry in own_entries(error)] == [f"{FULL_NAME}.ExplorerView._pasteFiles"]
    assert own_entries(error)[0].filename == FILE_NAME


# ------------------------------------------------------------------ tools that inspect functions

def test_inspect_typing_and_help_understand_the_functions(explorerview):
    view = explorerview.FileSystemView
    assert str(inspect.signature(view.setRootPath)) == "(self, path: 'Path', expand=False) -> 'bool'"
    assert str(inspect.signature(explorerview.ExplorerView)) == "(parent=None)"
    from PyQt6.QtCore import QModelIndex
    assert typing.get_type_hints(explorerview.ExplorerView.workingFolder) == {"return": Path | None}
    assert typing.get_type_hints(explorerview.ExplorerView.select) == {"paths": typing.List[Path]}
    assert typing.get_type_hints(explorerview.FolderFirstSortModel.lessThan) == {
        "left": QModelIndex, "right": QModelIndex, "return": bool}
    text = pydoc.render_doc(explorerview.ExplorerView, renderer=pydoc.plaintext)
    for name in ("select(self, paths: 'List[Path]')", "workingFolder(self) -> 'Path | None'",
                 "selection(self) -> 'List[Path]'", "setWorkingFolder(self, path: 'Path | None')"):
        assert name in text


def test_autospec_enforces_the_signatures(explorerview):
    panel_mock = mock.create_autospec(explorerview.ExplorerView)
    panel_mock.select([])
    with pytest.raises(TypeError):
        panel_mock.select()
    with pytest.raises(TypeError):
        panel_mock(1, 2)
    instance = panel_mock(None)
    instance.select([])
    instance.select.assert_called_once_with([])
    with pytest.raises(TypeError):
        instance.workingFolder(1)


def test_wraps_and_pickle_by_reference(explorerview, native):
    select = explorerview.ExplorerView.select

    @functools.wraps(select)
    def wrapper(*args, **kwargs):
        return select(*args, **kwargs)

    assert (wrapper.__name__, wrapper.__qualname__, wrapper.__module__) == ("select", "ExplorerView.select", FULL_NAME)
    assert wrapper.__annotations__ == {"paths": "List[Path]"} and wrapper.__wrapped__ is select
    assert str(inspect.signature(wrapper)) == "(self, paths: 'List[Path]')"
    assert pickle.loads(pickle.dumps(select)) is select
    with pytest.raises((pickle.PicklingError, AttributeError)):
        pickle.dumps(native("ExplorerView._pasteFiles.doPaste")[0])


# The stub annotates every parameter and return, and spells a path parameter as
# what the method accepts (anything whose str() is a path: a list of them has
# one overload per kind of list); the functions keep their own annotation
# strings. Function annotation -> the stub's (one per overload), where they differ.
STUB_PARAMETER = {"Path": ["str | os.PathLike[str]"], "Path | None": ["str | os.PathLike[str] | None"],
                  "List[Path]": [f"list[{kind}]" for kind in ("str", "Path", "str | Path",
                                                              "str | os.PathLike[str]")]}
STUB_RETURN = {"List[Path]": "list[Path]"}
# Typed as it behaves: no folder open and nothing selected gives None.
STUB_RETURN_OF = {"_commonFolderInSelection": "Path | None"}


def test_type_stub_matches_the_functions(explorerview):
    tree = ast.parse(STUB.read_text())
    stub_classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    assert list(stub_classes) == CLASSES
    for name, node in stub_classes.items():
        cls = getattr(explorerview, name)
        assert [ast.unparse(base) for base in node.bases] == [base.__name__ for base in cls.__bases__]
        overloads = {}
        for item in node.body:
            if isinstance(item, ast.FunctionDef):
                overloads.setdefault(item.name, []).append(item)
        methods = [key for key, value in vars(cls).items() if type(value) is type(explorerview.ExplorerView.select)]
        assert list(overloads) == methods
        for method, defs in overloads.items():
            real = inspect.signature(vars(cls)[method])
            for d in defs:
                assert [a.arg for a in d.args.args] == list(real.parameters)
                assert [ast.literal_eval(v) for v in d.args.defaults] == list(vars(cls)[method].__defaults__ or ())
                assert d.returns and all(a.annotation for a in d.args.args[1:]), f"{name}.{method}"
            for number, parameter in enumerate(list(real.parameters.values())[1:], 1):   # all but self
                if parameter.annotation is not inspect.Parameter.empty:
                    assert [ast.unparse(d.args.args[number].annotation) for d in defs] == \
                        STUB_PARAMETER.get(parameter.annotation, [parameter.annotation])
            expected = real.return_annotation
            expected = "None" if expected is inspect.Signature.empty else STUB_RETURN.get(expected, expected)
            assert {ast.unparse(d.returns) for d in defs} == {STUB_RETURN_OF.get(method, expected)}


# ------------------------------------------------------------------ the module after import

@pytest.mark.parametrize("name, bases, doc, methods", [
    ("NoFolderOpenedPage", ["QPluginWidget", "QWidget"], "\n    No folder opened\n    ", ["__init__"]),
    ("FolderFirstSortModel", ["QSortFilterProxyModel"], None, ["__init__", "lessThan"]),
    ("FileSystemView", ["QPluginWidget", "QTreeView"], None, ["__init__", "rootPath", "setRootPath"]),
    ("ExplorerView", ["QPluginWidget", "QWidget"], None,
     [key.split(".")[1] for key, *_ in FUNCTIONS if key.startswith("ExplorerView.") and is_method(key)]),
])
def test_classes_as_a_class_statement_makes_them(explorerview, name, bases, doc, methods):
    cls = getattr(explorerview, name)
    assert cls.__bases__ == tuple(getattr(explorerview, base) for base in bases)
    from PyQt6.sip import wrappertype
    assert type(cls) is wrappertype
    assert (cls.__module__, cls.__qualname__, cls.__doc__) == (FULL_NAME, name, doc)
    own = [key for key in vars(cls) if not (key.startswith("__") and key.endswith("__")) or key == "__init__"]
    assert own == methods
    assert "__orig_bases__" not in vars(cls)  # nothing to resolve: the bases are classes
    mro = cls.__mro__
    if bases[0] == "QPluginWidget":
        assert mro.index(explorerview.QPluginWidget) < mro.index(explorerview.QWidget)


# ------------------------------------------------------------------ import time, in fresh interpreters

FAKE_KELPA = """
NAMES = {names!r}
class QWidget: pass
class QPluginWidget: pass
class QTreeView(QWidget): pass
class QSortFilterProxyModel: pass
{extra}
for _name in NAMES:
    globals().setdefault(_name, object())
{omit}
"""


@pytest.fixture
def run_python(explorerview, tmp_path):
    """`run_python(code, fake_kelpa=None)`: runs `code` in a fresh interpreter
    that sees the built module and, when `fake_kelpa` is given (extra source),
    a pure Python Kelpa and Tavro in place of the host's."""
    build = Path(explorerview.__file__).resolve().parents[1]
    host = Path(__file__).resolve().parents[1] / "host"

    def run(code, fake_kelpa=None, omit=""):
        path = [str(build), str(host)]
        if fake_kelpa is not None:
            fake = tmp_path / "fake"
            (fake / "Kelpa").mkdir(parents=True, exist_ok=True)
            (fake / "Kelpa" / "__init__.py").write_text(
                FAKE_KELPA.format(names=KELPA_NAMES, extra=textwrap.dedent(fake_kelpa), omit=omit))
            (fake / "Tavro.py").write_text("tavro = object()\n")
            path = [str(fake), str(build)]
        env = dict(os.environ, PYTHONPATH=":".join(path), QT_QPA_PLATFORM="offscreen")
        result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                                env=env)
        assert result.returncode == 0, result.stderr
        return result.stdout

    return run


def test_globals_bound_in_order(run_python):
    run_python(f"""
        import builtins, os.path, pathlib, typing
        import Kelpa, Tavro
        import Tavro_Workspace.explorerview as m
        keys = list(vars(m))
        assert keys[keys.index("__builtins__"):] == (
            ["__builtins__", "osp", "List", "Path", "tavro"] + {KELPA_NAMES!r} + {CLASSES!r} + ["__test__"]), keys
        assert m.__builtins__ is builtins and m.__doc__ is None and m.__test__ == {{}}
        assert (m.osp, m.List, m.Path, m.tavro) == (os.path, typing.List, pathlib.Path, Tavro.tavro)
        assert all(getattr(m, name) is getattr(Kelpa, name) for name in {KELPA_NAMES!r})
    """)


def test_second_import_returns_the_same_module_and_classes(run_python):
    run_python("""
        import sys
        import Tavro_Workspace.explorerview as first
        classes = first.ExplorerView
        first.__test__ = marker = object()  # a second exec would rebind it
        del sys.modules["Tavro_Workspace.explorerview"]
        import Tavro_Workspace.explorerview as second
        assert second is first and second.ExplorerView is classes and second.__test__ is marker
    """)


@pytest.mark.parametrize("taken", [False, True], ids=["free", "taken"])
def test_import_under_another_name_registers_the_full_name(run_python, taken):
    run_python(f"""
        import importlib.util, sys, types
        import Tavro_Workspace
        origin = importlib.util.find_spec("Tavro_Workspace.explorerview").origin
        other = types.ModuleType("placeholder")
        if {taken}:
            sys.modules["Tavro_Workspace.explorerview"] = other
        spec = importlib.util.spec_from_file_location("explorerview", origin)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        assert module.__name__ == "explorerview" and module.ExplorerView.__module__ == "Tavro_Workspace.explorerview"
        assert sys.modules["Tavro_Workspace.explorerview"] is (other if {taken} else module)
    """, fake_kelpa="")


def test_failed_import_keeps_partial_globals_and_a_corrected_import_starts_afresh(run_python):
    run_python("""
        import importlib.util, sys, traceback
        import Kelpa
        spec = importlib.util.find_spec("Tavro_Workspace.explorerview")
        failed = importlib.util.module_from_spec(spec)
        sys.modules[spec.name] = failed  # as the import statement does
        try:
            spec.loader.exec_module(failed)
        except ImportError as error:
            assert str(error) == "cannot import name QStacked" and error.name == "Kelpa", error
            assert traceback.extract_tb(error.__traceback__)[-1].name == "init Tavro_Workspace.explorerview"
        else:
            raise AssertionError("imported without QStacked")
        del sys.modules[spec.name]
        bound = [k for k in vars(failed) if k not in ("__name__", "__doc__", "__package__", "__loader__",
                                                       "__spec__", "__file__", "__builtins__")]
        assert bound == ["osp", "List", "Path", "tavro"] + Kelpa.NAMES[:Kelpa.NAMES.index("QStacked")], bound

        Kelpa.QStacked = object()
        import Tavro_Workspace.explorerview as fixed
        assert fixed is not failed and fixed.QStacked is Kelpa.QStacked and hasattr(fixed, "ExplorerView")
    """, fake_kelpa="", omit="del QStacked")


def test_failed_import_under_another_name_leaves_no_broken_module(run_python):
    run_python("""
        import importlib.util, sys
        import Tavro_Workspace
        origin = importlib.util.find_spec("Tavro_Workspace.explorerview").origin
        spec = importlib.util.spec_from_file_location("explorerview", origin)
        module = importlib.util.module_from_spec(spec)
        try:
            spec.loader.exec_module(module)
        except ImportError:
            pass
        assert "Tavro_Workspace.explorerview" not in sys.modules
    """, fake_kelpa="", omit="del QStacked")


def test_from_import_falls_back_to_a_loaded_submodule_and_calls_the_import_system(run_python):
    run_python("""
        import builtins, sys, types, typing, pathlib, Tavro
        stacked = sys.modules["Kelpa.QStacked"] = types.ModuleType("Kelpa.QStacked")
        calls, original = [], builtins.__import__
        def recording(name, globals=None, locals=None, fromlist=(), level=0):
            if globals is not None and globals.get("__name__") == "Tavro_Workspace.explorerview":
                calls.append((name, locals, fromlist, level))
            return original(name, globals, locals, fromlist, level)
        builtins.__import__ = recording
        import Tavro_Workspace.explorerview as m
        builtins.__import__ = original
        assert m.QStacked is stacked
        import Kelpa
        assert calls == [("os.path", {}, None, 0), ("Kelpa", {}, Kelpa.NAMES, 0)], calls
    """, fake_kelpa="", omit="del QStacked")


CLASS_STATEMENT_KELPA = """
events = []
class Recording(dict):
    def __setitem__(self, key, value):
        events.append(key)
        super().__setitem__(key, value)
class Meta(type):
    @classmethod
    def __prepare__(mcls, name, bases):
        events.append(("prepare", name, bases))
        return Recording()
    def __init__(cls, name, bases, ns):
        super().__init__(name, bases, ns)
        if name == "NoFolderOpenedPage":
            try:
                cls()  # the class cell is still empty
            except RuntimeError as error:
                events.append(str(error))
class QPluginWidget(metaclass=Meta):
    def __init__(self, parent=None):
        pass
class Widget:
    pass
class WidgetEntries:
    def __mro_entries__(self, bases):
        return (Widget,)
QWidget = WidgetEntries()
"""


def test_classes_follow_the_class_statement(run_python):
    run_python("""
        import Kelpa
        import Tavro_Workspace.explorerview as m
        page = m.NoFolderOpenedPage
        assert type(page) is Kelpa.Meta and page.__bases__ == (Kelpa.QPluginWidget, Kelpa.Widget)
        assert page.__orig_bases__ == (Kelpa.QPluginWidget, Kelpa.QWidget)
        start = Kelpa.events.index(("prepare", "NoFolderOpenedPage", page.__bases__))
        assert Kelpa.events[start + 1:start + 7] == ["__module__", "__qualname__", "__doc__", "__orig_bases__",
                                                     "__init__", "super(): empty __class__ cell"], Kelpa.events
        assert page.__init__.__closure__[0].cell_contents is page
    """, fake_kelpa=CLASS_STATEMENT_KELPA)


def test_metaclass_conflict_fails_the_import(run_python):
    run_python("""
        import traceback
        try:
            import Tavro_Workspace.explorerview
        except TypeError as error:
            assert str(error).startswith("metaclass conflict: the metaclass of a derived class must be"), error
            assert traceback.extract_tb(error.__traceback__)[-1].name == "init Tavro_Workspace.explorerview"
        else:
            raise AssertionError("no conflict")
    """, fake_kelpa="class A(type): pass\nclass B(type): pass\n"
                    "QPluginWidget = A('QPluginWidget', (), {})\nQWidget = B('QWidget', (), {})\n")


def test_create_and_exec_on_a_second_module_object(run_python):
    run_python("""
        import _imp, importlib.util, types
        spec = importlib.util.find_spec("Tavro_Workspace.explorerview")
        first, second = _imp.create_dynamic(spec), _imp.create_dynamic(spec)
        assert first is not second
        assert (first.__loader__, first.__file__, first.__package__) == (spec.loader, spec.origin, spec.parent)
        assert not hasattr(first, "__path__")
        _imp.exec_dynamic(first)
        _imp.exec_dynamic(first)  # nothing is redone
        try:
            _imp.exec_dynamic(second)
        except RuntimeError as error:
            assert str(error) == ("Module 'explorerview' has already been imported. "
                                  "Re-initialisation is not supported."), error
        else:
            raise AssertionError("second module executed")
        assert _imp.create_dynamic(spec) is first
    """, fake_kelpa="")


def test_create_copies_what_the_spec_has(run_python):
    run_python("""
        import _imp, importlib.util, types
        origin = importlib.util.find_spec("Tavro_Workspace.explorerview").origin
        bare = types.SimpleNamespace(name="Tavro_Workspace.explorerview", origin=origin,
                                     submodule_search_locations=["somewhere"])
        module = _imp.create_dynamic(bare)  # no loader, no parent: skipped
        assert module.__path__ == ["somewhere"] and module.__file__ == origin
        assert module.__loader__ is None and module.__package__ is None  # as a new module has them

        class Broken(types.SimpleNamespace):
            @property
            def loader(self):
                raise ValueError("unreadable loader")
        try:
            _imp.create_dynamic(Broken(name="x.explorerview", origin=origin))
        except ValueError as error:
            assert str(error) == "unreadable loader"
        else:
            raise AssertionError("created despite the unreadable loader")
    """, fake_kelpa="")


def test_sub_interpreter_is_refused(run_python):
    run_python("""
        import _xxsubinterpreters as interpreters
        import Tavro_Workspace.explorerview
        interpreter = interpreters.create()
        try:
            interpreters.run_string(interpreter, "import Tavro_Workspace.explorerview")
        except interpreters.RunFailedError as error:
            assert str(error).endswith("ImportError'>: Interpreter change detected - this module can only "
                                       "be loaded into one interpreter per process."), error
        else:
            raise AssertionError("imported in a sub-interpreter")
    """, fake_kelpa="")


def test_first_body_error_of_a_process_is_reported(run_python):
    # The first exception a body throws also sets up the C++ side of error
    # handling: it must work in a process with no other native module of ours.
    run_python("""
        import traceback
        import Tavro_Workspace.explorerview as m
        try:
            m.ExplorerView.workingFolder(object())
        except AttributeError as error:
            assert traceback.extract_tb(error.__traceback__)[-1].name == (
                "Tavro_Workspace.explorerview.ExplorerView.workingFolder")
        else:
            raise AssertionError("no error")
    """, fake_kelpa="")


# ------------------------------------------------------------------ a runtime of its own

# A host in which every name is something that answers everything: the
# classes accept any arguments and any attribute, their instances are true,
# count as 1, iterate as empty and read as the path "/x". Every function the
# module hands over (to `triggered=`, `then=`, connect) is kept in `made`.
PERMISSIVE_KELPA = """
made = []

def keep(values):
    made.extend(v for v in values if type(v).__name__ == "function" and type(v).__module__ != __name__
                and type(v).__module__ != "builtins" and v not in made)

class Any:
    def __init__(self, *args, **kwargs): keep((*args, *kwargs.values()))
    def __call__(self, *args, **kwargs): keep((*args, *kwargs.values())); return Any()
    def __getattr__(self, name): return Any()
    def __or__(self, other): return Any()
    __ror__ = __truediv__ = __rtruediv__ = __or__
    def __bool__(self): return True
    def __index__(self): return 1
    def __iter__(self): return iter(())
    def __str__(self): return "/x"
    __fspath__ = __str__

class QWidget(Any): pass
class QPluginWidget(Any): pass
class QTreeView(QWidget): pass
class QSortFilterProxyModel(Any): pass
for _name in NAMES:
    globals().setdefault(_name, Any())
"""

# Every function of the module at work: each class made, each method called
# on an instance, each lambda and callback the calls hand over called in
# turn. Any error but SystemError is the stand-ins' (a SystemError is the
# machinery's: a function it cannot make or run).
EXERCISE = """
def exercise(m):
    import Kelpa
    m.tavro = Kelpa.Any()
    native = type(m.ExplorerView.select)
    failures = []
    def attempt(fn, *args):
        try:
            fn(*args)
        except SystemError as error:
            failures.append(repr(error))
        except Exception:
            pass
    instances = [m.NoFolderOpenedPage(), m.FolderFirstSortModel(Kelpa.Any()), m.FileSystemView(), m.ExplorerView()]
    for instance in instances:
        for name, fn in vars(type(instance)).items():
            if type(fn) is native and name != "__init__":
                attempt(fn, instance, *([[]] if name == "select" else [Kelpa.Any()] * (fn.__code__.co_argcount - 1)))
    for fn in Kelpa.made:  # grows while the callbacks run
        attempt(fn, *["x", True][:fn.__code__.co_argcount])
    names = sorted({fn.__name__ for fn in Kelpa.made})
    assert names == ["doCreateFile", "doCreateFolder", "doPaste", "lambda", "lambda1", "lambda2", "lambda3"], names
    assert failures == [], failures
"""


def test_every_function_works_with_any_host(run_python):
    run_python(EXERCISE + "import Tavro_Workspace.explorerview as m\nexercise(m)\n", fake_kelpa=PERMISSIVE_KELPA)


# pybind11 keeps its process-wide state in builtins, under a key of its own:
# the module uses none of it, so whatever a process stores there changes
# nothing, and importing the module and raising through every method adds no
# such key.
@pytest.mark.parametrize("foreign", [False, True], ids=["nothing stored", "a foreign object stored"])
def test_no_state_kept_in_builtins(run_python, foreign):
    run_python(EXERCISE + textwrap.dedent(f"""
        import builtins, types
        planted = {{f"__pybind11_internals_v{{v}}_gcc_libstdcpp_cxxabi10{{abi}}__": types.SimpleNamespace()
                   for v in (4, 5) for abi in range(10, 20)}} if {foreign} else {{}}
        vars(builtins).update(planted)
        import Tavro_Workspace.explorerview as m
        exercise(m)
        for cls in (m.NoFolderOpenedPage, m.FolderFirstSortModel, m.FileSystemView, m.ExplorerView):
            for name, fn in vars(cls).items():
                if callable(fn):
                    for args in [(None,) * (fn.__code__.co_argcount + 1), (None,) * fn.__code__.co_argcount]:
                        try:
                            fn(*args)
                        except Exception:
                            pass
                        else:
                            raise AssertionError(name)
        for key in planted:
            del vars(builtins)[key]
        assert [key for key in vars(builtins) if "pybind11" in key] == []
    """), fake_kelpa=PERMISSIVE_KELPA)


# The first interpreter that imports the module is the one it works in, a
# sub-interpreter too; another interpreter is refused.
def test_first_import_in_a_sub_interpreter_works_there(run_python):
    run_python(f"""
        import _xxsubinterpreters as interpreters
        interpreter = interpreters.create()
        interpreters.run_string(interpreter, {EXERCISE + '''
import traceback
import Tavro_Workspace.explorerview as m
exercise(m)
try:
    m.ExplorerView.workingFolder(object())
except AttributeError as error:
    entry = traceback.extract_tb(error.__traceback__)[-1]
    assert entry.name == "Tavro_Workspace.explorerview.ExplorerView.workingFolder", entry
else:
    raise AssertionError("no error")
'''!r})
        try:
            import Tavro_Workspace.explorerview
        except ImportError as error:
            assert str(error) == ("Interpreter change detected - this module can only be loaded into one "
                                  "interpreter per process."), error
        else:
            raise AssertionError("imported in a second interpreter")
    """, fake_kelpa=PERMISSIVE_KELPA)


# `import builtins` gives what sys.modules holds, a proxy or lazy module's
# stand-in too; exec uses it by attribute, as Python code does.
def test_builtins_in_sys_modules_need_not_be_a_module(run_python):
    run_python(EXERCISE + textwrap.dedent("""
        import builtins, sys, types
        sys.modules["builtins"] = stand_in = types.SimpleNamespace(**vars(builtins))
        import Tavro_Workspace.explorerview as m
        assert m.__builtins__ is stand_in
        exercise(m)
    """), fake_kelpa=PERMISSIVE_KELPA)


# A first exec refused at any one step (an audit hook refusing one event, one
# allocation failing, or too few frames left below the recursion limit)
# fails that import, and leaves nothing a later exec would trust: the next
# import gives a module whose every function works. One forked child per
# step, from a parent that has not imported the module.
REFUSED_STEP = EXERCISE + """
import os, sys, traceback, _testcapi
import os.path, typing, pathlib, Kelpa, Tavro  # loaded once: each child fails in the module's own steps
KINDS = {"code.__new__", "import", "compile", "exec"}
armed, seen = [False], [0]

def hook(event, args):
    if armed[0] and event in KINDS:
        seen[0] += 1
        if seen[0] == armed[0]:
            raise RuntimeError("refused")

sys.addaudithook(hook)

def frames():
    frame, depth = sys._getframe(), 0
    while frame:
        frame, depth = frame.f_back, depth + 1
    return depth

def first_import(kind, step):
    limit = sys.getrecursionlimit()
    try:
        if kind == "audit event":
            armed[0] = step
        elif kind == "allocation":
            _testcapi.set_nomemory(step, step + 1)
        else:
            sys.setrecursionlimit(frames() + step)
        import Tavro_Workspace.explorerview
    except BaseException:
        pass
    finally:
        armed[0] = False
        _testcapi.remove_mem_hooks()
        sys.setrecursionlimit(limit)

def child(kind, step):
    first_import(kind, step)
    import Tavro_Workspace.explorerview as m
    exercise(m)
    return seen[0]

def steps(kind):
    if kind == "audit event":
        read, write = os.pipe()
        if (pid := os.fork()) == 0:
            os.write(write, str(child(kind, 10**9)).encode()); os._exit(0)
        os.waitpid(pid, 0)
        return range(1, int(os.read(read, 100)) + 1)
    return {"allocation": range(1, 3200, 9), "recursion depth": range(1, 80)}[kind]

failures = []
for step in steps(KIND):
    if (pid := os.fork()) == 0:
        try:
            child(KIND, step)
            code = 0
        except BaseException:
            traceback.print_exc()
            code = 1
        sys.stdout.flush(), sys.stderr.flush()
        os._exit(code)
    status = os.waitpid(pid, 0)[1]
    if status:
        failures.append((step, status))
assert failures == [], failures
"""


@pytest.mark.parametrize("kind", ["audit event", "allocation", "recursion depth"])
def test_exec_refused_at_any_step_leaves_nothing_behind(run_python, kind):
    run_python(f"KIND = {kind!r}\n" + REFUSED_STEP, fake_kelpa=PERMISSIVE_KELPA)
