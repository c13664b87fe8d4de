"""Checks that a host's toolkit and services give the explorer panel what it needs.

    /usr/bin/python3.11 -m Tavro_Workspace.explorerview_check [--path DIR]... [--show]

Run it with the host's `Kelpa` and `Tavro` importable: on PYTHONPATH, or in
the folders that --path names. It first looks for every name the panel imports,
then tries each toolkit piece on its own, then builds panels in a window of its
own and drives every action, button, menu, prompt and shortcut, and a drop.
Everything happens in a temporary folder, which is also the current folder
while it runs and is removed afterwards: the host's commands only ever see
paths inside it. Each point the host misses is one line on stdout that names
the piece and what the panel expects of it; the last line sums up. Exit status:
0 when every point is met, 1 when one is not, 2 for a usage error.
"""
import argparse
import gc
import os
import shutil
import sys
import tempfile
import time
import weakref
from pathlib import Path

# Every name the panel binds from the toolkit when it is imported.
TOOLKIT_NAMES = (
    "QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu", "QHSpacer",
    "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE", "QApplication", "QVLine",
    "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir", "QAbstractItemView",
    "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer", "QPoint", "QSortFilterProxyModel",
    "QClipboard")
# What the panel calls on the services object: (attribute of tavro, method).
SERVICES = (("commands", "execute"), ("window", "showErrorMessage"),
            ("window", "showTextInputBox"), ("window", "registerToolBar"),
            ("workspace", "workingFolder"))
ICON_NAMES = ("add", "text", "folder", "locate", "expandAll", "collapseAll", "copy", "paste")
ABORTS = "under PyQt that aborts the process unless sys.excepthook is set"
WAIT = 3.0      # seconds for what must happen (rows read, a prompt answered)
SETTLE = 0.15   # seconds for what must not happen to show itself


class Unmet(Exception):
    """A point the host misses; its text is the line reported."""


def describe(exc):
    text = str(exc).strip().splitlines()
    return f"{type(exc).__name__}: {text[0]}" if text else type(exc).__name__


def plural(number, noun):
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


class Findings:
    """The points checked and the lines of those unmet, each line once, printed
    as it is found: a host that crashes the process still leaves what came before."""

    def __init__(self):
        self.points = 0
        self.lines = []

    def check(self, met, line):
        self.points += 1
        if not met and line not in self.lines:
            self.lines.append(line)
            print(line, flush=True)
        return met

    def probe(self, name, attempt):
        """One point: `attempt()` returns, raising Unmet (its line) or another error."""
        try:
            attempt()
        except Unmet as unmet:
            return self.check(False, str(unmet))
        except Exception as exc:
            return self.check(False, f"{name} raised {describe(exc)}")
        return self.check(True, "")


def wait_until(done, seconds=WAIT):
    """Let Qt run until `done()` is true or `seconds` have passed; `done()`'s last value."""
    from PyQt6.QtTest import QTest
    deadline = time.monotonic() + seconds
    while not (result := done()) and time.monotonic() < deadline:
        QTest.qWait(10)
    return result


def settle():
    wait_until(lambda: False, SETTLE)


# ------------------------------------------------------------------ names

def check_names(findings):
    """(Kelpa, tavro) when every name the panel imports is there, else None.
    Every missing name is reported, not just the first the import would stop at."""
    try:
        import Kelpa
    except Exception as exc:
        findings.check(False, f"Kelpa cannot be imported: {describe(exc)}")
        return None
    missing = [name for name in TOOLKIT_NAMES if not hasattr(Kelpa, name)]
    for name in TOOLKIT_NAMES:
        findings.check(name not in missing, f"Kelpa has no {name}")
    # Type checkers in strict mode take a package's names as exported only when listed.
    listed = getattr(Kelpa, "__all__", None)
    if listed is None:
        findings.check(False, "Kelpa has no __all__; strict type checkers then take none of "
                              "its names as exported (list the 26 the panel imports)")
    else:
        for name in TOOLKIT_NAMES:
            findings.check(name in listed, f"Kelpa does not list {name} in __all__")
    try:
        from Tavro import tavro
    except Exception as exc:
        findings.check(False, f"tavro cannot be imported from Tavro: {describe(exc)}")
        return None
    services_met = True
    for part, method in SERVICES:
        services_met &= findings.check(callable(getattr(getattr(tavro, part, None), method, None)),
                                       f"tavro.{part} has no method {method}")
    return (Kelpa, tavro) if not missing and services_met else None


