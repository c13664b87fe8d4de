"""The module's own overhead, counted in instructions under callgrind.

Each case runs one operation n times and 2n times between callgrind marks;
the difference divided by n is the cost of one operation, with the process's
start-up, the warm-up and the marks themselves cancelled out. The native
function and its Python reference run the same driving code on the same cheap
collaborators (bench/fakes.py), so the ratio compares only how each side binds
arguments, reads attributes and globals, and calls out.

`python -m bench.machinery MARKS SCALE` is the process that valgrind runs; the parent
(`measure`) starts it and reads the dumps back.
"""
import collections
import ctypes
import gc
import glob
import itertools
import os
import re
import subprocess
import sys
from dataclasses import dataclass
from types import SimpleNamespace

from PyQt6.QtCore import QStringListModel

from . import fakes, reference

ROWS = 10_000  # selected rows for selection(), paths for select()
PRUNED = 100_000  # selected rows a new working folder looks through


@dataclass
class Side:
    run: object      # run(n): the operation n times
    result: object   # result(): what the operation produced, to compare both sides
    keep: object = None  # the Qt objects the operation runs on, kept alive


@dataclass
class Case:
    name: str
    reference: str
    per: str          # what one operation is ("call", "10,000 rows", ...)
    n: int            # operations per measurement under callgrind
    build: object     # build(module, python) -> Side for that implementation
    loop_net: bool = False  # a Python loop drives it: subtract an empty loop's cost
    target: float = 1.00      # of the Python equivalent's instructions: never more
    own_target: float = 0.50  # the module's own part against the interpreter's own part


def _classes(module, python):
    return reference if python else module


def _lessThan(first, second):
    def build(module, python):
        model, indexes = fakes.sort_model()
        # A real proxy of the class under test, reading the fake model through
        # its `fsModel` attribute as it would read the file system model.
        proxy = _classes(module, python).FolderFirstSortModel(QStringListModel())
        proxy.fsModel = model
        # The toolkit calls the override as a bound method with two positional
        # arguments; map() does the same from C, without a Python loop around it.
        method = proxy.lessThan
        left, right = indexes[first], indexes[second]

        def run(n):
            collections.deque(map(method, itertools.repeat(left, n), itertools.repeat(right, n)), 0)
        return Side(run, lambda: (method(left, right), method(right, left)), keep=proxy)
    return build


def _view(module, python):
    """A real tree of the class under test, over the fake models."""
    tree = fakes.Tree(4)
    return tree.install(_classes(module, python).FileSystemView()), tree.root_path


def _setRootPath_positional(module, python):
    view, path = _view(module, python)

    def run(n):
        for _ in itertools.repeat(None, n):
            view.setRootPath(path, True)
    return Side(run, lambda: view.setRootPath(path, True), keep=view)


def _setRootPath_keywords(module, python):
    view, path = _view(module, python)

    def run(n):
        for _ in itertools.repeat(None, n):
            view.setRootPath(path=path, expand=True)
    return Side(run, lambda: view.setRootPath(path=path, expand=True), keep=view)


def _panel(module, python, tree):
    """A real panel of the class under test whose tree holds the fake models."""
    classes = _classes(module, python)
    panel = classes.ExplorerView()
    panel._fileSystemView = tree.install(classes.FileSystemView())
    return panel


def _selection(path_class):
    """selection() over ROWS rows, with `path_class` standing for the global
    `Path` on both sides (None: pathlib's own Path)."""
    def build(module, python):
        tree = fakes.Tree(ROWS)
        panel = _panel(module, python, tree)
        # Called through the class, as the toolkit's handlers reach it: one
        # call walks all rows, so the call itself hardly counts.
        function = _with_global(_classes(module, python), "Path", path_class, type(panel).selection)

        def run(n):
            for _ in itertools.repeat(None, n):
                function(panel)
        return Side(run, lambda: function(panel), keep=panel)
    return build


def _with_global(namespace, name, value, function):
    """`function` running with namespace.name set to `value` (None: as it is).
    Both sides read their own globals at each use, so this swaps the
    collaborator for either; the swap is once per run and cancels out."""
    if value is None:
        return function

    def swapped(*arguments):
        saved = getattr(namespace, name)
        setattr(namespace, name, value)
        try:
            return function(*arguments)
        finally:
            setattr(namespace, name, saved)
    return swapped


