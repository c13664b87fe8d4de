"""Loading the explorer panel plug-in, or saying plainly why it is missing."""
import html
import sys
import traceback

from PyQt6.QtCore import Qt
from PyQt6.QtWidgets import QLabel

from .errors import describe

MODULE = "Tavro_Workspace.explorerview"


def load_panel(parent=None):
    """(ExplorerView, None) when the plug-in works, else (None, reason)."""
    try:
        from Tavro_Workspace.explorerview import ExplorerView
    except Exception as exc:
        traceback.print_exc(file=sys.stderr)
        return None, f"The module {MODULE} could not be imported:\n{describe(exc)}"
    try:
        return ExplorerView(parent), None
    except NotImplementedError as exc:
        traceback.print_exc(file=sys.stderr)
        return None, f"The explorer panel is not built yet ({describe(exc)})."
    except Exception as exc:
        traceback.print_exc(file=sys.stderr)
        return None, f"The explorer panel failed to start:\n{describe(exc)}"


def placeholder(reason, parent=None):
    """The widget shown where the panel would be."""
    label = QLabel(parent)
    label.setObjectName("explorer-placeholder")
    label.setWordWrap(True)
    label.setAlignment(Qt.AlignmentFlag.AlignCenter)
    label.setMargin(16)
    label.setText(f"<b>Explorer panel unavailable</b><br><br>{_html(reason)}"
                  "<br><br>Build the module with <tt>make</tt> and start again.")
    return label


def _html(text):
    return html.escape(text).replace("\n", "<br>")
