// NoFolderOpenedPage: the placeholder shown while no folder is open, with an
// "Open Folder" button that asks the host to open one.
#include "module/frame.hpp"
#include "module/function.hpp"
#include "module/host.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name setMaximumWidth{"setMaximumWidth"}, openFolderButton{"_openFolderButton"};
const Name wordWrap{"wordWrap"}, margins{"margins"};
const Name QPushButton{"QPushButton"}, QVSpacer{"QVSpacer"}, MARGIN_LARGE{"MARGIN_LARGE"};
const Name openFolderText{"Open Folder"}, noFolderText{"You have not yet opened a folder."};
const Name openFolderCommand{"Nodra.openFolder"};

// The button's lambda: `tavro` is looked up at each press, so a host that
// rebinds it is heard at once; the command's result goes back to the toolkit.
Object openFolderLambdaBody(Frame&) {
    return hostExecute()(openFolderCommand);
}

const FunctionRow openFolderLambda{
    .name = "lambda",
    .qualname = "NoFolderOpenedPage.__init__.<locals>.<lambda>",
    .firstLine = 22,
    .shape = CallShape::lambda,
    .body = openFolderLambdaBody,
};

Object noFolderOpenedPageInitBody(Frame& f) {
    py::handle self = f.self();
    callMethod(f.super(), names::init, f.arg(1));

    Object pushButton = global(QPushButton);  // read before the text, as Python would
    Object buttonText = callMethod(self, names::tr, openFolderText);
    // The lambda captures nothing: the page is never needed to open a folder.
    Object onPress = makeFunction(openFolderLambda, none());
    setAttr(self, openFolderButton, call(pushButton, buttonText, kw(names::triggered, onPress)));
    callMethod(getAttr(self, openFolderButton), setMaximumWidth, integer(300));

    BoundMethod setLayout = methodOf(self, names::setLayout);
    Object vbox = global(names::QVBox);
    Object labelType = global(names::QLabel);
    Object labelText = callMethod(self, names::tr, noFolderText);
    Object label = call(labelType, labelText, kw(wordWrap, Py_True));
    Object button = getAttr(self, openFolderButton);
    Object spacer = call(global(QVSpacer));
    Object margin = global(MARGIN_LARGE);
    setLayout(call(vbox, label, button, spacer, kw(margins, margin)));
    return none();
}

}  // namespace

const FunctionRow noFolderOpenedPageInit{
    .name = "__init__",
    .qualname = "NoFolderOpenedPage.__init__",
    .params = {"self", "parent"},
    .defaults = Defaults::noneForLast,
    .firstLine = 18,
    .usesSuper = true,
    .body = noFolderOpenedPageInitBody,
    .inner = {&openFolderLambda},
};

}  // namespace explorerview::panel
