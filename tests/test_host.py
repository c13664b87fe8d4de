"""The host stand-ins (Kelpa toolkit, Tavro services) against what the
explorer module relies on them for."""
import gc
import os
import subprocess
import sys
import weakref

import pytest
from PyQt6 import QtCore, QtGui, QtWidgets
from PyQt6.QtCore import QPoint, Qt

import Kelpa
from Kelpa import (MARGIN_LARGE, QAction, QFileSystemModel, QHSpacer, QPluginWidget,
                   QPushButton, QRoundMenu, QScrollDelegate, QStacked, QVBox, QViewToolBar,
                   QVLine, QVSpacer)
from Kelpa import icons
from Tavro import Services

TOOLKIT_NAMES = [
    "QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu", "QHSpacer",
    "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE", "QApplication", "QVLine",
    "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir", "QAbstractItemView",
    "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer", "QPoint",
    "QSortFilterProxyModel", "QClipboard",
]
# The module subclasses these and calls their Qt API directly: they must be Qt's own.
QT_OWN = {"QWidget": QtWidgets, "Qt": QtCore, "QLabel": QtWidgets, "QKeySequence": QtGui,
          "QKeyCombination": QtCore, "QModelIndex": QtCore, "QApplication": QtWidgets,
          "QDir": QtCore, "QAbstractItemView": QtWidgets,
          "QPoint": QtCore, "QSortFilterProxyModel": QtCore, "QClipboard": QtGui}


def test_toolkit_supplies_the_names_standard_ones_from_qt():
    missing = [name for name in TOOLKIT_NAMES if not hasattr(Kelpa, name)]
    assert missing == []
    assert {n: getattr(Kelpa, n) for n in QT_OWN} == {n: getattr(m, n) for n, m in QT_OWN.items()}


# ---------------------------------------------------------------- triggers

def _fire_action(widget, qtbot):
    widget.trigger()


def _click(widget, qtbot):
    qtbot.mouseClick(widget, Qt.MouseButton.LeftButton)


@pytest.mark.parametrize("make, fire", [
    (lambda cb: QAction("Copy", triggered=cb), _fire_action),
    (lambda cb: QAction("Copy", checkable=True, triggered=cb), _fire_action),
    (lambda cb: QPushButton("Open Folder", triggered=cb), _click),
], ids=["action", "checkable-action", "button"])
def test_triggered_callable_gets_no_arguments(qtbot, make, fire):
    # Records whatever it is called with; PyQt's own keyword would pass `checked`.
    calls = []
    widget = make(lambda *args: calls.append(args))
    if isinstance(widget, QtWidgets.QWidget):
        qtbot.addWidget(widget)
    fire(widget, qtbot)
    fire(widget, qtbot)
    assert calls == [(), ()]


def test_triggered_callable_exception_reaches_qt(qtbot):
    def fails():
        raise RuntimeError("handler failed")

    action = QAction("x", triggered=fails)
    with qtbot.captureExceptions() as caught:
        action.trigger()
    assert [str(exc) for _, exc, _ in caught] == ["handler failed"]


def test_label_accepts_word_wrap_keyword(qtbot):
    assert Kelpa.QLabel("You have not yet opened a folder.", wordWrap=True).wordWrap()


@pytest.mark.parametrize("shortcut", [
    "Ctrl+C",
    QtGui.QKeySequence("Ctrl+C"),
    QtGui.QKeySequence(QtCore.QKeyCombination(Qt.KeyboardModifier.ControlModifier, Qt.Key.Key_C)),
])
def test_action_shortcut_as_text_or_key_sequence(qtbot, shortcut):
    assert QAction("Copy", shortcut=shortcut).shortcut() == QtGui.QKeySequence("Ctrl+C")


def test_shortcut_acts_only_where_the_action_was_added(qtbot):
    window = QtWidgets.QWidget()
    qtbot.addWidget(window)
    tree, editor = QtWidgets.QTreeView(), QtWidgets.QLineEdit()
    window.setLayout(QVBox(tree, editor))
    calls = []
    action = QAction("Delete", shortcut="Delete", triggered=lambda: calls.append("x"))
    tree.addAction(action)
    window.show()
    qtbot.waitExposed(window)
    window.activateWindow()
    for widget in (tree, editor):
        widget.setFocus()
        qtbot.waitUntil(widget.hasFocus)
        qtbot.keyClick(widget, Qt.Key.Key_Delete)
    assert calls == ["x"]


