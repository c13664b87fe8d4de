"""`python -m bench`: measure every case and print the one table.

make bench runs it with Debian's interpreter, offscreen, against $(BUILD).
"""
import argparse
import os
import platform
import shutil
import statistics
import sys
import tempfile

from . import comparison, demo_open, machinery, startup
from .table import Row, format_table

SIZES = (2_000, 20_000, 100_000)
DEMO_SIZE = 20_000   # entries of the folder the demo host opens


def _arguments():
    parser = argparse.ArgumentParser(prog="python -m bench", description=__doc__)
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)),
                        help="folder sizes to sort, comma-separated (default: %(default)s)")
    parser.add_argument("--rounds", type=int, default=0,
                        help="sorts per case and size (default: 15, 9 and 5 by size)")
    parser.add_argument("--marks", help="the callgrind marks library (built by make bench)")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="scale the operations counted under callgrind")
    parser.add_argument("--only", choices=["sort", "comparison", "machinery", "startup", "demo"],
                        action="append",
                        help="run only these parts (repeatable)")
    parser.add_argument("--strict", action="store_true",
                        help="exit with status 1 when a target is missed")
    return parser.parse_args()


def _default_rounds(size):
    return 15 if size <= 5_000 else 9 if size <= 50_000 else 5


def _progress(text):
    print(text, file=sys.stderr, flush=True)


def sort_rows(sizes, rounds):
    from PyQt6.QtWidgets import QApplication

    import Tavro_Workspace.explorerview as module

    from . import sort
    from .folders import Folders

    app = QApplication.instance() or QApplication([])
    rows = []
    folders = Folders()
    try:
        for size in sizes:
            _progress(f"sort: creating and loading {size:,} entries")
            timings, facts = sort.measure(folders.folder(size), rounds or _default_rounds(size),
                                          module.FolderFirstSortModel)
            rows += sort.rows(size, timings, facts)
    finally:
        folders.close()
    del app
    return rows


def machinery_rows(marks, scale):
    if not marks:
        return [], "machinery: skipped (no marks library; run through make bench)"
    if not shutil.which("valgrind") or not shutil.which("callgrind_annotate"):
        return [], "machinery: skipped (valgrind is not installed)"
    _progress("machinery: counting instructions under callgrind")
    with tempfile.TemporaryDirectory(prefix="explorerview-callgrind-") as folder:
        counts, loop = machinery.measure(marks, folder, scale)
    rows = []
    for index, case in enumerate(machinery.CASES):
        native, python = counts[index, machinery.NATIVE], counts[index, machinery.PYTHON]
        own = native.own / python.own
        note = f"per {case.per}; own part {native.own:,.0f} vs {python.own:,.0f} Ir ({own:.2f}×)"
        if case.loop_net:
            note += f"; net of a {loop:.0f} Ir loop step"
        rows.append(Row(case.name, [native.total], "Ir", case.reference,
                        native.total / python.total, case.target, note=note,
                        own=own, own_target=case.own_target))
        rows.append(Row(f"  {case.reference}", [python.total], "Ir"))
    return rows, None


COMPARISON_SIZE = 2_000  # entries of the folder sorted under callgrind
# One comparison against the Python class's. What the module cannot drop sets
# a floor of about 0.58×: the toolkit's call into a Python-level lessThan, the
# four reads of fsModel and the four look-ups Python makes, and Qt's own calls.
COMPARISON_TARGET = 0.66


