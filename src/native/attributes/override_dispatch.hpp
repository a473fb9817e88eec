// Which attrvalue runs: the class's own rendering, or a Python-level override
// found on the instance; and whether an argument is an owner.
#pragma once

#include "attributes/state.hpp"
#include "support/compat.hpp"

namespace tavo::attributes {

// Create the Python-visible `attrvalue` function object of `cls` (function.cpp).
PyObject* new_attrvalue_function(AttrClass& cls);
int ready_function_type();

// The attrvalue table entry of a class: the override dispatch, then the
// class's rendering. A failure gets the class's attrvalue traceback entry.
using Renderer = PyObject* (*)(PyObject* self, PyObject* obj);

// Look for a Python-level override of attrvalue on `self`. Returns false when
// there is none (the class's own rendering runs); otherwise true with
// `result` holding the override's result (null on failure).
bool dispatch_attrvalue_override(PyObject* self, PyObject* obj, AttrClass& cls, Ref& result);

template <AttrClass& Cls, Renderer Render>
PyObject* attrvalue_entry(PyObject* self, PyObject* obj, int skip_dispatch) {
    Ref result;
    if (skip_dispatch || !dispatch_attrvalue_override(self, obj, Cls, result)) {
        result = Ref::steal(Render(self, obj));
    }
    if (!result) {
        ATTR_TRACE(Cls.attrvalue_qualname);
    }
    return result.release();
}

// Whether obj is an owner (EventDispatcher) instance. The subtype test's
// outcome is remembered by the version tag of the last owner class that
// passed it: tags are never reused, and a change of a class's bases retags it.
extern unsigned int owner_type_tag;
bool is_owner_slow(PyObject* obj);
inline bool is_owner(PyObject* obj) {
    const unsigned int tag = compat::type_version(Py_TYPE(obj));
    if (tag != 0 && tag == owner_type_tag) {
        return true;
    }
    return is_owner_slow(obj);
}

}  // namespace tavo::attributes
