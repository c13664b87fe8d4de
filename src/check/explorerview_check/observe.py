"""The services object observed: the commands the panel runs, the prompts it
shows and their answers, and what the host lets escape into Qt."""
from .findings import describe, plural, wait_until

ABORTS = "under PyQt that aborts the process unless sys.excepthook is set"


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
