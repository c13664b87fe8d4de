// "File" and "Folder": ask the host for a name, then have it create the item in
// the selection's folder as it is when the user confirms. The two are twins that
// differ only in the prompt's label and the host command, so one pair of bodies,
// instantiated per kind, serves both.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name commonFolderInSelection_{"_commonFolderInSelection"}, Path{"Path"}, parts{"parts"};
const Name tavro{"tavro"}, window{"window"}, commands{"commands"}, tr{"tr"};
const Name showTextInputBox{"showTextInputBox"}, then{"then"}, execute{"execute"}, empty{""};
const Name fileLabel{"File name"}, newFileCommand{"Nodra.newFile"};
const Name folderLabel{"Folder name"}, newFolderCommand{"Nodra.newFolder"};

struct NewItem {
    const Name& label;    // the prompt's label, before translation
    const Name& command;  // the host command that creates the item
};
const NewItem fileItem{fileLabel, newFileCommand};
const NewItem folderItem{folderLabel, newFolderCommand};

// A typed name that adds no component ("", ".", "./") would make the joined
// path the target folder itself, asking the host to create an item where its
// folder already is. Such a name is treated as no name at all.
bool namesNothing(py::handle name) {
    if (!PyUnicode_Check(name.ptr())) return false;  // left for the join to judge
    if (PyUnicode_GET_LENGTH(name.ptr()) == 0) return true;
    return !truth(call(global(Path), name).attr(parts));
}

// doCreateFile / doCreateFolder (name, ok): the folder is taken now, at the
// confirmation, so the selection of that moment decides where the item goes.
// No other check on the name: refused names and existing items are the host
// command's to report.
template <const NewItem& item>
py::object createBody(Frame& f) {
    py::handle name = f.arg(0);
    if (!truth(f.arg(1))) return py::none();  // cancelled: not even the selection is read
    if (namesNothing(name)) return py::none();
    py::object folder = callMethod(f.captured(), commonFolderInSelection_);
    py::object hostCommands = global(tavro).attr(commands);
    // folder / name: nested names nest, an absolute name replaces the folder.
    PyObject* joined = PyNumber_TrueDivide(folder.ptr(), name.ptr());
    if (!joined) throw py::error_already_set();
    py::object target = py::reinterpret_steal<py::object>(joined);
    callMethod(hostCommands, execute, item.command, target);
    return py::none();
}

// _newFile / _newFolder (self): opens the prompt with an empty field and
// returns at once. The callback is this row's one inner function.
template <const NewItem& item>
py::object promptBody(Frame& f) {
    py::object callback = makeFunction(*f.spec.inner[0], captureOne(f.self()));
    py::object hostWindow = global(tavro).attr(window);
    py::object label = callMethod(f.self(), tr, item.label);
    callMethod(hostWindow, showTextInputBox, label, empty, kw(then, callback));
    return py::none();
}

const FunctionRow doCreateFile{
    .name = "doCreateFile",
    .qualname = "ExplorerView._newFile.<locals>.doCreateFile",
    .params = {"name", "ok"},
    .annotations = {{{"ok", "bool"}}},
    .firstLine = 336,
    .body = createBody<fileItem>,
};

const FunctionRow doCreateFolder{
    .name = "doCreateFolder",
    .qualname = "ExplorerView._newFolder.<locals>.doCreateFolder",
    .params = {"name", "ok"},
    .annotations = {{{"ok", "bool"}}},
    .firstLine = 349,
    .body = createBody<folderItem>,
};

}  // namespace

const FunctionRow newFile{
    .name = "_newFile",
    .qualname = "ExplorerView._newFile",
    .params = {"self"},
    .firstLine = 335,
    .body = promptBody<fileItem>,
    .inner = {&doCreateFile},
};

const FunctionRow newFolder{
    .name = "_newFolder",
    .qualname = "ExplorerView._newFolder",
    .params = {"self"},
    .firstLine = 348,
    .body = promptBody<folderItem>,
    .inner = {&doCreateFolder},
};

}  // namespace explorerview::fileops
