"""The module as it is built and shipped: the build folder, `cmake --install` into
the host's package, the wheel that `pip install .` builds, and what editors and
type checkers make of each.

The wheel is built once per session, from a copy of the sources (the build
compiles the module again, about a minute), so nothing is written into the tree.
"""
import ast
import importlib
import json
import os
import re
import shutil
import subprocess
import zipfile
from pathlib import Path

import pytest

from conftest import PYTHON, clean_environment, run, tool_environment

ROOT = Path(__file__).resolve().parents[1]
HOST = ROOT / "host"
MODULE_FILE = "explorerview.cpython-311-x86_64-linux-gnu.so"
# The library of the toolkit's own model calls, beside the module where the build has it.
MODEL_CALLS_FILE = "libexplorerview-qt.so"
# The host check, a package shipped beside the module wherever it goes, with every file of its sources.
CHECK_PACKAGE = "explorerview_check"
CHECK_FILES = sorted(path.name for path in (ROOT / "src" / "check" / CHECK_PACKAGE).glob("*.py"))
# The host's own plug-in package, as `cmake --install` finds it.
HOST_PACKAGE_INIT = '"""The host\'s workspace plug-in package."""\nHOST_VERSION = "2.1"\n'


@pytest.fixture(scope="module")
def build_folder():
    """The build folder the tests import the module from."""
    module = importlib.import_module("Tavro_Workspace.explorerview")
    return Path(module.__file__).parents[1]


@pytest.fixture(scope="module")
def host_install(build_folder, tmp_path_factory):
    """A prefix whose Tavro_Workspace is the host's own package, with the module
    put into it by `cmake --install`."""
    prefix = tmp_path_factory.mktemp("host")
    (prefix / "Tavro_Workspace").mkdir()
    (prefix / "Tavro_Workspace" / "__init__.py").write_text(HOST_PACKAGE_INIT)
    run(["cmake", "--install", build_folder, "--prefix", prefix], env=tool_environment())
    return prefix


# ------------------------------------------------------------------ build folder and cmake --install

def test_module_imports_under_package_name():
    module = importlib.import_module("Tavro_Workspace.explorerview")
    assert module.__name__ == "Tavro_Workspace.explorerview"


def model_calls(build_folder):
    """[MODEL_CALLS_FILE] where the build has the toolkit's own model calls, else []."""
    return [MODEL_CALLS_FILE] if (build_folder / "Tavro_Workspace" / MODEL_CALLS_FILE).exists() else []


def test_only_the_init_function_leaves_the_library(build_folder):
    exported = run(["nm", "-D", "--defined-only", build_folder / "Tavro_Workspace" / MODULE_FILE],
                   env=tool_environment()).stdout
    assert [line.split()[-1] for line in exported.splitlines()] == ["PyInit_explorerview"]
    # The module itself never needs Qt: only the library of model calls links it.
    needed = run(["readelf", "-d", build_folder / "Tavro_Workspace" / MODULE_FILE], env=tool_environment()).stdout
    assert "Qt" not in needed


def test_model_calls_library_binds_to_the_qt_already_loaded(build_folder):
    if not model_calls(build_folder):
        pytest.skip("built without the toolkit's own model calls")
    library = build_folder / "Tavro_Workspace" / MODEL_CALLS_FILE
    exported = run(["nm", "-D", "--defined-only", library], env=tool_environment()).stdout
    assert [line.split()[-1] for line in exported.splitlines() if " T " in line] == ["explorerview_model_calls"]
    dynamic = run(["readelf", "-d", library], env=tool_environment()).stdout
    assert "libQt6Gui.so.6" in dynamic and "RPATH" not in dynamic and "RUNPATH" not in dynamic


# The module imported from a file location of its own, with or without the
# library beside it: the comparison calls the toolkit's C++ only where it is.
FROM_A_FILE_LOCATION = """
import ctypes, importlib.util, sys
from pathlib import Path
from Kelpa import QApplication, QFileSystemModel
app = QApplication([])
exec(sys.argv[3])
spec = importlib.util.spec_from_file_location("Tavro_Workspace.explorerview", sys.argv[1])
ev = importlib.util.module_from_spec(spec)
spec.loader.exec_module(ev)
model = QFileSystemModel()
index = model.index(sys.argv[2])
assert ev.FolderFirstSortModel(model).lessThan(index, index) is False
loaded = [line.split()[-1] for line in open("/proc/self/maps") if "explorerview-qt" in line]
print(sorted(set(loaded)))
"""


