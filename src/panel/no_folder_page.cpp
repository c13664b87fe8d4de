// NoFolderOpenedPage: the placeholder shown while no folder is open, with an
// "Open Folder" button that asks the host to open one.
#include "module/runtime.hpp"
#include "panel/rows.hpp"

namespace explorerview::panel {
namespace {

const Name init{"__init__"}, tr{"tr"}, setMaximumWidth{"setMaximumWidth"}, setLayout{"setLayout"};
const Name openFolderButton{"_openFolderButton"}, triggered{"triggered"}, wordWrap{"wordWrap"};
const Name margins{"margins"};
const Name QPushButton{"QPushButton"}, QVBox{"QVBox"}, QLabel{"QLabel"}, QVSpacer{"QVSpacer"};
const Name MARGIN_LARGE{"MARGIN_LARGE"};
const Name tavro{"tavro"}, commands{"commands"}, execute{"execute"};
const Name openFolderText{"Open Folder"}, noFolderText{"You have not yet opened a folder."};
const Name openFolderCommand{"Nodra.openFolder"};

// The button's lambda: `tavro` is looked up at each press, so a host that
// rebinds it is heard at once; the command's result goes back to the toolkit.
py::object openFolderLambdaBody(Frame&) {
    return callMethod(global(tavro).attr(commands), execute, openFolderCommand);
}

const FunctionRow openFolderLambda{
    .name = "lambda",
    .qualname = "NoFolderOpenedPage.__init__.<locals>.<lambda>",
    .firstLine = 22,
    .shape = CallShape::lambda,
    .body = openFolderLambdaBody,
};

py::object noFolderOpenedPageInitBody(Frame& f) {
    py::handle self = f.self();
    callMethod(f.super(), init, f.arg(1));

    py::object pushButton = global(QPushButton);  // read before the text, as Python would
    py::object buttonText = callMethod(self, tr, openFolderText);
    // The lambda captures nothing: the page is never needed to open a folder.
    py::object onPress = makeFunction(openFolderLambda, py::none());
    self.attr(openFolderButton) = call(pushButton, buttonText, kw(triggered, onPress));
    callMethod(self.attr(openFolderButton), setMaximumWidth, py::int_(300));

    py::object vbox = global(QVBox);
    py::object labelType = global(QLabel);
    py::object labelText = callMethod(self, tr, noFolderText);
    py::object label = call(labelType, labelText, kw(wordWrap, Py_True));
    py::object button = self.attr(openFolderButton);
    py::object spacer = call(global(QVSpacer));
    py::object margin = global(MARGIN_LARGE);
    py::object layout = call(vbox, label, button, spacer, kw(margins, margin));
    callMethod(self, setLayout, layout);
    return py::none();
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
