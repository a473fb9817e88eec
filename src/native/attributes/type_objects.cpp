// The type objects of the attribute classes and the life cycle they share:
// creation on the base, field defaults, release.
#include "attributes/type_objects.hpp"

namespace tavo::attributes {

int init_new_list(PyObject*& field) {
    field = PyList_New(0);
    return field ? 0 : -1;
}

int init_new_dict(PyObject*& field) {
    field = PyDict_New();
    return field ? 0 : -1;
}

PyTypeObject attribute_type_object(const AttributeTypeSlots& slots) {
    PyTypeObject t = static_type_base();
    t.tp_name = slots.name;
    t.tp_basicsize = slots.basicsize;
    t.tp_dealloc = slots.dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = slots.doc;
    t.tp_traverse = slots.traverse;
    t.tp_clear = slots.clear;
    t.tp_getset = slots.getset;
    t.tp_init = slots.init;
    t.tp_new = slots.create;
    return t;
}

PyObject* new_with_base(PyTypeObject* base, PyTypeObject* type, PyObject* args, PyObject* kwds,
                        const void* table) {
    PyObject* self = base->tp_new(type, args, kwds);
    if (self) {
        reinterpret_cast<contract::PropertyObject*>(self)->vtab =
            static_cast<const contract::PropertyVTable*>(table);
    }
    return self;
}

void dealloc_base(PyTypeObject* base, PyObject* self) {
    // The base's release expects a tracked object when its type is collected.
    if (PyType_IS_GC(base)) {
        PyObject_GC_Track(self);
    }
    base->tp_dealloc(self);
}

}  // namespace tavo::attributes
