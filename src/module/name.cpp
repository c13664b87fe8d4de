// Every Name is registered when it is constructed (static initialisation) and
// interned at module exec, when the interpreter exists.
#include "module/name.hpp"

#include <vector>

namespace explorerview {

namespace {
// Every Name declared anywhere, in static-initialisation order.
std::vector<Name*>& allNames() {
    static std::vector<Name*> names;
    return names;
}
}  // namespace

Name::Name(const char* text) : text_(text) { allNames().push_back(this); }

void Name::internAll() {
    for (Name* name : allNames()) {
        if (name->object_) continue;  // kept for the life of the process
        name->object_ = PyUnicode_InternFromString(name->text_);
        if (!name->object_) throw PythonError();
    }
}

}  // namespace explorerview
