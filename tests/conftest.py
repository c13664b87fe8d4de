"""Shared fixtures: a recording stand-in for the host services, a recording
host for the constructors, temporary folder trees, and waiting for a file
system model to list a folder."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest


# ---------------------------------------------------------------- services double

class _Commands:
    def __init__(self, double):
        self._double = double
        self.result = None          # what execute returns

    def execute(self, id, *args):
        self._double.calls.append(("execute", (id, *args)))
        return self.result


class _Window:
    def __init__(self, double):
        self._double = double

    def showErrorMessage(self, text):
        self._double.calls.append(("showErrorMessage", (text,)))

    def showTextInputBox(self, label, text, *, then):
        self._double.calls.append(("showTextInputBox", (label, text)))
        self._double.pendingPrompts.append(then)

    def registerToolBar(self, toolbar):
        self._double.calls.append(("registerToolBar", (toolbar,)))


class _Workspace:
    def __init__(self):
        self.folder = None          # what workingFolder() returns; tests set it

    def workingFolder(self):
        return self.folder


class TavroDouble:
    """Records every call the module makes on the services object, in order,
    as (method name, positional arguments) tuples in `calls`.

    `showTextInputBox` takes `then` only as a keyword, as the host contract
    says; the callbacks wait in `pendingPrompts` until `answer_prompt`.
    """

    def __init__(self):
        self.calls = []
        self.pendingPrompts = []
        self.commands = _Commands(self)
        self.window = _Window(self)
        self.workspace = _Workspace()

    def executed(self, id=None):
        """Argument tuples of the executed commands (all, or those of `id`)."""
        return [args for name, args in self.calls
                if name == "execute" and (id is None or args[0] == id)]

    def errors(self):
        return [args[0] for name, args in self.calls if name == "showErrorMessage"]

    def prompts(self):
        return [args for name, args in self.calls if name == "showTextInputBox"]

    def answer_prompt(self, text, ok=True):
        """Close the oldest open prompt as the user would: calls its `then`."""
        assert self.pendingPrompts, "no prompt is waiting for an answer"
        then = self.pendingPrompts.pop(0)
        return then(text, ok)


@pytest.fixture
def explorerview():
    """The built module, or a skip while it cannot be imported."""
    try:
        import Tavro_Workspace.explorerview as module
    except Exception as exc:  # not built yet, or a half-built module
        pytest.skip(f"Tavro_Workspace.explorerview does not import: {exc}")
    return module


@pytest.fixture
def tavro_double(explorerview, monkeypatch):
    """Rebinds the module global `tavro` to a TavroDouble for one test."""
    double = TavroDouble()
    monkeypatch.setattr(explorerview, "tavro", double)
    return double


# ---------------------------------------------------------------- folder trees

def make_tree(root, layout):
    """Create `layout` under `root`: relative paths, a trailing "/" for a folder.

    `layout` is a list of paths, or a dict from path to file content (str or
    bytes; None for an empty file). Missing parent folders are created.
    """
    root = Path(root)
    root.mkdir(parents=True, exist_ok=True)
    items = layout.items() if isinstance(layout, dict) else ((path, None) for path in layout)
    for relative, content in items:
        path = root / relative
        if relative.endswith("/"):
            path.mkdir(parents=True, exist_ok=True)
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, bytes):
            path.write_bytes(content)
        else:
            path.write_text(content or "")
    return root


@pytest.fixture
def folder_tree(tmp_path):
    """Factory: `folder_tree(layout)` builds a new tree and returns its root."""
    count = 0

    def build(layout=(), name=None):
        nonlocal count
        count += 1
        return make_tree(tmp_path / (name or f"tree{count}"), layout)

    return build


@pytest.fixture
def wait_folder_loaded(qtbot):
    """`with wait_folder_loaded(model, path): <start loading>` waits until the
    QFileSystemModel `model` reports `path` as listed (its directoryLoaded)."""

    def waiter(model, path, timeout=10000):
        expected = os.path.realpath(path)
        return qtbot.waitSignal(model.directoryLoaded, timeout=timeout,
                                check_params_cb=lambda loaded: os.path.realpath(loaded) == expected)

    return waiter


@pytest.fixture
def wait_rows(qtbot):
    """`wait_rows(model, index_of, n)` waits until the index that `index_of()` gives has n rows.

    The index is fetched afresh at each look: a proxy index taken before the rows
    arrive goes stale when they do, and reading through a stale index can crash.
    """

    def waiter(model, index_of, count, timeout=10000):
        qtbot.waitUntil(lambda: model.rowCount(index_of()) == count, timeout=timeout)

    return waiter


# ---------------------------------------------------------------- recording host

# Every module global a constructor reaches: the toolkit's names, the services
# and the module's own classes that one constructor makes of another.
RECORDED_GLOBALS = [
    "tavro", "Qt", "QDir", "QAbstractItemView", "MARGIN_LARGE", "QViewToolBar", "QLabel", "QAction",
    "QRoundMenu", "QKeySequence", "QKeyCombination", "QHSpacer", "QVLine", "QVSpacer", "QStacked",
    "QVBox", "QPushButton", "QScrollDelegate", "QFileSystemModel", "FileSystemView",
    "FolderFirstSortModel", "NoFolderOpenedPage",
]


class _Log(list):
    """What a constructor did, one line per call, operator, enumeration member
    read or attribute set; a made object is named by its line (#n)."""

    def describe(self, value):
        if isinstance(value, _StandIn):
            return value._label
        if isinstance(value, _Recorded):
            return "self"
        if isinstance(value, list):
            return "[" + ", ".join(map(self.describe, value)) + "]"
        if getattr(value, "__self__", None) is not None and isinstance(value.__self__, _Recorded):
            return "self." + value.__name__
        return getattr(value, "__qualname__", None) or repr(value)

    def made(self, text):
        """Records `text` as the making of a new object and returns its label."""
        self.append(f"#{len(self)} = {text}")
        return f"#{len(self) - 1}"


class _StandIn:
    """A host object that records every call, operator and enumeration member
    read made on it. Other attribute reads are not recorded: whether a method
    is read before or after its arguments is not pinned here."""

    def __init__(self, log, label):
        self._log, self._label = log, label

    def __getattr__(self, name):
        if name[0].isupper():  # Qt's enumerations and their members
            self._log.append(f"{self._label}.{name}")
        return _StandIn(self._log, f"{self._label}.{name}")

    def __call__(self, *args, **kwargs):
        d = self._log.describe
        text = ", ".join([d(a) for a in args] + [f"{k}={d(v)}" for k, v in kwargs.items()])
        return _StandIn(self._log, self._log.made(f"{self._label}({text})"))

    def __or__(self, other):
        return _StandIn(self._log, self._log.made(f"{self._label} | {self._log.describe(other)}"))

    def __index__(self):
        self._log.append(f"index({self._label})")
        return 3


class _Recorded:
    """Mixed in before a class of the module: what the constructor sets on
    the object is recorded, and the toolkit's methods it finds are stand-ins."""

    def __getattribute__(self, name):
        own = object.__getattribute__(self, "__dict__")
        if name.startswith("__") or name in own or name in vars(type(self).made):
            return object.__getattribute__(self, name)
        log = type(self).log
        if name[0].isupper():
            log.append(f"self.{name}")
        return _StandIn(log, f"self.{name}")

    def __setattr__(self, name, value):
        type(self).log.append(f"self.{name} = {type(self).log.describe(value)}")
        object.__setattr__(self, name, value)


@pytest.fixture
def constructor_calls(monkeypatch, explorerview):
    """`constructor_calls(name, *args)`: what constructing the class `name`
    does with the host, in order, as a list of lines, twice: the module's and
    that of the same plug-in written in Python (bench/reference.py)."""
    import Kelpa
    monkeypatch.syspath_prepend(str(Path(__file__).resolve().parent.parent))
    from bench import reference
    log = _Log()
    base_init = Kelpa.QPluginWidget.__init__

    def plugin_init(self, parent=None):
        log.append(f"super().__init__({log.describe(parent)})")
        base_init(self, parent)
    monkeypatch.setattr(Kelpa.QPluginWidget, "__init__", plugin_init)

    def construct(module, name, args):
        log.clear()
        made = getattr(module, name)
        with monkeypatch.context() as patch:
            for global_name in RECORDED_GLOBALS:
                patch.setattr(module, global_name, _StandIn(log, global_name))
            recorded = type(name, (_Recorded, made), {"made": made, "log": log})
            recorded(*(_StandIn(log, arg) for arg in args))
        return list(log)

    return lambda name, *args: (construct(explorerview, name, args), construct(reference, name, args))


# ---------------------------------------------------------------- packaging tools
# The wheel, the venv it is installed into and pyright are made once per run:
# the build and the README's checker set-ups both use them.

ROOT = Path(__file__).resolve().parents[1]
PYTHON = "/usr/bin/python3.11"


def run(command, **kwargs):
    """Run a tool; its output is shown when it fails."""
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, f"{command} failed:\n{done.stdout}\n{done.stderr}"
    return done


def clean_environment(**extra):
    """The environment without the build folder on the path: each layout is
    looked at on its own."""
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    env.update(extra)
    return env


def tool_environment(**extra):
    """For compilers, pip and CMake: without the sanitizer runtimes that
    `make asan` preloads into every process (they are meant for the module)."""
    env = clean_environment(**extra)
    for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC"):
        env.pop(name, None)
    return env


@pytest.fixture(scope="session")
def wheel(tmp_path_factory):
    """The wheel `python3 -m build --wheel --no-isolation` makes of a copy of the project."""
    work = tmp_path_factory.mktemp("wheel")
    source = work / "source"
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns(
        ".git", "build", "build-*", "_skbuild", "dist", "*.egg-info", "__pycache__", ".hypothesis"))
    run([PYTHON, "-m", "build", "--wheel", "--no-isolation", "--outdir", work / "dist"], cwd=source,
        env=tool_environment(CMAKE_BUILD_PARALLEL_LEVEL="2"))
    (wheel,) = (work / "dist").glob("*.whl")
    return wheel


