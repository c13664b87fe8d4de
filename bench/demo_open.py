"""The demo host opening a large folder: CPU time of the GUI thread.

This measures the demo host (the toolkit and services stand-ins with the
module's panel), not the module: a person opening a folder waits for the GUI
thread, and most of its work there is the toolkit's (reading rows, sorting
them, file icons and type names), so the case is kept apart from the module's.

Each open runs in a fresh interpreter, as `python -m Tavro FOLDER` does it:
the main window, the host commands, the panel set to the folder and shown,
until every entry is a row of the tree and the window has had nothing left to
do for a second. The toolkit's icon provider (file icons and type names) is
counted apart: its calls and the CPU time they take on the GUI thread.
"""
import json
import os
import subprocess
import sys

# After the last row arrived, the window keeps working (the model's own
# sort, painting); this long a wait with no work left ends the measurement.
_SETTLE_S = 1.0

_OPEN = """
import json, os, sys, threading, time
from pathlib import Path
from PyQt6.QtCore import QEventLoop, QTimer
from PyQt6.QtWidgets import QApplication

folder, settle, timeout = Path(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
app = QApplication(sys.argv[:1])
import Kelpa.models
from Kelpa.fileicons import NameOnlyIconProvider
from Kelpa.icons import use_theme
from Tavro import tavro
from Tavro.commands_impl import HostCommands
from Tavro.mainwindow import MainWindow

# The provider's calls, and the CPU time they take on the thread that makes them.
gui_thread = threading.get_ident()
spent = {"calls": 0, "gui": 0.0, "other": 0.0}
def counted(method):
    def call(self, *args):
        start = time.thread_time()
        try:
            return method(self, *args)
        finally:
            spent["calls"] += 1
            spent["gui" if threading.get_ident() == gui_thread else "other"] += time.thread_time() - start
    return call
class Counted(NameOnlyIconProvider):
    icon = counted(NameOnlyIconProvider.icon)
    type = counted(NameOnlyIconProvider.type)
Kelpa.models._icon_provider = Counted()

use_theme()
window = MainWindow(tavro)
commands = HostCommands(tavro, window).register()
expected = len(os.listdir(folder))
started_cpu = time.thread_time()
commands.setWorkingFolder(folder)
window.show()
view = window.panel()._fileSystemView
loop = QEventLoop()
idle = QTimer(singleShot=True)
idle.setInterval(int(settle * 1000))
idle.timeout.connect(loop.quit)
def check():
    if not idle.isActive() and view.model().rowCount(view.rootIndex()) == expected:
        idle.start()
def busy(*_):             # the model's later sorts and batches start the wait again
    if idle.isActive():
        idle.start()
poll = QTimer()
poll.timeout.connect(check)
poll.start(20)
view.fsmodel.layoutChanged.connect(busy)
view.model().rowsInserted.connect(busy)
give_up = QTimer(singleShot=True)
give_up.timeout.connect(lambda: (print("timed out", file=sys.stderr, flush=True), os._exit(1)))
give_up.start(int(timeout * 1000))
loop.exec()
# The idle wait at the end costs the thread no CPU time.
print(json.dumps({"gui": time.thread_time() - started_cpu, "provider calls": spent["calls"],
                  "provider on the gui": spent["gui"], "provider elsewhere": spent["other"],
                  "rows": view.model().rowCount(view.rootIndex())}))
"""


def open_once(folder, settle=_SETTLE_S, timeout=300):
    """One open of `folder` in a fresh interpreter: the GUI thread's CPU seconds
    ("gui"), the icon provider's calls and its CPU seconds on the GUI thread and
    on others, and the rows shown."""
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    done = subprocess.run([sys.executable, "-c", _OPEN, str(folder), str(settle), str(timeout)],
                          capture_output=True, text=True, env=environment, timeout=timeout + 60)
    if done.returncode != 0:
        raise RuntimeError(f"the demo's open of {folder} failed:\n{done.stderr}")
    return json.loads(done.stdout.splitlines()[-1])


def measure(folder, rounds, settle=_SETTLE_S):
    """`rounds` opens of `folder`, each in a fresh interpreter."""
    return [open_once(folder, settle) for _ in range(rounds)]
