// Traceback entries for failures raised in native code.
//
// A failing native operation adds one entry naming itself, so a Python
// traceback shows the chain of native operations that led to the error.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#include "support/compat.hpp"
#include "support/ref.hpp"

namespace tavo {

// Add a traceback entry `qualname` at `line` of `file` to the exception
// currently set. Does nothing when no exception is set. The entry is a frame
// of an empty code object whose first line is `line`: a frame that has not
// run reports its code's first line. Failing to build it keeps the exception
// as it was.
inline void add_traceback(const char* qualname, int line, const char* file) noexcept {
    if (!PyErr_Occurred()) {
        return;
    }
    Ref frame;
    {
        compat::SavedError pending;
        Ref globals = Ref::steal(PyDict_New());
        Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(file, qualname, line)));
        if (globals && code) {
            frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(
                PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), globals.get(), nullptr)));
        }
    }
    if (frame) {
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
    }
}

}  // namespace tavo
