"""Reference and memory leaks.

Every call path of every native function (success, each argument error, each
exception from inside the body) repeated many times leaves the number of live
objects, the interpreter's allocated blocks and the reference counts of its
arguments and closures as they were. Panels that are dropped are freed with all
they hold, and the process does not grow while they come and go.
"""
import gc
import itertools
import os
import sys
import weakref
from pathlib import Path
from types import SimpleNamespace

import pytest
from Kelpa import QFileSystemModel, QModelIndex, QPoint
from reliability_helpers import (
    Boom, RaisingBool, RaisingStr, class_methods, flush_deletions, made_functions, object_call, open_folder,
    resident_bytes, runtime_functions, under_sanitizer, vectorcall,
)

WARMUP = 20
REPEAT = 100
# Growth tolerated after REPEAT calls. A path that leaks loses at least one
# object per call, i.e. REPEAT of them; what the interpreter's and Qt's caches
# settle on after the warm-up stays far below that.
OBJECT_SLACK = 10
BLOCK_SLACK = 40

# A panel with its tree over a small folder holds about 200 KiB (measured by
# keeping 50 alive). Two hundred leaked panels would add some 40 MiB; the bound
# allows a tenth of that, which the allocator's own caches stay well inside.
PANELS = 200
RSS_BOUND = 4 * 1024 * 1024

FOLDER = ["a.txt", "B.txt", "sub/c.txt", "sub/inner/d.txt", "empty/"]


class QuietHost:
    """The services object, keeping nothing, so that whatever grows is the module's.
    Only the latest prompt callback is kept, as a host keeps an open prompt."""

    def __init__(self):
        self.folder = None
        self.prompt = None
        self.commands = SimpleNamespace(execute=lambda *args: None)
        self.window = SimpleNamespace(showErrorMessage=lambda text: None,
                                      registerToolBar=lambda toolbar: None,
                                      showTextInputBox=self._prompt)
        self.workspace = SimpleNamespace(workingFolder=lambda: self.folder)

    def _prompt(self, label, text, *, then):
        self.prompt = then


class PromptsKept(QuietHost):
    """Records the prompt callbacks as tavro_double does, for runtime_functions."""

    def __init__(self):
        super().__init__()
        self.pendingPrompts = []

    def _prompt(self, label, text, *, then):
        self.pendingPrompts.append(then)


@pytest.fixture
def host(explorerview, monkeypatch):
    quiet = PromptsKept()
    monkeypatch.setattr(explorerview, "tavro", quiet)
    return quiet


@pytest.fixture
def world(qtbot, explorerview, host, folder_tree, monkeypatch):
    """A panel on a loaded folder with a.txt selected, and its run-time functions."""
    root = folder_tree(FOLDER)
    host.folder = root
    panel = explorerview.ExplorerView()
    qtbot.addWidget(panel)
    open_folder(qtbot, panel, root)
    panel.select([root / "a.txt"])
    share_arguments(root)
    functions = runtime_functions(explorerview, panel, host)
    view = panel._fileSystemView
    fs_index = view.fsmodel.index(str(root / "a.txt"))
    return SimpleNamespace(
        ev=explorerview, panel=panel, root=root, host=host, view=view, f=functions,
        fs_a=fs_index, fs_sub=view.fsmodel.index(str(root / "sub")),
        proxy_a=view.sortModel.mapFromSource(fs_index), monkeypatch=monkeypatch)


def expect(error, function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"{function!r} did not raise {error.__name__}")


def raising(error):
    def call(*args, **kwargs):
        raise error("from the host")
    return call


# Each case: (id, setup) where setup(w) returns (call, watched objects). The
# call is repeated; the watched objects' reference counts must stay the same.
def sentinel():
    return object()


def then(_setup, call, watched):
    """For cases that patch something first: the setup ran as an argument."""
    return call, watched


