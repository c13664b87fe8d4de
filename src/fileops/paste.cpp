// "Paste": ask the host for a target folder, proposing the selection's folder,
// then hand the confirmed folder to the host's paste command.
#include "fileops/rows.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name commonFolderInSelection_{"_commonFolderInSelection"}, absolute{"absolute"};
const Name tavro{"tavro"}, window{"window"}, commands{"commands"}, tr{"tr"};
const Name showTextInputBox{"showTextInputBox"}, then{"then"};
const Name showErrorMessage{"showErrorMessage"}, execute{"execute"};
const Name Path{"Path"}, isDir{"is_dir"};
const Name copyTo{"Copy to"}, folderNotValid{"Folder is not valid."}, pasteFilesCommand{"Nodra.pasteFiles"};

// doPaste(folderStr, ok): the confirmed text alone decides the target; the
// proposal is not remembered. An empty text is refused like any non-folder:
// Path("") means the current directory of the process, which the user never
// chose, so pasting there would put files somewhere unexpected.
py::object doPasteBody(Frame& f) {
    py::handle folderStr = f.arg(0), ok = f.arg(1);
    if (!truth(ok)) return py::none();  // cancelled
    bool emptyText = PyUnicode_Check(folderStr.ptr()) && PyUnicode_GET_LENGTH(folderStr.ptr()) == 0;
    if (emptyText || !truth(callMethod(call(global(Path), folderStr), isDir))) {
        py::object hostWindow = global(tavro).attr(window);
        py::object message = callMethod(f.captured(), tr, folderNotValid);
        callMethod(hostWindow, showErrorMessage, message);
        return py::none();
    }
    py::object hostCommands = global(tavro).attr(commands);
    py::object target = call(global(Path), folderStr);  // built afresh from the text
    callMethod(hostCommands, execute, pasteFilesCommand, target);
    return py::none();
}

const FunctionRow doPaste{
    .name = "doPaste",
    .qualname = "ExplorerView._pasteFiles.<locals>.doPaste",
    .params = {"folderStr", "ok"},
    .firstLine = 314,
    .body = doPasteBody,
};

// _pasteFiles(self): opens the prompt and returns at once; doPaste does the rest.
// With no folder open and nothing selected there is nothing to propose, and
// absolute() of None raises before any prompt opens.
py::object pasteFilesBody(Frame& f) {
    py::object folder = callMethod(f.self(), commonFolderInSelection_);
    py::object callback = makeFunction(doPaste, captureOne(f.self()));
    py::object hostWindow = global(tavro).attr(window);
    py::object label = callMethod(f.self(), tr, copyTo);
    py::object proposal = text(callMethod(folder, absolute));
    callMethod(hostWindow, showTextInputBox, label, proposal, kw(then, callback));
    return py::none();
}

}  // namespace

const FunctionRow pasteFiles{
    .name = "_pasteFiles",
    .qualname = "ExplorerView._pasteFiles",
    .params = {"self"},
    .firstLine = 308,
    .doc = "\n        Paste files\n        ",
    .body = pasteFilesBody,
    .inner = {&doPaste},
};

}  // namespace explorerview::fileops
