"""The explorer panel through its real widgets on the host toolkit: what it
shows after construction, its two states, selection as paths, the keys, clicks
and menus a user reaches it with, and its lifetime."""
import ast
import gc
import ntpath
import posixpath
import types
import typing
import weakref
from pathlib import Path

import pytest
from conftest import TavroDouble
from Kelpa import MARGIN_LARGE, QApplication, QKeySequence, QLabel, QPoint, Qt, QVSpacer, QWidget
from PyQt6.QtCore import QItemSelectionModel, QObject, QTranslator
from PyQt6.QtTest import QTest

CTRL = Qt.KeyboardModifier.ControlModifier
LEFT, RIGHT = Qt.MouseButton.LeftButton, Qt.MouseButton.RightButton
FOLDER = ["a.txt", "B.txt", "sub/c.txt", "sub/inner/d.txt", "empty/"]

# attribute, text, host icon name, shortcut as the user types it
ACTIONS = [
    ("_newFileOrFolderAction", "New File or Folder", "add", ""),
    ("_newFileAction", "File", "text", ""),
    ("_newFolderAction", "Folder", "folder", ""),
    ("_selectOpenedFileAction", "Select Opened File", "locate", ""),
    ("_expandSelectedAction", "Expand Selected", "expandAll", "Ctrl++"),
    ("_collapseAllAction", "Collapse all", "collapseAll", "Ctrl+-"),
    ("_copyAction", "Copy", "copy", "Ctrl+C"),
    ("_copyPathAction", "Copy Path", None, ""),
    ("_pasteAction", "Paste", "paste", "Ctrl+V"),
    ("_deleteAction", "Delete", None, "Delete"),
]


@pytest.fixture
def panel(qtbot, explorerview, tavro_double):
    panel = explorerview.ExplorerView()
    qtbot.addWidget(panel)
    return panel


@pytest.fixture
def shown(qtbot, panel):
    """The panel on screen, active, away from the screen's corner."""
    panel.setGeometry(120, 90, 320, 420)
    panel.show()
    qtbot.waitExposed(panel)
    panel.activateWindow()
    qtbot.waitUntil(lambda: QApplication.activeWindow() is panel)
    return panel


@pytest.fixture
def opened(qtbot, shown, folder_tree, wait_folder_loaded, wait_rows):
    """The shown panel on a loaded folder with FOLDER in it: (panel, root)."""
    root = folder_tree(FOLDER)
    tree = shown._fileSystemView
    with wait_folder_loaded(tree.fsmodel, root):
        shown.setWorkingFolder(root)
    wait_rows(tree.model(), tree.rootIndex, 4)
    return shown, root


def proxy_index(panel, path):
    view = panel._fileSystemView
    return view.sortModel.mapFromSource(view.fsmodel.index(str(path)))


def row_center(panel, path):
    view = panel._fileSystemView
    index = proxy_index(panel, path)
    view.scrollTo(index)
    return view.visualRect(index).center()


def double_click(qtbot, panel, path):
    """Two clicks on the item's row, the second one a double click, as a mouse sends them."""
    viewport, pos = panel._fileSystemView.viewport(), row_center(panel, path)
    qtbot.mouseClick(viewport, LEFT, pos=pos)
    qtbot.mouseDClick(viewport, LEFT, pos=pos)


def focused_tree(panel):
    tree = panel._fileSystemView
    tree.setFocus()
    return tree


# ---------------------------------------------------------------- construction

@pytest.mark.parametrize("how", ["none", "positional", "keyword"])
def test_parent_by_position_or_keyword(qtbot, explorerview, tavro_double, how):
    window = QWidget()
    qtbot.addWidget(window)
    make = explorerview.ExplorerView
    panel = {"none": make, "positional": lambda: make(window),
             "keyword": lambda: make(parent=window)}[how]()
    if how == "none":
        qtbot.addWidget(panel)
    assert panel.parent() is (None if how == "none" else window)


@pytest.mark.parametrize("name", ["ExplorerView", "NoFolderOpenedPage"])
def test_constructor_makes_the_calls_of_its_python_in_the_same_order(qapp, constructor_calls, name):
    native, python = constructor_calls(name)
    assert native == python
    assert len(native) >= 10


