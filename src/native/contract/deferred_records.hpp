// Storage records made on first need.
//
// An owner prepares the record of a property at creation only where the
// property's init_storage does more than store its converted default. For the
// others its property_storage map holds, under the property's storage key,
// the converted default itself (never a PropertyStorage) until something
// first reads, writes or binds the property; that first use replaces it with
// a record holding the same value, in place, so the map keeps its order. The
// property system and the owner type both make records this way, and the
// owner's property_storage attribute shows only records.
#pragma once

#include "contract/properties.hpp"
#include "contract/record_fields.hpp"
#include "support/compat.hpp"
#include "support/ref.hpp"

namespace tavo::contract {

// Whether a map entry is a record (else a value kept without one).
inline bool is_record(PyObject* entry, PyTypeObject* storage_type) noexcept {
    // Only classes made at run time derive from the storage type: the kept
    // values (texts, numbers, flags) are told apart without a subclass walk.
    PyTypeObject* type = Py_TYPE(entry);
    return type == storage_type ||
           (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) && PyType_IsSubtype(type, storage_type));
}

// A new record holding `value`; null with an exception set on failure.
inline PyObject* new_record_holding(PyObject* value, PyTypeObject* storage_type) {
    Ref held = Ref::borrow(value);
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args) {
        return nullptr;
    }
    Ref record = Ref::steal(storage_type->tp_new(storage_type, no_args.get(), nullptr));
    if (!record) {
        return nullptr;
    }
    auto* fields = reinterpret_cast<PropertyStorageObject*>(record.get());
    set_record_field(fields, fields->value, std::move(held));
    return record.release();
}

// Replace the value kept under `key` in `map` with a record holding it. The
// record is returned borrowed (the map holds it); null with an exception set
// on failure, the map unchanged.
inline PyObject* make_deferred_record(PyObject* map, PyObject* key, PyObject* kept_value,
                                      PyTypeObject* storage_type) {
    Ref keep_key = Ref::borrow(key);
    const auto stamp = compat::stamp_across_allocation(map);
    Ref record = Ref::steal(new_record_holding(kept_value, storage_type));
    if (!record) {
        return nullptr;
    }
    // Making the record may have run code (the collector's finalizers on
    // 3.11) that used the property meanwhile: a record made then is the one
    // to use, and a value stored then is the one to keep.
    if (compat::stamp_across_allocation(map) != stamp) {
        PyObject* current = PyDict_GetItemWithError(map, keep_key.get());  // borrowed
        if (!current && PyErr_Occurred()) {
            return nullptr;
        }
        if (current && is_record(current, storage_type)) {
            return current;
        }
        if (current && current != kept_value) {
            auto* fields = reinterpret_cast<PropertyStorageObject*>(record.get());
            set_record_field(fields, fields->value, Ref::borrow(current));
        }
    }
    if (PyDict_SetItem(map, keep_key.get(), record.get()) < 0) {
        return nullptr;
    }
    return record.get();  // the map's reference
}

}  // namespace tavo::contract
