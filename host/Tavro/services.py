"""The services object handed to plug-ins: commands, window and workspace."""
import collections
import sys
import weakref
from pathlib import Path

from PyQt6 import sip
from PyQt6.QtCore import Qt
from PyQt6.QtWidgets import QApplication, QMessageBox

from . import errors, prompts


class Commands:
    """Named host commands: `register(id, handler)`, then `execute(id, *args)`.

    `execute` never raises: an unknown id or a failing handler becomes an
    error message for the user (and a traceback on stderr), and None.
    """

    def __init__(self, services):
        self._services = services
        self._handlers = {}

    def register(self, id, handler):
        if not callable(handler):
            raise TypeError(f"handler for {id!r} must be callable")
        self._handlers[id] = handler

    def unregister(self, id):
        self._handlers.pop(id, None)

    def ids(self):
        return sorted(self._handlers)

    def execute(self, id, *args):
        self._services.window.answered = True
        handler = self._handlers.get(id)
        if handler is None:
            self._services.window.showErrorMessage(f"Unknown command: {id}")
            return None
        try:
            return handler(*args)
        except Exception:
            errors.report_current(f"Command {id} failed", self._services.window)
            return None


class Window:
    """The main window as plug-ins see it; works without one too."""

    def __init__(self):
        self._main = None
        self._toolbars = []
        self._box = None   # the message box on screen, if any
        self.recentErrors = collections.deque(maxlen=100)
        self.answered = False   # a command has run or an error been shown since a prompt closed

    def attach(self, main_window):
        """Make `main_window` the parent of messages and prompts (None detaches)."""
        self._main = main_window

    def mainWindow(self):
        """The attached main window, or None (also once it has been destroyed)."""
        if self._main is not None and sip.isdeleted(self._main):
            self._main = None
        return self._main

    def showErrorMessage(self, text):
        """Show `text` in the window's one message box: a newer message replaces
        the one still open, so that errors never pile up in a stack of boxes.

        Shown while an error about a file or folder is being handled, the box
        names it too: a plug-in's own words may not."""
        self.answered = True
        text = errors.sentence(text)
        named = _named()
        if named is not None and named not in text:
            text = f"{text}\n{named}"
        print(f"Tavro: {text}", file=sys.stderr)
        self.recentErrors.append(text)
        main = self.mainWindow()
        if main is None:
            return
        box = self._box
        # A closed box is on its way to deletion: a new one takes its place.
        if box is None or sip.isdeleted(box) or not box.isVisible() or box.parent() is not main:
            box = self._box = QMessageBox(QMessageBox.Icon.Warning, main.windowTitle(), "",
                                          QMessageBox.StandardButton.Ok, main)
            box.setModal(False)
            box.setAttribute(Qt.WidgetAttribute.WA_DeleteOnClose)
        box.setText(text)
        box.show()
        box.raise_()

    def showTextInputBox(self, label, text, then):
        """Ask for one line of text without blocking; `then(text, ok)` follows.

        With no application running nobody can answer, so the box counts as
        cancelled at once.
        """
        if not isinstance(QApplication.instance(), QApplication):
            print(f"Tavro: no application for the prompt {label!r}; cancelled", file=sys.stderr)
            try:
                then(text, False)
            except Exception:
                errors.report_current("The text prompt's action failed", self)
            return None
        main = self.mainWindow()
        title = main.windowTitle() if main is not None else "Tavro"
        return prompts.open_text_prompt(label, text, self._sayingWhy(then), parent=main,
                                        title=title, window=self)

    def _sayingWhy(self, then):
        """`then`, and a word when a confirmed text that names nothing (blank,
        "." or only separators) led to no command and no message: the answer
        was a name to create, and nothing was created."""
        def answer(value, ok):
            self.answered = False
            result = then(value, ok)
            if ok and not self.answered and not value.replace(".", "").strip("/\\"):
                self.showErrorMessage("A name cannot be empty: nothing was created."
                                      if not value.strip() else
                                      f"\"{value}\" cannot be a name: nothing was created.")
            return result
        return answer

    def registerToolBar(self, toolbar):
        """Record a plug-in's toolbar; it stays where its plug-in placed it.

        Held weakly: the toolbar's items lead back to its panel, which must
        stay free to go away."""
        if toolbar not in self.toolBars():
            self._toolbars.append(weakref.ref(toolbar))

    def toolBars(self):
        alive = [ref() for ref in self._toolbars]
        return [bar for bar in alive if bar is not None and not sip.isdeleted(bar)]


def _named():
    """The file or folder named by the OSError being handled, or None."""
    error = sys.exc_info()[1]
    named = getattr(error, "filename", None) if isinstance(error, OSError) else None
    return None if named is None else str(named)


class Workspace:
    """The working folder shared by the host and its plug-ins."""

    def __init__(self):
        self._folder = None
        self._listeners = []

    def workingFolder(self):
        return self._folder

    def setWorkingFolder(self, folder):
        self._folder = None if folder is None else Path(folder)
        for reference in list(self._listeners):
            listener = reference()
            owner = getattr(listener, "__self__", None)
            if listener is None or (isinstance(owner, sip.simplewrapper) and sip.isdeleted(owner)):
                self._listeners.remove(reference)
            else:
                listener(self._folder)

    def onWorkingFolderChanged(self, method):
        """Call the bound `method` with each new folder; held weakly, so a
        window that is closed and gone stops listening."""
        self._listeners.append(weakref.WeakMethod(method))


class Services:
    def __init__(self):
        self.window = Window()
        self.workspace = Workspace()
        self.commands = Commands(self)