def test_toolbar_registered_empty_then_filled_in_order(qtbot, explorerview, tavro_double):
    at_registration = []
    tavro_double.window.registerToolBar = lambda bar: at_registration.append((bar, bar.items()))
    panel = explorerview.ExplorerView()
    qtbot.addWidget(panel)

    toolbar = panel._viewToolBar
    assert at_registration == [(toolbar, [])]
    assert toolbar.parent() is panel and toolbar.objectName() == "explorer-toolbar"
    items = toolbar.items()
    assert [type(item).__name__ for item in items] == \
        ["QLabel", "QHSpacer", "QAction", "QVLine", "QAction", "QAction", "QAction"]
    assert items[0] is panel._titleLabel
    assert items[2] is panel._newFileOrFolderAction
    assert items[4:] == [panel._selectOpenedFileAction, panel._expandSelectedAction,
                         panel._collapseAllAction]
    assert panel._titleLabel.text() == "Explorer" and panel._titleLabel.font().bold()
    assert tavro_double.calls == []  # nothing executed while building


def test_starts_on_the_placeholder_with_the_toolbar_disabled(panel):
    stacked, page, tree = panel._stacked, panel._noFolderOpenedPage, panel._fileSystemView
    assert [stacked.widget(i) for i in range(stacked.count())] == [page, tree]
    assert stacked.currentWidget() is page
    assert not panel._viewToolBar.isEnabled()
    assert panel.workingFolder() is None
    assert tree.parent() is stacked and QObject.parent(tree.fsmodel) is tree
    layout = panel.layout()
    assert [layout.itemAt(i).widget() for i in range(layout.count())] == [panel._viewToolBar, stacked]
    assert layout.spacing() == 0


@pytest.mark.parametrize("attribute, text, icon, keys", ACTIONS)
def test_action_text_icon_and_shortcut(panel, attribute, text, icon, keys):
    action = getattr(panel, attribute)
    assert (action.text(), action.iconName()) == (text, icon)
    assert action.shortcut() == QKeySequence(keys)


def test_the_tree_carries_the_shortcut_actions(panel):
    assert panel._fileSystemView.actions() == [
        panel._expandSelectedAction, panel._collapseAllAction,
        panel._copyAction, panel._pasteAction, panel._deleteAction]


def test_menus_ids_titles_sections_and_entries(panel):
    new_menu = panel._newFileMenu
    context = panel._fileSystemViewContextMenu
    sub_menu = panel._fileSystemViewContextNewFileSubMenu
    both = [panel._newFileAction, panel._newFolderAction]

    assert (new_menu.id(), new_menu.title()) == ("explorer-new-file-menu", "New")
    assert new_menu.sectionNames() == [] and new_menu.unsectionedActions() == both
    assert (sub_menu.id(), sub_menu.title()) == ("file-system-view-new-file-sub-menu", "New")
    assert sub_menu.unsectionedActions() == both

    assert (context.id(), context.title()) == ("file-system-view-context-menu", "")
    assert context.sections() == [
        ("new", [sub_menu.menuAction()]),
        ("copy-paste", [panel._copyAction, panel._copyPathAction, panel._pasteAction]),
        ("delete", [panel._deleteAction]),
        ("run-debug", []),
        ("open-in", []),
    ]
    assert context.unsectionedActions() == []


def test_placeholder_page_on_its_own(qtbot, explorerview, tavro_double):
    page = explorerview.NoFolderOpenedPage()
    qtbot.addWidget(page)
    layout = page.layout()
    label, button, spacer = (layout.itemAt(i).widget() for i in range(layout.count()))
    assert isinstance(label, QLabel) and label.wordWrap()
    assert label.text() == "You have not yet opened a folder."
    assert button is page._openFolderButton and button.text() == "Open Folder"
    assert button.maximumWidth() == 300
    assert isinstance(spacer, QVSpacer)
    assert layout.contentsMargins() == MARGIN_LARGE


class Bracketing(QTranslator):
    """Translates every text to itself in brackets; remembers the contexts."""

    def __init__(self):
        super().__init__()
        self.contexts = set()

    def translate(self, context, source, disambiguation=None, n=-1):
        self.contexts.add(context)
        return f"[{source}]"

    def isEmpty(self):
        return False