def _changing_selection(panel, tree, function, argument):
    """function(panel, argument) n times; its result is what it selected or
    deselected and made current, by row number."""
    selection = tree.selection_model

    def run(n):
        for _ in itertools.repeat(None, n):
            function(panel, argument)

    def result():
        selection.selected.clear()
        function(panel, argument)
        row = {index: number for number, index in enumerate(tree.proxy)}
        return ([(row[index], int(flags)) for index, flags in selection.selected.items()],
                [row[index] for index in selection.current])
    return Side(run, result, keep=panel)


def _select(module, python):
    """select() of ROWS paths. Each found row is told inside the root by
    osp.normpath and osp.normcase, Python functions on either side that the
    own-part split would count as the module's (see the pruning row): builtins
    stand for them here, so the row measures the module's own walk."""
    tree = fakes.Tree(ROWS)
    panel = _panel(module, python, tree)
    osp = SimpleNamespace(normpath=sys.intern, normcase=sys.intern, join=os.path.join)
    select = _with_global(_classes(module, python), "osp", osp, type(panel).select)
    return _changing_selection(panel, tree, select, tree.paths)


def _prune(module, python):
    """setWorkingFolder() over PRUNED selected rows, every other one outside
    the new root: each row's path is read and compared, half are deselected."""
    tree = fakes.Tree(PRUNED, outside=True)
    panel = _panel(module, python, tree)
    # The page stack and the toolbar are the panel's own widgets: builtins stand for them.
    panel._stacked = SimpleNamespace(setCurrentWidget=id)
    panel._viewToolBar = SimpleNamespace(setEnabled=id)
    return _changing_selection(panel, tree, type(panel).setWorkingFolder, tree.root_path)


CASES = [
    Case("lessThan, two files", "Python lessThan", "call", 20_000,
         _lessThan("README.md", "assets")),
    Case("lessThan, folder and file", "Python lessThan", "call", 20_000,
         _lessThan("build", "assets")),
    Case("view.setRootPath(p, True)", "Python method", "call", 20_000, _setRootPath_positional,
         loop_net=True),
    Case("view.setRootPath(path=p, expand=True)", "Python method", "call", 20_000,
         _setRootPath_keywords, loop_net=True),
    # pathlib's Path costs about nine tenths of a row and is no part of either
    # side's machinery: the case counts with a builtin in its place (the path
    # strings come back as they are), the row after it with pathlib.
    Case(f"selection(), {ROWS:,} rows", "Python method", f"{ROWS:,} rows", 2,
         _selection(sys.intern)),
    Case(f"selection(), {ROWS:,} rows, pathlib Path", "Python method", f"{ROWS:,} rows", 2,
         _selection(None)),
    Case(f"select() of {ROWS:,} paths", "Python method", f"{ROWS:,} paths", 2, _select),
    # Most of a row is osp.normpath and osp.normcase, Python functions on
    # either side. Called from C, each enters the evaluation loop afresh, which
    # callgrind names apart from the caller's loop, so the split counts their
    # bytecode as the module's own; and each read of `osp` and of its functions
    # takes the generic look-up where bytecode keeps a cache per site. The own
    # part does not measure the module here: the target is the total.
    Case(f"setWorkingFolder(), {PRUNED:,} selected rows pruned", "Python method", f"{PRUNED:,} rows", 1,
         _prune, own_target=None),
]

NATIVE, PYTHON, LOOP = "native", "python", "loop"


def _empty_loop(n):
    for _ in itertools.repeat(None, n):
        pass


# --- the process under callgrind ---------------------------------------------

class _NoMarks:
    """Stands in for the marks library where there is none (tests)."""

    def __getattr__(self, name):
        return lambda *arguments: None


