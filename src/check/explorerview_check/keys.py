"""The panel's shortcuts typed into the window: each acts in the panel's tree
only, once, and on that panel alone."""
from .findings import action_name, settle


class Keys:
    """Part of Drive: the steps that type the panel's keys."""

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