# ---------------------------------------------------------------- icons

@pytest.mark.parametrize("theme", [True, False], ids=["theme", "no-theme"])
@pytest.mark.parametrize("name", list(icons.ICONS))
def test_every_icon_name_shows_a_picture(qtbot, monkeypatch, name, theme):
    if not theme:  # a machine without any icon theme falls back to the style
        monkeypatch.setattr(icons.QIcon, "fromTheme", staticmethod(lambda *a: QtGui.QIcon()))
    action = QAction("x", icon=name)
    assert action.iconName() == name
    assert not action.icon().pixmap(16, 16).isNull()


def test_icon_is_optional_and_names_are_checked(qtbot):
    plain = QAction("Copy Path")
    assert plain.iconName() is None and plain.icon().isNull()
    with pytest.raises(ValueError, match="unknown icon name 'nope'"):
        QAction("x", icon="nope")


def test_file_types_kept_per_suffix_agree_with_the_mime_database(qtbot):
    # Asked in this order, a suffix kept from one name ("gz", "1", "md") must not
    # answer for a name that a longer or whole-name pattern decides.
    from Kelpa.fileicons import NameOnlyIconProvider
    names = ["a.gz", "b.tar.gz", "X.TAR.GZ", "notes.md", "README.md", "page.1", "lib.so.1",
             "x.c", "x.C", "Makefile", "Makefile.am", "x.py", "SConscript.py", "old.txt~",
             "noext", "dotted.", ".bashrc"]
    provider, mimes = NameOnlyIconProvider(), QtCore.QMimeDatabase()
    by_name = QtCore.QMimeDatabase.MatchMode.MatchExtension
    for path in [f"/nowhere/{name}" for name in names] * 2:
        info = QtCore.QFileInfo(path)
        expected = mimes.mimeTypeForFile(info.fileName(), by_name)
        assert provider.type(info) == expected.comment(), path
        assert provider.icon(info).name() in {expected.iconName(), expected.genericIconName(), ""}


# ---------------------------------------------------------------- menus

def _entries(menu):
    return ["|" if a.isSeparator() else a.text() for a in menu.actions()]


def test_menu_sections_keep_declared_order(qtbot):
    menu = QRoundMenu(id="file-system-view-context-menu")
    menu.addSections(["new", "copy-paste", "delete", "run-debug", "open-in"])
    sub = QRoundMenu("New", id="file-system-view-new-file-sub-menu")
    file_action, folder_action = QAction("File"), QAction("Folder")
    sub.addActions([file_action, folder_action])
    copy, paste, delete = QAction("Copy"), QAction("Paste"), QAction("Delete")
    # added out of display order on purpose
    menu.addAction(delete, "delete")
    menu.addAction(copy, "copy-paste")
    menu.addMenu(sub, "new")
    menu.addAction(paste, "copy-paste")
    assert _entries(menu) == ["New", "|", "Copy", "Paste", "|", "Delete"]
    assert [name for name, _ in menu.sections()] == ["new", "copy-paste", "delete",
                                                      "run-debug", "open-in"]
    assert menu.sectionActions("copy-paste") == [copy, paste]
    assert menu.sectionActions("new") == [sub.menuAction()]
    assert sub.actions() == [file_action, folder_action]
    assert (menu.id(), menu.title(), sub.id(), sub.title()) == (
        "file-system-view-context-menu", "", "file-system-view-new-file-sub-menu", "New")


def test_menu_entries_without_section_follow_the_sections(qtbot):
    menu = QRoundMenu("New", id="explorer-new-file-menu")
    menu.addAction(QAction("File"))
    menu.addAction(QAction("Folder"))
    assert _entries(menu) == ["File", "Folder"]
    menu.addSections(["a"])
    menu.addAction(QAction("A"), "a")
    assert _entries(menu) == ["A", "|", "File", "Folder"]
    with pytest.raises(ValueError, match="no section 'b'"):
        menu.addAction(QAction("B"), "b")


