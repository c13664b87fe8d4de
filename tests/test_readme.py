"""The README's commands, run as a reader would type them.

Every `make` command, in a block or inline, must parse and name real targets
(`make -n`), and the tests it selects with ARGS must exist. Shell lines that
run Python or cmake and every Python block that uses the project run for real;
any other shell line must parse and name an installed program. The mypy and
pyright set-ups run as the README gives them, with the README's commands.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
TEXT = (REPO / "README.md").read_text()
FENCE = re.compile(r"^```(\w*)\n(.*?)^```", re.M | re.S)
ASSIGNMENT = re.compile(r"^\w+=")
# Making a venv, installing into it and building the wheel compile the module a
# minute each: tests/test_build.py does them once per run in a temporary folder.
PACKAGING = re.compile(r"-m (venv|pip install|build)\b")
# The type checkers' commands run on a script of their own: test_type_checker_runs_as_written.
CHECKS = re.compile(r"-m mypy\b|^npx ")


def _blocks(language):
    return [body for lang, body in FENCE.findall(TEXT) if lang == language]


def _shell_lines():
    """(command, session input, expected output) for each command of the sh blocks.

    A command followed by `>>>` lines is an interpreter session: those lines are
    its input and the other lines what it prints."""
    found = []
    for body in _blocks("sh"):
        in_session = False
        for line in body.splitlines():
            if line.startswith(">>> "):
                in_session = True
                found[-1][1].append(line[4:])
            elif in_session and line.strip():
                found[-1][2].append(line)
            elif line.strip() and not line.startswith("#"):
                found.append((re.sub(r"\s+#.*$", "", line).strip(), [], []))
    return found


def _make_commands():
    inline = re.findall(r"`(make(?: [^`]*)?)`", FENCE.sub("", TEXT))
    fenced = [command for command, _, _ in _shell_lines() if command.split()[0] == "make"]
    return sorted(set(fenced + inline))


def _program(command):
    words = shlex.split(command)
    while words and ASSIGNMENT.match(words[0]):
        words.pop(0)
    return words[0]


def _environment(**extra):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("MAKEFLAGS", "MAKELEVEL", "DISPLAY", "WAYLAND_DISPLAY")}
    environment.update(QT_QPA_PLATFORM="offscreen", **extra)
    return environment


@pytest.fixture
def built():
    """The README runs the module from build/: skip while that holds none."""
    if not list((REPO / "build" / "Tavro_Workspace").glob("explorerview*.so")):
        pytest.skip("no module in build/ (make build)")


def test_the_readme_has_commands_of_each_kind():
    assert {"make demo", "make test", "make asan", "make fuzz", "make valgrind"} <= {
        " ".join(command.split()[:2]) for command in _make_commands()}
    assert _blocks("python") and any(session for _, session, _ in _shell_lines())


def test_the_readme_says_which_python_pip_builds_for():
    requires = re.search(r'^requires-python = "(.*)"$', (REPO / "pyproject.toml").read_text(), re.M)[1]
    assert f"`Requires-Python: {requires}`" in TEXT


@pytest.mark.parametrize("command", _make_commands())
def test_make_command_parses_and_selects_tests(command):
    dry = subprocess.run(["bash", "-c", "make -n " + command[len("make"):]], cwd=REPO,
                         env=_environment(), capture_output=True, text=True, timeout=120)
    assert dry.returncode == 0, dry.stderr
    words = shlex.split(command)
    args = [w[len("ARGS="):] for w in words if w.startswith("ARGS=")]
    if args and words[1] in ("test", "asan"):
        collected = subprocess.run([sys.executable, "-m", "pytest", "--collect-only", "-q",
                                    *shlex.split(args[0])], cwd=REPO, env=_environment(),
                                   capture_output=True, text=True, timeout=300)
        assert collected.returncode == 0, f"{command} selects no test:\n{collected.stdout}"


@pytest.mark.parametrize("command, session, output", [
    pytest.param(*line, id=line[0]) for line in _shell_lines()
    if _program(line[0]) != "make" and not CHECKS.search(line[0])])
def test_shell_command_works(built, tmp_path, command, session, output):
    command = re.sub(r"\bDIR\b", shlex.quote(str(tmp_path / "prefix")), command)
    if PACKAGING.search(command) or not re.search(r"python|cmake", _program(command)):
        assert PACKAGING.search(command) or shutil.which(_program(command)), \
            f"{_program(command)} is not installed"
        assert subprocess.run(["bash", "-n", "-c", command]).returncode == 0
        return
    run = subprocess.run(["bash", "-c", command + (" -i" if session else "")], cwd=REPO,
                         input="".join(f"{line}\n" for line in session),
                         # HOME: an interactive session writes its history there
                         env=_environment(TAVRO_SCREENSHOT=str(tmp_path / "shot.png"),
                                          HOME=str(tmp_path)),
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0 and "Traceback" not in run.stderr, run.stderr
    assert [line for line in output if line not in run.stdout] == []


@pytest.mark.parametrize("number", range(len(_blocks("python"))))
def test_python_block_runs(built, tmp_path, number):
    code = _blocks("python")[number]
    compile(code, f"README python block {number + 1}", "exec")
    if not re.search(r"^(from|import) (Tavro|Kelpa)", code, re.M):
        return   # a fragment of some other program: it has to parse, no more
    script = tmp_path / "block.py"
    script.write_text(code)
    # From a folder of its own: an example holds wherever it is run.
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path,
                         env=_environment(PYTHONPATH=os.pathsep.join([str(REPO / "build"), str(REPO / "host")])),
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr


# The README names this project's folder, the venv pip installs into and
# pyright's folder by placeholders.
PROJECT_PLACEHOLDER = "/path/to/explorerview"
VENV_PLACEHOLDER = "~/venvs/ide"
PYRIGHT_PLACEHOLDER = "~/tools/pyright"
# The build folder in a configuration's search path, which the README says to
# leave out when the panel is pip-installed.
BUILD_ENTRY = re.compile(r'[:,] *"?/path/to/explorerview/build"?')
# Host code calling into the untyped services and toolkit, which strict mode
# takes as they are.
HOST_CALLS = """
from Kelpa import QVBox
from Tavro import tavro