@pytest.fixture
def bracketing(qapp):
    translator = Bracketing()
    qapp.installTranslator(translator)
    yield translator
    qapp.removeTranslator(translator)


def test_installed_translation_changes_what_the_panel_shows(bracketing, panel):
    assert panel._titleLabel.text() == "[Explorer]"
    for attribute, text, _, _ in ACTIONS:
        assert getattr(panel, attribute).text() == f"[{text}]"
    assert panel._newFileMenu.title() == panel._fileSystemViewContextNewFileSubMenu.title() == "[New]"
    page = panel._noFolderOpenedPage
    assert page._openFolderButton.text() == "[Open Folder]"
    assert page.findChild(QLabel).text() == "[You have not yet opened a folder.]"
    # Translation files are keyed by the class that asks.
    assert {"ExplorerView", "NoFolderOpenedPage"} <= bracketing.contexts


# ---------------------------------------------------------------- working folder

@pytest.mark.parametrize("spell", [Path, str])
def test_opening_and_closing_a_folder(panel, tmp_path, spell):
    panel.setWorkingFolder(spell(tmp_path))
    assert panel._stacked.currentWidget() is panel._fileSystemView
    assert panel._viewToolBar.isEnabled()
    assert panel.workingFolder() == tmp_path and isinstance(panel.workingFolder(), Path)

    panel.setWorkingFolder(None)
    assert panel._stacked.currentWidget() is panel._noFolderOpenedPage
    assert not panel._viewToolBar.isEnabled()
    assert panel.workingFolder() is None
    assert panel._fileSystemView.rootPath() == tmp_path  # the tree keeps its root

    panel.setWorkingFolder(None)  # repeating is harmless
    panel.setWorkingFolder(tmp_path)
    panel.setWorkingFolder(tmp_path)
    assert panel.workingFolder() == tmp_path and panel._viewToolBar.isEnabled()


@pytest.mark.parametrize("target", ["missing", "file.txt"])
def test_folder_the_model_rejects(panel, tavro_double, folder_tree, target):
    root = folder_tree(["file.txt"])
    panel.setWorkingFolder(root)
    panel.select([root / "file.txt"])
    panel.setWorkingFolder(root / target)
    assert tavro_double.errors() == ["Directory not found."]
    assert panel._stacked.currentWidget() is panel._fileSystemView
    assert panel._viewToolBar.isEnabled()
    assert panel.workingFolder() == root
    # The tree shows what it showed, and so does the selection.
    assert panel.selection() == [root / "file.txt"]
    assert panel._fileSystemView.currentIndex() == proxy_index(panel, root / "file.txt")


# The selection of the `opened` folder, the first path current; what another
# working folder leaves of it (None: all of it); what the common folder is then.
SELECTED = ["a.txt", "sub/inner/d.txt", "sub"]
REOPENED = {
    "the same folder": (lambda root: root, None, "root"),
    "the same folder, spelled relative": (lambda root: Path(root.name), None, "root"),
    "the same folder, as a str ending in a slash": (lambda root: f"{root}/", None, "root"),
    "its parent": (lambda root: root.parent, None, "root"),
    "no folder": (lambda root: None, None, "root"),
    "a subfolder of it, selected": (lambda root: root / "sub", ["sub/inner/d.txt"], "host's"),
    "another folder": (lambda root: root.parent / "other", [], "new root"),
    "a folder whose name begins its name": (lambda root: root.parent / root.name[:-1], [], "new root"),
}