@pytest.mark.parametrize("beside, before, used", [
    (True, "", True),
    (False, "", False),
    # A toolkit compiled against another Qt: fileName's inline may differ, so no direct calls.
    (True, "import PyQt6.QtCore; PyQt6.QtCore.QT_VERSION += 1", False),
    # A QFileSystemModel that is not the one the library binds to (another Qt loaded): no direct calls.
    (True, "from PyQt6 import QtCore, QtGui; QtGui.QFileSystemModel.staticMetaObject = QtCore.QObject.staticMetaObject",
     False),
], ids=["library beside", "module alone", "toolkit built against another Qt", "toolkit on another Qt"])
def test_module_from_a_file_location_finds_the_library_beside_it(build_folder, tmp_path, beside, before, used):
    if not model_calls(build_folder):
        pytest.skip("built without the toolkit's own model calls")
    folder = tmp_path / "elsewhere"
    folder.mkdir()
    shutil.copy(build_folder / "Tavro_Workspace" / MODULE_FILE, folder / "renamed.so")
    if beside:
        shutil.copy(build_folder / "Tavro_Workspace" / MODEL_CALLS_FILE, folder)
    done = run([PYTHON, "-c", FROM_A_FILE_LOCATION, folder / "renamed.so", tmp_path, before], cwd=tmp_path,
               env=clean_environment(PYTHONPATH=str(HOST), QT_QPA_PLATFORM="offscreen"))
    assert done.stdout.split("\n")[-2] == str([str(folder / MODEL_CALLS_FILE)] if used else [])


@pytest.mark.parametrize("name, found", [("host-python", True), ("no-such-python", False)])
def test_cmake_looks_up_a_bare_interpreter_name_on_path(tmp_path, name, found):
    # As `-DPython3_EXECUTABLE=python3.12` is typed: a name only this PATH holds,
    # so that no other interpreter found by other means can pass for it.
    commands = tmp_path / "bin"
    commands.mkdir()
    (commands / "host-python").symlink_to(PYTHON)
    done = subprocess.run(["cmake", "-S", ROOT, "-B", tmp_path / "build", f"-DPython3_EXECUTABLE={name}",
                           "-DEXPLORERVIEW_TOOLKIT_CALLS=OFF"], cwd=tmp_path, capture_output=True, text=True,
                          env=tool_environment(PATH=f"{commands}{os.pathsep}{os.environ['PATH']}"))
    if found:
        assert done.returncode == 0, done.stderr
        cache = (tmp_path / "build" / "CMakeCache.txt").read_text()
        assert f"Python3_EXECUTABLE:FILEPATH={commands / 'host-python'}\n" in cache
    else:
        assert done.returncode != 0 and "no-such-python: no such program on PATH" in done.stderr, done.stderr


def test_cmake_install_places_module_in_plugin_package(host_install, build_folder):
    # Beside the host's __init__.py, no __init__.pyi of ours: it would hide the
    # host's package from type checkers.
    installed = sorted(p.name for p in (host_install / "Tavro_Workspace").iterdir())
    assert installed == sorted(["__init__.py", MODULE_FILE, "explorerview.pyi", CHECK_PACKAGE,
                                *model_calls(build_folder)])
    assert sorted(p.name for p in (host_install / "Tavro_Workspace" / CHECK_PACKAGE).iterdir()) == CHECK_FILES
    assert (host_install / "Tavro_Workspace" / "__init__.py").read_text() == HOST_PACKAGE_INIT


# ------------------------------------------------------------------ the wheel

def test_wheel_holds_the_module_and_its_stubs(wheel, build_folder):
    names = {name for name in zipfile.ZipFile(wheel).namelist() if ".dist-info/" not in name}
    # The package stays a namespace the host owns: no __init__.py of ours, and
    # the marker that type checkers need sits in a partial stub package beside it.
    assert names == {f"Tavro_Workspace/{MODULE_FILE}", "Tavro_Workspace/explorerview.pyi",
                     *(f"Tavro_Workspace/{CHECK_PACKAGE}/{name}" for name in CHECK_FILES),
                     *(f"Tavro_Workspace/{name}" for name in model_calls(build_folder)),
                     "Tavro_Workspace/__init__.pyi", "Tavro_Workspace-stubs/explorerview.pyi",
                     "Tavro_Workspace-stubs/py.typed"}
    assert zipfile.ZipFile(wheel).read("Tavro_Workspace-stubs/py.typed") == b"partial\n"