def comparison_rows(marks):
    if not marks:
        return [], "comparison: skipped (no marks library; run through make bench)"
    if not shutil.which("valgrind") or not shutil.which("callgrind_annotate"):
        return [], "comparison: skipped (valgrind is not installed)"
    from .folders import Folders

    _progress(f"comparison: sorting {COMPARISON_SIZE:,} entries under callgrind")
    folders = Folders()
    try:
        with tempfile.TemporaryDirectory(prefix="explorerview-callgrind-") as folder:
            sorts, calls = comparison.measure(marks, folders.folder(COMPARISON_SIZE), folder)
    finally:
        folders.close()
    native, python, qt = (sorts[side] for side in (comparison.NATIVE, comparison.PYTHON, comparison.QT))
    label = f"one comparison, sort of {COMPARISON_SIZE:,}"
    return [
        Row(f"{label}: FolderFirstSortModel", [native / calls], "Ir", "Python class", native / python,
            COMPARISON_TARGET, note=f"{calls:,} comparisons per sort, the toolkit's sort included"),
        Row(f"{label}: Python class", [python / calls], "Ir"),
        Row(f"sort of {COMPARISON_SIZE:,}: QSortFilterProxyModel", [qt], "Ir", "Python class", qt / python,
            note="the whole sort: the toolkit's own C++ comparison"),
    ], None


def startup_rows():
    _progress("start-up: module exec, one panel, memory of 100 panels")
    rows = []
    execs = startup.module_exec(11)
    rows.append(Row("module exec", execs["native"], "s", "Python module",
                    statistics.median(_ratios(execs["native"], execs["python"])), limit=5e-3))
    rows.append(Row("  Python module (unmarshal + exec)", execs["python"], "s"))
    built = startup.construction(21)
    rows.append(Row("ExplorerView()", built["native"], "s", "Python class",
                    statistics.median(_ratios(built["native"], built["python"])), limit=30e-3))
    rows.append(Row("  Python class", built["python"], "s"))
    memory = startup.memory(100)
    for key, title in (("rss", "resident"), ("python", "Python objects")):
        native, python = memory["native"][key], memory["python"][key]
        ratio = statistics.median(native) / statistics.median(python)
        rows.append(Row(f"memory per panel, {title}", native, "B", "Python class", ratio, 1.05,
                        note="of 100 panels"))
        rows.append(Row("  Python class", python, "B"))
    return rows


def demo_rows(size, rounds=5):
    """The demo host's open of a folder: not the module's case, the toolkit's."""
    from .folders import Folders

    _progress(f"demo: the demo host opening {size:,} entries, {rounds} times")
    folders = Folders()
    try:
        runs = demo_open.measure(folders.folder(size), rounds)
    finally:
        folders.close()
    gui = [run["gui"] for run in runs]
    provider = [run["provider on the gui"] for run in runs]
    calls = statistics.median(run["provider calls"] for run in runs)
    return [
        Row(f"demo host: open {size:,} entries", gui, "s",
            note="CPU of the GUI thread, until the window is idle"),
        Row("  of which the icon provider", provider, "s", "the open",
            statistics.median(_ratios(provider, gui)), note=f"{calls:,.0f} calls (icons, type names)"),
    ]


def _ratios(case, reference):
    return [a / b for a, b in zip(case, reference)]


def main():
    arguments = _arguments()
    parts = arguments.only or ["sort", "comparison", "machinery", "startup", "demo"]
    rows, notes = [], []
    if "sort" in parts:
        sizes = [int(size) for size in arguments.sizes.split(",") if size]
        rows += sort_rows(sizes, arguments.rounds)
    if "comparison" in parts:
        more, note = comparison_rows(arguments.marks)
        rows += more
        notes += [note] if note else []
    if "machinery" in parts:
        more, note = machinery_rows(arguments.marks, arguments.scale)
        rows += more
        notes += [note] if note else []
    if "startup" in parts:
        rows += startup_rows()
    if "demo" in parts:
        rows += demo_rows(DEMO_SIZE)
    from PyQt6.QtCore import QT_VERSION_STR, PYQT_VERSION_STR

    print(f"explorerview benchmarks: Python {platform.python_version()}, Qt {QT_VERSION_STR}, "
          f"PyQt {PYQT_VERSION_STR}, {os.cpu_count()} CPUs, {platform.machine()}")
    print(format_table(rows))
    for note in notes:
        print(note)
    missed = [row.case for row in rows if row.met is False]
    if missed:
        print("targets missed: " + "; ".join(missed))
    return 1 if missed and arguments.strict else 0


if __name__ == "__main__":
    sys.exit(main())
