// PropertyStorage: the record a property keeps for one owner.
//
// The owner (an EventDispatcher) makes one record per declared property and
// keeps it in its property_storage map; the property's init_storage fills it.
#include "properties/common.hpp"

#include <cstddef>

namespace tavo::properties {

namespace {

using Storage = contract::PropertyStorageObject;

Storage* as_storage(PyObject* o) { return reinterpret_cast<Storage*>(o); }

// A record starts empty: every field None until init_storage runs.
PyObject* storage_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self) {
        Storage* s = as_storage(self);
        s->value = none_ref();
        s->observers = none_ref();
        s->options = none_ref();
        s->units = none_ref();
        contract::start_untracked(self, &storage_type);
    }
    return self;
}

int storage_traverse(PyObject* self, visitproc visit, void* arg) {
    Storage* s = as_storage(self);
    Py_VISIT(s->value);
    Py_VISIT(s->observers);
    Py_VISIT(s->options);
    Py_VISIT(s->units);
    return 0;
}

// Cleared fields hold None, so a record reached after a collection stays usable.
int storage_clear(PyObject* self) {
    Storage* s = as_storage(self);
    set_field(s->value, Ref::borrow(Py_None));
    set_field(s->observers, Ref::borrow(Py_None));
    set_field(s->options, Ref::borrow(Py_None));
    set_field(s->units, Ref::borrow(Py_None));
    return 0;
}

void storage_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<storage_dealloc>(self, [self] {
        Storage* s = as_storage(self);
        Py_CLEAR(s->value);
        Py_CLEAR(s->observers);
        Py_CLEAR(s->options);
        Py_CLEAR(s->units);
        Py_TYPE(self)->tp_free(self);
    });
}

// The field at offset `closure` of the record.
PyObject*& field_at(PyObject* self, void* closure) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + reinterpret_cast<std::size_t>(closure));
}

PyObject* storage_get(PyObject* self, void* closure) {
    PyObject* value = field_at(self, closure);
    return new_ref(value ? value : Py_None);
}

// The options, the empty list kept unmade until now made for good.
PyObject* storage_get_options(PyObject* self, void*) {
    PyObject*& options = as_storage(self)->options;
    if (contract::is_unmade_empty_list(options)) {
        Ref made = Ref::steal(PyList_New(0));
        if (!made) {
            return nullptr;
        }
        contract::set_record_field(as_storage(self), options, std::move(made));
    }
    return new_ref(options ? options : Py_None);
}

int storage_set_options(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "the options of a PropertyStorage cannot be deleted");
        return -1;
    }
    if (value != Py_None && !PyList_Check(value)) {
        PyErr_Format(PyExc_TypeError, "options must be a list or None, got %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    contract::set_record_field(as_storage(self), as_storage(self)->options, Ref::borrow(value));
    return 0;
}

void* offset(std::size_t n) { return reinterpret_cast<void*>(n); }

PyGetSetDef storage_getset[] = {
    {"value", storage_get, nullptr, "The owner's current value.", offset(offsetof(Storage, value))},
    {"observers", storage_get, nullptr, "The callbacks called with (owner, value) on a change (list or None).",
     offset(offsetof(Storage, observers))},
    {"options", storage_get_options, storage_set_options, "Options accepted for this owner (list or None).",
     offset(offsetof(Storage, options))},
    {"units", storage_get, nullptr, "The unit recorded by the numeric parsers (str or None).",
     offset(offsetof(Storage, units))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

int prepare_observers(Storage* storage) {
    if (storage->observers && PyList_Check(storage->observers)) {
        return 0;
    }
    contract::set_record_field(storage, storage->observers, Ref::steal(PyList_New(0)));
    return storage->observers ? 0 : -1;
}

PyTypeObject storage_type = static_type_base();

void fill_storage_type() {
    PyTypeObject& t = storage_type;
    t.tp_name = "tavo.core.properties.PropertyStorage";
    t.tp_basicsize = sizeof(Storage);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "The record a property keeps for one owner: value, observers, options, units.";
    t.tp_dealloc = storage_dealloc;
    t.tp_traverse = storage_traverse;
    t.tp_clear = storage_clear;
    t.tp_getset = storage_getset;
    t.tp_new = storage_new;
}

}  // namespace tavo::properties
