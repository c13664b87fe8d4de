"""What one comparison of a real sort costs, counted in instructions under callgrind.

A file system model reads a real folder and settles; the native class and the
Python class then each sort it once and twice between callgrind marks (the
toolkit's own C++ comparison, `QSortFilterProxyModel`, too, as the floor).
The difference is one sort: the toolkit's sort itself, its call of lessThan
for every pair and the comparisons, divided here by the number of
comparisons the Python class makes (the native class makes the same ones).

`python -m bench.comparison MARKS FOLDER OUT` is the process that valgrind
runs; the parent (`measure`) starts it and reads the dumps back.
"""
import ctypes
import gc
import os
import sys

from . import machinery, reference
from .folders import load_model

NATIVE, PYTHON, QT = "native", "python", "qt"


def _sort(proxy):
    proxy.sort(-1)  # otherwise sort(0) finds the order already set and does nothing
    proxy.sort(0)


def child(marks_library, path, out):
    """Sort the folder at `path` under marks (inside valgrind); write the
    number of comparisons to the file `out`. Without a marks library the
    sorts run unmarked: a check that they run."""
    from PyQt6.QtWidgets import QApplication

    import Tavro_Workspace.explorerview as module
    from Kelpa import QFileSystemModel, QSortFilterProxyModel

    from .sort import CountingSortModel, _comparisons

    app = QApplication.instance() or QApplication([])
    model, folder = load_model(QFileSystemModel, path)
    qt = QSortFilterProxyModel()
    qt.setSourceModel(model)
    proxies = {NATIVE: module.FolderFirstSortModel(model), PYTHON: reference.FolderFirstSortModel(model),
               QT: qt}
    with open(out, "w") as written:
        written.write(str(_comparisons(folder, CountingSortModel(model))))
    marks = ctypes.CDLL(marks_library) if marks_library else machinery._NoMarks()
    marks.cgmark_start()
    for side, proxy in proxies.items():
        proxy.rowCount(proxy.mapFromSource(folder))
        _sort(proxy)  # warm-up
        gc.collect()
        gc.disable()
        for count in (1, 2):
            marks.cgmark_zero()
            for _ in range(count):
                _sort(proxy)
            marks.cgmark_dump(f"sort|{side}|{count}".encode())
        gc.enable()
    del app


def measure(marks_library, path, folder):
    """({side: instructions of one sort}, comparisons per sort)."""
    out = os.path.join(folder, "comparisons")
    dumps = machinery.run_under_callgrind(folder, ["bench.comparison", marks_library, path, out])
    sorts = {side: sum(machinery.per_operation(dumps, "sort", side).values())
             for side in (NATIVE, PYTHON, QT)}
    with open(out) as written:
        return sorts, int(written.read())


if __name__ == "__main__":
    child(sys.argv[1], sys.argv[2], sys.argv[3])
