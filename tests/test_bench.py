"""The benchmark suite runs: every case once, at a tiny size, without timing.

`make bench` is never part of the test run; this keeps its cases from rotting
as the module changes, and checks on the way that each native case and its
Python reference produce the same results.
"""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from bench import machinery, sort, startup  # noqa: E402
from bench.folders import Folders  # noqa: E402
from bench.table import format_table  # noqa: E402


@pytest.fixture
def module():
    import Tavro_Workspace.explorerview as module
    return module


def test_sort_cases_sort_a_real_folder_to_the_same_order(qapp, module):
    folders = Folders()
    try:
        timings, facts = sort.measure(folders.folder(60), 1, module.FolderFirstSortModel)
    finally:
        folders.close()
    assert facts["entries"] == 60
    assert facts["same order"] is True
    assert facts["calls"] > 0 and facts["immediate calls"] > 0
    assert set(timings) == {sort.NATIVE, sort.PYTHON, sort.QT, sort.IMMEDIATE}
    assert "FolderFirstSortModel" in format_table(sort.rows(60, timings, facts))


@pytest.mark.parametrize("case", machinery.CASES, ids=lambda case: case.name)
def test_machinery_case_gives_the_same_result_natively_and_in_python(qapp, module, case):
    native = case.build(module, python=False)
    python = case.build(module, python=True)
    native.run(1)
    python.run(1)
    assert native.result() == python.result()


def test_machinery_child_runs_every_case_without_valgrind(qapp):
    machinery.child(None, scale=1e-9)


def test_startup_measurements_run_in_fresh_interpreters():
    execs = startup.module_exec(1)
    built = startup.construction(1)
    memory = startup.memory(count=1, runs=1)
    for measured in (execs, built):
        assert all(len(values) == 1 and values[0] > 0 for values in measured.values())
    assert set(memory) == {startup.NATIVE, startup.PYTHON}


# The benchmark led callMethod to remember, per name, the method it found on a
# type whose instances cannot shadow it (str.lower in lessThan). These check
# that rebinding still shows at the next call, as it does in Python.

class _Base(str):
    __slots__ = ()

    def lower(self):
        return str.upper(self)


class _Name(_Base):
    __slots__ = ()  # no instance dict: only the type answers `lower`


def _less_than(module, left_name, right_name):
    names = {"left": left_name, "right": right_name}
    model = type("Model", (), {})()
    model.isDir = lambda index: False
    model.fileName = names.__getitem__
    holder = type("Holder", (), {})()
    holder.fsModel = model
    return module.FolderFirstSortModel.lessThan(holder, "left", "right")


def test_method_rebound_on_the_class_or_a_base_is_seen_at_the_next_call(module, monkeypatch):
    left, right = _Name("b"), _Name("a")
    assert _less_than(module, left, right) is False  # "B" < "A"
    monkeypatch.setattr(_Name, "lower", lambda self: {"b": "1", "a": "2"}[self])
    left.lower()  # Python's own look-up in between gives the type a fresh version
    assert _less_than(module, left, right) is True
    monkeypatch.delattr(_Name, "lower")
    monkeypatch.setattr(_Base, "lower", lambda self: {"b": "4", "a": "3"}[self])
    left.lower()
    assert _less_than(module, left, right) is False


def test_method_set_on_an_instance_with_a_dict_wins(module):
    class Loose(str):
        pass

    name = Loose("Q")
    assert _less_than(module, name, "b") is False  # "q" < "b"
    name.lower = lambda: "a"
    assert _less_than(module, name, "b") is True


# The benchmark also led the module to call builtins through their C function
# (as the interpreter does for one or no argument) and to read __slots__
# entries from their place in the object. Each collaborator below must behave
# exactly as the Python reference sees it behave: same result, same error.

def _outcome(call):
    try:
        return "returned", call()
    except Exception as error:  # noqa: BLE001 - the error itself is compared
        return type(error), str(error)


def _null_builtin():
    """A METH_O builtin that returns NULL and sets no error (a broken extension)."""
    import ctypes

    class MethodDef(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("meth", ctypes.c_void_p),
                    ("flags", ctypes.c_int), ("doc", ctypes.c_char_p)]

    callback = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)(lambda s, a: None)
    definition = MethodDef(b"broken", ctypes.cast(callback, ctypes.c_void_p), 0x0008, None)
    new = ctypes.pythonapi.PyCMethod_New
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.py_object, ctypes.c_void_p]
    function = new(ctypes.addressof(definition), None, None, None)
    _kept.append((callback, definition))  # the builtin points into both
    return function


_kept = []


def _sort_holder(is_dir, file_name):
    model = type("Model", (), {})()
    model.isDir, model.fileName = is_dir, file_name
    holder = type("Holder", (), {})()
    holder.fsModel = model
    return holder


