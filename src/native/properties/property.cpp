// Property: the root of every property class.
//
// A property is declared as a class attribute of an owner class (a subclass
// of EventDispatcher) and keeps one value per owner in the owner's storage
// record. Reading and assigning on an owner go through the property's own
// method table, so that a subclass's replacements of convert, check,
// compare_value and get_value are used.
#include "properties/common.hpp"

#include <cstdarg>
#include <cstddef>

namespace tavo::properties {

PyTypeObject* dispatcher_type = nullptr;
PyObject* observable_list_type = nullptr;
PyObject* observable_list_kwnames = nullptr;
PyObject* css_length_units = nullptr;
PyObject* builtin_get_value = nullptr;
PyObject* get_value_name = nullptr;
SubtypeMemo owner_test;

contract::PropertyVTable property_table = {
    root_init_storage, root_get_storage, root_compare_value, root_get_value,
    root_set_value,    root_check,       root_convert,       root_dispatch,
};

using Storage = contract::PropertyStorageObject;
using Prop = contract::PropertyObject;

// ---- messages and owners ------------------------------------------------------

namespace {

// "<owner class>.<property name>", the class by its short name.
PyObject* qualified_name(PyObject* obj, PyObject* self) {
    PyObject* name = as_property(self)->name;
    const char* owner = obj == Py_None ? "None" : short_type_name(Py_TYPE(obj));
    return PyUnicode_FromFormat("%s.%S", owner, name ? name : Py_None);
}

}  // namespace

void raise_for(PyObject* error, PyObject* obj, PyObject* self, const char* tail_format, ...) {
    va_list args;
    va_start(args, tail_format);
    Ref tail = Ref::steal(PyUnicode_FromFormatV(tail_format, args));
    va_end(args);
    if (!tail) {
        return;  // the error met while formatting (a failing repr) is raised instead
    }
    Ref where = Ref::steal(qualified_name(obj, self));
    if (where) {
        PyErr_Format(error, "%U%U", where.get(), tail.get());
    }
}

namespace {

// Whether `key` is the storage key whose default the owner is converting at
// its creation (keys are texts, compared as the map compares them).
bool is_preparing_key(const contract::EventDispatcherObject* owner, PyObject* key) {
    PyObject* preparing = owner->preparing_key;
    if (!preparing || !key) {
        return false;
    }
    return preparing == key ||
           (PyUnicode_CheckExact(preparing) && PyUnicode_CheckExact(key) && text_equal(preparing, key));
}

}  // namespace

// The owner's map entry of `self` (borrowed): a record, or the converted
// default kept until the record is first needed. Null with an error.
PyObject* storage_entry_of(PyObject* self, PyObject* obj) {
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "the owner of a property must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    PyObject* map = reinterpret_cast<contract::EventDispatcherObject*>(obj)->property_storage;
    if (!map || !PyDict_Check(map)) {
        PyErr_Format(PyExc_RuntimeError, "the property storage of this %.200s was released",
                     short_type_name(Py_TYPE(obj)));
        return nullptr;
    }
    PyObject* key = as_property(self)->storage_key;
    PyObject* found = PyDict_GetItemWithError(map, key ? key : Py_None);
    auto* owner = reinterpret_cast<contract::EventDispatcherObject*>(obj);
    if (!found && !PyErr_Occurred() && is_preparing_key(owner, key)) {
        // Used while the owner converts this property's default at creation.
        if (contract::enter_preparing_key(owner, map) < 0) {
            return nullptr;
        }
        found = Py_None;
    }
    if (!found && !PyErr_Occurred()) {
        Ref message = Ref::steal(PyUnicode_FromFormat("%s has no storage record for the property %R",
                                                      short_type_name(Py_TYPE(obj)), key ? key : Py_None));
        if (message) {
            PyErr_SetObject(PyExc_KeyError, message.get());
        }
    }
    return found;
}

Storage* storage_of(PyObject* self, PyObject* obj) {
    PyObject* found = storage_entry_of(self, obj);
    if (found && !contract::is_record(found, &storage_type)) {
        // The converted default kept until this first use: now its record.
        PyObject* key = as_property(self)->storage_key;
        PyObject* map = reinterpret_cast<contract::EventDispatcherObject*>(obj)->property_storage;
        found = contract::make_deferred_record(map, key ? key : Py_None, found, &storage_type);
    }
    return reinterpret_cast<Storage*>(found);
}

int keyword(PyObject* kwds, const char* name, PyObject*& found) {
    found = nullptr;
    if (!kwds) {
        return 0;
    }
    Ref key = Ref::steal(PyUnicode_InternFromString(name));
    if (!key) {
        return -1;
    }
    found = PyDict_GetItemWithError(kwds, key.get());
    return found || !PyErr_Occurred() ? 0 : -1;
}

// ---- root entries -------------------------------------------------------------

// Stores convert(owner, defaultvalue) without checking it: a default is taken
// as given. The observers list comes with the first binding.
PyObject* root_init_storage(PyObject* self, PyObject* obj, PyObject* storage) {
    if (!PyObject_TypeCheck(storage, &storage_type)) {
        PyErr_Format(PyExc_TypeError, "init_storage needs a PropertyStorage, got %.200s", Py_TYPE(storage)->tp_name);
        return nullptr;
    }
    Ref keep = Ref::borrow(storage);
    auto* record = reinterpret_cast<Storage*>(storage);
    Ref defaultvalue = Ref::borrow(as_property(self)->defaultvalue);
    Ref value = Ref::steal(as_property(self)->vtab->convert(self, obj, defaultvalue ? defaultvalue.get() : Py_None));
    if (!value) {
        return nullptr;
    }
    contract::set_record_field(record, record->value, std::move(value));
    return none_ref();
}

PyObject* root_get_storage(PyObject* self, PyObject* obj) {
    Storage* storage = storage_of(self, obj);
    return storage ? new_ref(reinterpret_cast<PyObject*>(storage)) : nullptr;
}

PyObject* root_compare_value(PyObject*, PyObject* a, PyObject* b) {
    return PyObject_RichCompare(a, b, Py_EQ);
}

// A Python subclass may define get_value; Property's Python entry get_value
// comes back to the native one with skip_dispatch set, so there is no loop.
bool python_get_value(PyObject* self, PyObject* obj, int skip_dispatch, PyObject*& result) {
    PyTypeObject* type = Py_TYPE(self);
    if (skip_dispatch || !(type->tp_flags & Py_TPFLAGS_HEAPTYPE) || !get_value_name) {
        return false;
    }
    PyObject* method = compat::type_lookup(type, get_value_name);
    if (!method || method == builtin_get_value) {
        return false;
    }
    result = PyObject_CallMethodOneArg(self, get_value_name, obj);
    return true;
}

PyObject* root_get_value(PyObject* self, PyObject* obj, int skip_dispatch) {
    PyObject* result = nullptr;
    if (python_get_value(self, obj, skip_dispatch, result)) {
        return result;
    }
    if (obj == Py_None) {
        PyObject* defaultvalue = as_property(self)->defaultvalue;
        return new_ref(defaultvalue ? defaultvalue : Py_None);
    }
    // A kept default is read as it is: a record made only to be read would
    // show nothing more, and a page reads every attribute once.
    PyObject* entry = storage_entry_of(self, obj);
    if (!entry) {
        return nullptr;
    }
    if (!contract::is_record(entry, &storage_type)) {
        return new_ref(entry);
    }
    PyObject* value = reinterpret_cast<Storage*>(entry)->value;
    return new_ref(value ? value : Py_None);
}

namespace {

// Whether two units show the same on the page: 1, 0, or -1 with an
// exception. Units are texts or None; a text is compared by its characters
// (a str subclass's own comparison may run).
int same_units(PyObject* shown, PyObject* shown_next) {
    if (shown == shown_next) {
        return 1;
    }
    if (shown == Py_None || shown_next == Py_None) {
        return 0;
    }
    if (PyUnicode_CheckExact(shown) && PyUnicode_CheckExact(shown_next)) {
        return text_equal(shown, shown_next) ? 1 : 0;
    }
    Ref keep_shown = Ref::borrow(shown);
    Ref keep_next = Ref::borrow(shown_next);
    return PyObject_RichCompareBool(keep_shown.get(), keep_next.get(), Py_EQ);
}

// A refused or unchanged assignment changes nothing: the unit its conversion
// recorded goes back to `units_before`.
void put_back_units(Storage* record, Ref& units_before) {
    if (record->units != units_before.get()) {
        contract::set_record_field(record, record->units, std::move(units_before));
    }
}

// Compare `converted` with the record's value and, when they differ, store it
// and notify the observers. The conversion recorded the unit it read (a
// numeric text or pair) in place of `units_before`: a number and its unit are
// one value on the page, so equal numbers shown with another unit differ too.
PyObject* store_in_record(PyObject* self, PyObject* obj, const contract::PropertyVTable* table, Storage* record,
                          Ref& converted, Ref& units_before, bool owner_checked) {
    Ref old = Ref::borrow(record->value ? record->value : Py_None);
    Ref same = Ref::steal(table->compare_value(self, old.get(), converted.get()));
    int unchanged = same ? PyObject_IsTrue(same.get()) : -1;
    if (unchanged > 0 && record->units != units_before.get()) {
        Ref shown = Ref::borrow(shown_units(self, units_before.get()));
        Ref shown_next = Ref::borrow(shown_units(self, record->units));
        unchanged = same_units(shown.get(), shown_next.get());
    }
    if (unchanged != 0) {
        put_back_units(record, units_before);
        return unchanged < 0 ? nullptr : none_ref();
    }
    contract::set_record_field(record, record->value, std::move(converted));
    if (owner_checked) {
        record_page_change_on_owner(self, obj);
    } else {
        record_page_change(self, obj);
    }
    return table->dispatch(self, obj);
}

}  // namespace

// convert, then check, through the property's own table (an error stores
// nothing); then compare with the current value and, when they differ,
// store and notify the observers.
PyObject* root_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    Ref keep_self = Ref::borrow(self);
    const contract::PropertyVTable* table = as_property(self)->vtab;
    Ref storage;
    if (table->get_storage == root_get_storage) {
        // The record (made now for a property kept as its converted default:
        // values assigned once tend to be assigned again).
        Storage* record = storage_of(self, obj);
        if (!record) {
            return nullptr;
        }
        storage = Ref::borrow(reinterpret_cast<PyObject*>(record));
    } else {
        storage = Ref::steal(table->get_storage(self, obj));
        if (!storage) {
            return nullptr;
        }
        if (!PyObject_TypeCheck(storage.get(), &storage_type)) {
            PyErr_Format(PyExc_TypeError, "get_storage gave a %.200s, not a PropertyStorage",
                         Py_TYPE(storage.get())->tp_name);
            return nullptr;
        }
    }
    // The conversion of a numeric text records its unit: the unit before is
    // held, so that a refused value puts it back.
    auto* record = reinterpret_cast<Storage*>(storage.get());
    Ref units_before = Ref::borrow(record->units);
    Ref converted = Ref::steal(table->convert(self, obj, value));
    Ref checked = converted ? Ref::steal(table->check(self, obj, converted.get())) : Ref();
    if (!checked) {
        put_back_units(record, units_before);
        return nullptr;
    }
    return store_in_record(self, obj, table, record, converted, units_before,
                           table->get_storage == root_get_storage);
}