# ------------------------------------------------------------------ toolkit pieces on their own

def expect_called_once_without_arguments(name, received, when):
    if not received:
        raise Unmet(f"{name} never calls triggered {when}")
    arguments = max(len(call) for call in received)
    if arguments:
        raise Unmet(f"{name} calls triggered with {plural(arguments, 'argument')}; "
                    "the panel's callables take none")
    if len(received) > 1:
        raise Unmet(f"{name} calls triggered {len(received)} times {when}; once expected")


def check_toolkit(K, folder, findings):
    """Each piece of the toolkit tried the way the panel uses it."""
    from PyQt6.QtCore import QPoint
    from PyQt6.QtWidgets import QApplication, QLayout, QMenu, QWidget

    def recorder(received):
        return lambda *args, **kwargs: received.append((*args, *kwargs.values()))

    def action():
        received = []
        probe = K.QAction("Probe", icon="add", shortcut="Ctrl+C", triggered=recorder(received))
        probe.trigger()
        settle()
        expect_called_once_without_arguments("Kelpa.QAction", received, "when the action triggers")

    def button():
        received = []
        probe = K.QPushButton("Probe", triggered=recorder(received))
        probe.click()
        settle()
        expect_called_once_without_arguments("Kelpa.QPushButton", received, "when it is clicked")

    def icons():
        refused = []
        for name in ICON_NAMES:
            try:
                K.QAction("Probe", icon=name)
            except Exception:
                refused.append(name)
        if refused:
            raise Unmet(f"Kelpa.QAction refuses the icon names {', '.join(refused)}; "
                        f"the panel names its icons {', '.join(ICON_NAMES)}")

    def key_sequence():
        K.QAction("Probe", shortcut=K.QKeySequence("Delete"))

    def vbox():
        box = K.QVBox(K.QLabel("Probe"), K.QHSpacer(), K.QVSpacer(), K.QVLine(),
                      margins=K.MARGIN_LARGE, spacing=0)
        if not isinstance(box, QLayout):
            raise Unmet(f"Kelpa.QVBox returns a {type(box).__name__}; the panel hands it to "
                        "setLayout, which takes a layout")
        holder = QWidget()
        holder.setLayout(box)
        if box.count() != 4:
            raise Unmet(f"Kelpa.QVBox holds {box.count()} of the 4 widgets and spacers given")
        if box.spacing() != 0:
            raise Unmet(f"Kelpa.QVBox(spacing=0) leaves the spacing at {box.spacing()}")

    def stacked():
        pages = QWidget(), QWidget()
        stack = K.QStacked(*pages)
        stack.setCurrentWidget(pages[1])
        if stack.currentWidget() is not pages[1]:
            raise Unmet("Kelpa.QStacked(*pages): currentWidget() is not the page given to "
                        "setCurrentWidget")

    def toolbar():
        holder = QWidget()
        bar = K.QViewToolBar(holder)
        bar.setObjectName("probe-toolbar")
        probe = K.QAction("Probe", icon="add")
        for item in (K.QLabel("Probe"), K.QHSpacer(), K.QVLine(), probe):
            bar.addItem(item)
        bar.setEnabled(False)
        bar.setEnabled(True)
        if not isinstance(bar.widgetForAction(probe), QWidget):
            raise Unmet("Kelpa.QViewToolBar.widgetForAction gives no widget for an action given "
                        "to addItem; the panel opens its New menu under that widget")

    def menu():
        menu = K.QRoundMenu("Probe", id="probe-menu")
        sub = K.QRoundMenu(id="probe-sub-menu")
        menu.addSections(["first", "second"])
        first, second = K.QAction("First"), K.QAction("Second")
        sub.addActions([second])
        menu.addAction(first, "second")
        menu.addMenu(sub, "first")
        shown = menu.actions()
        if first not in shown or sub.menuAction() not in shown:
            raise Unmet("Kelpa.QRoundMenu does not show what addAction(action, section) and "
                        "addMenu(menu, section) add")
        if shown.index(sub.menuAction()) > shown.index(first):
            raise Unmet("Kelpa.QRoundMenu shows its sections out of the order addSections gives")
        if second not in sub.actions():
            raise Unmet("Kelpa.QRoundMenu.addActions does not show the actions given")
        for opening in ("popup", "show"):
            getattr(menu, opening)(QPoint(20, 20))
            opened = wait_until(lambda: isinstance(QApplication.activePopupWidget(), QMenu))
            menu.hide()
            if not opened:
                raise Unmet(f"Kelpa.QRoundMenu.{opening}(point) opens no menu")

    def model():
        model = K.QFileSystemModel()
        root = model.setRootPath(str(folder))
        if not isinstance(root, K.QModelIndex):
            raise Unmet(f"Kelpa.QFileSystemModel.setRootPath returns "
                        f"{'None' if root is None else type(root).__name__}; "
                        "expected the root's QModelIndex")
        try:
            model.setRootPath(str(folder / "missing"))
        except FileNotFoundError:
            pass
        else:
            raise Unmet("Kelpa.QFileSystemModel.setRootPath takes a missing folder without "
                        "raising FileNotFoundError; the panel says why only on that")
        locked = folder.parent / "locked"
        locked.mkdir(mode=0)
        if not os.access(locked, os.R_OK):   # root reads every folder: nothing to learn there
            try:
                model.setRootPath(str(locked))
            except PermissionError:
                pass
            else:
                raise Unmet("Kelpa.QFileSystemModel.setRootPath takes an unreadable folder "
                            "without raising PermissionError; the panel says why only on that")

    def scroll_delegate():
        view = K.QTreeView()
        delegate = K.QScrollDelegate(view)
        try:
            reference = weakref.ref(delegate)
        except TypeError:
            return
        del delegate
        gc.collect()
        if reference() is None:
            raise Unmet("Kelpa.QScrollDelegate(view) is freed once the caller drops it; the "
                        "panel keeps no reference, so it must keep itself alive (the view's child)")

    def plugin_widget():
        for base in (K.QWidget, K.QTreeView):
            probe = type("ProbeWidget", (K.QPluginWidget, base), {})(None)
            probe.setObjectName("probe")   # fails when the Qt base was never initialised

    for name, attempt in (("Kelpa.QAction(text, icon=, shortcut=, triggered=)", action),
                          ("Kelpa.QPushButton(text, triggered=)", button),
                          ("Kelpa.QAction(icon=name)", icons),
                          ("Kelpa.QAction(shortcut=QKeySequence)", key_sequence),
                          ("Kelpa.QVBox(*items, margins=MARGIN_LARGE, spacing=0)", vbox),
                          ("Kelpa.QStacked(*pages)", stacked),
                          ("Kelpa.QViewToolBar", toolbar),
                          ("Kelpa.QRoundMenu", menu),
                          ("Kelpa.QFileSystemModel.setRootPath", model),
                          ("Kelpa.QScrollDelegate(view)", scroll_delegate),
                          ("Kelpa.QPluginWidget as the first base", plugin_widget)):
        findings.probe(name, attempt)