_NAMES = {"left": "Beta", "right": "alpha"}

COLLABORATORS = {
    "one argument": ({"left": False, "right": False}.__getitem__, _NAMES.__getitem__),
    "one argument, raising": ({}.__getitem__, _NAMES.__getitem__),
    "no argument, given one": ("x".isascii, _NAMES.__getitem__),
    "argument vector": ({}.get, _NAMES.__getitem__),
    "method descriptor on its type": (str.isdigit, _NAMES.__getitem__),
    "method descriptor on another type": (bytes.isdigit, _NAMES.__getitem__),
    "builtin returning ints": (id, _NAMES.__getitem__),
    "name of another type": ({"left": 0, "right": 0}.__getitem__, {"left": b"B", "right": b"a"}.__getitem__),
    "name of a str subclass": ({"left": 0, "right": 0}.__getitem__,
                               {"left": _Name("B"), "right": "a"}.__getitem__),
}


@pytest.mark.parametrize("is_dir, file_name", COLLABORATORS.values(), ids=COLLABORATORS.keys())
def test_builtin_collaborators_answer_as_in_python(module, is_dir, file_name):
    from bench import reference

    holder = _sort_holder(is_dir, file_name)
    for left, right in (("left", "right"), ("right", "left")):
        native = _outcome(lambda: module.FolderFirstSortModel.lessThan(holder, left, right))
        python = _outcome(lambda: reference.FolderFirstSortModel.lessThan(holder, left, right))
        assert native == python


def test_builtin_returning_no_result_and_no_error_is_a_system_error(module):
    holder = _sort_holder(_null_builtin(), _NAMES.__getitem__)
    with pytest.raises(SystemError, match="returned NULL without setting an exception"):
        module.FolderFirstSortModel.lessThan(holder, "left", "right")


def test_builtins_called_at_the_recursion_limit_raise_and_leave_the_count_balanced(module):
    holder = _sort_holder({"left": False, "right": False}.__getitem__, _NAMES.__getitem__)

    def depth():
        def dive(n):
            try:
                return dive(n + 1)
            except RecursionError:
                return n
        return dive(0)

    def compare(frames):  # lessThan after using up `frames` more frames
        if not frames:  # (a comparison would have its own guard)
            return module.FolderFirstSortModel.lessThan(holder, "left", "right")
        return compare(frames - 1)

    at_limit = []

    def dive_then_compare():
        try:
            dive_then_compare()
        except RecursionError:
            if at_limit:
                return
            # From the deepest frame, use up the room left one frame more each
            # time: the first call to fail must fail in the builtin's own guard.
            for frames in range(10):
                try:
                    compare(frames)
                except RecursionError as error:
                    at_limit.append(str(error))
                    return

    before = depth()
    for _ in range(2_000):
        module.FolderFirstSortModel.lessThan(holder, "left", "right")
    dive_then_compare()
    assert at_limit == ["maximum recursion depth exceeded while calling a Python object"]
    assert depth() == before


def test_slot_attributes_read_as_python_reads_them(module):
    from types import SimpleNamespace

    from bench import fakes, reference

    class Member:
        __slots__ = ("value",)

    slot = Member.__dict__["value"]

    def members(select, rows):
        made = Member(), Member()
        for member, value in zip(made, (select, rows)):
            if value is not None:
                member.value = value
        return made

    # Each step sets the flag members up anew; the module must see each change.
    steps = {
        "slot": lambda: members(0x2, 0x20),
        "slot unset": lambda: members(None, None),
        # Set through the slot first: a read that missed the change would see 0x2.
        "property on the class": lambda: (members(0x2, 0x20),
                                          setattr(Member, "value", property(lambda self: 0x4)))[0],
        "slot again": lambda: (setattr(Member, "value", slot), members(0x2, 0x20))[1],
        "dict instead": lambda: (SimpleNamespace(value=0x8), SimpleNamespace(value=0x80)),
    }
    results = {}
    for side in (module, reference):
        tree = fakes.Tree(3)
        holder = SimpleNamespace(_fileSystemView=tree.install(SimpleNamespace()))
        flag = type("Flag", (int,), {})
        tree.selection_model.SelectionFlag = flag
        outcomes = []
        for make in steps.values():
            flag.Select, flag.Rows = make()
            tree.selection_model.selected.clear()
            outcome = _outcome(lambda: side.ExplorerView.select(holder, list(tree.paths)))
            outcomes.append((outcome[0], sorted(map(int, tree.selection_model.selected.values()))))
        Member.value = slot
        results[side] = outcomes
    assert results[module] == results[reference]
    assert [flags for _, flags in results[module]] == [[0x22] * 3, [], [0x4] * 3, [0x22] * 3, [0x88] * 3]