@pytest.mark.parametrize("new_root, kept, common", REOPENED.values(), ids=REOPENED.keys())
def test_another_working_folder_keeps_only_the_rows_it_shows(
        opened, tavro_double, monkeypatch, new_root, kept, common):
    """Copy, Delete and a new item's folder work on the selection: it must not
    hold rows the tree stopped showing. The current row goes with its row."""
    panel, root = opened
    view = panel._fileSystemView
    panel.select([root / name for name in SELECTED])
    monkeypatch.chdir(root.parent)
    folder = new_root(root)
    if folder is not None:
        Path(root.parent, folder).mkdir(exist_ok=True)
    tavro_double.workspace.folder = host_folder = root.parent / "host"

    panel.setWorkingFolder(folder)
    kept = SELECTED if kept is None else kept
    assert sorted(panel.selection()) == sorted(root / name for name in kept)
    first = proxy_index(panel, root / SELECTED[0])
    assert view.currentIndex() == (first if SELECTED[0] in kept else type(first)())
    expected = {"root": root, "host's": host_folder, "new root": panel.workingFolder()}[common]
    assert panel._commonFolderInSelection() == expected
    panel._copyAction.trigger()
    panel._deleteAction.trigger()
    assert tavro_double.executed() == [("Nodra.copyFiles", panel.selection()),
                                       ("Nodra.deleteFiles", panel.selection())]


# ---------------------------------------------------------------- selection

def test_select_then_selection_round_trip(opened):
    panel, root = opened
    view = panel._fileSystemView
    wanted = [root / "sub" / "inner" / "d.txt", root / "a.txt", str(root / "sub")]
    assert panel.select(wanted) is None

    got = panel.selection()
    assert all(type(p) is type(root) for p in got)
    assert sorted(got) == sorted(Path(p) for p in wanted)
    # In the selection model's order, whatever order the tree shows them in.
    model_order = [view.fsmodel.filePath(view.sortModel.mapToSource(i))
                   for i in view.selectionModel().selectedRows()]
    assert [str(p) for p in got] == model_order
    # Each item's own folder was opened for it; the first path is the current row.
    assert view.isExpanded(proxy_index(panel, root / "sub" / "inner"))
    assert view.currentIndex() == proxy_index(panel, wanted[0])


def test_select_replaces_skips_unknown_paths_and_clears(opened, folder_tree):
    """Paths the tree does not show are skipped as unknown ones are, though
    the toolkit's model finds them on disk: another folder's, the root itself."""
    panel, root = opened
    other = folder_tree(["notes.txt", "sub/x.txt"])
    view = panel._fileSystemView
    panel.select([root / "a.txt"])
    panel.select([root / "nowhere.txt", other / "notes.txt", root / "B.txt", "not/a/path", root, other / "sub/x.txt"])
    assert panel.selection() == [root / "B.txt"]
    assert view.currentIndex() == proxy_index(panel, root / "B.txt")  # the first path selected
    panel.select([other / "notes.txt", root / ".." / other.name / "sub" / "x.txt"])
    assert panel.selection() == [] and not view.currentIndex().isValid()
    assert not view.isExpanded(proxy_index(panel, other / "sub"))
    panel.select([root / "a.txt"])
    panel.select([])
    assert panel.selection() == [] and not view.currentIndex().isValid()


@pytest.mark.parametrize("order", ["top first", "bottom first"])
def test_select_scrolls_to_the_last_path_given(qtbot, shown, folder_tree, wait_folder_loaded, wait_rows, order):
    """On a folder taller than the view, the last path of the list is scrolled into sight."""
    root = folder_tree([f"f{n:02}.txt" for n in range(80)])
    tree = shown._fileSystemView
    with wait_folder_loaded(tree.fsmodel, root):
        shown.setWorkingFolder(root)
    wait_rows(tree.model(), tree.rootIndex, 80)
    paths = [root / "f00.txt", root / "f79.txt"]
    if order == "bottom first":
        tree.scrollToBottom()
        paths.reverse()
    shown.select(paths)
    visible = tree.viewport().rect()
    assert visible.contains(tree.visualRect(proxy_index(shown, paths[-1])).center())
    assert not visible.intersects(tree.visualRect(proxy_index(shown, paths[0])))