# ------------------------------------------------------------------ the services, observed

class Prompt:
    def __init__(self, label, text, then):
        self.label, self.text, self.then = label, text, then
        self.calls = []          # the arguments `then` was called with
        self.dialog = None       # the dialog the check answered, if one showed


class Observer:
    """Sits between the panel and the services object: records the commands run
    and the prompts shown, answers the prompts' dialogs, and turns what the host
    lets escape into findings."""

    def __init__(self, tavro, findings):
        self.tavro = tavro
        self.findings = findings
        self.commands = []       # (id, args) of each command run
        self.prompts = []
        self.answer = None       # text for the next prompt; None cancels it
        self.step = "starting"   # what the check is doing, for escaped exceptions
        self.escapes = set()     # the steps something escaped from
        self._restore = []
        self._replace(tavro.commands, "execute", self._execute)
        self._replace(tavro.window, "showTextInputBox", self._showTextInputBox)

    def _replace(self, owner, name, replacement):
        original = getattr(owner, name)
        had_own = name in getattr(owner, "__dict__", {})
        setattr(owner, name, replacement)
        self._restore.append((owner, name, had_own, original))
        setattr(self, f"_original_{name}", original)

    def restore(self):
        for owner, name, had_own, original in reversed(self._restore):
            if had_own:
                setattr(owner, name, original)
            else:
                delattr(owner, name)

    def escaped(self, exc_type, exc, tb):
        """sys.excepthook: PyQt hands it what escapes a slot instead of aborting."""
        self.escapes.add(self.step)
        self.findings.check(False, f"{self.step}: {describe(exc)} escaped into Qt; {ABORTS}")

    def _execute(self, id, *args):
        self.commands.append((id, args))
        with _Dismissing():
            try:
                return self._original_execute(id, *args)
            except Exception as exc:
                # Caught here so that one line names it, and the check goes on.
                self.findings.check(False, f"tavro.commands.execute raised {type(exc).__name__} "
                                           f"for {id}; it reaches the panel's slot, and {ABORTS}")
                return None

    def _showTextInputBox(self, label, text, *args, then, **kwargs):
        prompt = Prompt(label, text, then)
        self.prompts.append(prompt)

        def observed_then(*call_args, **call_kwargs):
            prompt.calls.append((*call_args, *call_kwargs.values()))
            return then(*call_args, **call_kwargs)

        from PyQt6.QtCore import QTimer
        from PyQt6.QtWidgets import QApplication
        shown_before = {id(w) for w in QApplication.topLevelWidgets() if w.isVisible()}
        # A timer answers the dialog: a host whose prompt blocks answers only from its own loop.
        QTimer.singleShot(0, lambda: self._answer(prompt, self.answer, shown_before, 100))
        return self._original_showTextInputBox(label, text, *args, then=observed_then, **kwargs)

    def _answer(self, prompt, answer, shown_before, tries):
        from PyQt6.QtCore import Qt, QTimer
        from PyQt6.QtTest import QTest
        from PyQt6.QtWidgets import QApplication, QDialog, QInputDialog, QLineEdit
        if prompt.calls:
            return
        for widget in QApplication.topLevelWidgets():
            edit = widget.findChild(QLineEdit)
            if id(widget) in shown_before or not widget.isVisible() or edit is None:
                continue
            prompt.dialog = widget
            if answer is None:
                widget.reject() if isinstance(widget, QDialog) else widget.close()
                return
            if isinstance(widget, QInputDialog):
                widget.setTextValue(answer)
            edit.setText(answer)
            if isinstance(widget, QDialog):
                widget.accept()
            else:
                QTest.keyClick(edit, Qt.Key.Key_Return)
            return
        if tries:
            QTimer.singleShot(20, lambda: self._answer(prompt, answer, shown_before, tries - 1))

    def prompted(self, since, answer):
        """Judge the prompt the last step showed; True when the panel's callback
        ran with the answer confirmed, so that the command it runs can be judged."""
        prompt = self.prompts[since]
        if not wait_until(lambda: prompt.calls):
            self.findings.check(False, (
                "tavro.window.showTextInputBox does not call then once its dialog is confirmed"
                if prompt.dialog is not None else
                "tavro.window.showTextInputBox shows no dialog with a text field the check could "
                "answer, and does not call then"))
            prompt.then(answer, True)   # on with the command, as if the user had answered
            return True
        args = prompt.calls[0]
        if len(args) != 2:
            return self.findings.check(False, (
                f"tavro.window.showTextInputBox calls then with {plural(len(args), 'argument')}; "
                "the panel's callbacks take (text, ok)"))
        return self.findings.check(args[0] == answer and bool(args[1]), (
            f"tavro.window.showTextInputBox calls then{tuple(args)!r} once {answer!r} is "
            f"confirmed; expected ({answer!r}, True)"))