def test_wheel_installed_in_a_venv_runs_with_the_host(wheel_venv, tmp_path):
    script = f"""
import Tavro_Workspace.explorerview as ev
from pathlib import Path
from Kelpa import QApplication
app = QApplication([])
assert ev.__file__.startswith({str(wheel_venv)!r}), ev.__file__
panel = ev.ExplorerView()
panel.setWorkingFolder(Path({str(tmp_path)!r}))
assert panel.workingFolder() == Path({str(tmp_path)!r})
print("ok")
"""
    done = run([wheel_venv / "bin" / "python", "-c", script], cwd=tmp_path,
               env=clean_environment(PYTHONPATH=str(HOST), QT_QPA_PLATFORM="offscreen"))
    assert done.stdout.split()[-1] == "ok"
    # The host check comes with the installed panel, run as the README says.
    done = run([wheel_venv / "bin" / "python", "-m", "Tavro_Workspace.explorerview_check", "--path", HOST],
               cwd=tmp_path, env=clean_environment())
    assert done.stdout.startswith("host meets the panel's contract: ")


# ------------------------------------------------------------------ editors and type checkers

LAYOUTS = ["build folder", "wheel in a venv", "cmake --install into the host's package"]


# What an editor asks the completion engine, in a process of its own: jedi's caches
# would otherwise stay in the test process and slow every later garbage collection.
JEDI_QUESTIONS = """
import json, sys, jedi
jedi.settings.cache_directory = sys.argv[3]
project = jedi.Project(sys.argv[2], environment_path=sys.argv[1])
head = "import Tavro_Workspace\\nfrom Tavro_Workspace.explorerview import ExplorerView\\n"
call = "ExplorerView().select("
signatures = jedi.Script(head + call, project=project).get_signatures(3, len(call))
folder = jedi.Script(head + "folder = ExplorerView().workingFolder()\\nfolder", project=project).infer(4, 0)
version = jedi.Script(head + "Tavro_Workspace.HOST_VERSION", project=project).infer(3, 18)
docs = {}
for method in ("setWorkingFolder", "workingFolder", "select", "selection"):
    use = "ExplorerView()." + method
    docs[method] = [name.docstring() for name in jedi.Script(head + use, project=project).help(3, len(use))]
print(json.dumps({
    "select": [[s.to_string(), str(s.module_path)] for s in signatures],
    "workingFolder()": sorted(d.name for d in folder),
    "HOST_VERSION": [d.name for d in version],
    "help": docs,
}))
"""


def stub_docstrings():
    """{method: docstring} of ExplorerView's documented methods in the stub; an
    overloaded method's is on its last signature, where editors read it."""
    [cls] = [node for node in ast.parse((ROOT / "src" / "explorerview.pyi").read_text()).body
             if isinstance(node, ast.ClassDef) and node.name == "ExplorerView"]
    docs = {node.name: ast.get_docstring(node) for node in cls.body if isinstance(node, ast.FunctionDef)}
    return {name: doc for name, doc in docs.items() if doc}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_editors_see_the_stub(request, tmp_path, tmp_path_factory, build_folder, layout):
    python, path = {
        "build folder": lambda: (PYTHON, [build_folder]),
        "wheel in a venv": lambda: (request.getfixturevalue("wheel_venv") / "bin" / "python", []),
        "cmake --install into the host's package": lambda: (PYTHON, [request.getfixturevalue("host_install")]),
    }[layout]()
    # As an editor runs it: jedi asks a process of the project's interpreter, which
    # imports the compiled module from its own path, and looks for the stub beside it.
    cache = tmp_path_factory.getbasetemp() / "jedi-cache"  # shared: the standard library's stubs parse once
    done = run([PYTHON, "-c", JEDI_QUESTIONS, python, tmp_path, cache],
               env=clean_environment(PYTHONPATH=os.pathsep.join(map(str, [*path, HOST]))))
    answers = json.loads(done.stdout)
    # One signature per kind of list a host hands over, no name private to the stub.
    assert [signature for signature, _ in answers["select"]] == [
        f"select(paths: list[{kind}]) -> None"
        for kind in ("str", "Path", "str | Path", "str | os.PathLike[str]")]
    [stub] = {stub for _, stub in answers["select"]}
    assert Path(stub).parent.parent in {Path(p) for p in path} | {site_packages(python)}
    assert answers["workingFolder()"] == ["NoneType", "Path"]
    # Help on each public method shows its signatures and then what it does.
    docs = stub_docstrings()
    assert {"setWorkingFolder", "workingFolder", "select", "selection"} <= set(docs)
    for method, [text] in answers["help"].items():
        signatures, _, doc = text.partition("\n\n")
        assert signatures.startswith(method + "(") and doc == docs[method], method
    if layout.startswith("cmake"):  # the host's own package is still seen
        assert answers["HOST_VERSION"] == ["str"]


def site_packages(python):
    return Path(python).parents[1] / "lib" / "python3.11" / "site-packages"