CASES = {
    # ---- NoFolderOpenedPage
    "page.__init__ ok": lambda w: (w.ev.NoFolderOpenedPage, []),
    "page.__init__ too many": lambda w: (lambda: expect(TypeError, w.ev.NoFolderOpenedPage, None, S), [S]),
    "page.__init__ bad parent": lambda w: (lambda: expect(TypeError, w.ev.NoFolderOpenedPage, S), [S]),
    "page lambda ok": lambda w: (w.f["lambda"], []),
    "page lambda args": lambda w: (lambda: expect(TypeError, w.f["lambda"], S), [S]),
    "page lambda keywords": lambda w: (lambda: expect(TypeError, w.f["lambda"], x=S), [S]),
    "page lambda host raises": lambda w: then(
        w.monkeypatch.setattr(w.host.commands, "execute", raising(Boom)),
        lambda: expect(Boom, w.f["lambda"]), []),
    # ---- FolderFirstSortModel
    "sortModel.__init__ ok": lambda w: (lambda: w.ev.FolderFirstSortModel(M), [M]),
    "sortModel.__init__ missing": lambda w: (lambda: expect(TypeError, w.ev.FolderFirstSortModel), []),
    "sortModel.__init__ keyword": lambda w: (lambda: expect(TypeError, w.ev.FolderFirstSortModel, fsModel=M, x=S),
                                             [M, S]),
    "sortModel.__init__ not a model": lambda w: (lambda: expect(TypeError, w.ev.FolderFirstSortModel, S), [S]),
    "lessThan ok": lambda w: (lambda: w.view.sortModel.lessThan(w.fs_a, w.fs_sub), [w.fs_a, w.fs_sub]),
    "lessThan keywords": lambda w: (lambda: w.view.sortModel.lessThan(right=w.fs_a, left=w.fs_sub), [w.fs_a]),
    "lessThan multiple values": lambda w: (
        lambda: expect(TypeError, w.view.sortModel.lessThan, w.fs_a, w.fs_a, left=S), [w.fs_a, S]),
    "lessThan not an index": lambda w: (lambda: expect(TypeError, w.view.sortModel.lessThan, S, S), [S]),
    "lessThan isDir raises": lambda w: then(
        w.monkeypatch.setattr(w.view.sortModel, "fsModel", SimpleNamespace(isDir=raising(Boom))),
        lambda: expect(Boom, w.view.sortModel.lessThan, w.fs_a, w.fs_a), [w.fs_a]),
    # ---- FileSystemView
    "view.__init__ ok": lambda w: (w.ev.FileSystemView, []),
    "view.__init__ bad parent": lambda w: (lambda: expect(TypeError, w.ev.FileSystemView, S), [S]),
    "rootPath ok": lambda w: (w.view.rootPath, []),
    "rootPath too many": lambda w: (lambda: expect(TypeError, w.view.rootPath, S), [S]),
    "rootPath model gone": lambda w: then(
        w.monkeypatch.setattr(w.view, "fsmodel", None),
        lambda: expect(AttributeError, w.view.rootPath), []),
    "setRootPath ok": lambda w: (lambda: w.view.setRootPath(w.root), [w.root]),
    "setRootPath not found": lambda w: (lambda: w.view.setRootPath(w.root / "gone", expand=S), [S]),
    "setRootPath str raises": lambda w: (lambda: expect(Boom, w.view.setRootPath, RS), [RS]),
    "setRootPath expand raises": lambda w: (lambda: expect(Boom, w.view.setRootPath, w.root, RB), [RB]),
    # ---- ExplorerView
    "panel.__init__ ok": lambda w: (w.ev.ExplorerView, []),
    "panel.__init__ unexpected keyword": lambda w: (lambda: expect(TypeError, w.ev.ExplorerView, parent=None, p=S),
                                                    [S]),
    "panel.__init__ host raises": lambda w: then(
        w.monkeypatch.setattr(w.host.window, "registerToolBar", raising(Boom)),
        lambda: expect(Boom, w.ev.ExplorerView), []),
    "_showNewFileMenu ok": lambda w: (lambda: (w.panel._showNewFileMenu(), w.panel._newFileMenu.hide()), []),
    "_showNewFileMenu too many": lambda w: (lambda: expect(TypeError, w.panel._showNewFileMenu, S), [S]),
    "_showNewFileMenu toolbar gone": lambda w: then(
        w.monkeypatch.setattr(w.panel, "_viewToolBar", None),
        lambda: expect(AttributeError, w.panel._showNewFileMenu), []),
    "setWorkingFolder folder": lambda w: (lambda: w.panel.setWorkingFolder(w.root), [w.root]),
    "setWorkingFolder None": lambda w: (lambda: w.panel.setWorkingFolder(None), []),
    "setWorkingFolder missing": lambda w: (lambda: expect(TypeError, w.panel.setWorkingFolder), []),
    "setWorkingFolder str raises": lambda w: (lambda: expect(Boom, w.panel.setWorkingFolder, RS), [RS]),
    "workingFolder ok": lambda w: (w.panel.workingFolder, []),
    "workingFolder too many": lambda w: (lambda: expect(TypeError, w.panel.workingFolder, S), [S]),
    "workingFolder stack gone": lambda w: then(
        w.monkeypatch.setattr(w.panel, "_stacked", None),
        lambda: expect(AttributeError, w.panel.workingFolder), []),
    "select ok": lambda w: (lambda: w.panel.select(L), [L, L[0]]),
    "select not a list": lambda w: (lambda: expect(TypeError, w.panel.select, T), [T]),
    "select unexpected keyword": lambda w: (lambda: expect(TypeError, w.panel.select, path=L), [L]),
    "select non-str keyword": lambda w: (lambda: expect(TypeError, vectorcall, w.ev.ExplorerView.select,
                                                        (w.panel,), (S,), (L,)), [S, L]),
    "select dict with non-str key": lambda w: (lambda: expect(TypeError, object_call, w.ev.ExplorerView.select,
                                                              (w.panel,), {S: L}), [S, L]),
    "select item str raises": lambda w: (lambda: expect(Boom, w.panel.select, [RS]), [RS]),
    "selection ok": lambda w: (w.panel.selection, []),
    "selection too many": lambda w: (lambda: expect(TypeError, w.panel.selection, S), [S]),
    "selection and _expandSelected tree gone": lambda w: then(
        w.monkeypatch.setattr(w.panel, "_fileSystemView", None),
        lambda: (expect(AttributeError, w.panel.selection), expect(AttributeError, w.panel._expandSelected)),
        []),
    "_expandSelected ok": lambda w: (w.panel._expandSelected, []),
    "_fsItemDoubleClicked file": lambda w: (lambda: w.panel._fsItemDoubleClicked(w.proxy_a), [w.proxy_a]),
    "_fsItemDoubleClicked invalid": lambda w: (lambda: w.panel._fsItemDoubleClicked(index=I), [I]),
    "_fsItemDoubleClicked not an index": lambda w: (lambda: expect(TypeError, w.panel._fsItemDoubleClicked, S),
                                                    [S]),
    "_showContextMenu ok": lambda w: (lambda: (w.panel._showContextMenu(P),
                                               w.panel._fileSystemViewContextMenu.hide()), [P]),
    "_showContextMenu not a point": lambda w: (lambda: expect(TypeError, w.panel._showContextMenu, S), [S]),
    "_commonFolderInSelection ok": lambda w: (w.panel._commonFolderInSelection, []),
    "_commonFolderInSelection name missing": lambda w: then(
        w.monkeypatch.delattr(w.ev, "osp"),
        lambda: expect(NameError, w.panel._commonFolderInSelection), []),
    "_pasteFiles ok": lambda w: (lambda: (w.panel._pasteFiles(), w.host.pendingPrompts.clear()), []),
    "_pasteFiles host raises": lambda w: then(
        w.monkeypatch.setattr(w.host.window, "showTextInputBox", raising(Boom)),
        lambda: expect(Boom, w.panel._pasteFiles), []),
    "_copyPathOfSelection ok": lambda w: (w.panel._copyPathOfSelection, []),
    "_copyPathOfSelection clipboard missing": lambda w: then(
        w.monkeypatch.setattr(w.ev, "QApplication", None),
        lambda: expect(AttributeError, w.panel._copyPathOfSelection), []),
    "_newFile ok": lambda w: (lambda: (w.panel._newFile(), w.host.pendingPrompts.clear()), []),
    "_newFolder host raises": lambda w: then(
        w.monkeypatch.setattr(w.host, "window", None),
        lambda: expect(AttributeError, w.panel._newFolder), []),
    "lambda1 ok": lambda w: (w.f["lambda1"], []),
    "lambda1 args": lambda w: (lambda: expect(TypeError, w.f["lambda1"], S, S), [S]),
    "lambda1 name missing": lambda w: then(
        w.monkeypatch.delattr(w.ev, "tavro"),
        lambda: expect(NameError, w.f["lambda1"]), []),
    "lambda2 ok": lambda w: (w.f["lambda2"], [w.f["lambda2"].__closure__[0], w.panel]),
    "lambda3 keywords": lambda w: (lambda: expect(TypeError, w.f["lambda3"], x=S),
                                   [S, w.f["lambda3"].__closure__[0]]),
    "lambda3 host raises": lambda w: then(
        w.monkeypatch.setattr(w.host.commands, "execute", raising(Boom)),
        lambda: expect(Boom, w.f["lambda3"]), [w.panel]),
    # ---- callbacks
    "doPaste ok": lambda w: (lambda: w.f["doPaste"](str(w.root), True), [w.f["doPaste"].__closure__[0]]),
    "doPaste not a folder": lambda w: (lambda: w.f["doPaste"](folderStr=str(w.root / "a.txt"), ok=True),
                                       [w.panel]),
    "doPaste cancelled": lambda w: (lambda: w.f["doPaste"](S, False), [S]),
    "doPaste ok raises": lambda w: (lambda: expect(Boom, w.f["doPaste"], "x", RB), [RB]),
    "doPaste missing": lambda w: (lambda: expect(TypeError, w.f["doPaste"], folderStr=S), [S]),
    "doCreateFile ok": lambda w: (lambda: w.f["doCreateFile"]("new.txt", True), [w.panel]),
    "doCreateFile host raises": lambda w: then(
        w.monkeypatch.setattr(w.host.commands, "execute", raising(Boom)),
        lambda: expect(Boom, w.f["doCreateFile"], "new.txt", ok=True), [w.f["doCreateFile"].__closure__[0]]),
    "doCreateFile non-str keyword": lambda w: (lambda: expect(TypeError, vectorcall, w.f["doCreateFile"],
                                                              ("x",), (b"ok",), (True,)), []),
    "doCreateFolder cancelled": lambda w: (lambda: w.f["doCreateFolder"](S, ok=0), [S]),
    "doCreateFolder join fails": lambda w: (lambda: expect(TypeError, w.f["doCreateFolder"], S, True), [S]),
}