class _Dismissing:
    """While a host command runs: closes any modal dialog it opens (a question
    is answered No, a file dialog cancelled), so that no command waits for a
    person who is not there."""

    def __enter__(self):
        from PyQt6.QtCore import QTimer
        from PyQt6.QtWidgets import QApplication, QDialog
        self.timer = QTimer()
        self.timer.setInterval(50)

        def dismiss():
            modal = QApplication.activeModalWidget()
            if isinstance(modal, QDialog):
                modal.reject()

        self.timer.timeout.connect(dismiss)
        self.timer.start()

    def __exit__(self, *exc):
        self.timer.stop()


# ------------------------------------------------------------------ the panel, driven

def action_name(action):
    return action.text().replace("&&", "\0").replace("&", "").replace("\0", "&")


def shown(folder, value):
    """A command's argument as a line shows it: paths relative to the check's folder."""
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(shown(folder, v) for v in value) + "]"
    if isinstance(value, os.PathLike):
        try:
            return str(Path(value).relative_to(folder))
        except ValueError:
            return str(value)
    return repr(value)


class Drive:
    """A window with a panel and another list, then a second panel: every action,
    button, menu, prompt and shortcut of the first, and a drop on its tree."""

    def __init__(self, K, tavro, module, base, findings, observer):
        self.K, self.tavro, self.findings, self.observer = K, tavro, findings, observer
        self.module = module
        self.base = base                      # the check's folder
        self.project = base / "project"       # the working folder

    def run(self):
        """Each part in turn; one that the panel's own call fails stops the drive,
        since the parts after it rely on it."""
        from PyQt6.QtWidgets import QHBoxLayout, QWidget
        self.window = QWidget()
        self.window.setWindowTitle("explorerview check")
        self.layout = QHBoxLayout(self.window)
        for part in (self.build, self.open_folder_button, self.open_folder, self.actions,
                     self.menus, self.keys_outside, self.keys_beside_a_second_panel, self.drop):
            try:
                if part() is False:
                    return
            except Exception as exc:
                self.findings.check(False, f"{self.observer.step} raised {describe(exc)}")
                return

    def build(self):
        from PyQt6.QtTest import QTest
        from PyQt6.QtWidgets import QListWidget
        self.observer.step = "ExplorerView()"
        self.panel = self.module.ExplorerView()
        self.tree = self.panel._fileSystemView
        # Another list of the IDE's window: a text field would take Delete,
        # Ctrl+C and Ctrl+V for itself whatever the panel's keys do.
        self.other = QListWidget()
        self.other.addItems(["another list", "of the window"])
        self.other.setCurrentRow(0)
        self.layout.addWidget(self.panel)
        self.layout.addWidget(self.other)
        self.window.show()
        QTest.qWaitForWindowActive(self.window)

    def open_folder(self):
        self.set_working_folder(self.panel)
        return self.findings.check(self.select("notes.txt"),
                                   "the panel's tree shows no rows of its working folder "
                                   "(Kelpa.QFileSystemModel, Kelpa.QTreeView)")

    def expect(self, met, line):
        """A point of the running step; where something escaped from that step,
        its line already says why the rest went wrong."""
        if self.observer.step in self.observer.escapes:
            return met
        return self.findings.check(met, line)

    def path(self, name):
        return self.project / name if name else None

    def select(self, *names, panel=None):
        panel = panel or self.panel
        paths = [self.path(name) for name in names]
        return wait_until(lambda: panel.select(paths) or panel.selection() == paths)

    def command(self, what, run, id, *args, answer=None):
        """Run `what`; the command it must run is (id, *args)."""
        self.observer.step = what
        before, prompts = len(self.observer.commands), len(self.observer.prompts)
        self.observer.answer = answer
        run()
        if answer is not None:
            if len(self.observer.prompts) == prompts:
                return self.expect(False, f"{what} asked nothing; expected a prompt through "
                                          "tavro.window.showTextInputBox")
            if not self.observer.prompted(prompts, answer):
                return False
        ran = wait_until(lambda: self.observer.commands[before:], SETTLE)
        expected = f"{id}({shown(self.base, list(args))[1:-1]})"
        got = ", ".join(f"{i}({shown(self.base, list(a))[1:-1]})" for i, a in ran) or "no command"
        return self.expect((id, tuple(args)) in ran, f"{what} ran {got}; expected {expected}")

    def open_folder_button(self):
        from PyQt6.QtWidgets import QAbstractButton
        buttons = [b for b in self.panel.findChildren(QAbstractButton) if "Open Folder" in b.text()]
        if self.expect(bool(buttons), "the panel shows no Open Folder button while no "
                                              "folder is open (Kelpa.QStacked, Kelpa.QPushButton)"):
            self.command("the Open Folder button", buttons[0].click, "Nodra.openFolder")

    def set_working_folder(self, panel):
        self.observer.step = "ExplorerView.setWorkingFolder(folder)"
        panel.setWorkingFolder(self.project)
        workspace = self.tavro.workspace
        if callable(getattr(workspace, "setWorkingFolder", None)):
            workspace.setWorkingFolder(self.project)
        folder = workspace.workingFolder()
        self.expect(isinstance(folder, Path), (
            f"tavro.workspace.workingFolder() returns {type(folder).__name__} once "
            f"{self.project} is open; the panel joins names to it as a Path (New with "
            "nothing selected)"))

    def actions(self):
        from PyQt6.QtWidgets import QApplication
        panel, notes = self.panel, self.path("notes.txt")
        self.select("notes.txt")
        index = self.tree.currentIndex()
        self.command("a double click on a file", lambda: self.tree.doubleClicked.emit(index),
                     "Nodra.openFile", notes)
        self.command("Select Opened File", panel._selectOpenedFileAction.trigger,
                     "Nodra.selectOpenedFile")
        self.command("Copy", panel._copyAction.trigger, "Nodra.copyFiles", [notes])
        self.command("Delete", panel._deleteAction.trigger, "Nodra.deleteFiles", [notes])
        clipboard = QApplication.clipboard()
        kept = clipboard.text()
        self.observer.step = "Copy Path"
        panel._copyPathAction.trigger()
        self.expect(wait_until(lambda: clipboard.text() == str(notes)),
                            "Copy Path does not put the selected path on the clipboard "
                            "(Kelpa.QApplication.clipboard, Kelpa.QClipboard)")
        clipboard.setText(kept)
        self.select("src")
        self.command("Paste", panel._pasteAction.trigger, "Nodra.pasteFiles", self.path("src"),
                     answer=str(self.path("src")))
        self.command("New ▸ File", panel._newFileAction.trigger, "Nodra.newFile",
                     self.path("src") / "new.txt", answer="new.txt")
        self.select()
        self.command("New ▸ Folder", panel._newFolderAction.trigger, "Nodra.newFolder",
                     self.path("new folder"), answer="new folder")
        self.select("src")
        src = self.tree.currentIndex()
        self.observer.step = "Expand Selected"
        panel._expandSelectedAction.trigger()
        self.expect(wait_until(lambda: self.tree.isExpanded(src)),
                            "Expand Selected leaves the selected folder closed "
                            "(Kelpa.QTreeView.expandRecursively)")
        self.observer.step = "Collapse all"
        panel._collapseAllAction.trigger()
        self.expect(wait_until(lambda: not self.tree.isExpanded(src)),
                            "Collapse all leaves a folder open (Kelpa.QTreeView.collapseAll)")

    def menus(self):
        from PyQt6.QtCore import QPoint
        from PyQt6.QtWidgets import QApplication, QMenu
        expected = {"context menu": ["File", "Folder", "Copy", "Copy Path", "Paste", "Delete"],
                    "New menu": ["File", "Folder"]}
        self.select("notes.txt")
        for name, open_it in (
                ("context menu", lambda: self.tree.customContextMenuRequested.emit(QPoint(5, 5))),
                ("New menu", self.panel._newFileOrFolderAction.trigger)):
            self.observer.step = f"opening the {name}"
            open_it()
            menu = wait_until(lambda: QApplication.activePopupWidget())
            if not self.expect(isinstance(menu, QMenu),
                                       f"the panel's {name} does not open "
                                       "(Kelpa.QRoundMenu's popup and show)"):
                continue
            texts = set()
            for entry in menu.actions():
                texts.add(action_name(entry))
                texts.update(action_name(a) for a in (entry.menu().actions() if entry.menu() else []))
            missing = [text for text in expected[name] if text not in texts]
            self.expect(not missing, f"the panel's {name} does not show "
                                             f"{', '.join(missing)} (Kelpa.QRoundMenu)")
            menu.hide()

    def keys_outside(self):
        """No key of the panel acts while another list of the window has the focus."""
        self.watch_keys(self.panel)
        for action, press in self.keys(self.panel):
            press(self.other)
            self.findings.check(not self.fired[action],
                                f"the {self.key_name(action)} fires outside the panel")

    def keys_beside_a_second_panel(self):
        """Each key acts in the panel's tree, once, and only on that panel's
        selection, while a second panel sits in the same window."""
        self.observer.step = "a second ExplorerView()"
        second = self.module.ExplorerView()
        self.layout.addWidget(second)
        self.set_working_folder(second)
        self.select("notes.txt", panel=second)
        self.watch_keys(second)
        for action, press in self.keys(self.panel):
            press(self.tree)
            twin = getattr(second, next(a for a, v in vars(self.panel).items() if v is action))
            self.findings.check(self.fired[action] == 1 and not self.fired[twin],
                                f"the {self.key_name(action)} does not fire in the "
                                "panel's tree when a second panel is open")

    def watch_keys(self, panel):
        """Count each trigger of the panel's actions that have a shortcut."""
        self.fired = getattr(self, "fired", {})
        for action in vars(panel).values():
            if isinstance(action, self.K.QAction) and not action.shortcut().isEmpty():
                self.fired[action] = 0
                action.triggered.connect(lambda *_, action=action: self.fired.__setitem__(
                    action, self.fired[action] + 1))

    @staticmethod
    def key_name(action):
        return f"{action_name(action)} shortcut ({action.shortcut().toString()})"

    def keys(self, panel):
        """(action, press) for each action of `panel` with a shortcut: press(widget)
        types its key into that widget, with the counts set to nothing fired."""
        from PyQt6.QtTest import QTest
        self.select("notes.txt")

        def press(action, widget):
            self.observer.step = f"the {action.shortcut().toString()} key"
            self.observer.answer = None   # a prompt the key opens is cancelled
            for counted in self.fired:
                self.fired[counted] = 0
            # A prompt or menu shown before took the focus: keys go to the active window only.
            self.window.activateWindow()
            QTest.qWaitForWindowActive(self.window)
            widget.setFocus()
            combination = action.shortcut()[0]
            QTest.keyClick(widget, combination.key(), combination.keyboardModifiers())
            settle()

        actions = [a for a in vars(panel).values() if a in self.fired]
        return [(a, lambda widget, a=a: press(a, widget))
                for a in sorted(actions, key=action_name)]

    def drop(self):
        """Files dropped on a folder of the tree: any change to disk is a host command."""
        from PyQt6.QtCore import QMimeData, Qt, QUrl
        dropped = self.base / "outside" / "dropped.txt"
        before, commands = snapshot(self.base), len(self.observer.commands)
        self.select("docs")
        target = self.tree.currentIndex()
        data = QMimeData()
        data.setUrls([QUrl.fromLocalFile(str(dropped))])
        model = self.tree.model()
        self.observer.step = "a drop"
        for action in (Qt.DropAction.CopyAction, Qt.DropAction.MoveAction):
            if model.canDropMimeData(data, action, -1, -1, target):
                model.dropMimeData(data, action, -1, -1, target)
        settle()
        changed = sorted({str(Path(path).relative_to(self.base))
                          for path, _ in set(before.items()) ^ set(snapshot(self.base).items())})
        self.findings.check(not changed or len(self.observer.commands) > commands,
                            "a drop changed the disk without a host command "
                            f"({', '.join(changed)}); route drops through a "
                            "command or refuse them")

    def close(self):
        if hasattr(self, "window"):
            self.window.close()
            self.window.deleteLater()
            settle()


