// "Copy Path": the first selected path, absolute, as clipboard text.
#include "fileops/rows.hpp"
#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"

namespace explorerview::fileops {
namespace {

const Name QApplication{"QApplication"}, clipboard{"clipboard"}, setText{"setText"};
const Name QClipboard{"QClipboard"}, Mode{"Mode"}, Clipboard{"Clipboard"}, mode{"mode"};

// _copyPathOfSelection(self): only the first item is copied, with no list format
// for several; an empty selection leaves whatever the clipboard held.
Object copyPathOfSelectionBody(Frame& f) {
    Object files = callMethod(f.self(), names::selection);
    if (length(files) == 0) return none();
    // The first list only answered "anything selected?"; the path comes from a
    // fresh one, element 0 (its __getitem__, so any sequence the panel returns works).
    Object fresh = callMethod(f.self(), names::selection);
    Object first = item(fresh, 0);
    Object pathStr = str(callMethod(first, names::absolute));
    Object board = callMethod(global(QApplication), clipboard);
    BoundMethod setTextOfBoard = methodOf(board, setText);
    setTextOfBoard(pathStr, kw(mode, getAttr(global(QClipboard), Mode, Clipboard)));
    return none();
}

}  // namespace

const FunctionRow copyPathOfSelection{
    .name = "_copyPathOfSelection",
    .qualname = "ExplorerView._copyPathOfSelection",
    .params = {"self"},
    .firstLine = 330,
    .body = copyPathOfSelectionBody,
};

}  // namespace explorerview::fileops