def test_selection_reads_the_tree_in_python_order(panel):
    """view.fsmodel.filePath(view.sortModel.mapToSource(idx)), read per row,
    the receiver before its argument, over a selection model that ends by
    raising StopIteration from its own iterator; a row whose index is not
    valid is skipped."""
    reads = []
    valid = [True, False, True]  # isValid() of each selected row

    class Rows:
        def __iter__(self):
            return self

        def __next__(self):
            if not valid:
                raise StopIteration
            reads.append("row")
            return types.SimpleNamespace(isValid=lambda answer=valid.pop(0): answer)

    class Tree:
        def selectionModel(self):
            return types.SimpleNamespace(selectedRows=Rows)

        @property
        def fsmodel(self):
            reads.append("fsmodel")
            return types.SimpleNamespace(filePath=lambda index: "/work/p/a.txt")

        @property
        def sortModel(self):
            reads.append("sortModel")
            return types.SimpleNamespace(mapToSource=lambda index: index)

    panel._fileSystemView = Tree()
    assert panel.selection() == [Path("/work/p/a.txt")] * 2
    assert reads == ["row", "fsmodel", "sortModel", "row", "row", "fsmodel", "sortModel"]


class EndlessIndex:
    """A row of a stand-in tree: its path, and a parent that is always valid,
    as a host's model may answer."""

    def __init__(self, path, depth=0):
        self.path, self.depth = path, depth

    def isValid(self):
        return True

    def parent(self):
        assert self.depth < 1000, "the parents of a row were walked without end"
        return EndlessIndex(self.path, self.depth + 1)


# Rows of a stand-in tree, spelled as a host's model may spell them.
ROWS = ["/w/p/a.txt", "/w/pa/b.txt", "/w/p", "/w", "/w/p/sub/d.txt", "/W/P/b.txt", "\\w\\p\\c.txt",
        "/w/p/../q/e.txt", "/w/p/sub/../f.txt", "/", "/w/p/g.txt/"]


@pytest.mark.parametrize("flavour, root, below", [
    (posixpath, "/w/p", ["/w/p/a.txt", "/w/p/sub/d.txt", "/w/p/sub/../f.txt", "/w/p/g.txt/"]),
    (ntpath, "/w/p", ["/w/p/a.txt", "/w/p/sub/d.txt", "/W/P/b.txt", "\\w\\p\\c.txt", "/w/p/sub/../f.txt",
                      "/w/p/g.txt/"]),
    (posixpath, "/", [row for row in ROWS if row.startswith("/") and row != "/"]),
    (posixpath, "/w/p/", ["/w/p/a.txt", "/w/p/sub/d.txt", "/w/p/sub/../f.txt", "/w/p/g.txt/"]),
], ids=["posix", "windows", "posix, the top folder", "posix, a root ending in a slash"])
@pytest.mark.parametrize("how", ["new root", "refused root", "select"])
def test_rows_below_the_root_are_told_by_their_paths_as_the_platform_does(
        explorerview, panel, monkeypatch, flavour, root, below, how):
    """Over a tree whose every row has a valid parent: the rows below the
    root, by their normalised path strings (`..` collapsed, the case and
    separators of the platform's paths: the module's global osp), are what
    select() selects and what a new root keeps; the rest, the root itself and
    the current row among them, are skipped by select() and deselected whole,
    each once, by a new root. A refused root changes nothing."""
    calls = []
    Flag = QItemSelectionModel.SelectionFlag
    model = types.SimpleNamespace(
        SelectionFlag=Flag, clear=lambda: calls.append("clear"), selectedRows=lambda: [EndlessIndex(p) for p in ROWS],
        select=lambda idx, flags: calls.append(("select", idx.path, flags)),
        setCurrentIndex=lambda idx, flags: calls.append(("current", idx.path)),
        currentIndex=lambda: EndlessIndex("/w/pa/b.txt"), clearCurrentIndex=lambda: calls.append("no current"))
    panel._fileSystemView = types.SimpleNamespace(
        setRootPath=lambda path: how != "refused root", rootIndex=lambda: EndlessIndex(root),
        selectionModel=lambda: model, expand=lambda idx: calls.append(("expand", idx.path)),
        scrollTo=lambda idx: calls.append(("scroll", idx.path)),
        fsmodel=types.SimpleNamespace(filePath=lambda idx: idx.path, index=EndlessIndex),
        sortModel=types.SimpleNamespace(mapToSource=lambda idx: idx, mapFromSource=lambda idx: idx,
                                        parent=lambda idx: EndlessIndex(flavour.dirname(idx.path))))
    panel._stacked = types.SimpleNamespace(setCurrentWidget=lambda page: None)
    monkeypatch.setattr(explorerview, "osp", flavour)

    if how == "select":
        panel.select(ROWS)
        selected = [step for p in below for step in (("expand", flavour.dirname(p)), ("select", p, Flag.Select | Flag.Rows))]
        scrolled = [("scroll", ROWS[-1])] if ROWS[-1] in below else []
        assert calls == ["clear", *selected, ("current", below[0]), *scrolled]
    else:
        panel.setWorkingFolder(root)
        outside = [("select", p, Flag.Deselect | Flag.Rows) for p in ROWS if p not in below]
        current = [] if "/w/pa/b.txt" in below else ["no current"]
        assert calls == ([] if how == "refused root" else [*outside, *current])


