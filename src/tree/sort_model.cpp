// FolderFirstSortModel: among a folder's children, folders first, then names
// compared after Python's lower().
//
// lessThan runs once per pair of rows the proxy compares, yet it reads
// `fsModel` afresh for every model call and caches nothing, so rebinding the
// attribute takes effect at the next call.
#include "module/frame.hpp"
#include "module/names.hpp"
#include "module/runtime.hpp"
#include "tree/model_calls.hpp"
#include "tree/rows.hpp"

namespace explorerview::tree {
namespace {

const Name setSourceModel{"setSourceModel"};
const Name fsModel{"fsModel"};

// __init__(self, fsModel): the proxy gets no parent; the model is also its source.
Object sortModelInitBody(Frame& f) {
    py::handle self = f.self(), model = f.arg(1);
    callMethod(f.super(), names::init);
    setAttr(self, fsModel, model);
    callMethod(self, setSourceModel, model);
    return none();
}

// lessThan(self, left, right): a folder beats a non-folder; otherwise the
// lower-cased names decide with str's `<`. Whatever isDir or `<` returned goes
// back to the proxy unchanged. The model calls are made as Python makes them
// (tree/model_calls.hpp says when the toolkit's C++ is called directly).
Object lessThanBody(Frame& f) {
    py::handle self = f.self(), left = f.arg(1), right = f.arg(2);
    Object leftIsDir = modelIsDir(getAttr(self, fsModel), left);
    Object rightIsDir = modelIsDir(getAttr(self, fsModel), right);
    if (truth(notEqual(leftIsDir, rightIsDir))) return leftIsDir;
    LoweredFileName leftName(getAttr(self, fsModel), left);    // fileName(left).lower()
    LoweredFileName rightName(getAttr(self, fsModel), right);  // fileName(right).lower()
    return lessNames(leftName, rightName);
}

}  // namespace

const FunctionRow sortModelInit{
    .name = "__init__",
    .qualname = "FolderFirstSortModel.__init__",
    .params = {"self", "fsModel"},
    .annotations = {{{"fsModel", "QFileSystemModel"}}},
    .firstLine = 35,
    .usesSuper = true,
    .body = sortModelInitBody,
};

const FunctionRow lessThan{
    .name = "lessThan",
    .qualname = "FolderFirstSortModel.lessThan",
    .params = {"self", "left", "right"},
    .annotations = {{{"left", "QModelIndex"}, {"right", "QModelIndex"}, {"return", "bool"}}},
    .firstLine = 40,
    .body = lessThanBody,
};

}  // namespace explorerview::tree
