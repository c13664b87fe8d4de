"""Real folders for the sort benchmark, and waiting until a model has read them.

A folder holds about one sub-folder in ten and names in mixed case, so that the
folder-first rule and the case-insensitive comparison both decide comparisons.
The folders are built once per run and shared by every case that sorts them.
"""
import os
import random
import shutil
import tempfile

from PyQt6.QtCore import QDir, QEventLoop, QTimer

# Syllables for names that look like a project's files: mixed case, some with a
# leading underscore or dot, digits inside, a handful of extensions.
_SYLLABLES = ["ka", "Lo", "mi", "Tre", "sun", "Vax", "or", "Pel", "qu", "ZEN", "do", "ri"]
_EXTENSIONS = [".py", ".txt", ".md", ".json", ".cpp", ".H", ".png", ""]
_PREFIXES = ["", "", "", "", "", "", "_", "."]


def entry_names(count, seed):
    """`count` distinct (name, is_folder) pairs; about 10 % are folders."""
    rng = random.Random(seed)
    names = []
    for i in range(count):
        stem = "".join(rng.choice(_SYLLABLES) for _ in range(rng.randint(1, 3)))
        stem = rng.choice(_PREFIXES) + stem + str(i)
        is_folder = rng.random() < 0.1
        names.append((stem if is_folder else stem + rng.choice(_EXTENSIONS), is_folder))
    return names


def make_folder(root, count, seed=8):
    """Create `root/entries-<count>` filled with `count` entries; return its path."""
    path = os.path.join(root, f"entries-{count}")
    os.mkdir(path)
    for name, is_folder in entry_names(count, seed):
        target = os.path.join(path, name)
        if is_folder:
            os.mkdir(target)
        else:
            with open(target, "wb"):
                pass
    return path


class Folders:
    """The benchmark's folders under one temporary root, removed by close()."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="explorerview-bench-")
        self._made = {}

    def folder(self, count):
        if count not in self._made:
            self._made[count] = make_folder(self.root, count)
        return self._made[count]

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def wait_until(condition, signals, timeout):
    """Run the event loop until `condition()` holds, re-checking on each signal.

    Raises TimeoutError after `timeout` seconds; never sleeps.
    """
    if condition():
        return
    loop = QEventLoop()
    timed_out = []

    def check(*_):
        if condition():
            loop.quit()

    def give_up():
        timed_out.append(True)
        loop.quit()

    # The model also settles through timers of its own; poll now and then too.
    poll = QTimer()
    poll.setInterval(50)
    poll.timeout.connect(check)
    poll.start()
    for signal in signals:
        signal.connect(check)
    QTimer.singleShot(int(timeout * 1000), give_up)
    try:
        loop.exec()
    finally:
        poll.stop()
        for signal in signals:
            signal.disconnect(check)
    if timed_out and not condition():
        raise TimeoutError(f"the folder was not loaded after {timeout} s")


def load_model(model_class, path, timeout=180):
    """A file system model rooted at `path`, settled: every entry is a row, and
    the model has sorted its rows itself since the last ones arrived.

    The model sorts its rows on a timer after each batch; waiting for that sort
    makes the order a proxy sorts from the same in every run (it is the order
    a panel's proxy re-sorts from, too).
    """
    expected = len(os.listdir(path))
    model = model_class()
    # As the panel's tree configures it: hidden entries are shown too.
    model.setFilter(QDir.Filter.AllEntries | QDir.Filter.NoSymLinks
                    | QDir.Filter.NoDotAndDotDot | QDir.Filter.Hidden)
    events = []
    rows_arrived = lambda *_: events.append("rows")  # noqa: E731
    sorted_itself = lambda *_: events.append("sorted")  # noqa: E731
    model.rowsInserted.connect(rows_arrived)
    model.layoutChanged.connect(sorted_itself)
    model.setRootPath(path)

    def ready():
        index = model.index(path)
        return model.rowCount(index) == expected and events[-1:] == ["sorted"]

    try:
        wait_until(ready, [model.rowsInserted, model.layoutChanged], timeout)
    finally:
        model.rowsInserted.disconnect(rows_arrived)
        model.layoutChanged.disconnect(sorted_itself)
    return model, model.index(path)