class PathList(list):
    pass


@pytest.mark.parametrize("wrong", [("x",), None, PathList(), "a.txt"])
def test_select_refuses_anything_but_a_list(opened, wrong):
    panel, root = opened
    panel.select([root / "a.txt"])
    with pytest.raises(TypeError) as caught:
        panel.select(wrong)
    assert str(caught.value) == \
        f"Argument 'paths' has incorrect type (expected list, got {type(wrong).__name__})"
    assert panel.selection() == [root / "a.txt"]


# ---------------------------------------------------------------- keys and clicks

def test_copy_and_delete_send_the_selection_read_when_they_fire(qtbot, opened, folder_tree, tavro_double):
    panel, root = opened
    other = folder_tree(["notes.txt"])
    tree = focused_tree(panel)
    qtbot.keyClick(tree, Qt.Key.Key_C, CTRL)
    panel.select([root / "B.txt"])
    qtbot.keyClick(tree, Qt.Key.Key_Delete)
    panel.select([root / "a.txt"])
    qtbot.keyClick(tree, Qt.Key.Key_C, CTRL)
    panel.select([other / "notes.txt"])  # found on disk, not shown by the tree
    qtbot.keyClick(tree, Qt.Key.Key_C, CTRL)
    qtbot.keyClick(tree, Qt.Key.Key_Delete)
    assert tavro_double.executed() == [
        ("Nodra.copyFiles", []),
        ("Nodra.deleteFiles", [root / "B.txt"]),
        ("Nodra.copyFiles", [root / "a.txt"]),
        ("Nodra.copyFiles", []),
        ("Nodra.deleteFiles", []),
    ]


def test_select_opened_file_button_sends_no_selection(qtbot, opened, tavro_double):
    panel, root = opened
    panel.select([root / "a.txt"])
    button = panel._viewToolBar.widgetForAction(panel._selectOpenedFileAction)
    qtbot.mouseClick(button, LEFT)
    qtbot.mouseClick(button, LEFT)
    assert tavro_double.executed() == [("Nodra.selectOpenedFile",)] * 2


def test_file_operation_actions_reach_their_methods(qtbot, opened, tavro_double):
    panel, root = opened
    tavro_double.workspace.folder = root
    panel.select([root / "sub"])
    qtbot.keyClick(focused_tree(panel), Qt.Key.Key_V, CTRL)
    panel._newFileAction.trigger()
    panel._newFolderAction.trigger()
    assert [label for label, _ in tavro_double.prompts()] == ["Copy to", "File name", "Folder name"]
    panel._copyPathAction.trigger()
    assert QApplication.clipboard().text() == str(root / "sub")


def test_handlers_return_what_the_command_returned(explorerview, panel, tavro_double):
    # The handlers sit behind the toolkit's connections; the collector sees them.
    function = type(explorerview.ExplorerView.select)
    handlers = {
        f.__name__: f for f in gc.get_objects()
        if isinstance(f, function) and f.__qualname__ == "ExplorerView.__init__.<locals>.<lambda>"
        and (f.__closure__ is None or f.__closure__[0].cell_contents is panel)}
    select_opened, copy, delete = handlers["lambda1"], handlers["lambda2"], handlers["lambda3"]
    assert select_opened.__closure__ is None
    assert copy.__closure__[0] is delete.__closure__[0]  # one shared capture

    tavro_double.commands.result = answer = object()
    assert copy() is answer and delete() is answer and select_opened() is answer


