// Native modules that exist once per process.
//
// The native modules keep their classes, method tables and constants in
// process-wide variables, and the modules built on them copy those at import.
// So each module is made once: importing it again (after its entry in
// sys.modules was removed, as in-process reloaders do) hands back the same
// module object, and a second interpreter is refused before anything of the
// module is touched, since everything it holds belongs to the first one.
#pragma once

#include "support/ref.hpp"

#include <cstdint>

namespace tavo {

inline constexpr char kInterpreterChange[] =
    "Interpreter change detected - this module can only be loaded into one interpreter per process.";

// 0 when the calling interpreter is the one `recorded` (recording it on the
// first call); ImportError and -1 for any other.
inline int claim_interpreter(std::int64_t& recorded) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return -1;
    }
    if (recorded == -1) {
        recorded = id;
    } else if (recorded != id) {
        PyErr_SetString(PyExc_ImportError, kInterpreterChange);
        return -1;
    }
    return 0;
}

struct ProcessModule {
    const char* short_name;         // for messages
    std::int64_t interpreter = -1;  // the interpreter the module was first created in
    PyObject* module = nullptr;     // the module once its exec step succeeded, kept for good
};

// The module's create step (Py_mod_create): the kept module, else a new one.
inline PyObject* create_process_module(ProcessModule& state, PyObject* spec) {
    if (claim_interpreter(state.interpreter) < 0) {
        return nullptr;
    }
    if (state.module) {
        return new_ref(state.module);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    return name ? PyModule_NewObject(name.get()) : nullptr;
}

// The module's exec step (Py_mod_exec): runs `exec` on a new module and keeps
// the module once it succeeded; the kept module handed back is complete. A
// failed exec keeps nothing, so a later import runs it again.
inline int exec_process_module(ProcessModule& state, PyObject* module, int (*exec)(PyObject*)) {
    if (state.module) {
        if (state.module == module) {
            return 0;
        }
        // Running it again would replace objects that modules and owners already hold.
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.", state.short_name);
        return -1;
    }
    if (exec(module) < 0) {
        return -1;
    }
    state.module = new_ref(module);
    return 0;
}

}  // namespace tavo