int root_accepts(PyObject* self, PyObject* obj, PyObject* value) {
    if (value != Py_None) {
        return 0;
    }
    if (as_property(self)->allownone) {
        return 1;
    }
    Ref where = Ref::steal(qualified_name(obj, self));
    if (where) {
        PyErr_Format(PyExc_ValueError, "None is not allowed for %U", where.get());
    }
    return -1;
}

PyObject* root_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    return accepted < 0 ? nullptr : PyBool_FromLong(accepted);
}

PyObject* root_convert(PyObject*, PyObject*, PyObject* value) {
    return new_ref(value);
}

// Calls the owner's observers of this property with (owner, current value),
// those bound when the dispatch starts, in binding order.
PyObject* root_dispatch(PyObject* self, PyObject* obj) {
    Ref keep_self = Ref::borrow(self);
    PyObject* entry = storage_entry_of(self, obj);
    if (!entry) {
        return nullptr;
    }
    if (!contract::is_record(entry, &storage_type)) {
        return none_ref();  // no record yet: nothing is bound
    }
    auto* storage = reinterpret_cast<Storage*>(entry);
    if (!storage->observers || !PyList_Check(storage->observers) || PyList_GET_SIZE(storage->observers) == 0) {
        return none_ref();
    }
    Ref observers = Ref::steal(PyList_AsTuple(storage->observers));
    if (!observers) {
        return nullptr;
    }
    Ref value = Ref::steal(as_property(self)->vtab->get_value(self, obj, 1));
    if (!value) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(observers.get()); ++i) {
        PyObject* args[] = {obj, value.get()};
        Ref result = Ref::steal(PyObject_Vectorcall(PyTuple_GET_ITEM(observers.get(), i), args, 2, nullptr));
        if (!result) {
            return nullptr;
        }
    }
    return none_ref();
}

