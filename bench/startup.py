"""Start-up: executing the module, building one panel, and a panel's memory.

Each measurement runs in a fresh interpreter (the module loads once per
process), with the toolkit and the services already imported, so that only the
module's own work is timed. The reference is the same plug-in in Python
(bench/reference.py), its module body loaded from bytecode and executed, as an
installed plug-in with its bytecode cache would be (reading the file is left
out on both sides).
"""
import json
import os
import subprocess
import sys

NATIVE, PYTHON = "native", "python"

_PRELUDE = """
import gc, os.path, pathlib, sys, time, typing
import PyQt6.QtCore, PyQt6.QtGui, PyQt6.QtWidgets
import Kelpa, Tavro
"""

# Module exec alone: the loader has found and loaded the library (or the code
# is compiled); what is timed is only what runs when the module body executes.
_EXEC = _PRELUDE + """
import importlib.util, types
side = sys.argv[1]
if side == "native":
    spec = importlib.util.find_spec("Tavro_Workspace.explorerview")
    module = importlib.util.module_from_spec(spec)
    start = time.perf_counter()
    spec.loader.exec_module(module)
else:
    import bench
    path = os.path.join(os.path.dirname(bench.__file__), "reference.py")
    import marshal
    with open(path) as source:
        cached = marshal.dumps(compile(source.read(), path, "exec"))
    module = types.ModuleType("reference")
    start = time.perf_counter()
    exec(marshal.loads(cached), module.__dict__)
print(time.perf_counter() - start)
"""

# One panel's construction, both sides alternating in one process after one
# warm-up panel each (the first panel of a process also pays for Qt's styles,
# fonts and icons).
_CONSTRUCT = _PRELUDE + """
import json
from PyQt6.QtWidgets import QApplication
app = QApplication([])
import Tavro_Workspace.explorerview as native
import bench.reference as python
rounds = int(sys.argv[1])
classes = {"native": native.ExplorerView, "python": python.ExplorerView}
kept = [cls() for cls in classes.values()]
times = {side: [] for side in classes}
for number in range(rounds):
    for side in (classes if number % 2 == 0 else reversed(list(classes))):
        start = time.perf_counter()
        panel = classes[side]()
        times[side].append(time.perf_counter() - start)
        kept.append(panel)
print(json.dumps(times))
"""

# Memory of `count` more panels of one side, in a process of its own: growth
# of the resident set (Qt's C++ objects included) and of Python's allocations.
_MEMORY = _PRELUDE + """
import json, tracemalloc
from PyQt6.QtWidgets import QApplication
app = QApplication([])
side, count = sys.argv[1], int(sys.argv[2])
if side == "native":
    import Tavro_Workspace.explorerview as module
else:
    import bench.reference as module
def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
panels = [module.ExplorerView()]
gc.collect()
tracemalloc.start()
before_rss, before_py = rss(), tracemalloc.get_traced_memory()[0]
panels += [module.ExplorerView() for _ in range(count)]
gc.collect()
after_py, after_rss = tracemalloc.get_traced_memory()[0], rss()
grown = {"rss": after_rss - before_rss, "python": after_py - before_py}
print(json.dumps({key: value / count for key, value in grown.items()}))
"""


def _run(script, *arguments):
    done = subprocess.run([sys.executable, "-c", script, *map(str, arguments)],
                          capture_output=True, text=True, cwd=_root())
    if done.returncode:
        raise RuntimeError(f"start-up measurement failed:\n{done.stderr[-3000:]}")
    return done.stdout.strip().splitlines()[-1]


def _root():
    return os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def module_exec(runs):
    """Seconds per module exec, {side: [runs]}, the sides alternating."""
    times = {NATIVE: [], PYTHON: []}
    for number in range(runs):
        for side in (NATIVE, PYTHON) if number % 2 == 0 else (PYTHON, NATIVE):
            times[side].append(float(_run(_EXEC, side)))
    return times


def construction(rounds):
    """Seconds per ExplorerView(), {side: [rounds]}, from one process."""
    return json.loads(_run(_CONSTRUCT, rounds))


def memory(count, runs=3):
    """Bytes per panel, {side: {"rss": [...], "python": [...]}}."""
    result = {side: {"rss": [], "python": []} for side in (NATIVE, PYTHON)}
    for _ in range(runs):
        for side in (NATIVE, PYTHON):
            measured = json.loads(_run(_MEMORY, side, count))
            for key, value in measured.items():
                result[side][key].append(value)
    return result
