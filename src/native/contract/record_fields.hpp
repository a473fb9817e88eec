// Writing the fields of a storage record.
//
// A record starts untracked by the collector and is tracked from the moment
// one of its fields holds an object that could take part in a reference
// cycle, by the rule CPython keeps for its dicts: any object of a collected
// type except an untracked tuple. Most records hold a text, a number or a
// flag for as long as their owner lives, and every tracked object is visited
// at each full collection; records that can never be in a cycle need not be.
// Every write of a record field goes through set_record_field.
#pragma once

#include "contract/properties.hpp"
#include "support/ref.hpp"

namespace tavo::contract {

// Whether `value` may be, or become, part of a reference cycle.
inline bool may_join_cycle(PyObject* value) noexcept {
    if (!value || !PyObject_IS_GC(value)) {
        return false;
    }
    return !PyTuple_CheckExact(value) || PyObject_GC_IsTracked(value);
}

// A new record of the exact storage type, untracked until it holds such an
// object (a subclass's instances have a dict of their own and stay tracked).
inline void start_untracked(PyObject* record, PyTypeObject* storage_type) noexcept {
    if (Py_IS_TYPE(record, storage_type) && PyObject_GC_IsTracked(record)) {
        PyObject_GC_UnTrack(record);
    }
}

// Store `value` in `field` of `record`, tracking the record first when the
// value needs it (the old value's release may run code, even a collection).
inline void set_record_field(PropertyStorageObject* record, PyObject*& field, Ref value) noexcept {
    PyObject* self = reinterpret_cast<PyObject*>(record);
    if (may_join_cycle(value.get()) && !PyObject_GC_IsTracked(self)) {
        PyObject_GC_Track(self);
    }
    set_field(field, std::move(value));
}

}  // namespace tavo::contract