// ---- life cycle ---------------------------------------------------------------------

PyObject* property_new_with(PyTypeObject* type, const void* table) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self) {
        Prop* p = as_property(self);
        p->vtab = static_cast<const contract::PropertyVTable*>(table);
        p->storage_key = none_ref();
        p->name = none_ref();
        p->defaultvalue = none_ref();
        p->allownone = 0;
        p->page_index = 0;
    }
    return self;
}

int property_traverse(PyObject* self, visitproc visit, void* arg) {
    Prop* p = as_property(self);
    Py_VISIT(p->storage_key);
    Py_VISIT(p->name);
    Py_VISIT(p->defaultvalue);
    return 0;
}

// Cleared fields hold None, so a property reached after a collection stays usable.
int property_clear(PyObject* self) {
    Prop* p = as_property(self);
    set_field(p->storage_key, Ref::borrow(Py_None));
    set_field(p->name, Ref::borrow(Py_None));
    set_field(p->defaultvalue, Ref::borrow(Py_None));
    return 0;
}

void property_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<property_dealloc>(self, [self] {
        Prop* p = as_property(self);
        if (p->weakreflist) {
            PyObject_ClearWeakRefs(self);
        }
        Py_CLEAR(p->storage_key);
        Py_CLEAR(p->name);
        Py_CLEAR(p->defaultvalue);
        Py_TYPE(self)->tp_free(self);
    });
}

