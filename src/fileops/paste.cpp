// "Paste": ask the host for a target folder, proposing the selection's folder,
// then hand the confirmed folder to the host's paste command.
#include "fileops/rows.hpp"
#include "module/frame.hpp"
#include "module/function.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name copyTo{"Copy to"}, folderNotValid{"Folder is not valid."}, pasteFilesCommand{"Nodra.pasteFiles"};

// doPaste(folderStr, ok): the confirmed text alone decides the target; the
// proposal is not remembered. An empty text is refused like any non-folder:
// Path("") means the current directory of the process, which the user never
// chose, so pasting there would put files somewhere unexpected.
Object doPasteBody(Frame& f) {
    py::handle folderStr = f.arg(0), ok = f.arg(1);
    if (!truth(ok)) return none();  // cancelled
    bool emptyText = PyUnicode_Check(folderStr.ptr()) && PyUnicode_GET_LENGTH(folderStr.ptr()) == 0;
    if (emptyText || !truth(callMethod(call(global(names::Path), folderStr), names::is_dir))) {
        BoundMethod showErrorMessage = methodOf(hostWindow(), names::showErrorMessage);
        showErrorMessage(callMethod(f.captured(), names::tr, folderNotValid));
        return none();
    }
    BoundMethod execute = hostExecute();
    execute(pasteFilesCommand, call(global(names::Path), folderStr));  // built afresh from the text
    return none();
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
Object pasteFilesBody(Frame& f) {
    Object folder = callMethod(f.self(), names::commonFolderInSelection);
    Object callback = makeFunction(doPaste, captureOne(f.self()));
    BoundMethod showTextInputBox = methodOf(hostWindow(), names::showTextInputBox);
    Object label = callMethod(f.self(), names::tr, copyTo);
    Object proposal = str(callMethod(folder, names::absolute));
    showTextInputBox(label, proposal, kw(names::then, callback));
    return none();
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
