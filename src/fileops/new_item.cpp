// "File" and "Folder": ask the host for a name, then have it create the item in
// the selection's folder as it is when the user confirms. The two are twins that
// differ only in the prompt's label and the host command, so one pair of bodies,
// instantiated per kind, serves both.
#include "fileops/rows.hpp"
#include "module/frame.hpp"
#include "module/function.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name empty{""};
const Name fileLabel{"File name"}, newFileCommand{"Nodra.newFile"};
const Name folderLabel{"Folder name"}, newFolderCommand{"Nodra.newFolder"};

struct NewItem {
    const Name& label;    // the prompt's label, before translation
    const Name& command;  // the host command that creates the item
};
const NewItem fileItem{fileLabel, newFileCommand};
const NewItem folderItem{folderLabel, newFolderCommand};

// Whether `c` separates path components on this platform.
bool isSeparator(Py_UCS4 c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

#ifdef _WIN32
// "D:" or "D:notes" (a drive, as Windows paths parse one: any character and a
// colon, and no root after it) is relative to that drive's current folder,
// which the user never sees. Joined, it points outside the chosen folder, or
// on the folder's own drive at the folder itself.
bool isDriveRelative(PyObject* text, Py_ssize_t length) {
    return length >= 2 && PyUnicode_READ_CHAR(text, 1) == ':' &&
           (length == 2 || !isSeparator(PyUnicode_READ_CHAR(text, 2)));
}
#endif

// A typed name that adds no component ("", ".", "./", "./.") would make the
// joined path the target folder itself, asking the host to create an item
// where its folder already is. Such a name is treated as no name at all.
// Decided from the text alone: only "." segments and empty ones between
// separators add nothing, and a leading separator is a root (an absolute
// name, which replaces the folder), as pathlib parses a name.
bool namesNothing(py::handle name) {
    PyObject* text = name.ptr();
    if (!PyUnicode_Check(text)) return false;  // bytes: left for the join to refuse
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
#ifdef _WIN32
    if (isDriveRelative(text, length)) return true;
#endif
    if (length > 0 && isSeparator(PyUnicode_READ_CHAR(text, 0))) return false;
    Py_UCS4 previous = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
        if (c != '.' && !isSeparator(c)) return false;  // a named segment
        if (c == '.' && previous == '.') return false;  // "..", a segment of its own
        previous = c;
    }
    return true;
}

// os.fspath(name): the text of a path object that a host hands back instead
// of a str (a Path, say), so that Path(".") is judged as "." is; a str is
// itself and runs no code. Anything else raises TypeError, as the join would.
Object fspath(py::handle name) {
    return ownedOrThrow(intoPython([&] { return PyOS_FSPath(name.ptr()); }));
}

// doCreateFile / doCreateFolder (name, ok): the folder is taken now, at the
// confirmation, so the selection of that moment decides where the item goes.
// No other check on the name: refused names and existing items are the host
// command's to report.
template <const NewItem& item>
Object createBody(Frame& f) {
    if (!truth(f.arg(1))) return none();  // cancelled: not even the selection is read
    Object name = fspath(f.arg(0));       // what the join below parses
    if (namesNothing(name)) return none();
    Object folder = callMethod(f.captured(), names::commonFolderInSelection);
    BoundMethod execute = hostExecute();
    // folder / name: nested names nest, an absolute name replaces the folder.
    execute(item.command, divide(folder, name));
    return none();
}

// _newFile / _newFolder (self): opens the prompt with an empty field and
// returns at once. The callback is this row's one inner function.
template <const NewItem& item>
Object promptBody(Frame& f) {
    Object callback = makeFunction(*f.spec.inner[0], captureOne(f.self()));
    BoundMethod showTextInputBox = methodOf(hostWindow(), names::showTextInputBox);
    Object label = callMethod(f.self(), names::tr, item.label);
    showTextInputBox(label, empty, kw(names::then, callback));
    return none();
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
