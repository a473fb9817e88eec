// Instance layouts and method tables of tavo.core.properties.
//
// This header is the one place the property system and the modules built on
// it (tavo.core._attributes, tavo.core._testsupport) agree on memory layout.
// A module built on it checks the instance sizes at import and copies the
// method tables published under `__pyx_vtable__`.
//
// Conventions of every table entry: the property object comes first; object
// results are new references, nullptr with an exception set on failure.
// parse_unit_text / parse_unit_pair return a float and signal failure only
// through a set exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::contract {

// ---- per-owner storage record --------------------------------------------

struct PropertyStorageObject {
    PyObject_HEAD
    PyObject* value;      // the owner's current value
    PyObject* observers;  // list of (callback) objects called on change
    PyObject* options;    // list or None: per-owner accepted options (see below)
    PyObject* units;      // str or None: unit recorded by the numeric parsers
};

// An owner's copy of an empty options list is made when it is first read
// from Python: until then the record's options field holds the empty tuple,
// which cannot be stored there otherwise (the field takes a list or None).
// Most attributes declare no options, and a list per attribute and owner is
// an object the collector must visit for as long as the owner lives.
inline bool is_unmade_empty_list(PyObject* options) noexcept {
    return options && PyTuple_CheckExact(options) && PyTuple_GET_SIZE(options) == 0;
}

// ---- method tables -------------------------------------------------------

struct PropertyVTable {
    // Prepare the owner's storage record `storage` (the record is already in
    // the owner's property_storage map). Returns None.
    PyObject* (*init_storage)(PyObject* self, PyObject* obj, PyObject* storage);
    // The owner's storage record for this property (new reference).
    PyObject* (*get_storage)(PyObject* self, PyObject* obj);
    // The object an equality comparison of `a` and `b` yields.
    PyObject* (*compare_value)(PyObject* self, PyObject* a, PyObject* b);
    // The owner's current value. With skip_dispatch 0, a Python subclass
    // defining `get_value` is called instead.
    PyObject* (*get_value)(PyObject* self, PyObject* obj, int skip_dispatch);
    // Assign `value` on the owner: convert, check, compare, store, notify.
    PyObject* (*set_value)(PyObject* self, PyObject* obj, PyObject* value);
    // True: accepted outright; False/None: undecided or accepted; nullptr: refused.
    PyObject* (*check)(PyObject* self, PyObject* obj, PyObject* value);
    // The value to store for `value`.
    PyObject* (*convert)(PyObject* self, PyObject* obj, PyObject* value);
    // Call the owner's observers of this property with its current value.
    PyObject* (*dispatch)(PyObject* self, PyObject* obj);
};

struct NumericPropertyVTable {
    PropertyVTable base;
    float (*parse_unit_text)(PyObject* self, PyObject* obj, PyObject* text);
    float (*parse_unit_pair)(PyObject* self, PyObject* obj, PyObject* number, PyObject* unit);
};

// Same shape as NumericProperty's table.
struct BoundedNumericPropertyVTable {
    NumericPropertyVTable base;
};

struct BooleanPropertyVTable { PropertyVTable base; };
struct VariableListPropertyVTable { PropertyVTable base; };
struct ListPropertyVTable { PropertyVTable base; };
struct StringPropertyVTable { PropertyVTable base; };
struct DictPropertyVTable { PropertyVTable base; };
struct ObjectPropertyVTable { PropertyVTable base; };
struct OptionPropertyVTable { PropertyVTable base; };
struct ReferenceListPropertyVTable { PropertyVTable base; };
struct AliasPropertyVTable { PropertyVTable base; };
struct ColorPropertyVTable { PropertyVTable base; };

// ---- instance layouts ----------------------------------------------------

struct PropertyObject {
    PyObject_HEAD
    const PropertyVTable* vtab;
    PyObject* storage_key;   // key in an owner's property_storage (str or None)
    PyObject* name;          // name given by __set_name__ (str or None)
    PyObject* defaultvalue;  // default value, converted per owner at storage creation
    int allownone;           // None is accepted by the root check
    int page_index;          // where pages last found its storage key among a class's (a hint, see page.hpp)
    PyObject* weakreflist;
};

struct NumericPropertyObject {
    PropertyObject base;
    PyObject* units;  // default unit (str)
};

struct BoundedNumericPropertyObject {
    NumericPropertyObject base;
    PyObject* min;  // lower bound or None
    PyObject* max;  // upper bound or None
};

struct BooleanPropertyObject { PropertyObject base; };

struct VariableListPropertyObject {
    PropertyObject base;
    int target_length;  // 2 or 4
};

struct ListPropertyObject { PropertyObject base; };
struct StringPropertyObject { PropertyObject base; };
struct DictPropertyObject { PropertyObject base; };

struct ObjectPropertyObject {
    PropertyObject base;
    PyObject* baseclass;  // required class of values, or None
};

struct OptionPropertyObject {
    PropertyObject base;
    PyObject* options;  // list of accepted values
};

struct ReferenceListPropertyObject {
    PropertyObject base;
    PyObject* properties;  // tuple of the referenced properties
};

struct AliasPropertyObject {
    PropertyObject base;
    PyObject* getter;
    PyObject* setter;  // callable or None
};

struct ColorPropertyObject { PropertyObject base; };

}  // namespace tavo::contract
