"""The read-only viewer for files opened from the explorer."""
import html

from PyQt6.QtCore import Qt
from PyQt6.QtGui import QFontDatabase
from PyQt6.QtWidgets import QLabel, QPlainTextEdit, QStackedWidget, QVBoxLayout, QWidget


class FileViewer(QWidget):
    """A title line with the file's path above its text, or a message instead."""

    def __init__(self, parent=None):
        super().__init__(parent)
        self.path = None   # the file shown, if any
        self.title = QLabel()
        self.title.setTextInteractionFlags(Qt.TextInteractionFlag.TextSelectableByMouse)
        self.title.setContentsMargins(6, 4, 6, 4)
        self.note = QLabel()
        self.note.setWordWrap(True)
        self.note.setContentsMargins(6, 0, 6, 4)
        self.note.hide()
        self.text = QPlainTextEdit()
        self.text.setReadOnly(True)
        self.text.setLineWrapMode(QPlainTextEdit.LineWrapMode.NoWrap)
        self.text.setFont(QFontDatabase.systemFont(QFontDatabase.SystemFont.FixedFont))
        self.message = QLabel()
        self.message.setWordWrap(True)
        self.message.setAlignment(Qt.AlignmentFlag.AlignCenter)
        self.pages = QStackedWidget()
        self.pages.addWidget(self.message)
        self.pages.addWidget(self.text)
        layout = QVBoxLayout(self)
        layout.setContentsMargins(0, 0, 0, 0)
        layout.setSpacing(0)
        for widget in (self.title, self.note, self.pages):
            layout.addWidget(widget)
        self.clear()

    def clear(self):
        self.path = None
        self.title.setText("No file open")
        self._showMessage("Double-click a file in the explorer to view it here.")

    def showGone(self, path):
        """Stop showing `path`, which was deleted or moved away."""
        self.clear()
        self._showMessage(f"{path} was deleted or moved.\n\n"
                          "Double-click a file in the explorer to view it here.")

    def showContent(self, content):
        """Show a fileops.FileContent: its text, or the reason it has none."""
        self.path = content.path
        self.title.setText(f"<b>{html.escape(content.path.name)}</b> &nbsp; "
                           f"{html.escape(str(content.path.parent))}")
        if content.text is None:
            self._showMessage(content.message or "")
            return
        self.note.setText(content.message or "")
        self.note.setVisible(bool(content.message))
        self.text.setPlainText(content.text)
        self.pages.setCurrentWidget(self.text)

    def _showMessage(self, text):
        self.note.hide()
        self.text.clear()
        self.message.setText(text)
        self.pages.setCurrentWidget(self.message)