def child(marks_library, scale):
    """Run every case n and 2n times between marks (inside valgrind).

    Without a marks library the runs happen unmarked: a check that they run."""
    from PyQt6.QtWidgets import QApplication
    import Tavro_Workspace.explorerview as module

    app = QApplication.instance() or QApplication([])  # the panels are widgets
    marks = ctypes.CDLL(marks_library) if marks_library else _NoMarks()
    marks.cgmark_start()
    runs = [("loop", LOOP, 20_000, _empty_loop)]
    sides = []
    for index, case in enumerate(CASES):
        n = max(1, int(case.n * scale))
        for name in (NATIVE, PYTHON):
            sides.append(case.build(module, python=name == PYTHON))
            runs.append((str(index), name, n, sides[-1].run))
    for key, side, n, run in runs:
        run(n)  # warm-up: the interpreter specialises its bytecode on first runs
        # The cyclic collector runs whenever allocations cross its thresholds,
        # so which window a collection lands in, and what it costs (every live
        # object of the process), is an accident of the runs before; both sides
        # allocate the same objects, so it is kept out of both windows.
        gc.collect()
        gc.disable()
        for count in (n, 2 * n):
            marks.cgmark_zero()
            run(count)
            marks.cgmark_dump(f"{key}|{side}|{count}".encode())
        gc.enable()
    del app


# --- the parent ----------------------------------------------------------------

def _read_dumps(folder):
    """{(case key, side, count): dump file}, from the labels of the marks."""
    dumps = {}
    for path in glob.glob(os.path.join(folder, "callgrind.out.*")):
        with open(path) as dump:
            label = re.search(r"^desc: Trigger: Client Request: (.*)$", dump.read(4096), re.M)
        if label:
            key, side, count = label.group(1).split("|")
            dumps[key, side, int(count)] = path
    return dumps


def _by_function(path):
    """{function: instructions} of one dump, each function's own instructions."""
    command = ["callgrind_annotate", "--inclusive=no", "--auto=no", "--threshold=100", path]
    listing = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    counts = {}
    for line in listing.splitlines():
        match = re.match(r"\s*([\d,]+) \([ \d.]+%\)\s+(\S.*)$", line)
        if match and "PROGRAM TOTALS" not in line:
            function = match.group(2)
            counts[function] = counts.get(function, 0) + int(match.group(1).replace(",", ""))
    return counts


def per_operation(dumps, key, side):
    """{function: instructions} of one operation: the 2n run less the n run."""
    (n, first), (_, second) = sorted((count, path) for (k, s, count), path in dumps.items()
                                     if (k, s) == (key, side))
    once, twice = _by_function(first), _by_function(second)
    return {function: (twice.get(function, 0) - once.get(function, 0)) / n
            for function in once.keys() | twice.keys()}


def run_under_callgrind(folder, module_and_arguments, extra_valgrind=()):
    """Run `python -m <module> <arguments>` under callgrind, its dumps going
    into `folder`; the dumps by their marks' labels (_read_dumps)."""
    command = ["valgrind", "--tool=callgrind", "--instr-atstart=no",
               f"--callgrind-out-file={folder}/callgrind.out", *extra_valgrind,
               sys.executable, "-m", *module_and_arguments]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    # Fixed hash seeds give the same dict and QHash layouts, so the same counts, each run.
    environment = dict(os.environ, PYTHONHASHSEED="0", QT_HASH_SEED="0")
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                          cwd=root, env=environment)
    if done.returncode:
        raise RuntimeError(f"callgrind run failed:\n{done.stderr[-3000:]}")
    return _read_dumps(folder)


@dataclass
class Count:
    """Instructions per operation of one case on one side."""

    total: float
    own: float  # in functions this side runs more of than the other side does


def measure(marks_library, folder, scale=1.0, extra_valgrind=()):
    """Instructions per operation, {(case index, side): Count}, and an empty loop step's.

    `own` splits the total by function: what one side spends in functions
    beyond what the other side spends in them (the module's code and the C-API
    calls it makes, against the interpreter's evaluation loop), the rest being
    the collaborators' work that both share. Inlining moves some instructions
    between functions, so it is an estimate; the totals are exact.
    """
    dumps = run_under_callgrind(folder, ["bench.machinery", marks_library, str(scale)], extra_valgrind)
    loop = sum(per_operation(dumps, "loop", LOOP).values())
    result = {}
    for index, case in enumerate(CASES):
        native = per_operation(dumps, str(index), NATIVE)
        python = per_operation(dumps, str(index), PYTHON)
        functions = native.keys() | python.keys()
        for side, mine, theirs in ((NATIVE, native, python), (PYTHON, python, native)):
            total = sum(mine.values()) - (loop if case.loop_net else 0)
            own = sum(max(0.0, mine.get(f, 0) - theirs.get(f, 0)) for f in functions)
            result[index, side] = Count(total, own)
    return result, loop


if __name__ == "__main__":
    child(sys.argv[1], float(sys.argv[2]))
