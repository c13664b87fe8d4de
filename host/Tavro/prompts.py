"""The non-blocking one-line text prompt behind `window.showTextInputBox`."""
from PyQt6.QtCore import Qt
from PyQt6.QtWidgets import QDialog, QInputDialog, QLineEdit

from . import errors

# Dialogs still open: a prompt without a parent window has no other owner.
_open_prompts = set()


MIN_WIDTH = 420        # pixels of the text box for a short text
SCREEN_SHARE = 0.8     # of the screen's width, at most, for a long one


def _fit_text(dialog, text):
    """Make the text box wide enough to show a long path whole, within the screen."""
    edit = dialog.findChild(QLineEdit)
    if edit is None:
        return
    wanted = edit.fontMetrics().horizontalAdvance(text) + 4 * edit.fontMetrics().averageCharWidth()
    screen = dialog.screen()
    limit = int(screen.availableGeometry().width() * SCREEN_SHARE) if screen else wanted
    edit.setMinimumWidth(max(MIN_WIDTH, min(wanted, limit)))


def open_text_prompt(label, text, then, parent=None, title="Tavro", window=None):
    """Show a text box and return it at once; `then(text, ok)` runs when it closes.

    `ok` is True only when the user confirmed. The callback runs exactly once;
    an exception it raises is reported through `window`, not propagated into Qt.
    """
    dialog = QInputDialog(parent)
    dialog.setWindowTitle(title)
    dialog.setLabelText(label)
    dialog.setTextValue(text)
    dialog.setWindowModality(Qt.WindowModality.NonModal)
    _fit_text(dialog, text)

    def finished(result):
        dialog.finished.disconnect(finished)
        _open_prompts.discard(dialog)
        value = dialog.textValue()
        dialog.deleteLater()
        try:
            then(value, result == QDialog.DialogCode.Accepted)
        except Exception:
            errors.report_current("The text prompt's action failed", window)

    dialog.finished.connect(finished)
    _open_prompts.add(dialog)
    dialog.show()
    return dialog