def test_double_click_opens_a_file_once_and_not_a_folder(qtbot, opened, tavro_double):
    panel, root = opened
    with qtbot.waitSignal(panel._fileSystemView.doubleClicked):
        double_click(qtbot, panel, root / "a.txt")
    assert tavro_double.executed() == [("Nodra.openFile", root / "a.txt")]
    assert isinstance(tavro_double.executed()[0][1], Path)

    with qtbot.waitSignal(panel._fileSystemView.doubleClicked):
        double_click(qtbot, panel, root / "sub")
    assert len(tavro_double.executed()) == 1
    # The tree's own handling opens the folder.
    assert panel._fileSystemView.isExpanded(proxy_index(panel, root / "sub"))


def test_ctrl_plus_expands_the_current_item_recursively_ctrl_minus_collapses(
        qtbot, opened, wait_folder_loaded):
    panel, root = opened

    def expanded(*names):
        # Indexes are looked up afresh: rows arriving from the model move them.
        return [tree.isExpanded(proxy_index(panel, root / name)) for name in names]

    # The keyboard goes on from what select() chose, not from the top row that
    # the tree makes current when it takes the focus.
    panel.select([root / "sub"])
    tree = focused_tree(panel)
    with wait_folder_loaded(tree.fsmodel, root / "sub" / "inner"):  # both levels listed
        qtbot.keyClick(tree, Qt.Key.Key_Plus, CTRL)
    assert expanded("sub", "sub/inner") == [True, True]
    assert expanded("empty") == [False]
    qtbot.keyClick(tree, Qt.Key.Key_Minus, CTRL)
    assert expanded("sub", "sub/inner") == [False, False]
    qtbot.keyClick(tree, Qt.Key.Key_Down)
    assert tree.currentIndex() == proxy_index(panel, root / "a.txt")  # the row below sub

    qtbot.mouseClick(tree.viewport(), LEFT, pos=row_center(panel, root / "sub"))
    assert tree.currentIndex() == proxy_index(panel, root / "sub")
    qtbot.keyClick(tree, Qt.Key.Key_Plus, CTRL)
    assert expanded("sub", "sub/inner", "empty") == [True, True, False]


def test_open_folder_button_asks_the_current_host_each_press(
        qtbot, shown, tavro_double, explorerview, monkeypatch):
    button = shown._noFolderOpenedPage._openFolderButton
    qtbot.mouseClick(button, LEFT)
    qtbot.mouseClick(button, LEFT)
    assert tavro_double.executed() == [("Nodra.openFolder",)] * 2

    other = TavroDouble()
    monkeypatch.setattr(explorerview, "tavro", other)
    qtbot.mouseClick(button, LEFT)
    assert other.executed() == [("Nodra.openFolder",)]
    assert len(tavro_double.executed()) == 2


# ---------------------------------------------------------------- menus

@pytest.mark.parametrize("where", ["corner", "below the rows"])
def test_right_click_opens_the_context_menu_at_the_pointer(qtbot, opened, where):
    panel, root = opened
    viewport = panel._fileSystemView.viewport()
    point = QPoint(0, 0) if where == "corner" else QPoint(10, viewport.height() - 10)
    panel.select([root / "a.txt"])
    menu = panel._fileSystemViewContextMenu
    with qtbot.waitSignal(menu.aboutToShow):
        QTest.mouseClick(panel.windowHandle(), RIGHT, Qt.KeyboardModifier.NoModifier,
                         viewport.mapTo(panel, point))
    try:
        assert menu.isVisible()
        assert menu.pos() == viewport.mapToGlobal(point)
        assert menu.pos() != panel._fileSystemView.mapToGlobal(point)  # not the frame's corner
        assert [a.text() for a in menu.actions() if not a.isSeparator()] == \
            ["New", "Copy", "Copy Path", "Paste", "Delete"]
        assert panel.selection() == [root / "a.txt"]
    finally:
        menu.close()


