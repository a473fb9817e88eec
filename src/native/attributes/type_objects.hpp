// The type objects of the attribute classes and the life cycle they share:
// creation on the base, field defaults, collector support, release.
#pragma once

#include "attributes/state.hpp"
#include "support/compat.hpp"

namespace tavo::attributes {

// The slots in which the nine classes' type objects differ; all are
// subclassable, collected and otherwise alike.
struct AttributeTypeSlots {
    const char* name;
    Py_ssize_t basicsize;
    // Begins with the constructor's signature line, "_Name(params)\n--\n\n":
    // the runtime gives it as __text_signature__ (read by inspect.signature and
    // help) and leaves it out of __doc__. It lists the keywords the constructor
    // and its base really read, as the type stubs do.
    const char* doc;
    newfunc create;
    initproc init;
    traverseproc traverse;
    inquiry clear;
    destructor dealloc;
    PyGetSetDef* getset;
};
PyTypeObject attribute_type_object(const AttributeTypeSlots& slots);

// GC helpers of the base part.
inline int traverse_base(PyTypeObject* base, PyObject* self, visitproc visit, void* arg) {
    return base->tp_traverse ? base->tp_traverse(self, visit, arg) : 0;
}
inline void clear_base(PyTypeObject* base, PyObject* self) {
    if (base->tp_clear) {
        base->tp_clear(self);
    }
}
// Release of an attribute object: own fields are already released by the caller,
// inside the trashcan it entered; the base's release does not enter it again
// (it is not the object's own tp_dealloc).
void dealloc_base(PyTypeObject* base, PyObject* self);
// Base creation with the constructor's arguments, then the class's table.
PyObject* new_with_base(PyTypeObject* base, PyTypeObject* type, PyObject* args, PyObject* kwds,
                        const void* table);

// Set a field to a new empty list / dict / the empty str at object creation.
int init_new_list(PyObject*& field);
int init_new_dict(PyObject*& field);
inline void init_empty_text(PyObject*& field) { field = new_ref(k.empty_str); }

}  // namespace tavo::attributes