@pytest.mark.parametrize("method", ["popup", "show"])
def test_menu_opens_at_the_global_point(qtbot, method):
    menu = QRoundMenu(id="m")
    menu.addAction(QAction("One"))
    qtbot.addWidget(menu)
    point = QPoint(120, 90)
    getattr(menu, method)(point)
    qtbot.waitUntil(menu.isVisible)
    assert menu.pos() == point


# ---------------------------------------------------------------- toolbar and layout

def test_toolbar_shows_items_in_call_order(qtbot):
    panel = QtWidgets.QWidget()
    qtbot.addWidget(panel)
    toolbar = QViewToolBar(panel)
    toolbar.setObjectName("explorer-toolbar")
    title, spacer, line = Kelpa.QLabel("Explorer"), QHSpacer(), QVLine()
    new, locate = QAction("New File or Folder", icon="add", shortcut="Ctrl++"), QAction("Select", icon="locate")
    for item in (title, spacer, new, line, locate):
        toolbar.addItem(item)
    panel.setLayout(QVBox(toolbar, QVSpacer()))
    panel.resize(500, 200)
    panel.show()
    qtbot.waitExposed(panel)
    assert toolbar.items() == [title, spacer, new, line, locate]
    button = toolbar.widgetForAction(new)
    assert isinstance(button, QtWidgets.QToolButton) and button.defaultAction() is new
    shown = [title, spacer, button, line, toolbar.widgetForAction(locate)]
    lefts = [w.geometry().left() for w in shown]
    assert lefts == sorted(lefts)
    assert spacer.width() > 200   # the spacer takes the free width
    # An icon-only button says what it does and its keys, also once they change.
    assert [toolbar.widgetForAction(a).toolTip() for a in (new, locate)] == \
        ["New File or Folder (Ctrl++)", "Select"]
    new.setText("&New && Open")
    locate.setShortcut(QtGui.QKeySequence("Ctrl+L"))
    assert [toolbar.widgetForAction(a).toolTip() for a in (new, locate)] == \
        ["New & Open (Ctrl++)", "Select (Ctrl+L)"]
    toolbar.setEnabled(False)
    assert not button.isEnabled()
    with pytest.raises(TypeError):
        toolbar.addItem("text")


def test_vbox_holds_items_top_to_bottom(qtbot):
    page = QtWidgets.QWidget()
    qtbot.addWidget(page)
    label, button, spacer = Kelpa.QLabel("text"), QPushButton("Open Folder"), QVSpacer()
    box = QVBox(label, button, spacer, margins=MARGIN_LARGE)
    assert [box.itemAt(i).widget() for i in range(box.count())] == [label, button, spacer]
    assert box.contentsMargins() == MARGIN_LARGE
    assert QVBox(label, spacing=0).spacing() == 0
    page.setLayout(box)
    page.resize(300, 400)
    page.show()
    qtbot.waitExposed(page)
    assert label.y() < button.y() < spacer.y()
    # the spacer takes the rest of the height, down to the bottom margin
    assert spacer.geometry().bottom() == 400 - 1 - MARGIN_LARGE.bottom()


def test_stacked_holds_pages_in_order(qtbot):
    first, second = QtWidgets.QWidget(), QtWidgets.QTreeView()
    stack = QStacked(first, second)
    qtbot.addWidget(stack)
    assert [stack.widget(i) for i in range(stack.count())] == [first, second]
    assert stack.currentWidget() is first
    stack.setCurrentWidget(second)
    assert stack.currentWidget() is second


def test_scroll_delegate_lives_on_as_the_views_child(qtbot):
    view = QtWidgets.QTreeView()
    qtbot.addWidget(view)
    QScrollDelegate(view)
    gc.collect()
    delegates = view.findChildren(QScrollDelegate)
    assert len(delegates) == 1 and delegates[0].view() is view
    assert view.verticalScrollMode() == QtWidgets.QAbstractItemView.ScrollMode.ScrollPerPixel


# ---------------------------------------------------------------- plug-in base

def _plugin_class(base, how):
    if how == "class statement":
        class Plugin(QPluginWidget, base):
            def __init__(self, parent=None):
                super().__init__(parent)
        return Plugin
    # the module builds its classes by calling the metaclass with a namespace
    cls = None

    def init(self, parent=None):
        super(cls, self).__init__(parent)
    cls = type(base)("Plugin", (QPluginWidget, base), {"__init__": init})
    return cls


