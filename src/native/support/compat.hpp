// Runtime-version details, kept here so that the rest of the native code
// reads the same on every supported CPython (3.11, 3.12, 3.13).
//
// Only what depends on the runtime's version or on its private parts belongs
// here, one section per concern.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::compat {

// ==== Trashcan: releasing deep chains of objects ============================
//
// An object that holds the last reference to another releases it from its
// own tp_dealloc, so a chain of a million objects recurses a million times and
// exhausts the C stack. The runtime's trashcan puts an object aside once the
// nesting is deep and releases the ones put aside when the outer releases
// return. Its macros are not the same across versions (3.11 and 3.12 count
// the nesting in _PyTrash_begin/_PyTrash_end; 3.13 spends the thread's C
// recursion budget and checks the type itself), and their body must not
// `return` past the closing macro: they are used here only.

// The tp_dealloc `Dealloc` of a GC type: untracks `op` and runs `release`
// (which frees op's fields and then op itself) under the trashcan. The
// trashcan is entered only when Dealloc is op's type's own tp_dealloc: when a
// subclass's release (native, or the runtime's for a Python subclass) calls
// this as its base's, it already entered the trashcan for the same object,
// and entering again would put the object aside a second time.
template <destructor Dealloc, typename Release>
inline void dealloc_in_trashcan(PyObject* op, Release&& release) noexcept {
    // An object put aside must no longer be tracked by the collector.
    PyObject_GC_UnTrack(op);
    Py_TRASHCAN_BEGIN(op, Dealloc)
    release();
    Py_TRASHCAN_END
}

// ==== end of trashcan ========================================================

}  // namespace tavo::compat
