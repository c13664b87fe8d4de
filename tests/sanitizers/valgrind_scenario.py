"""What `make valgrind` runs under memcheck: a panel on a real folder, a
selection, every action and both menus, every prompt answered, the handled
and unhandled errors, and the panel dropped at the end.

Not a test (pytest does not collect it): run_valgrind.py starts it. It prints
"scenario complete" as its last line when every step ran.
"""
import gc
import os
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

from PyQt6.QtCore import QCoreApplication, QEvent, QEventLoop, QPoint, QTimer  # noqa: E402
from PyQt6.QtWidgets import QApplication  # noqa: E402

app = QApplication([])

import Tavro_Workspace.explorerview as ev  # noqa: E402
from conftest import TavroDouble, make_tree  # noqa: E402

# Memcheck runs some 50 times slower: the waits below are generous and end
# early on the signal they wait for.
PATIENCE_MS = 120000


def wait_for(signal, start, check=lambda *args: True):
    """start(), then run the event loop until `signal` comes with arguments that pass `check`."""
    loop = QEventLoop()

    def done(*args):
        if check(*args):
            loop.quit()

    signal.connect(done)
    start()
    QTimer.singleShot(PATIENCE_MS, loop.quit)
    loop.exec()
    signal.disconnect(done)


def settle():
    for _ in range(3):
        popup = QApplication.activePopupWidget()
        if popup is not None:
            popup.close()
        QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete.value)
        QCoreApplication.processEvents()
        gc.collect()


def expect_error(kind, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except kind:
        return
    raise AssertionError(f"{call!r} did not raise {kind.__name__}")


def main():
    base = Path(tempfile.mkdtemp(prefix="explorerview-valgrind-"))
    root = make_tree(base / "tree", ["a.txt", "B.txt", "sub/c.txt", "sub/inner/d.txt", "empty/", ".hidden"])
    double = TavroDouble()
    double.workspace.folder = root
    ev.tavro = double

    panel = ev.ExplorerView()
    panel.resize(300, 400)
    panel.show()
    model = panel._fileSystemView.fsmodel
    # The rows are sorted by lessThan as they arrive.
    wait_for(model.directoryLoaded, lambda: panel.setWorkingFolder(root),
             lambda loaded: os.path.realpath(loaded) == os.path.realpath(root))
    settle()
    view = panel._fileSystemView

    panel.select([root / "sub", root / "a.txt", root / "missing", str(root / "B.txt")])
    assert root / "a.txt" in panel.selection()
    view.setCurrentIndex(view.sortModel.mapFromSource(model.index(str(root / "sub"))))
    panel._expandSelected()
    panel._fsItemDoubleClicked(view.sortModel.mapFromSource(model.index(str(root / "a.txt"))))
    panel._showContextMenu(QPoint(5, 5))
    settle()
    panel._showNewFileMenu()
    settle()

    for name in ("_newFileOrFolderAction", "_newFileAction", "_newFolderAction", "_selectOpenedFileAction",
                 "_expandSelectedAction", "_collapseAllAction", "_copyAction", "_copyPathAction",
                 "_pasteAction", "_deleteAction"):
        getattr(panel, name).trigger()
        settle()
    panel._noFolderOpenedPage._openFolderButton.click()
    # Answer the prompts the actions opened: new file, new folder, paste.
    answers = {"File name": ("new.txt", True), "Folder name": ("newdir", False),
               "Copy to": (str(root / "sub"), True)}
    for label, _ in double.prompts():
        double.answer_prompt(*answers[label])
    panel._pasteFiles()
    double.answer_prompt(str(root / "a.txt"), True)  # not a folder: the message
    panel._copyPathOfSelection()

    # Errors the module raises itself and errors it lets through.
    expect_error(TypeError, panel.select, (root,))
    expect_error(TypeError, panel.workingFolder, 1)
    expect_error(TypeError, ev.ExplorerView.select, panel, path=[])
    panel.setWorkingFolder(root / "missing")  # "Directory not found."
    lessThan = view.sortModel.lessThan
    lessThan(model.index(str(root / "a.txt")), model.index(str(root / "sub")))
    expect_error(TypeError, lessThan, None, None)
    double.commands.execute = None
    expect_error(TypeError, panel._fsItemDoubleClicked,
                 view.sortModel.mapFromSource(model.index(str(root / "a.txt"))))
    del double.commands.execute

    panel.setWorkingFolder(None)
    assert panel.workingFolder() is None
    assert len(double.executed()) >= 5 and double.errors()
    panel.close()
    panel = view = model = lessThan = None  # drop them, then let Qt and the collector free them
    settle()
    print("scenario complete")


if __name__ == "__main__":
    main()
