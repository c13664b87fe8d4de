// Placeholder entry point: the least that builds and imports.
#include <Python.h>

namespace {
int exec_module(PyObject*) { return 0; }
PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};
PyModuleDef definition = {PyModuleDef_HEAD_INIT, "explorerview", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};
}  // namespace

PyMODINIT_FUNC PyInit_explorerview() { return PyModuleDef_Init(&definition); }
