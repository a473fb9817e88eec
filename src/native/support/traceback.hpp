// Traceback entries for failures raised in native code.
//
// A failing native operation adds one entry naming itself, so a Python
// traceback shows the chain of native operations that led to the error.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo {

// Add a traceback entry `qualname` at `line` of `file` to the exception
// currently set. Does nothing when no exception is set.
inline void add_traceback(const char* qualname, int line, const char* file) noexcept {
    if (PyErr_Occurred()) {
        _PyTraceback_Add(qualname, file, line);
    }
}

}  // namespace tavo