# Shared argument objects whose reference counts the cases watch.
S, RS, RB = sentinel(), RaisingStr(), RaisingBool()
T = ("/tmp",)
I = QModelIndex()
P = QPoint(3, 4)
L = []
M = None  # a QFileSystemModel, made once a QApplication exists (below)




def share_arguments(root):
    global M
    if M is None:
        M = QFileSystemModel()
    L[:] = [str(root / "a.txt")]


def measure(call, repeat):
    flush_deletions()
    objects, blocks = len(gc.get_objects()), sys.getallocatedblocks()
    for _ in range(repeat):
        call()
    flush_deletions()
    return len(gc.get_objects()) - objects, sys.getallocatedblocks() - blocks


# pytest-qt keeps every Qt warning it sees as a record: the offscreen platform
# warns on each menu popup, which would count as growth here.
@pytest.mark.no_qt_log
@pytest.mark.parametrize("case", sorted(CASES))
def test_repeated_calls_leave_no_objects_or_references_behind(world, case):
    call, watched = CASES[case](world)
    for _ in range(WARMUP):
        call()
    flush_deletions()  # failed calls leave tracebacks in cycles until the next collection
    counts = [sys.getrefcount(obj) for obj in watched]
    grown_objects, grown_blocks = measure(call, REPEAT)
    assert [sys.getrefcount(obj) for obj in watched] == counts
    assert grown_objects <= OBJECT_SLACK
    assert grown_blocks <= BLOCK_SLACK


