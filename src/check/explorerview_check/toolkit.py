"""Each piece of the host's toolkit tried on its own, the way the panel uses it."""
import gc
import os
import weakref

from .findings import Unmet, plural, settle, wait_until

ICON_NAMES = ("add", "text", "folder", "locate", "expandAll", "collapseAll", "copy", "paste")


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
