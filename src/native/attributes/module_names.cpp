// Module-level names (of the module namespace, then of the builtins) looked
// up at call time, as Python code finds its globals.
#include "attributes/module_names.hpp"

#include "support/compat.hpp"

namespace tavo::attributes {

int watch_module_namespaces() {
    if (compat::watch_namespace(g.module_dict) < 0) {
        return -1;
    }
    return compat::watch_namespace(PyModule_GetDict(g.builtins));
}

PyObject* module_global(GlobalName& global) {
    if (!g.module_dict) {
        // The import that registered the calling class failed and cleared the
        // namespace: nothing is defined until an import succeeds.
        global.value = nullptr;
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", *global.name);
        return nullptr;
    }
    PyObject* builtins = PyModule_GetDict(g.builtins);
    // A namespace's version changes with every change of its entries and never
    // comes back, so an unchanged pair of versions finds the same object.
    if (global.value && compat::namespace_version(g.module_dict) == global.module_version &&
        compat::namespace_version(builtins) == global.builtins_version) {
        return new_ref(global.value);
    }
    global.value = nullptr;
    PyObject* name = *global.name;
    PyObject* found = PyDict_GetItemWithError(g.module_dict, name);
    if (!found && !PyErr_Occurred()) {
        found = PyDict_GetItemWithError(builtins, name);
        if (!found && !PyErr_Occurred()) {
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        }
    }
    if (!found) {
        return nullptr;
    }
    global.module_version = compat::namespace_version(g.module_dict);
    global.builtins_version = compat::namespace_version(builtins);
    // Without versions (no dict watcher was free) nothing is remembered.
    global.value = global.module_version != 0 ? found : nullptr;
    return new_ref(found);
}

}  // namespace tavo::attributes
