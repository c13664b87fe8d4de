// The process-wide module record. Only the importing thread touches it, with the
// interpreter lock held, and the single-interpreter rule keeps it to one copy.
#include "module/state.hpp"

#include <utility>

namespace explorerview::state {

namespace {
std::int64_t recordedInterpreter = -1;
// Owned: one reference to the recorded module for as long as it is recorded.
// A raw pointer on purpose: it must survive until the process ends, past the
// point where static destructors could still decrement it safely.
PyObject* recordedModule = nullptr;
PyObject* recordedGlobals = nullptr;  // borrowed from recordedModule
}  // namespace

PyObject* globals() { return recordedGlobals; }

std::int64_t interpreterId() { return recordedInterpreter; }
void setInterpreterId(std::int64_t id) { recordedInterpreter = id; }

PyObject* module() { return recordedModule; }

bool record(PyObject* module) {
    PyObject* globals = PyModule_GetDict(module);
    if (!globals) return false;
    drop();
    recordedModule = Py_NewRef(module);
    recordedGlobals = globals;
    return true;
}

void drop() {
    recordedGlobals = nullptr;
    release(std::exchange(recordedModule, nullptr));
}

}  // namespace explorerview::state
