// Shared parts of tavo.core.properties: the class objects, the root entries
// every property table starts from, and helpers for messages and owners.
#pragma once

#include "contract/event.hpp"
#include "contract/properties.hpp"
#include "support/ref.hpp"

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
extern PyTypeObject* dispatcher_type;  // tavo.core._event.EventDispatcher
extern PyObject* observable_list_type; // ObservableList (a Python class)
extern PyObject* css_length_units;     // tuple of the two-character unit texts

// The tables of the classes, filled by the exec step from their parent's.
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

// The root check: 1 when it accepted the value outright (None with
// allownone), 0 when undecided, -1 on a refusal.
int root_accepts(PyObject* self, PyObject* obj, PyObject* value);

// ---- life cycle shared by every property class ------------------------------
PyObject* property_new_with(PyTypeObject* type, const void* table);
int property_traverse(PyObject* self, visitproc visit, void* arg);
int property_clear(PyObject* self);
void property_dealloc(PyObject* self);
// The root part of every constructor: the default value (the first
// positional argument, else `fallback`) and allownone.
int property_init_root(PyObject* self, PyObject* args, PyObject* kwds, PyObject* fallback);
// Keyword `name` of kwds (borrowed, may be null without an error).
PyObject* keyword(PyObject* kwds, const char* name);

// ---- messages ---------------------------------------------------------------
// Raise `error` "<owner class>.<property name><tail>", the tail formatted as
// PyUnicode_FromFormat does.
void raise_for(PyObject* error, PyObject* obj, PyObject* self, const char* tail_format, ...);

// Whether obj is an owner (an EventDispatcher).
inline bool is_owner(PyObject* obj) { return dispatcher_type && PyObject_TypeCheck(obj, dispatcher_type); }

// The owner's storage record of `self` (borrowed), checked; null with an error.
contract::PropertyStorageObject* storage_of(PyObject* self, PyObject* obj);

// Set up one class: base, ready, publish the table.
int ready_class(PyTypeObject* type, PyTypeObject* base, const void* table);

// Class fillers, called once by the exec step before readying.
void fill_property_types();
void fill_numeric_types();
void fill_collection_types();
void fill_simple_types();

int build_tables();

// Python source of ObservableList, executed in the module namespace.
extern const char* const observable_list_source;

}  // namespace tavo::properties
