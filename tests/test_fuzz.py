"""Fuzzed calls of every native function of the module.

Each method through its class and through an instance, the four lambdas and
the three prompt callbacks are called with random positional and keyword
arguments (hostile values included), through Python's call syntax and through
the C API with keyword names of any type. Nothing may crash or hang, and every
failure must be

- an exception of an allowed type (below), and
- carry the traceback entry of the function it left, unless Python itself
  refused the call before the function ran (a dict with non-string keys).

`make test` makes a few thousand calls with a fixed seed; `make fuzz` sets
EXPLORERVIEW_FUZZ_CALLS (at least 100,000) and a random seed, and prints the count.

Indexes: two functions hand a model index on to Qt (`lessThan` to the file
system model, `_fsItemDoubleClicked` to the proxy). An index of another model
is undefined behaviour inside Qt, so they only ever get indexes of their own
model, made fresh for each call, or values that are not indexes at all.
"""
import os
import random
import reprlib
from collections import Counter
from types import SimpleNamespace

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from Kelpa import QModelIndex, QPoint
from PyQt6.QtCore import QCoreApplication
from PyQt6.QtWidgets import QApplication
from reliability_helpers import (
    Boom, ListSubclass, RaisingBool, RaisingEq, RaisingEverything, RaisingFspath, RaisingStr, StrangePath,
    StrangeStr, class_methods, entries, hostile_values, object_call, open_folder, runtime_functions,
    vectorcall,
)

try:
    import Tavro_Workspace.explorerview as ev
except Exception as error:  # not built yet
    pytest.skip(f"Tavro_Workspace.explorerview does not import: {error}", allow_module_level=True)

CALLS = int(os.environ.get("EXPLORERVIEW_FUZZ_CALLS", "3000"))
LONG_RUN = "EXPLORERVIEW_FUZZ_CALLS" in os.environ

# What a call may raise. The module's own errors are TypeError (argument
# binding, the `select` type check, joining a name to a missing folder) and
# NameError (a missing global); everything else comes from what the module
# calls and must come through unchanged: AttributeError (a value without the
# method a body calls), ValueError and its UnicodeError (os.path and pathlib
# on odd strings: NUL bytes, mixed paths), OSError and its subclasses (pathlib
# and the host toolkit on paths), RuntimeError (PyQt on an object whose C++
# side is gone or was never made), OverflowError (PyQt converting a huge int),
# and Boom, which the hostile values raise. Not allowed: SystemError (a broken
# C API contract), MemoryError, KeyError/IndexError (nothing here looks
# anything up by key or position), and any exception without the module's
# traceback entry.
ALLOWED = (TypeError, NameError, AttributeError, ValueError, OSError, RuntimeError, OverflowError, Boom)

FOLDER = ["a.txt", "B.txt", "sub/c.txt", "sub/inner/d.txt", "empty/"]
RUNTIME_PARAMS = {"lambda": [], "lambda1": [], "lambda2": [], "lambda3": [],
                  "doPaste": ["folderStr", "ok"], "doCreateFile": ["name", "ok"],
                  "doCreateFolder": ["name", "ok"]}
INDEX_MODEL = {"lessThan": "fs", "_fsItemDoubleClicked": "proxy"}

calls_made = 0
outcomes = Counter()  # how the calls ended: returned, or the exception type


# ---------------------------------------------------------------- targets

class Target(SimpleNamespace):
    """label; how to get the function and its `self` from the world; the model
    whose indexes may be passed (None: no valid index at all); parameter names."""

    def __repr__(self):
        return self.label


def build_targets():
    found = []
    for cls, name, function in class_methods(ev):
        params = list(function.__code__.co_varnames[:function.__code__.co_argcount])
        index_model = INDEX_MODEL.get(name)
        if name == "__init__":
            # Never a shared instance as `self`: a second __init__ would rebuild
            # its models under the indexes that other calls take from them.
            selves = ["fresh", "object", "none"]
        else:
            selves = ["real", "fresh", "panel", "hostile", "int"]
            found.append(Target(label=f"{cls.__name__}.{name} via instance", cls=cls, name=name, selves=None,
                                index_model=index_model, params=params[1:]))
        found.append(Target(label=f"{cls.__name__}.{name} via class", cls=cls, name=name, selves=selves,
                            index_model=index_model, params=params))
    for name, params in RUNTIME_PARAMS.items():
        found.append(Target(label=name, cls=None, name=name, selves=None, index_model=None, params=params))
    return found