def opened(path: Path) -> None:
    tavro.window.showErrorMessage(f"opened {path}")


tavro.commands.register("Nodra.openFile", opened)
QVBox(panel)
print(tavro.workspace.workingFolder())
"""
CHECKERS = {
    # checker: (configuration block, its file, what picks the checker's command lines)
    "mypy": ("ini", "mypy.ini", lambda command: " -m mypy " in command),
    "pyright": ("json", "pyrightconfig.json", lambda command: _program(command) == "npx"),
}
# Each layout by the interpreter its command names.
LAYOUTS = {"make build": "/usr/bin/python3.11", "pip install": f"{VENV_PLACEHOLDER}/bin/python"}


@pytest.mark.parametrize("misspelt", [False, True], ids=["correct code passes", "a misspelt method is an error"])
@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("checker", CHECKERS)
def test_type_checker_runs_as_written(request, built, tmp_path, tmp_path_factory, checker, layout, misspelt):
    language, config_file, picks = CHECKERS[checker]
    [config] = _blocks(language)
    [command] = [command for command, _, _ in _shell_lines()
                 if picks(command) and LAYOUTS[layout] in shlex.split(command)]
    if layout == "pip install":
        config, left_out = BUILD_ENTRY.subn("", config)
        assert left_out == 1, f"the README's {config_file} names no build folder to leave out"
        venv = request.getfixturevalue("wheel_venv")
        command = command.replace(VENV_PLACEHOLDER, str(venv))
    if checker == "pyright":
        command = command.replace(PYRIGHT_PLACEHOLDER, str(request.getfixturevalue("pyright").parents[2]))
    *command, script = shlex.split(command)
    code = _blocks("python")[0].replace("panel.setWorkingFolder(None)", HOST_CALLS)
    if misspelt:
        code = code.replace("panel.setWorkingFolder(project)", "panel.setWorkingFoldr(project)")
    (tmp_path / config_file).write_text(config.replace(PROJECT_PLACEHOLDER, str(REPO)))
    (tmp_path / script).write_text(code)
    # From an empty folder, with none of the search paths the README does not
    # set; mypy's cache, outside it, is shared by the runs of one layout.
    environment = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    environment["MYPY_CACHE_DIR"] = str(tmp_path_factory.getbasetemp() / f"mypy-cache-{layout}")
    run = subprocess.run(command + [script], cwd=tmp_path, env=environment,
                         capture_output=True, text=True, timeout=600)
    errors = [line for line in run.stdout.splitlines() if re.search(r"\berror:", line)]
    if not misspelt:
        assert run.returncode == 0 and not errors, run.stdout + run.stderr
    elif checker == "mypy":
        assert run.returncode == 1 and re.search(
            r'has no attribute "setWorkingFoldr".*\[attr-defined\]', run.stdout), run.stdout
        assert "Found 1 error" in run.stdout, run.stdout
    else:
        # An error of its own, not only "unknown": the panel's type is known.
        assert run.returncode == 1 and 'Cannot access attribute "setWorkingFoldr" for class "ExplorerView"' \
            in run.stdout, run.stdout
        assert all("setWorkingFoldr" in line for line in errors), run.stdout
