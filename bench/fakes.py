"""Cheap collaborators for counting the module's own instructions.

Every method the code under test calls on them is a builtin bound method (a
dict look-up, a set insertion, `id`, ...), so that their cost is small and the
same for the native function and its Python reference; what differs is only
how each side binds arguments, reads attributes and globals, and makes calls.
"""
import itertools
from types import SimpleNamespace

# A builtin that takes no argument and returns True: an index's isValid().
_TRUE = "x".isascii


class Index(int):
    """A model index: valid, true, and hashed by the number it was made with.

    Numbered in order of making, the fakes of either side lay out their dicts
    alike; an identity hash follows the object's address, which differs between
    the two sides' fakes and moved dict look-ups by a hundred instructions."""

    __slots__ = ()
    isValid = _TRUE


def _indexes():
    """Index maker for one set of fakes: 1, 2, 3, ..."""
    numbers = itertools.count(1)
    return lambda: Index(next(numbers))


def returning(value):
    """A builtin that takes no argument and returns `value` each time."""
    return itertools.repeat(value).__next__


class Member:
    """An enumeration member: its integer is `value`."""

    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value


class SelectionFlag(int):
    """Stands for the selection model's flag enumeration: members with `value`,
    and the class called with the combined integer."""

    NoUpdate = Member(0x0)
    Select = Member(0x2)
    Deselect = Member(0x4)
    Rows = Member(0x20)


class SelectionModel:
    """select() and setCurrentIndex() record into dicts; clear() empties a
    list; selectedRows() returns the prebuilt list of indexes, currentIndex()
    the first of them, and clearCurrentIndex() empties the current dict."""

    SelectionFlag = SelectionFlag

    def __init__(self, rows):
        self.selected = {}
        self.clear = [].clear
        self.select = self.selected.__setitem__
        self.current = {}
        self.setCurrentIndex = self.current.__setitem__
        self.selectedRows = returning(rows)
        self.currentIndex = returning(rows[0])
        self.clearCurrentIndex = self.current.clear


def sort_model(files=("README.md", "assets"), folders=("build",)):
    """(model, {name: index}): a model whose isDir and fileName are dict look-ups."""
    make = _indexes()
    indexes = {name: make() for name in (*files, *folders)}
    is_dir = {index: name in folders for name, index in indexes.items()}
    file_name = {index: name for name, index in indexes.items()}
    model = SimpleNamespace(isDir=is_dir.__getitem__, fileName=file_name.__getitem__)
    return model, indexes


class Tree:
    """What select/selection and setRootPath reach through the tree, for a
    folder /work/p of `count` entries (every other one in /work/q instead
    when `outside`): the two models and the selection model are fakes;
    `install(view)` puts them on a real tree (or anything else)."""

    def __init__(self, count, outside=False):
        self.paths = [f"/work/{'q' if outside and i % 2 else 'p'}/Entry{i}.txt" for i in range(count)]
        make = _indexes()
        source = [make() for _ in self.paths]
        self.proxy = proxy = [make() for _ in self.paths]
        parent = make()
        self.root_path = "/work/p"
        root_source, root_proxy = make(), make()
        by_path = dict(zip(self.paths, source))
        by_path[self.root_path] = root_source
        file_path = dict(zip(source, self.paths))
        file_path[root_source] = self.root_path
        from_source = dict(zip(source, proxy))
        from_source[root_source] = root_proxy
        to_source = dict(zip(proxy, source))
        to_source[root_proxy] = root_source
        self.root_index = returning(root_proxy)
        parents = dict.fromkeys(proxy, parent)

        self.fsmodel = SimpleNamespace(index=by_path.__getitem__, filePath=file_path.__getitem__,
                                       setRootPath=by_path.__getitem__)
        self.sortModel = SimpleNamespace(mapFromSource=from_source.__getitem__,
                                         mapToSource=to_source.__getitem__,
                                         parent=parents.__getitem__)
        self.selection_model = SelectionModel(proxy)
        self.roots = set()

    def install(self, view):
        """Give `view` the fake models, and builtins for the tree's own calls
        (instance attributes win over the class's methods)."""
        view.fsmodel = self.fsmodel
        view.sortModel = self.sortModel
        view.selectionModel = returning(self.selection_model)
        view.expand = id
        view.scrollTo = id
        view.setRootIndex = self.roots.add
        view.rootIndex = self.root_index
        return view
