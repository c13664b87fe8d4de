"""The panel driven in a window of the check's own, as a person would use it."""
from pathlib import Path

from .findings import SETTLE, action_name, describe, settle, shown, wait_until
from .folders import snapshot
from .keys import Keys


class Drive(Keys):
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