def test_every_native_function_has_a_leak_case(world):
    """The table above reaches each function of the module, the run-time ones too."""
    reached = " ".join(CASES)
    names = {name for _, name, _ in class_methods(world.ev)} | set(world.f)
    prefixes = {"__init__": ("page.__init__", "sortModel.__init__", "view.__init__", "panel.__init__"),
                "lambda": ("page lambda",)}
    for name in names:
        for key in prefixes.get(name, (name,)):
            assert key in reached, f"no leak case calls {key}"


# ---------------------------------------------------------------- panels

def test_dropped_panels_are_freed_and_memory_stays_flat(qtbot, explorerview, host, folder_tree):
    roots = [folder_tree(FOLDER) for _ in range(4)]

    def make_and_drop(root):
        panel = explorerview.ExplorerView()
        open_folder(qtbot, panel, root)
        panel.select([root / "a.txt", root / "sub"])
        panel.selection()
        panel._commonFolderInSelection()
        panel._copyAction.trigger()
        ref = weakref.ref(panel)
        del panel
        flush_deletions()
        return ref

    for i in range(20):  # warm-up: Qt's caches, the interpreter's free lists
        make_and_drop(roots[i % len(roots)])
    before = resident_bytes()
    refs = [make_and_drop(roots[i % len(roots)]) for i in range(PANELS)]
    grown = resident_bytes() - before
    assert [ref for ref in refs if ref() is not None] == []
    if under_sanitizer():
        pytest.skip("the sanitizer quarantines freed memory: resident size is not meaningful")
    assert grown <= RSS_BOUND, f"{PANELS} panels left {grown} bytes behind"