def test_new_button_drops_its_menu_below_itself(qtbot, opened):
    panel, _ = opened
    button = panel._viewToolBar.widgetForAction(panel._newFileOrFolderAction)
    menu = panel._newFileMenu
    with qtbot.waitSignal(menu.aboutToShow):
        qtbot.mouseClick(button, LEFT, pos=QPoint(button.width() - 2, 3))
    try:
        assert menu.pos() == button.mapToGlobal(QPoint(0, button.height() - 1))
        assert [a.text() for a in menu.actions()] == ["File", "Folder"]
    finally:
        menu.close()


# ---------------------------------------------------------------- the stub

STUB = Path(__file__).resolve().parents[1] / "src" / "explorerview.pyi"


def conforms(value, hint):
    """Whether `value` is of the annotated type (unions, lists, classes and None)."""
    if hint is None or hint is type(None):
        return value is None
    if typing.get_origin(hint) in (typing.Union, types.UnionType):
        return any(conforms(value, each) for each in typing.get_args(hint))
    if typing.get_origin(hint) is list:
        return type(value) is list and all(conforms(v, typing.get_args(hint)[0]) for v in value)
    return isinstance(value, hint)


# What the methods that take arguments are given, keeping the panel's state.
STUB_ARGUMENTS = {
    "setWorkingFolder": lambda panel, root: [panel.workingFolder()],
    "select": lambda panel, root: [panel.selection()],
    "_fsItemDoubleClicked": lambda panel, root: [proxy_index(panel, root / "a.txt")],
    "_showContextMenu": lambda panel, root: [QPoint(0, 0)],
}


@pytest.mark.parametrize("state", ["no folder", "a folder", "a selection"])
def test_every_method_returns_what_the_stub_says(request, tmp_path, state):
    # The return annotations as written (an overloaded method has several),
    # evaluated among the stub's own names.
    source, stub = STUB.read_text(), {}
    exec(compile(source, str(STUB), "exec"), stub)
    [cls] = [node for node in ast.parse(source).body
             if isinstance(node, ast.ClassDef) and node.name == "ExplorerView"]
    methods = {}
    for node in cls.body:
        if isinstance(node, ast.FunctionDef) and node.name != "__init__":
            methods.setdefault(node.name, []).append(eval(ast.unparse(node.returns), stub))
    if state == "no folder":
        panel, root = request.getfixturevalue("panel"), tmp_path
    else:
        panel, root = request.getfixturevalue("opened")
        if state == "a selection":
            panel.select([root / "sub", root / "a.txt"])
    for name, returns in methods.items():
        if (state, name) == ("no folder", "_pasteFiles"):  # nothing to propose: absolute() of None
            with pytest.raises(AttributeError):
                getattr(panel, name)()
            continue
        result = getattr(panel, name)(*STUB_ARGUMENTS.get(name, lambda *_: [])(panel, root))
        assert any(conforms(result, hint) for hint in returns), (name, result, returns)
    for menu in (panel._newFileMenu, panel._fileSystemViewContextMenu):
        menu.close()
    native = type(type(panel).select)
    assert set(methods) == {name for name, fn in vars(type(panel)).items()
                            if type(fn) is native and name != "__init__"}


# ---------------------------------------------------------------- lifetime

@pytest.mark.parametrize("ending", ["last reference dropped", "deleted by Qt first"])
def test_panel_leaves_nothing_alive(qtbot, explorerview, tavro_double, folder_tree, ending):
    root = folder_tree(FOLDER)
    panel = explorerview.ExplorerView()
    panel.setWorkingFolder(root)
    panel.select([root / "a.txt"])
    for name in ("_copyAction", "_deleteAction", "_selectOpenedFileAction",
                 "_expandSelectedAction", "_collapseAllAction"):
        getattr(panel, name).trigger()
    assert len(tavro_double.executed()) == 3
    watched = [weakref.ref(o) for o in (
        panel, panel._copyAction, panel._deleteAction, panel._fileSystemView,
        panel._noFolderOpenedPage, panel._fileSystemViewContextMenu, panel._newFileMenu)]
    tavro_double.calls.clear()  # the recorded toolbar is the panel's child

    if ending == "deleted by Qt first":
        with qtbot.waitSignal(panel.destroyed):
            panel.deleteLater()
    del panel
    gc.collect()
    assert [ref() for ref in watched] == [None] * len(watched)