@pytest.mark.parametrize("how", ["class statement", "metaclass call"])
@pytest.mark.parametrize("base", [QtWidgets.QWidget, QtWidgets.QTreeView])
@pytest.mark.parametrize("with_parent", [False, True], ids=["no-parent", "parent"])
def test_plugin_base_initialises_the_qt_widget(qtbot, base, how, with_parent):
    cls = _plugin_class(base, how)
    assert cls.__mro__.index(QPluginWidget) < cls.__mro__.index(base)
    parent = QtWidgets.QWidget() if with_parent else None
    if parent is not None:
        qtbot.addWidget(parent)
    widget = cls(parent)
    if parent is None:
        qtbot.addWidget(widget)
    assert widget.parent() is parent
    widget.setObjectName("plugin")   # a usable, initialised Qt object
    assert widget.objectName() == "plugin"


# ---------------------------------------------------------------- file system model

@pytest.mark.parametrize("as_type", [str, lambda path: path], ids=["str", "Path"])
def test_model_root_is_the_folder(qtbot, folder_tree, wait_folder_loaded, as_type):
    root = folder_tree(["b/", "a.txt"])
    model = QFileSystemModel()
    with wait_folder_loaded(model, root):
        index = model.setRootPath(as_type(root))
    assert index == model.index(str(root))
    assert model.rootPath() == str(root)
    qtbot.waitUntil(lambda: model.rowCount(index) == 2)


@pytest.mark.parametrize("target", ["missing", "a.txt"])
def test_model_refuses_a_root_that_is_no_folder(qtbot, folder_tree, target):
    root = folder_tree(["a.txt", "sub/"])
    model = QFileSystemModel()
    model.setRootPath(str(root / "sub"))
    with pytest.raises(FileNotFoundError):
        model.setRootPath(str(root / target))
    assert model.rootPath() == str(root / "sub")


def _deny_listing(monkeypatch, folder):
    real = os.scandir

    def scandir(path="."):
        if os.fspath(path) == str(folder):
            raise PermissionError(13, "Permission denied", str(folder))
        return real(path)
    monkeypatch.setattr(Kelpa.models.os, "scandir", scandir)


def _chmod_unreadable(monkeypatch, folder):
    if os.geteuid() == 0:
        pytest.skip("root can list any folder")
    folder.chmod(0)


@pytest.mark.parametrize("deny", [_deny_listing, _chmod_unreadable], ids=["listing", "mode"])
def test_model_refuses_a_folder_it_cannot_list(qtbot, folder_tree, monkeypatch, deny):
    root = folder_tree(["locked/x.txt", "open/"])
    model = QFileSystemModel()
    model.setRootPath(str(root / "open"))
    deny(monkeypatch, root / "locked")
    try:
        with pytest.raises(PermissionError):
            model.setRootPath(str(root / "locked"))
    finally:
        (root / "locked").chmod(0o755)
    assert model.rootPath() == str(root / "open")


# ---------------------------------------------------------------- services

@pytest.mark.skipif(not os.access("/proc/kmsg", os.R_OK), reason="needs a file whose reads block")
def test_model_loads_a_folder_whose_files_never_answer_a_read(tmp_path):
    """Icons and types come from names: a file that blocks on read can't freeze the model."""
    script = tmp_path / "load.py"
    script.write_text(
        "from PyQt6.QtWidgets import QApplication\n"
        "from Kelpa import QFileSystemModel\n"
        "app = QApplication([])\n"
        "model = QFileSystemModel()\n"
        "model.directoryLoaded.connect(lambda path: app.quit())\n"
        "root = model.setRootPath('/proc')\n"
        "app.exec()\n"
        "index = model.index('/proc/kmsg')\n"
        "model.data(index, 1)\n"
        "print(model.data(index.siblingAtColumn(2)))\n")
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize("limit, shown, bounded", [(10_000, 6, False), (3, 3, True), (1, 1, True)],
                         ids=["all", "bound", "one row"])