@pytest.mark.parametrize("method", ["_pasteFiles", "_newFile", "_newFolder"])
def test_a_prompt_callback_keeps_its_panel_until_the_host_drops_it(qtbot, explorerview, host, method,
                                                                   folder_tree):
    panel = explorerview.ExplorerView()
    open_folder(qtbot, panel, folder_tree(FOLDER))
    getattr(panel, method)()
    ref = weakref.ref(panel)
    del panel
    flush_deletions()
    assert ref() is not None, "the open prompt's callback must keep the panel alive"
    host.pendingPrompts.clear()
    flush_deletions()
    assert ref() is None


def test_a_panel_whose_handlers_were_called_is_freed(qtbot, explorerview, host, folder_tree):
    """Copy and Delete share one cell that holds the panel: the collector must see it."""
    panel = explorerview.ExplorerView()
    open_folder(qtbot, panel, folder_tree(FOLDER))
    for action in ("_copyAction", "_deleteAction", "_selectOpenedFileAction", "_copyPathAction"):
        getattr(panel, action).trigger()
    assert made_functions(explorerview, "lambda2", panel)
    ref = weakref.ref(panel)
    del panel
    flush_deletions()
    assert ref() is None


# `make asan` judges the reports its processes leave: a leak allocated by the
# module, or a leak check the sanitizer could not finish, fails the run; the
# interpreter's own leaks do not.
SANITIZER_REPORTS = {
    "unfinished check": ("Tracer caught signal 11: addr=0x6f90 pc=0x1 sp=0x2\n"
                         "==7==LeakSanitizer has encountered a fatal error.\n", False),
    "module leak": ("Direct leak of 16 byte(s) in 1 object(s) allocated from:\n"
                    "    #0 0x1 in malloc {/usr/lib/x86_64-linux-gnu/libasan.so.8}\n"
                    "    #1 0x2 in body src/x.cpp:1 {/b/Tavro_Workspace/explorerview.cpython-311-x86_64-linux-gnu.so}\n\n",
                    False),
    "interpreter leak": ("Direct leak of 16 byte(s) in 1 object(s) allocated from:\n"
                         "    #0 0x1 in malloc {/usr/lib/x86_64-linux-gnu/libasan.so.8}\n"
                         "    #1 0x2 in PyMem_RawMalloc {/usr/bin/python3.11}\n\n", True),
    # A thread's stack ends in the C library: the program is the object further in.
    "another program's thread": ("Direct leak of 16 byte(s) in 1 object(s) allocated from:\n"
                                 "    #0 0x1 in malloc {/usr/lib/x86_64-linux-gnu/libasan.so.8}\n"
                                 "    #1 0x2 in Worker::Run {/usr/bin/node}\n"
                                 "    #2 0x3 in clone3 {/lib/x86_64-linux-gnu/libc.so.6}\n\n", True),
    "unnamed library's thread": ("Direct leak of 16 byte(s) in 1 object(s) allocated from:\n"
                                 "    #0 0x1 in malloc {/usr/lib/x86_64-linux-gnu/libasan.so.8}\n"
                                 "    #1 0x2 in run {/usr/lib/libunnamed.so.1}\n"
                                 "    #2 0x3 in clone3 {/lib/x86_64-linux-gnu/libc.so.6}\n\n", False),
}