def test_stub_agrees_with_the_module(build_folder, tmp_path):
    # The allow-list holds what the untyped toolkit causes, each entry with its reason.
    path = f"{build_folder}{os.pathsep}{HOST}"
    run([PYTHON, "-m", "mypy.stubtest", "Tavro_Workspace.explorerview",
         "--allowlist", ROOT / "tests" / "stubtest_allowlist.txt"],
        cwd=tmp_path, env=clean_environment(MYPYPATH=path, PYTHONPATH=path, QT_QPA_PLATFORM="offscreen"))


# A host's plug-in code as its authors type it, using every public method; the
# checkers read the stub and must find nothing to complain about.
TYPED_HOST = """
import os
from pathlib import Path, PurePath

from Kelpa import QApplication, QWidget
from Tavro_Workspace.explorerview import ExplorerView, FileSystemView


def use(folder: Path, parent: QWidget | None) -> list[Path]:
    panel = ExplorerView(parent)
    panel.setWorkingFolder(folder)
    panel.setWorkingFolder(str(folder))
    panel.setWorkingFolder(PurePath(folder))
    panel.setWorkingFolder(None)
    opened: Path | None = panel.workingFolder()
    panel.select([folder / "README.md"])
    panel.select([str(folder / "README.md")])
    mixed: list[str | os.PathLike[str]] = ["a.txt", folder]
    panel.select(mixed)
    panel.select([])
    view = FileSystemView(panel)
    shown: bool = view.setRootPath(folder, expand=True) and view.setRootPath(os.fspath(folder))
    root: Path = view.rootPath()
    print(opened, shown, root)
    return panel.selection()


app = QApplication([])
use(Path.cwd(), None)
"""
# In the host's own package, its __init__.py is read beside the stub.
TYPED_HOST_PACKAGE = """
import Tavro_Workspace
version: str = Tavro_Workspace.HOST_VERSION
"""
# The configurations the README gives a host for each checker: the toolkit and
# services packages are untyped Python (the stand-ins here), or not there at all.
README_BLOCKS = re.findall(r"^```(ini|json)\n(.*?)^```", (ROOT / "README.md").read_text(), re.M | re.S)
[MYPY_CONFIG] = [body for language, body in README_BLOCKS if language == "ini"]
[PYRIGHT_CONFIG] = [json.loads(body) for language, body in README_BLOCKS if language == "json"]
@pytest.mark.parametrize("checker", ["mypy", "pyright", "mypy, no toolkit"])
@pytest.mark.parametrize("layout", ["wheel in a venv", "cmake --install into the host's package"])
def test_type_checkers_find_nothing_in_a_typed_host(request, tmp_path, tmp_path_factory, wheel_venv,
                                                    checker, layout):
    # Run from the venv the wheel went into, as an editor runs them for a project.
    python = wheel_venv / "bin" / "python"
    script = tmp_path / "host_script.py"
    paths = [] if checker.endswith("no toolkit") else [HOST]
    if layout.startswith("cmake"):
        paths.insert(0, request.getfixturevalue("host_install"))
        script.write_text(TYPED_HOST + TYPED_HOST_PACKAGE)
    else:
        script.write_text(TYPED_HOST)
    # The stub itself is checked in strict mode too: errors in an installed
    # package are not reported, so a copy of it is a file of the project (with
    # the toolkit there: without it, the host's configuration is what is checked).
    stub = Path("stub", "explorerview.pyi")
    (tmp_path / "stub").mkdir()
    shutil.copy(ROOT / "src" / "explorerview.pyi", tmp_path / stub)
    checked = [script.name, stub][:2 if HOST in paths else 1]
    if checker.startswith("mypy"):
        (tmp_path / "mypy.ini").write_text(MYPY_CONFIG)
        done = subprocess.run(
            [python, "-m", "mypy", "--config-file", "mypy.ini", "--cache-dir",
             tmp_path_factory.getbasetemp() / f"{checker}-cache", *checked],
            cwd=tmp_path, capture_output=True, text=True,
            env=clean_environment(MYPYPATH=os.pathsep.join(map(str, paths))))
        assert done.returncode == 0 and done.stdout.startswith("Success: no issues"), done.stdout
    else:
        program = request.getfixturevalue("pyright")
        (tmp_path / "pyrightconfig.json").write_text(json.dumps({
            **PYRIGHT_CONFIG, "pythonVersion": "3.11",
            "include": [script.name, str(stub)], "extraPaths": [str(p) for p in paths]}))
        done = subprocess.run([program, "--outputjson", "--pythonpath", python],
                              cwd=tmp_path, capture_output=True, text=True, env=clean_environment())
        report = json.loads(done.stdout)
        assert report["summary"]["errorCount"] == 0, report["generalDiagnostics"]
        assert report["summary"]["filesAnalyzed"] == 2
