// What module exec builds once and every later call reuses: the module's full
// name, the default tuples, the builtin super, and for every function row its
// code object(s), its strings and its traceback name.
#pragma once

#include <string>

#include <pybind11/pybind11.h>

#include "module/function_row.hpp"

namespace explorerview::constants {

namespace py = pybind11;

inline constexpr const char* fullName = "Tavro_Workspace.explorerview";
// The file name of code objects and traceback entries: no such file exists,
// and the angle brackets tell tools such as linecache not to look for one.
inline constexpr const char* fileName = "<Tavro_Workspace.explorerview>";

// A function row as built at exec: everything a function object takes from
// its row, shared by every function made from the row.
struct BuiltRow {
    const FunctionRow* spec = nullptr;
    int nparams = 0;            // positional-or-keyword parameters
    Object params[3];       // their names, interned: keywords are matched against these
    Object name, qualname;  // str
    Object doc;             // str, or None
    Object annotations[3][2];  // (key, value) str pairs; unused entries null
    // co_freevars () and, for rows that may close over something, a variant
    // whose co_freevars names what the closure holds: ('__class__',) for the
    // constructors that use zero-argument super(), ('self',) for the lambdas
    // and inner callbacks that capture the panel.
    Object code, codeWithFreeVar;
    std::string tracebackName;  // "Tavro_Workspace.explorerview.ExplorerView.select"
};

// Exec step 5: the interned names, the module name string, the default tuples.
void build();

// Exec step 7: the builtin super, resolved from `builtins` (a dict); NameError
// if absent.
void resolveSuper(py::handle builtins);
py::handle builtinSuper();  // borrowed

// Exec step 8: one BuiltRow per function row of the four classes and of the
// functions their bodies create.
void buildRows();
const BuiltRow& builtRow(const FunctionRow& spec);  // SystemError if the row was never built

py::handle moduleName();                    // borrowed: "Tavro_Workspace.explorerview"
py::handle defaultsFor(Defaults defaults);  // borrowed: (None,), (False,) or null

}  // namespace explorerview::constants
