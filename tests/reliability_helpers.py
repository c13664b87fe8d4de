"""What the leak, fuzzing and fault tests share: hostile argument values,
every native function of the module (the run-time ones included), raw calls
through the C API, and waiting for a panel's tree to list its folder."""
import ctypes
import gc
import os
from pathlib import Path, PurePosixPath

from PyQt6.QtCore import QCoreApplication, QEvent


class Boom(Exception):
    """Raised by the hostile values: the module must let it through unchanged."""


class RaisingStr:
    def __str__(self):
        raise Boom("__str__")

    def __repr__(self):  # kept working, so that failures can be reported
        return "RaisingStr()"


class RaisingBool:
    def __bool__(self):
        raise Boom("__bool__")


class RaisingEq:
    def __eq__(self, other):
        raise Boom("__eq__")

    __ne__ = __eq__
    __hash__ = object.__hash__


class RaisingFspath:
    def __fspath__(self):
        raise Boom("__fspath__")

    def __str__(self):
        return "/nonexistent/fspath"


class RaisingEverything(RaisingStr, RaisingBool, RaisingEq, RaisingFspath):
    def __getattr__(self, name):
        raise Boom(f"__getattr__({name})")

    def __len__(self):
        raise Boom("__len__")

    def __iter__(self):
        raise Boom("__iter__")


class StrangePath(type(Path())):
    """A Path subclass: the module must treat it as any path."""


class StrangeStr(str):
    """A str subclass whose comparisons raise: exercises keyword matching."""

    def __eq__(self, other):
        raise Boom("StrangeStr.__eq__")

    __hash__ = str.__hash__


class ListSubclass(list):
    pass


def hostile_values():
    """One of each kind the module must survive as any argument."""
    return [
        None, 0, -1, 2**31, 2**64, -2**63 - 1, 1.5, float("nan"), True, False,
        "", "/", "\x00", "a\x00b", "\udcff", "/tmp/\ud800x", "é" * 300, "/" * 5000,
        b"", b"/tmp", b"\xff\xfe", bytearray(b"/tmp"),
        [], [[]], [[[[None]]]], [None] * 10, ListSubclass(["/tmp"]), ("/tmp",), {"/tmp": 1}, {1, 2},
        Path("/tmp"), Path(""), StrangePath("/tmp"), PurePosixPath("/tmp"),
        RaisingStr(), RaisingBool(), RaisingEq(), RaisingFspath(), RaisingEverything(),
        object(), type, len, Boom, Ellipsis, NotImplemented,
    ]


# ---------------------------------------------------------------- the module's functions

def function_type(module):
    return type(module.ExplorerView.select)


def class_methods(module):
    """[(class, name, function)] for every method of the four classes."""
    found = []
    for cls in (module.NoFolderOpenedPage, module.FolderFirstSortModel,
                module.FileSystemView, module.ExplorerView):
        for name, value in vars(cls).items():
            if type(value) is function_type(module):
                found.append((cls, name, value))
    return found


def made_functions(module, name, captured=None):
    """The live run-time functions called `name` (lambdas, callbacks); with
    `captured`, only those whose closure holds that object."""
    kind = function_type(module)
    found = []
    for obj in gc.get_objects():
        if type(obj) is kind and obj.__name__ == name:
            if captured is None or (obj.__closure__ and obj.__closure__[0].cell_contents is captured):
                found.append(obj)
    return found


def runtime_functions(module, panel, double):
    """{name: function} for the four lambdas and the three callbacks of `panel`.

    The lambdas are reached as the toolkit holds them (found among the live
    objects); the callbacks come from the prompts they were handed to.
    """
    functions = {
        "lambda": made_functions(module, "lambda")[-1],
        "lambda1": made_functions(module, "lambda1")[-1],
        "lambda2": made_functions(module, "lambda2", panel)[-1],
        "lambda3": made_functions(module, "lambda3", panel)[-1],
    }
    for method, callback in (("_pasteFiles", "doPaste"), ("_newFile", "doCreateFile"),
                             ("_newFolder", "doCreateFolder")):
        getattr(panel, method)()
        functions[callback] = double.pendingPrompts.pop()
    return functions


# ---------------------------------------------------------------- raw calls

_api = ctypes.pythonapi
_vectorcall = _api.PyObject_Vectorcall
_vectorcall.restype = ctypes.py_object
_vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]
_object_call = _api.PyObject_Call
_object_call.restype = ctypes.py_object
_object_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.c_void_p]


def vectorcall(function, args=(), kwnames=(), kwvalues=()):
    """function(*args, **zip(kwnames, kwvalues)) through the vectorcall protocol,
    with keyword names of any type: Python's own call syntax only lets strings
    through, the C API does not check."""
    items = [*args, *kwvalues]
    array = (ctypes.py_object * max(1, len(items)))(*items)
    names = tuple(kwnames) if kwnames else None
    return _vectorcall(function, ctypes.cast(array, ctypes.c_void_p), len(args),
                       id(names) if names else None)


def object_call(function, args=(), kwargs=None):
    """PyObject_Call(function, args, kwargs): a dict with keys of any type."""
    return _object_call(function, tuple(args), id(kwargs) if kwargs is not None else None)


# ---------------------------------------------------------------- Qt

def flush_deletions():
    """Run the deletions Qt has deferred, and collect.

    PyQt frees the connections of a destroyed widget (and with them the
    callables connected to its signals) one deferred deletion later than the
    widget itself, so one round leaves the latest ones alive: run three.
    """
    for _ in range(3):
        gc.collect()
        QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete.value)
        QCoreApplication.processEvents()
    gc.collect()


def open_folder(qtbot, panel, folder, timeout=20000):
    """setWorkingFolder(folder) and wait until the tree's model has listed it."""
    model = panel._fileSystemView.fsmodel
    expected = os.path.realpath(folder)
    with qtbot.waitSignal(model.directoryLoaded, timeout=timeout,
                          check_params_cb=lambda loaded: os.path.realpath(loaded) == expected):
        panel.setWorkingFolder(folder)


def resident_bytes():
    """The process's resident set size, from /proc/self/statm."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_sanitizer():
    """True under `make asan`: freed memory is quarantined, allocations are not pymalloc's."""
    return "libasan" in os.environ.get("LD_PRELOAD", "") or os.environ.get("PYTHONMALLOC") == "malloc"


def entries(error):
    """The function names of the traceback entries of `error`, outermost first."""
    names, tb = [], error.__traceback__
    while tb:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names