@pytest.fixture(scope="session")
def wheel_venv(wheel, tmp_path_factory):
    """A fresh `venv --system-site-packages` with the wheel installed by pip."""
    venv = tmp_path_factory.mktemp("venv")
    run([PYTHON, "-m", "venv", "--system-site-packages", "--without-pip", venv], env=tool_environment())
    run([venv / "bin" / "python", "-m", "pip", "install", "--no-index", "--no-deps",
         "--disable-pip-version-check", wheel], env=tool_environment())
    return venv


PYRIGHT = "1.1.414"


@pytest.fixture(scope="session")
def pyright():
    """pyright from the npm registry, kept in the user's cache between runs;
    a skip where Node or the registry cannot be reached."""
    npm = shutil.which("npm")
    if not npm or not shutil.which("node"):
        pytest.skip("pyright needs Node and npm, not installed here")
    cache = Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "explorerview-tests"
    folder = cache / f"pyright-{PYRIGHT}"
    program = folder / "node_modules" / ".bin" / "pyright"
    if not program.exists():
        done = subprocess.run([npm, "install", "--prefix", folder, "--no-audit", "--no-fund",
                               "--fetch-retries=1", "--fetch-timeout=60000", f"pyright@{PYRIGHT}"],
                              capture_output=True, text=True, env=tool_environment(), timeout=600)
        if done.returncode != 0:
            pytest.skip(f"npm could not install pyright@{PYRIGHT}: {done.stderr.strip()[-300:]}")
    return program