TARGETS = build_targets()


# ---------------------------------------------------------------- values

texts = st.one_of(
    st.text(st.characters(blacklist_categories=()), max_size=30),  # surrogates and NUL included
    st.sampled_from(["", "/", ".", "..", "\x00", "a\x00b", "\udcff", "\ud800", "~", "C:\\x", "a/../b",
                     "/" * 300, "é" * 200, "sub", "a.txt", "Nodra.openFile"]),
)
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(min_value=2**62), st.floats(),
    texts, st.binary(max_size=20), st.builds(StrangeStr, texts), st.sampled_from(hostile_values()),
    st.builds(RaisingStr), st.builds(RaisingBool), st.builds(RaisingEq), st.builds(RaisingFspath),
    st.builds(RaisingEverything),
    st.builds(QPoint, st.integers(-2**31, 2**31 - 1), st.integers(-2**31, 2**31 - 1)),
    # Names of things of the running panel, made at call time (Tokens).
    st.sampled_from(["INVALID_INDEX", "ROOT_PATH", "FILE_PATH", "FOLDER_PATH"]),
)
nested = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.builds(ListSubclass, st.lists(inner, max_size=3)),
                            st.tuples(inner, inner), st.dictionaries(texts, inner, max_size=2)),
    max_leaves=5,
)


def repeated(item, count):
    return [item] * count


# Huge lists are rare: `select` looks each item up in the file system model.
values = st.one_of([nested] * 15 + [st.builds(repeated, scalars, st.integers(2000, 5000))])
keyword_names = st.one_of(texts, st.integers(), st.binary(max_size=4), st.builds(StrangeStr, texts), st.none())


class Tokens:
    """Turns the token strings among the drawn values into objects of the running panel."""

    def __init__(self, world, index_model):
        self.world = world
        self.index_model = index_model

    def resolve(self, value):
        w = self.world
        if type(value) is str:
            if value == "ROOT_PATH":
                return w.root
            if value == "FILE_PATH":
                return StrangePath(w.root / "a.txt")
            if value == "FOLDER_PATH":
                return str(w.root / "sub")
            if value == "INVALID_INDEX":
                return QModelIndex()
            if value == "MODEL_INDEX":  # only where index_model says whose
                fs = w.view.fsmodel.index(str(w.root / w.rng.choice(["a.txt", "sub", "B.txt", "empty"])))
                return fs if self.index_model == "fs" else w.view.sortModel.mapFromSource(fs)
            return value
        if type(value) is list and len(value) < 50:
            return [self.resolve(v) for v in value]
        return value


class Plan:
    """One drawn call. Hypothesis shows it only for a failing example."""

    def __init__(self, **fields):
        self.__dict__.update(fields)

    def __repr__(self):
        short = reprlib.Repr()
        short.maxlist = short.maxtuple = 4
        short.maxstring = short.maxother = 60
        return "Plan(" + ", ".join(f"{k}={short.repr(v)}" for k, v in vars(self).items()) + ")"


@st.composite
def plans(draw):
    target = draw(st.sampled_from(TARGETS))
    arity = max(0, len(target.params) + draw(st.sampled_from([0, 0, 0, 0, -1, 1, 2, -2])))
    arguments = values if target.index_model is None else st.one_of(values, st.just("MODEL_INDEX"))
    style = draw(st.sampled_from(["positional", "positional", "by name", "by name", "any keywords"]))
    keywords = []
    if style == "any keywords":
        keywords = draw(st.lists(st.one_of(st.sampled_from(target.params + ["self", "then", "x"]),
                                           keyword_names), min_size=1, max_size=2, unique_by=repr))
    return Plan(
        target=target, self_choice=draw(st.sampled_from(target.selves)) if target.selves else None,
        # "by name": the trailing arguments go by their parameters' names, as callers may write them.
        by_name=draw(st.integers(1, len(target.params))) if style == "by name" and target.params else 0,
        args=draw(st.lists(arguments, min_size=arity, max_size=arity)), keywords=keywords,
        kwvalues=draw(st.lists(arguments, min_size=len(keywords), max_size=len(keywords))),
        shape=draw(st.sampled_from(["python", "python", "python", "vectorcall", "object_call"])),
    )