def snapshot(folder):
    """{path: (size, modification time)} of everything under `folder`."""
    found = {}
    for parent, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(parent, name)
            try:
                status = os.lstat(path)
            except OSError:
                continue
            # A folder's own time changes with what it holds: its name is enough.
            found[path] = None if os.path.isdir(path) else (status.st_size, status.st_mtime_ns)
    return found


# ------------------------------------------------------------------ the command

def make_folders(base):
    project = base / "project"
    for folder in (project / "src", project / "docs", base / "outside"):
        folder.mkdir(parents=True)
    for file in (project / "notes.txt", project / "src" / "main.py", base / "outside" / "dropped.txt"):
        file.write_text("explorerview check\n")
    return project


def check_host(base, findings):
    """All the points, in the order that lets each rely on the ones before."""
    found = check_names(findings)
    if found is None:
        return
    K, tavro = found
    from PyQt6.QtWidgets import QApplication
    # Held until the end: widgets outliving their application crash the process.
    app = QApplication.instance() or K.QApplication([sys.argv[0]])
    observer = Observer(tavro, findings)
    previous_hook, sys.excepthook = sys.excepthook, observer.escaped
    drive = None
    try:
        observer.step = "trying the toolkit's pieces"
        check_toolkit(K, make_folders(base), findings)
        observer.step = "importing Tavro_Workspace.explorerview"
        try:
            from Tavro_Workspace import explorerview
        except Exception as exc:
            package = sys.modules.get("Tavro_Workspace")
            hint = (f"; {package.__file__} makes Tavro_Workspace a regular package that hides "
                    "the module: extend its __path__ (pkgutil.extend_path)"
                    if getattr(package, "__file__", None) else "")
            findings.check(False, f"Tavro_Workspace.explorerview cannot be imported: "
                                  f"{describe(exc)}{hint}")
            return
        drive = Drive(K, tavro, explorerview, base, findings, observer)
        drive.run()
    finally:
        if drive is not None:
            drive.close()
        sys.excepthook = previous_hook
        observer.restore()
        app.processEvents()


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="python3.11 -m Tavro_Workspace.explorerview_check",
        description="Check that the host's Kelpa toolkit and Tavro services give the explorer "
                    "panel what it needs: one line per unmet point, exit status 0 when all "
                    "are met, 1 when not. The host's commands run against files in a temporary "
                    "folder of the check's own, which is removed afterwards.")
    parser.add_argument("--path", metavar="DIR", action="append", default=[], type=Path,
                        help="a folder that holds Kelpa, Tavro or both (repeatable); searched "
                             "before PYTHONPATH")
    parser.add_argument("--show", action="store_true",
                        help="show the window on the display instead of drawing it offscreen")
    options = parser.parse_args(argv)
    for folder in options.path:
        if not folder.is_dir():
            parser.error(f"--path {folder}: not a folder")
    return options


def main(argv=None):
    options = parse(argv)
    if not options.show:
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
    sys.path[:0] = [str(folder.resolve()) for folder in options.path]
    sys.dont_write_bytecode = True      # nothing written beside the host's sources
    base = Path(tempfile.mkdtemp(prefix="explorerview-check-")).resolve()
    # What the host's services write for the user (trash, settings, caches) stays here too.
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        os.environ[name] = str(base / "home" / name.lower())
    # Qt makes one in the temporary folder when none is set; a set one (a
    # display's sockets live there) is left as it is.
    if not os.environ.get("XDG_RUNTIME_DIR"):
        runtime = base / "home" / "runtime"
        runtime.mkdir(mode=0o700, parents=True)
        os.environ["XDG_RUNTIME_DIR"] = str(runtime)
    started = os.getcwd()
    os.chdir(base)
    findings = Findings()
    try:
        check_host(base, findings)
    finally:
        os.chdir(started)
        shutil.rmtree(base, ignore_errors=True)
    if findings.lines:
        print(f"{len(findings.lines)} of {findings.points} points unmet")
        return 1
    print(f"host meets the panel's contract: {findings.points} checks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
