// Shared parts of tavo.core.properties: the class objects, the root entries
// every property table starts from, and helpers for messages and owners.
#pragma once

#include "contract/deferred_records.hpp"
#include "contract/event.hpp"
#include "contract/page.hpp"
#include "contract/properties.hpp"
#include "support/compat.hpp"
#include "support/subtype_memo.hpp"
#include "support/ref.hpp"
#include "support/text.hpp"

namespace tavo::properties {

namespace contract = tavo::contract;

// The classes of the module (static types, readied by the module's exec step).
extern PyTypeObject storage_type;
extern PyTypeObject property_type;
extern PyTypeObject numeric_type;
extern PyTypeObject bounded_numeric_type;
extern PyTypeObject boolean_type;
extern PyTypeObject variable_list_type;
extern PyTypeObject list_type;
extern PyTypeObject string_type;
extern PyTypeObject dict_type;
extern PyTypeObject object_type;
extern PyTypeObject option_type;
extern PyTypeObject reference_list_type;
extern PyTypeObject alias_type;
extern PyTypeObject color_type;

// Set by the exec step.
extern PyTypeObject* dispatcher_type;   // tavo.core._event.EventDispatcher
extern PyObject* observable_list_type;  // ObservableList (a Python class)
extern PyObject* observable_list_kwnames;  // ("owner", "prop"), interned: matched by identity
extern PyObject* css_length_units;      // tuple of the two-character unit texts

// The tables of the classes; each starts as a copy of its parent's table
// (filled by the exec step in build_tables) with the class's replacements.
extern contract::PropertyVTable property_table;
extern contract::NumericPropertyVTable numeric_table;
extern contract::BoundedNumericPropertyVTable bounded_numeric_table;
extern contract::BooleanPropertyVTable boolean_table;
extern contract::VariableListPropertyVTable variable_list_table;
extern contract::ListPropertyVTable list_table;
extern contract::StringPropertyVTable string_table;
extern contract::DictPropertyVTable dict_table;
extern contract::ObjectPropertyVTable object_table;
extern contract::OptionPropertyVTable option_table;
extern contract::ReferenceListPropertyVTable reference_list_table;
extern contract::AliasPropertyVTable alias_table;
extern contract::ColorPropertyVTable color_table;

inline contract::PropertyObject* as_property(PyObject* o) {
    return reinterpret_cast<contract::PropertyObject*>(o);
}

// ---- root entries (Property's table) ---------------------------------------
PyObject* root_init_storage(PyObject* self, PyObject* obj, PyObject* storage);
PyObject* root_get_storage(PyObject* self, PyObject* obj);
PyObject* root_compare_value(PyObject* self, PyObject* a, PyObject* b);
PyObject* root_get_value(PyObject* self, PyObject* obj, int skip_dispatch);
PyObject* root_set_value(PyObject* self, PyObject* obj, PyObject* value);
PyObject* root_check(PyObject* self, PyObject* obj, PyObject* value);
PyObject* root_convert(PyObject* self, PyObject* obj, PyObject* value);
PyObject* root_dispatch(PyObject* self, PyObject* obj);

// The root check as a number: 1 when it accepted the value outright (None
// with allownone), 0 when undecided, -1 on a refusal (exception set).
int root_accepts(PyObject* self, PyObject* obj, PyObject* value);

// Result of a check that went on after an undecided root check: the root's
// True, or the refusal, or None for a value this class accepts.
inline PyObject* root_decided(int accepted) {
    return accepted > 0 ? new_ref(Py_True) : nullptr;
}

// ---- life cycle shared by every property class ------------------------------
// A new property of class `type` using `table`; arguments are the
// constructor's and are read by tp_init, not here.
PyObject* property_new_with(PyTypeObject* type, const void* table);
int property_traverse(PyObject* self, visitproc visit, void* arg);
int property_clear(PyObject* self);
// Releases the root fields and frees the object; subclasses release their
// own fields first, then call this.
void property_dealloc(PyObject* self);
// The root part of every constructor: the default value (the first
// positional argument, else `fallback`) and allownone.
int property_init_root(PyObject* self, PyObject* args, PyObject* kwds, PyObject* fallback);
// Keyword `name` of kwds (borrowed), null when not given; -1 on a lookup error.
int keyword(PyObject* kwds, const char* name, PyObject*& found);

// Give the storage record an observers list when it has none; 0, or -1 with
// an exception set.
int prepare_observers(contract::PropertyStorageObject* storage);

// ---- messages ---------------------------------------------------------------
// Raise `error` "<owner class>.<property name><tail>", the tail formatted as
// PyUnicode_FromFormat does.
void raise_for(PyObject* error, PyObject* obj, PyObject* self, const char* tail_format, ...);

// Whether obj is an owner (an EventDispatcher).
extern SubtypeMemo owner_test;
inline bool is_owner(PyObject* obj) { return owner_test.check(obj, dispatcher_type); }

// A change of the value of `self` on the owner `obj`, for the page showing it if any.
inline void record_page_change_on_owner(PyObject* self, PyObject* obj) noexcept {
    auto* owner = reinterpret_cast<contract::EventDispatcherObject*>(obj);
    if (owner->page_entry) {
        contract::record_change(owner, reinterpret_cast<contract::PropertyObject*>(self));
    }
}

inline void record_page_change(PyObject* self, PyObject* obj) noexcept {
    if (is_owner(obj)) {
        record_page_change_on_owner(self, obj);
    }
}

// An int or float, bool excluded.
inline bool is_number(PyObject* value) {
    return (PyLong_Check(value) && !PyBool_Check(value)) || PyFloat_Check(value);
}

// The owner's storage record of `self` (borrowed), checked and made if it was
// still kept as a value; null with an error.
contract::PropertyStorageObject* storage_of(PyObject* self, PyObject* obj);

// The owner's map entry of `self` (borrowed): its record, or its converted
// default while no record has been needed. Null with an error.
PyObject* storage_entry_of(PyObject* self, PyObject* obj);

// The unit a record's `units` (borrowed, null or None when none is
// recorded) shows for a numeric property `self`: it, else the property's
// `units` given at construction. Borrowed.
PyObject* shown_units(PyObject* self, PyObject* recorded);

// Class fillers, called once by the exec step before readying.
void fill_storage_type();
void fill_property_type();
void fill_numeric_types();
void fill_list_types();
void fill_reference_alias_types();
void fill_simple_types();

// Table builders, called once by the exec step after property_table is final.
void build_numeric_tables();
void build_list_tables();
void build_reference_alias_tables();
void build_simple_tables();

// With skip_dispatch 0 and a Python subclass that defines get_value: calls
// it with obj, puts the result (null on failure) in `result` and returns true.
// Otherwise returns false and the caller reads the value natively.
bool python_get_value(PyObject* self, PyObject* obj, int skip_dispatch, PyObject*& result);

// Property's own Python-level get_value, to tell a Python override from it.
extern PyObject* builtin_get_value;
extern PyObject* get_value_name;

// Python source of ObservableList, executed in the module namespace.
extern const char* const observable_list_source;

}  // namespace tavo::properties
