"""The demo host's main window: the explorer at the side, a file viewer beside it."""
from contextlib import contextmanager
from pathlib import Path

from PyQt6.QtCore import Qt
from PyQt6.QtGui import QAction, QKeySequence
from PyQt6.QtWidgets import (QApplication, QFileDialog, QMainWindow, QMessageBox,
                             QProgressDialog, QSplitter)

from . import errors, explorer
from .viewer import FileViewer

TITLE = "Tavro"


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
        self.viewer = FileViewer()
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

    # ------------------------------------------------------------ the ui of the commands

    def panel(self):
        return self._panel

    def askFolder(self, start):
        chosen = QFileDialog.getExistingDirectory(self, "Open Folder", str(start or Path.home()))
        return Path(chosen) if chosen else None

    def confirm(self, title, question):
        answer = QMessageBox.question(self, title, question)
        return answer == QMessageBox.StandardButton.Yes

    def showFile(self, content):
        self.viewer.showContent(content)

    def status(self, text):
        self.statusBar().showMessage(errors.sentence(text), 10000)

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
