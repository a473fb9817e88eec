// ObjectWithUid and Observable: the roots of the owner type.
//
// ObjectWithUid gives every object a process-unique integer `uid`; Observable
// adds the map from event name to the EventObservers bound to it.
#include "event/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::event {

namespace {

std::uint64_t uid_counter = 0;

PyObject* uid_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self) {
        reinterpret_cast<contract::ObjectWithUidObject*>(self)->uid = next_uid();
    }
    return self;
}

// No object fields: nothing to visit, but subclasses are collected.
int uid_traverse(PyObject*, visitproc, void*) { return 0; }

void uid_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_TYPE(self)->tp_free(self);
}

PyMemberDef uid_members[] = {
    {"uid", T_ULONGLONG, offsetof(contract::ObjectWithUidObject, uid), READONLY,
     "Unique id of the object within the process."},
    {nullptr, 0, 0, 0, nullptr},
};

using Observable = contract::ObservableObject;

void observable_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<observable_dealloc>(self, [self] {
        observable_clear(self);
        Py_TYPE(self)->tp_free(self);
    });
}

}  // namespace

std::uint64_t next_uid() noexcept { return ++uid_counter; }

PyObject* observable_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Ref self = Ref::steal(uid_new(type, args, kwargs));
    if (!self) {
        return nullptr;
    }
    auto* o = reinterpret_cast<Observable*>(self.get());
    o->event_observers = none_ref();  // the dict comes with the first registered event
    return self.release();
}

int observable_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<Observable*>(self)->event_observers);
    return 0;
}

int observable_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<Observable*>(self)->event_observers);
    return 0;
}

PyObject* live_field(PyObject* field, const char* what) {
    if (!field) {
        PyErr_Format(PyExc_RuntimeError, "the %s of this object were released", what);
    }
    return field;
}

PyTypeObject uid_type = static_type_base();
PyTypeObject observable_type = static_type_base();

void fill_uid_types() {
    PyTypeObject& u = uid_type;
    u.tp_name = "tavo.core._event.ObjectWithUid";
    u.tp_basicsize = sizeof(contract::ObjectWithUidObject);
    u.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    u.tp_doc = "An object with a process-unique integer id, `uid`.";
    u.tp_dealloc = uid_dealloc;
    u.tp_traverse = uid_traverse;
    u.tp_members = uid_members;
    u.tp_new = uid_new;

    PyTypeObject& o = observable_type;
    o.tp_name = "tavo.core._event.Observable";
    o.tp_basicsize = sizeof(Observable);
    o.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    o.tp_doc = "Base of the objects whose events can be observed.";
    o.tp_dealloc = observable_dealloc;
    o.tp_traverse = observable_traverse;
    o.tp_clear = observable_clear;
    o.tp_new = observable_new;
    o.tp_base = &uid_type;
}

}  // namespace tavo::event
