"""What the module needs from the interpreter, and the module on newer ones.

Newer interpreters (pyenv's 3.12 and 3.13 here) have no PyQt6, so their cases
run with pure Python stand-ins for the host. The module built for 3.11 runs on
3.12 in every `make test`; `make versions` (EXPLORERVIEW_VERSIONS=1) also builds
the module against each newer version's own headers and runs there the import,
the classes, the function objects, binding and its errors, traceback entries
and the hostile cases that need no toolkit.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import test_hardening
import test_tree
from test_module import CLASSES, FAKE_KELPA, FILE_NAME, FULL_NAME, FUNCTIONS, KELPA_NAMES, is_method
from reliability_helpers import under_sanitizer

ROOT = Path(__file__).resolve().parents[1]
NEWER = ["3.12", "3.13"]

# Every underscore CPython symbol the Linux build may import, and why: each is
# what a public macro or inline function of the 3.11 headers expands to. (The
# module takes only pybind11's handle from it, none of its runtime, whose
# headers would add private calls of their own.)
UNDERSCORE_SYMBOLS = {
    "_Py_Dealloc": "Py_DECREF",
    "_Py_NoneStruct": "Py_None",
    "_Py_TrueStruct": "Py_True",
    "_Py_FalseStruct": "Py_False",
    "_PyObject_GC_New": "PyObject_GC_New",
}


def module_file():
    """The module this suite runs against: the build on the path, whichever folder it is."""
    import Tavro_Workspace.explorerview as module
    return Path(module.__file__)


@pytest.mark.skipif(not shutil.which("nm"), reason="needs nm (binutils)")
def test_imports_no_underscore_cpython_function_beyond_what_public_macros_need(explorerview):
    undefined = subprocess.run(["nm", "-D", "--undefined-only", str(Path(explorerview.__file__))],
                               capture_output=True, text=True, check=True).stdout.split()
    underscore = {name for name in undefined if name.startswith("_Py")}
    assert sorted(underscore - set(UNDERSCORE_SYMBOLS)) == []


# ------------------------------------------------------------------ newer interpreters

def interpreter(version):
    """A Python `version` of this machine (pyenv's, or pythonX.Y on PATH), or None."""
    candidates = []
    plain = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}  # no sanitizer for pyenv
    try:
        found = subprocess.run(["pyenv", "versions", "--bare"], capture_output=True, text=True,
                               env=plain).stdout.split()
        for full in (v for v in found if re.fullmatch(re.escape(version) + r"\.\d+", v)):
            prefix = subprocess.run(["pyenv", "prefix", full], capture_output=True, text=True,
                                    env=plain).stdout.strip()
            candidates.append(Path(prefix) / "bin" / f"python{version}")
    except OSError:  # no pyenv
        pass
    candidates.append(shutil.which(f"python{version}"))
    return next((str(c) for c in candidates if c and os.access(c, os.X_OK)), None)


def host_stand_ins(folder):
    """Kelpa and Tavro in pure Python, in `folder`."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "Kelpa.py").write_text(FAKE_KELPA.format(names=KELPA_NAMES, extra="", omit=""))
    (folder / "Tavro.py").write_text("tavro = object()\n")
    return folder


class Runner:
    """Runs code in `python` with the module of `package` (the folder holding
    Tavro_Workspace) and the host stand-ins; fails on a signal or an error."""

    def __init__(self, python, package, host):
        self.python, self.path = python, f"{host}:{package}"

    def __call__(self, code, imported=True, debug_malloc=False):
        script = (test_hardening.PRELUDE + ("import Tavro_Workspace.explorerview as m\n" if imported else "")
                  + textwrap.dedent(code))
        env = dict(os.environ, PYTHONPATH=self.path)
        if debug_malloc:  # as run_child: freed memory is poisoned
            env.setdefault("PYTHONMALLOC", "debug")
        if "ASAN_OPTIONS" in env:  # memory errors still abort; that interpreter's own leaks are not ours
            env["ASAN_OPTIONS"] += ":detect_leaks=0"
        result = subprocess.run([self.python, "-c", script], capture_output=True, text=True, env=env,
                                timeout=300)
        if result.returncode < 0:
            pytest.fail(f"killed by {signal.Signals(-result.returncode).name}\n{result.stderr[-3000:]}")
        assert result.returncode == 0, result.stderr[-3000:]


@pytest.fixture(scope="module")
def newer(tmp_path_factory):
    """`newer(version, built_for)`: a Runner for interpreter `version` with the
    module built for `built_for` ("3.11": this build; else built here, by
    `make versions` only), or a skip saying why not."""
    host = host_stand_ins(tmp_path_factory.mktemp("host"))
    built = {}

    def get(version, built_for):
        python = interpreter(version)
        if python is None:
            pytest.skip(f"no Python {version} on this machine (pyenv, or python{version} on PATH)")
        if built_for == "3.11":
            if under_sanitizer():
                pytest.skip("an instrumented build loads only into the interpreter its runtime was preloaded for")
            package = tmp_path_factory.mktemp("py311")
            (package / "Tavro_Workspace").mkdir()
            # Under the plain name that any version loads.
            shutil.copy(module_file(), package / "Tavro_Workspace" / "explorerview.so")
            return Runner(python, package, host)
        if not os.environ.get("EXPLORERVIEW_VERSIONS"):
            pytest.skip(f"the build for {version} is made and run by `make versions`")
        if version not in built:
            built[version] = build_for(version, python)
        return Runner(python, built[version], host)

    return get


def build_for(version, python):
    """The module built against `python`'s headers (Release, in build-pyX.Y)."""
    build = ROOT / f"build-py{version}"
    steps = [["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
              f"-DEXPLORERVIEW_PYTHON_VERSION={version}", f"-DPython3_EXECUTABLE={python}"],
             ["cmake", "--build", str(build), "-j", "2"]]
    for step in steps:
        result = subprocess.run(step, capture_output=True, text=True)
        assert result.returncode == 0, result.stdout[-5000:] + result.stderr[-5000:]
    return build