# ---------------------------------------------------------------- the running panel

class World(SimpleNamespace):
    def __repr__(self):
        return "<the fuzzed panel>"

    def function(self, target):
        if target.cls is None:
            return self.f[target.name]
        if target.selves is None:
            return getattr(self.reals[target.cls], target.name)
        return vars(target.cls)[target.name]

    def self_for(self, target, choice):
        return {"real": lambda: self.reals[target.cls], "fresh": lambda: target.cls.__new__(target.cls),
                "panel": lambda: self.panel, "hostile": RaisingEverything, "int": lambda: 42,
                "object": object, "none": lambda: None}[choice]()


@pytest.fixture(scope="module")
def world(request, qapp, tmp_path_factory):
    from conftest import TavroDouble, make_tree
    from pytestqt.qtbot import QtBot

    double = TavroDouble()
    saved = ev.tavro
    ev.tavro = double
    root = make_tree(tmp_path_factory.mktemp("fuzz") / "tree", FOLDER)
    double.workspace.folder = root
    panel = ev.ExplorerView()
    open_folder(QtBot(request), panel, root)
    view = panel._fileSystemView
    w = World(panel=panel, view=view, root=root, double=double, rng=random.Random(0),
              reals={ev.ExplorerView: panel, ev.FileSystemView: view, ev.FolderFirstSortModel: view.sortModel,
                     ev.NoFolderOpenedPage: panel._noFolderOpenedPage})
    w.f = runtime_functions(ev, panel, double)
    yield w
    ev.tavro = saved


def expected_entry(function):
    qualname = function.__qualname__.replace(".<locals>", "").replace("<lambda>", function.__name__)
    return "Tavro_Workspace.explorerview." + qualname


def settle(world):
    """Between calls: close popups, forget prompts and host calls, let Qt deliver rows."""
    popup = QApplication.activePopupWidget()
    while popup is not None:
        popup.close()
        popup = QApplication.activePopupWidget()
    world.double.calls.clear()
    world.double.pendingPrompts.clear()
    if calls_made % 50 == 0:
        QCoreApplication.processEvents()


def check_result(name, result):
    """What a call that returns gives back."""
    path_type = type(ev.Path())
    if name == "selection":
        assert type(result) is list and all(type(p) is path_type for p in result)
    elif name == "rootPath":
        assert type(result) is path_type
    elif name == "setRootPath":
        assert result is True or result is False
    elif name == "workingFolder":
        assert result is None or type(result) is path_type


def fuzz_settings(examples):
    return settings(max_examples=examples, deadline=None, database=None, derandomize=not LONG_RUN,
                    suppress_health_check=list(HealthCheck), print_blob=True)


def call(world, function, plan, tokens, args, params):
    """Make the call in the plan's shape; the error, if any, is checked here."""
    global calls_made
    names = plan.keywords
    if plan.shape == "python":
        names = [n for n in names if isinstance(n, str)]
    kwvalues = [tokens.resolve(v) for v in plan.kwvalues[:len(names)]]
    count = min(plan.by_name, len(args), len(params))
    if count:
        names = params[len(args) - count:len(args)] if len(args) <= len(params) else params[-count:]
        kwvalues, args = args[-count:], args[:-count]
    calls_made += 1
    try:
        if plan.shape == "python":
            result = function(*args, **dict(zip(names, kwvalues)))
        elif plan.shape == "vectorcall":
            result = vectorcall(function, args, names, kwvalues)
        else:
            result = object_call(function, args, dict(zip(names, kwvalues)) or None)
    except ALLOWED as error:
        outcomes[type(error).__name__] += 1
        python_refused = plan.shape == "object_call" and not all(isinstance(n, str) for n in names)
        if not python_refused:
            assert expected_entry(function) in entries(error), repr(error)
    else:
        outcomes["returned"] += 1
        check_result(plan.target.name, result)
    finally:
        settle(world)