int property_init_root(PyObject* self, PyObject* args, PyObject* kwds, PyObject* fallback) {
    PyObject* defaultvalue = PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0) : fallback;
    PyObject* given = nullptr;
    if (keyword(kwds, "allownone", given) < 0) {
        return -1;
    }
    const int allownone = given ? PyObject_IsTrue(given) : 0;
    if (allownone < 0) {
        return -1;
    }
    set_field(as_property(self)->defaultvalue, Ref::borrow(defaultvalue));
    as_property(self)->allownone = allownone;
    return 0;
}

namespace {

PyObject* property_new(PyTypeObject* type, PyObject*, PyObject*) {
    return property_new_with(type, &property_table);
}

int property_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return property_init_root(self, args, kwds, Py_None);
}

// ---- descriptor -------------------------------------------------------------------

PyObject* property_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) {
        return new_ref(self);  // read on the class: the property itself
    }
    return as_property(self)->vtab->get_value(self, obj, 0);
}

int property_descr_set(PyObject* self, PyObject* obj, PyObject* value) {
    if (!value) {
        raise_for(PyExc_TypeError, obj, self, " cannot be deleted");
        return -1;
    }
    Ref done = Ref::steal(as_property(self)->vtab->set_value(self, obj, value));
    return done ? 0 : -1;
}

