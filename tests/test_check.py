"""The host check that ships with the module: the demo's host meets every point,
and a host broken in one place is told about that place, in a line of its own.

Each broken host is a copy of host/ with one piece of its source changed; each
check runs in a process of its own, as an IDE builder runs it.
"""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
PYTHON = "/usr/bin/python3.11"
CHECK = "Tavro_Workspace.explorerview_check"


def run_check(host, tmp_path, *options):
    """The check's (exit status, stdout lines), run on `host` from `tmp_path`;
    its temporary folder is made in tmp_path/tmp, which must be empty again after."""
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    build = Path(__import__("Tavro_Workspace.explorerview").explorerview.__file__).parents[1]
    env = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "QT_QPA_PLATFORM")}
    env.update(PYTHONPATH=str(build), TMPDIR=str(scratch))
    done = subprocess.run([PYTHON, "-m", CHECK, "--path", str(host), *options], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=120)
    assert list(scratch.iterdir()) == [], "the check left files behind"
    return done.returncode, done.stdout.splitlines(), done.stderr


def test_the_demo_host_meets_every_point(tmp_path):
    host = tmp_path / "host"
    shutil.copytree(ROOT / "host", host)
    status, lines, stderr = run_check(host, tmp_path)
    assert (status, len(lines)) == (0, 1), "\n".join(lines) + stderr
    assert lines[0].startswith("host meets the panel's contract: ")
    # Nothing written beside the host's sources, bytecode included.
    assert sorted(p.relative_to(host) for p in host.rglob("*")) == \
        sorted(p.relative_to(ROOT / "host") for p in (ROOT / "host").rglob("*") if "__pycache__" not in p.parts)


# (what is broken: [(file under host/, text, replacement)], lines the check must print)
BROKEN = {
    "QAction passes checked": (
        [("Kelpa/actions.py", "connect_without_arguments(self.triggered, triggered)",
          "self.triggered.connect(triggered)")],
        ["Kelpa.QAction calls triggered with 1 argument; the panel's callables take none"]),
    "a command raises": (
        [("Tavro/services.py", "        handler = self._handlers.get(id)\n",
          "        if id == 'Nodra.newFile':\n            raise FileExistsError(id)\n"
          "        handler = self._handlers.get(id)\n")],
        ["tavro.commands.execute raised FileExistsError for Nodra.newFile;"]),
    "the model's own drop": (
        [("Kelpa/models.py", "ropMimeData(self, data, action, row, column, parent):",
          "ropMimeData_unused(self, data, action, row, column, parent):")],
        ["a drop changed the disk without a host command (project/docs/dropped.txt)"]),
    "window-wide shortcuts": (
        [("Kelpa/actions.py", "            self.setShortcutContext(Qt.ShortcutContext.WidgetWithChildrenShortcut)\n",
          "")],
        ["the Delete shortcut (Del) fires outside the panel",
         "the Copy shortcut (Ctrl+C) does not fire in the panel's tree when a second panel is open"]),
    "QVBox returns a widget": (
        [("Kelpa/layout.py", "    return box\n", "    holder = QWidget()\n    holder.setLayout(box)\n    return holder\n")],
        ["Kelpa.QVBox returns a QWidget; the panel hands it to setLayout, which takes a layout"]),
    "then(text)": (
        [("Tavro/services.py", "result = then(value, ok)", "result = then(value)")],
        ["tavro.window.showTextInputBox calls then with 1 argument; the panel's callbacks take (text, ok)"]),
    "setRootPath returns None": (
        [("Kelpa/models.py", "        return super().setRootPath(path)", "        super().setRootPath(path)")],
        ["Kelpa.QFileSystemModel.setRootPath returns None; expected the root's QModelIndex"]),
    "a delegate nobody keeps": (
        [("Kelpa/scrolling.py", "super().__init__(view)", "super().__init__()")],
        ["Kelpa.QScrollDelegate(view) is freed once the caller drops it;"]),
    "a name left out of __all__": (
        [("Kelpa/__init__.py", '"QModelIndex", ', "")],
        ["Kelpa does not list QModelIndex in __all__"]),
    "two names missing": (
        [("Kelpa/__init__.py", "from .menus import QRoundMenu\n", ""),
         ("Kelpa/__init__.py", "import QDir, ", "import ")],
        ["Kelpa has no QRoundMenu", "Kelpa has no QDir"]),
}


@pytest.mark.parametrize("patches, expected", BROKEN.values(), ids=BROKEN.keys())
def test_a_broken_host_is_told_what_it_misses(tmp_path, patches, expected):
    host = tmp_path / "host"
    shutil.copytree(ROOT / "host", host)
    for name, text, replacement in patches:
        source = (host / name).read_text()
        assert text in source, f"{name} no longer holds {text!r}"
        (host / name).write_text(source.replace(text, replacement))
    status, lines, stderr = run_check(host, tmp_path)
    assert status == 1, "\n".join(lines) + stderr
    for line in expected:
        assert any(found.startswith(line) for found in lines), f"{line!r} not in:\n" + "\n".join(lines)
    assert lines[-1].endswith(" points unmet") and lines[-1].startswith(f"{len(lines) - 1} of ")


@pytest.mark.parametrize("options, status, says", [
    (["--help"], 0, "--path DIR"),
    (["--path", "no such folder"], 2, "not a folder"),
    (["--frobnicate"], 2, "unrecognized arguments"),
])
def test_usage(tmp_path, options, status, says):
    done = subprocess.run([PYTHON, "-m", CHECK, *options], cwd=tmp_path, capture_output=True, text=True,
                          env={**os.environ, "TMPDIR": str(tmp_path)})
    assert done.returncode == status
    assert says in done.stdout + done.stderr