def test_fuzzed_calls_raise_only_allowed_errors_with_the_functions_traceback_entry(world, capsys):
    """CALLS fuzzed calls, counted here: the count holds however the tests are picked."""

    @given(plan=plans())
    @fuzz_settings(CALLS)
    def fuzzed_call(plan):
        target = plan.target
        tokens = Tokens(world, target.index_model)
        args = [tokens.resolve(v) for v in plan.args]
        if plan.self_choice:
            args.insert(0, world.self_for(target, plan.self_choice))
        call(world, world.function(target), plan, tokens, args, target.params)

    before = calls_made
    fuzzed_call()
    made = calls_made - before
    with capsys.disabled():
        print(f"\nfuzzed calls: {made} (target {CALLS}); outcomes: "
              + ", ".join(f"{name} {count}" for name, count in outcomes.most_common()))
    assert made >= CALLS


def test_every_function_is_a_target(world):
    labels = {t.label for t in TARGETS}
    for cls, name, _ in class_methods(ev):
        assert f"{cls.__name__}.{name} via class" in labels
        if name != "__init__":
            assert f"{cls.__name__}.{name} via instance" in labels
    for name, params in RUNTIME_PARAMS.items():
        code = world.f[name].__code__
        assert list(code.co_varnames[:code.co_argcount]) == params


@given(data=st.data())
@fuzz_settings(max(100, CALLS // 10))
def test_hostile_values_on_a_real_panel(world, data):
    """select, setWorkingFolder and lessThan with hostile values on the real
    panel; afterwards the panel still works on its own folder."""
    global calls_made
    w = world
    which = data.draw(st.sampled_from(["select", "setWorkingFolder", "lessThan"]))
    tokens = Tokens(w, "fs" if which == "lessThan" else None)
    if which == "select":
        items = data.draw(st.lists(st.one_of(nested, st.just("FILE_PATH")), max_size=6))
    else:
        items = data.draw(st.lists(st.one_of(nested, st.just("MODEL_INDEX")), min_size=2, max_size=2))
    items = [tokens.resolve(item) for item in items]
    calls_made += 1
    try:
        if which == "select":
            w.panel.select(items)
        elif which == "setWorkingFolder":
            w.panel.setWorkingFolder(items[0])
        else:
            w.view.sortModel.lessThan(*items)
    except ALLOWED:
        pass
    finally:
        settle(w)
    w.panel.setWorkingFolder(w.root)
    w.panel.select([w.root / "a.txt"])
    assert w.panel.selection() == [w.root / "a.txt"]


REBINDABLE = [t for t in TARGETS if t.selves and t.name != "__init__"] + \
             [t for t in TARGETS if t.name.startswith("do")]


@given(data=st.data())
@fuzz_settings(max(50, CALLS // 30))
def test_rebound_defaults_and_closure_cells_are_honoured_without_crashing(world, data):
    """__defaults__ and a closure's cell rebound from Python, as Python allows."""
    w = world
    target = data.draw(st.sampled_from(REBINDABLE))
    function = w.function(target)
    tokens = Tokens(w, target.index_model)
    cell = function.__closure__[0] if function.__closure__ else None
    saved = function.__defaults__, cell.cell_contents if cell else None
    try:
        function.__defaults__ = tuple(tokens.resolve(v) for v in data.draw(st.lists(nested, max_size=4)))
        if cell is not None and data.draw(st.booleans()):
            cell.cell_contents = tokens.resolve(data.draw(nested))
        args = [tokens.resolve(v) for v in data.draw(st.lists(nested, max_size=len(target.params)))]
        if target.selves:
            args[:1] = [w.self_for(target, data.draw(st.sampled_from(target.selves)))]
        plan = Plan(target=target, keywords=[], kwvalues=[], shape="python", by_name=0)
        call(w, function, plan, tokens, args, target.params)
    finally:
        function.__defaults__ = saved[0]
        if cell is not None:
            cell.cell_contents = saved[1]
