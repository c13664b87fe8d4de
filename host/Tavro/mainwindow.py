"""The demo host's main window: the explorer at the side, a file viewer beside it."""
import os
from contextlib import contextmanager
from pathlib import Path

from PyQt6.QtCore import QDeadlineTimer, QEventLoop, QFileSystemWatcher, Qt, QTimer
from PyQt6.QtGui import QAction, QKeySequence
from PyQt6.QtWidgets import (QApplication, QFileDialog, QMainWindow, QMessageBox,
                             QProgressDialog, QSplitter)

from . import errors, explorer, fileops
from .folders import FolderWatch
from .viewer import FileViewer

TITLE = "Tavro"
EXPOSE_MS = 2000   # longest wait for a window just shown to reach the screen


class MainWindow(QMainWindow):
    """Also the `ui` of commands_impl.HostCommands."""

    def __init__(self, services):
        super().__init__()
        self.services = services
        self.setWindowTitle(TITLE)
        self.resize(1100, 700)
        services.window.attach(self)
        services.workspace.onWorkingFolderChanged(self._folderChanged)

        self._panel, reason = explorer.load_panel()
        side = self._panel if self._panel is not None else explorer.placeholder(reason)
        self.folders = (FolderWatch(self, services, self._panel)
                        if self._panel is not None else None)
        self.viewer = FileViewer()
        # The viewer shows a file only while it is there: a change reloads it,
        # a deletion or a move away clears it.
        self._shownFile = QFileSystemWatcher(self)
        self._shownFile.fileChanged.connect(self._shownFileChanged)
        splitter = QSplitter(Qt.Orientation.Horizontal)
        splitter.addWidget(side)
        splitter.addWidget(self.viewer)
        splitter.setStretchFactor(1, 1)
        splitter.setSizes([320, 780])
        self.setCentralWidget(splitter)
        self._buildMenus()
        self.statusBar().showMessage("Ready")
        # Copy Path writes the clipboard itself and says nothing: the window
        # tells the user when the clipboard now holds the selected path.
        QApplication.clipboard().dataChanged.connect(self._clipboardChanged)

    def closeEvent(self, event):
        # A window closed while a folder loads takes its busy cursor with it.
        if self.folders is not None:
            self.folders.stop()
        super().closeEvent(event)

    def _buildMenus(self):
        menu = self.menuBar().addMenu("&File")
        open_folder = QAction("Open &Folder...", self)
        open_folder.setShortcut(QKeySequence.StandardKey.Open)
        open_folder.triggered.connect(lambda _checked=False: self.services.commands.execute("Nodra.openFolder"))
        menu.addAction(open_folder)
        menu.addSeparator()
        quit_action = QAction("&Quit", self)
        quit_action.setShortcut(QKeySequence.StandardKey.Quit)
        quit_action.triggered.connect(lambda _checked=False: self.close())
        menu.addAction(quit_action)

    def _clipboardChanged(self):
        text = QApplication.clipboard().text()
        if self._panel is None or not text:
            return
        if text in (str(path.absolute()) for path in self._panel.selection()[:1]):
            self.status(f"Copied path {text}.")

    def _folderChanged(self, folder):
        self.setWindowTitle(f"{folder.name or folder} - {TITLE}" if folder else TITLE)
        shown = self.viewer.path
        if shown is not None and (folder is None or not shown.is_relative_to(folder)):
            self._watchFile(None)
            self.viewer.clear()

    def _watchFile(self, path):
        if self._shownFile.files():
            self._shownFile.removePaths(self._shownFile.files())
        if path is not None:
            self._shownFile.addPath(str(path))

    def _shownFileChanged(self, name):
        path = self.viewer.path
        if path is None or str(path) != name:
            return
        if os.path.exists(path):
            self.showFile(fileops.read_for_viewer(path))   # and watch it again
        else:
            # Said in the viewer only: the status line keeps what the command
            # that moved or deleted it said.
            self._watchFile(None)
            self.viewer.showGone(path)

    # ------------------------------------------------------------ the ui of the commands

    def panel(self):
        return self._panel

    def askFolder(self, start):
        chosen = QFileDialog.getExistingDirectory(self, "Open Folder", str(start or Path.home()))
        return Path(chosen) if chosen else None

    def confirm(self, title, question):
        answer = QMessageBox.question(self, title, question)
        return answer == QMessageBox.StandardButton.Yes

    def openFolder(self, folder):
        """Show `folder` in the panel, saying what happens; the folder the panel
        shows afterwards, which the workspace then follows."""
        if self.folders is None:
            self.status(f"Opened {folder}.")
            return folder
        return self.folders.open(folder)

    def showFile(self, content):
        self.viewer.showContent(content)
        self._watchFile(content.path)

    def status(self, text, lasting=False):
        """A note in the status bar: for ten seconds, or until the next one."""
        self.statusBar().showMessage(errors.sentence(text), 0 if lasting else 10000)

    def paintNow(self):
        """Put what the window says on screen before a long step holds the GUI
        thread: a window just shown is first waited for (up to EXPOSE_MS)."""
        handle = self.windowHandle()
        if self.isVisible() and handle is not None and not handle.isExposed():
            loop = QEventLoop()
            deadline = QDeadlineTimer(EXPOSE_MS)
            poll = QTimer(interval=10)
            poll.timeout.connect(lambda: loop.quit() if handle.isExposed() or deadline.hasExpired()
                                 else None)
            poll.start()
            loop.exec(QEventLoop.ProcessEventsFlag.ExcludeUserInputEvents)
            poll.stop()
        QApplication.processEvents(QEventLoop.ProcessEventsFlag.ExcludeUserInputEvents)
        self.statusBar().repaint()

    @contextmanager
    def progress(self, title):
        """A progress callback for long work; the dialog appears only if it lasts."""
        dialog = None

        def report(done, total, path):
            nonlocal dialog
            if dialog is None:
                dialog = QProgressDialog(title, "Cancel", 0, max(total, 1), self)
                dialog.setWindowTitle(title)
                dialog.setWindowModality(Qt.WindowModality.WindowModal)
                dialog.setMinimumDuration(400)
                dialog.setAutoReset(False)
            dialog.setLabelText(f"{title}: {path.name}" if path is not None else title)
            dialog.setValue(done)   # lets the dialog paint and see Cancel
            return not dialog.wasCanceled()

        try:
            yield report
        finally:
            if dialog is not None:
                dialog.close()
                dialog.deleteLater()
