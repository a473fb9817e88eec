// Which attrvalue runs: the class's own rendering, or a Python-level override
// found on the instance; and whether an argument is an owner.
#pragma once

#include "attributes/state.hpp"
#include "support/compat.hpp"
#include "support/subtype_memo.hpp"

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

// Whether obj is an owner (EventDispatcher) instance.
extern SubtypeMemo owner_test;
inline bool is_owner(PyObject* obj) { return owner_test.check(obj, g.EventDispatcher); }

}  // namespace tavo::attributes