@pytest.mark.parametrize("report, clean", SANITIZER_REPORTS.values(), ids=SANITIZER_REPORTS.keys())
def test_sanitizer_run_judges_its_reports(tmp_path, monkeypatch, report, clean):
    monkeypatch.syspath_prepend(str(Path(__file__).parent / "sanitizers"))
    import run_asan
    folder = tmp_path / "tests" / "0001-case"  # where a test's processes report
    folder.mkdir(parents=True)
    (folder / "asan.7").write_text(report)
    assert run_asan.check(tmp_path) is clean


def _running(pid):
    """Whether process `pid` still runs (a zombie has ended)."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def test_sanitizer_run_stopped_early_leaves_nothing_to_the_next(tmp_path, monkeypatch):
    # A run stopped at its time limit ends every process its tests started (a
    # test's own child that ignores the interrupt too) and says which limit
    # stopped it; the next run starts from an empty reports folder, and a
    # test whose folder is there all the same reports into a new one.
    monkeypatch.syspath_prepend(str(Path(__file__).parent / "sanitizers"))
    import per_test_logs
    import run_asan
    pid = tmp_path / "pid"
    tests_left_running = ["sh", "-c", f"sleep 600 & echo $! > {pid}; wait"]
    status, stopped = run_asan.run_pytest(tests_left_running, dict(os.environ), time_limit=5)
    assert status != 0 and "time limit of 5 s" in stopped and "RELIABILITY_TIMEOUT=" in stopped
    assert not _running(int(pid.read_text()))

    reports = tmp_path / "reports"
    earlier = reports / "tests" / "0001-tests_x.py_case"
    earlier.mkdir(parents=True)
    (earlier / "asan.7").write_text(SANITIZER_REPORTS["module leak"][0])
    run_asan.empty_folder(reports)
    assert run_asan.check(reports)
    earlier.mkdir(parents=True)  # as a process of the earlier run would make it again
    monkeypatch.setenv(per_test_logs.LOG_ROOT_VARIABLE, str(reports / "tests"))
    monkeypatch.setattr(per_test_logs, "_numbers", itertools.count(1))
    folder = per_test_logs.folder_of(SimpleNamespace(nodeid="tests/x.py::case"))
    assert folder != earlier and (folder / "test").read_text() == "tests/x.py::case"