# The machinery, as Python sees it without a toolkit: the import (and its
# warning), the classes, each method's signature, defaults, annotations and
# docstring, binding errors, and each method's traceback entry.
MACHINERY = """
import inspect, traceback, warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import Tavro_Workspace.explorerview as m
assert [(w.category, str(w.message)) for w in caught] == WARNINGS, caught
assert [getattr(m, name).__name__ for name in CLASSES] == CLASSES
assert str(inspect.signature(m.ExplorerView)) == "(parent=None)"
for key, co_name, params, line, defaults, annotations, doc in FUNCTIONS:
    cls, name = key.split(".")
    fn = vars(getattr(m, cls))[name]
    assert tuple(inspect.signature(fn).parameters) == params, key
    assert (fn.__code__.co_name, fn.__code__.co_firstlineno, fn.__defaults__, fn.__annotations__,
            fn.__doc__) == (co_name, line, defaults, annotations, doc), key
    try:
        fn(*range(len(params) + 1))
    except TypeError as error:
        entries = [e for e in traceback.extract_tb(error.__traceback__) if e.filename == FILE_NAME]
        assert [(e.name, e.lineno) for e in entries] == [(f"{FULL_NAME}.{key}", line)], entries
        assert str(error).startswith(f"{name}() takes "), error
    else:
        raise AssertionError(key)
for call, message in [
        (lambda: m.ExplorerView.workingFolder(1, 2),
         "workingFolder() takes exactly 1 positional argument (2 given)"),
        (lambda: m.ExplorerView.select(None, paths=()),
         "Argument 'paths' has incorrect type (expected list, got tuple)"),
        (lambda: m.ExplorerView.select(None, [], paths=[]),
         "select() got multiple values for keyword argument 'paths'"),
        (lambda: m.FileSystemView.setRootPath(None, path="/", other=1),
         "setRootPath() got an unexpected keyword argument 'other'")]:
    try:
        call()
    except TypeError as error:
        assert str(error) == message, error
    else:
        raise AssertionError(message)
"""


def machinery(version, built_for):
    warning = (f"compile time Python version {built_for} of module '{FULL_NAME}' does not match runtime "
               f"version {version}")
    methods = [row for row in FUNCTIONS if is_method(row[0])]
    return (f"CLASSES, FUNCTIONS = {CLASSES!r}, {methods!r}\n"
            f"FULL_NAME, FILE_NAME = {FULL_NAME!r}, {FILE_NAME!r}\n"
            f"WARNINGS = {[(RuntimeWarning, warning)] if version != built_for else []!r}\n"
            ).replace("<class 'RuntimeWarning'>", "RuntimeWarning") + MACHINERY


WHERE = [("3.12", "3.11")] + [(version, version) for version in NEWER]
WHERE_IDS = [f"{built_for} build on {version}" for version, built_for in WHERE]


@pytest.mark.parametrize("version, built_for", WHERE, ids=WHERE_IDS)
def test_machinery_on_a_newer_interpreter(newer, version, built_for):
    newer(version, built_for)(machinery(version, built_for), imported=False)


def parametrized(test):
    """Each case of a parametrized test as keyword arguments (every
    combination, where it is parametrized more than once)."""
    cases = [{}]
    for mark in test.pytestmark:
        if mark.name != "parametrize":
            continue
        names, values = mark.args[:2]
        names = [name.strip() for name in names.split(",")] if isinstance(names, str) else list(names)
        cases = [dict(case, **dict(zip(names, value if len(names) > 1 else (value,))))
                 for case in cases for value in values]
    return cases


# Hostile but legal Python that needs no toolkit: the same cases as on 3.11.
HOSTILE = [test_hardening.test_slot_of_another_class_raises_as_in_python,
           test_hardening.test_read_failing_without_an_error_raises_system_error,
           test_hardening.test_package_replacing_itself_in_sys_modules_during_exec,
           test_hardening.test_endless_recursion_through_native_methods_raises_recursion_error,
           test_hardening.test_select_list_changed_by_its_items,
           test_tree.test_handled_exception_is_put_back_as_it_was]


@pytest.mark.parametrize("version", NEWER)
@pytest.mark.parametrize("test", HOSTILE, ids=[test.__name__.removeprefix("test_") for test in HOSTILE])
def test_hostile_cases_on_a_newer_interpreter(newer, version, test):
    run = newer(version, version)
    for case in parametrized(test):
        if "in_greenlets" not in case.get("stack", ""):  # Debian's greenlet is for its own interpreter only
            test(run_child=run, **case)