def test_expand_selected_opens_folders_not_read_yet(qtbot, explorerview, tavro_double,
                                                    folder_tree, wait_folder_loaded,
                                                    monkeypatch, limit, shown, bounded):
    root = folder_tree(["a/b/c/d/e.txt", "a/b/f.txt", "a/empty/", "g/h/"])
    monkeypatch.setattr(Kelpa.QTreeView, "EXPAND_LIMIT", limit)
    window = QtWidgets.QMainWindow()
    qtbot.addWidget(window)
    panel = explorerview.ExplorerView()
    window.setCentralWidget(panel)
    view = panel._fileSystemView
    with wait_folder_loaded(view.fsmodel, root):
        panel.setWorkingFolder(root)
    window.show()   # a shown tree starts reading a folder as it expands it
    qtbot.waitExposed(window)
    index_of = lambda relative: view.sortModel.mapFromSource(view.fsmodel.index(str(root / relative)))
    view.setCurrentIndex(index_of("a"))
    with qtbot.waitSignal(view.expandFinished, timeout=10000) as done:
        panel._expandSelectedAction.trigger()
    assert done.args == [shown, bounded]
    opened = [p for p in ("a", "a/b", "a/b/c", "a/b/c/d", "a/empty", "g")
              if view.isExpanded(index_of(p))]
    if bounded:   # which folders got their turn first depends on the reading order
        assert opened[0] == "a" and "a/b/c/d" not in opened
    else:
        assert opened == ["a", "a/b", "a/b/c", "a/b/c/d", "a/empty"]
    message = window.statusBar().currentMessage()
    rows = "1 row" if shown == 1 else f"{shown} rows"
    assert message.startswith(f"Stopped expanding {root / 'a'} at {rows};" if bounded else
                              f"Expanded {root / 'a'}: {rows}.")


def test_commands_dispatch_with_arguments():
    services = Services()
    services.commands.register("Nodra.openFile", lambda *args: ("opened", args))
    assert services.commands.execute("Nodra.openFile", "p") == ("opened", ("p",))


@pytest.mark.parametrize("register, expected", [
    (None, "Unknown command: Nodra.nothing."),
    (lambda: 1 / 0, "Command Nodra.nothing failed: ZeroDivisionError: division by zero."),
])
def test_command_problems_become_messages(capsys, register, expected):
    services = Services()
    if register:
        services.commands.register("Nodra.nothing", register)
    assert services.commands.execute("Nodra.nothing") is None
    assert list(services.window.recentErrors) == [expected]
    assert expected in capsys.readouterr().err


@pytest.mark.parametrize("close, ok", [("accept", True), ("reject", False)])
def test_prompt_returns_at_once_and_calls_back_on_close(qtbot, close, ok):
    services = Services()
    answers = []
    dialog = services.window.showTextInputBox("File name", "start", then=lambda *a: answers.append(a))
    assert answers == [] and dialog.isVisible()
    assert (dialog.labelText(), dialog.textValue()) == ("File name", "start")
    dialog.setTextValue("notes.txt")
    getattr(dialog, close)()
    assert answers == [("notes.txt", ok)]


def test_prompt_shows_a_long_path_whole(qtbot):
    services = Services()
    path = "/home/someone/src/a-project-with-a-long-name/some/deeply/nested/folder/of/sources"
    dialog = services.window.showTextInputBox("Copy to", path, then=lambda *a: None)
    qtbot.waitExposed(dialog)
    edit = dialog.findChild(QtWidgets.QLineEdit)
    assert edit.width() > edit.fontMetrics().horizontalAdvance(path)
    assert dialog.width() <= dialog.screen().availableGeometry().width()
    dialog.reject()


def test_prompt_callback_failure_is_reported_not_raised(qtbot, capsys):
    services = Services()

    def then(text, ok):
        raise KeyError("boom")
    dialog = services.window.showTextInputBox("Copy to", "/x", then=then)
    dialog.accept()
    assert "KeyError: 'boom'" in capsys.readouterr().err


def test_registered_toolbar_is_recorded_once_and_not_kept_alive(qtbot):
    # A toolbar's actions lead back to its panel: holding it would pin the panel.
    services = Services()
    toolbar = QViewToolBar()
    services.window.registerToolBar(toolbar)
    services.window.registerToolBar(toolbar)
    assert services.window.toolBars() == [toolbar]
    watched = weakref.ref(toolbar)
    del toolbar
    gc.collect()
    assert watched() is None and services.window.toolBars() == []