// ---- Python methods ---------------------------------------------------------------

PyObject* property_set_name(PyObject* self, PyObject* args) {
    PyObject* owner = nullptr;
    PyObject* name = nullptr;
    if (!PyArg_ParseTuple(args, "OU:__set_name__", &owner, &name)) {
        return nullptr;
    }
    set_field(as_property(self)->name, Ref::borrow(name));
    set_field(as_property(self)->storage_key, Ref::borrow(name));
    Py_RETURN_NONE;
}

PyObject* property_py_get(PyObject* self, PyObject* obj) {
    return as_property(self)->vtab->get_value(self, obj, 0);
}

PyObject* property_py_get_value(PyObject* self, PyObject* obj) {
    return as_property(self)->vtab->get_value(self, obj, 1);
}

PyObject* property_py_set(PyObject* self, PyObject* args) {
    PyObject* obj = nullptr;
    PyObject* value = nullptr;
    if (!PyArg_ParseTuple(args, "OO:set", &obj, &value)) {
        return nullptr;
    }
    return as_property(self)->vtab->set_value(self, obj, value);
}

PyObject* property_py_dispatch(PyObject* self, PyObject* obj) {
    // Called from Python when a value changed without an assignment (an
    // ObservableList changed in place): a change for the page too.
    record_page_change(self, obj);
    return as_property(self)->vtab->dispatch(self, obj);
}

PyMethodDef property_methods[] = {
    {"__set_name__", property_set_name, METH_VARARGS, "Name the property after its class attribute."},
    {"get", property_py_get, METH_O, "get(obj): the owner's value (a Python get_value override is used)."},
    {"get_value", property_py_get_value, METH_O, "get_value(obj): the owner's value; obj None: the default."},
    {"set", property_py_set, METH_VARARGS, "set(obj, value): assign the owner's value."},
    {"dispatch", property_py_dispatch, METH_O, "dispatch(obj): call the owner's observers of this property."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* property_get_name(PyObject* self, void*) {
    PyObject* name = as_property(self)->name;
    return new_ref(name ? name : Py_None);
}

PyObject* property_get_defaultvalue(PyObject* self, void*) {
    PyObject* value = as_property(self)->defaultvalue;
    return new_ref(value ? value : Py_None);
}

PyObject* property_get_allownone(PyObject* self, void*) {
    return PyBool_FromLong(as_property(self)->allownone);
}

PyGetSetDef property_getset[] = {
    {"name", property_get_name, nullptr, "The name given by the owner class (str or None).", nullptr},
    {"defaultvalue", property_get_defaultvalue, nullptr, "The default value.", nullptr},
    {"allownone", property_get_allownone, nullptr, "Whether None may be assigned.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject property_type = static_type_base();

void fill_property_type() {
    PyTypeObject& t = property_type;
    t.tp_name = "tavo.core.properties.Property";
    t.tp_basicsize = sizeof(Prop);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc =
        "Property(defaultvalue=None, *, allownone=False, **kw): a value kept per owner (an EventDispatcher).\n"
        "\n"
        "Declared as a class attribute of the owner class; other keywords are ignored.";
    t.tp_dealloc = property_dealloc;
    t.tp_traverse = property_traverse;
    t.tp_clear = property_clear;
    t.tp_weaklistoffset = offsetof(Prop, weakreflist);
    t.tp_methods = property_methods;
    t.tp_getset = property_getset;
    t.tp_descr_get = property_descr_get;
    t.tp_descr_set = property_descr_set;
    t.tp_init = property_init;
    t.tp_new = property_new;
}

}  // namespace tavo::properties
