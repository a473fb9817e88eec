// The module's process-wide state: its constants, the imported classes and
// tables, and what each attribute class keeps beside its type object.
#pragma once

#include "attributes/tables.hpp"
#include "contract/event.hpp"
#include "support/ref.hpp"
#include "support/traceback.hpp"

namespace tavo::attributes {

inline constexpr const char* kSourceFile = "tavo/core/_attributes";

// Add the traceback entry of the failing operation `qualname`.
#define ATTR_TRACE(qualname) ::tavo::add_traceback((qualname), __LINE__, ::tavo::attributes::kSourceFile)

// Strings and other constants, built once by the exec step and kept for the
// life of the process. Identifiers are interned.
struct Constants {
    PyObject* empty_tuple;
    PyObject* empty_str;
    // identifiers
    PyObject* attrtype;
    PyObject* attrname;
    PyObject* sync;
    PyObject* options;
    PyObject* values;
    PyObject* allownone;
    PyObject* length;
    PyObject* format;
    PyObject* defaultvalue;
    PyObject* eventhandler;
    PyObject* prevent_default;
    PyObject* eventargs;
    PyObject* eventjs;
    PyObject* dispatch;
    PyObject* client;
    PyObject* event_args;
    PyObject* event_js;
    PyObject* obj;
    PyObject* name;
    PyObject* get_units;
    PyObject* register_event;
    PyObject* attrvalue;
    PyObject* dunder_init;
    PyObject* dunder_class;
    PyObject* dunder_name;
    PyObject* dunder_module;
    PyObject* dunder_all;
    PyObject* dunder_test;
    PyObject* dunder_builtins;
    PyObject* dunder_getstate;
    PyObject* dunder_reduce;
    PyObject* dunder_reduce_ex;
    PyObject* dunder_setstate;
    PyObject* pyx_vtable;
    PyObject* CSS_LENGTH_UNITS;
    PyObject* ObservableList;
    PyObject* get_color_from_hex_255;
    PyObject* module_name;  // "tavo.core._attributes"
    // texts
    PyObject* underscore;
    PyObject* dash;
    PyObject* space;
    PyObject* comma_space;
    PyObject* percent;
    PyObject* css;
    PyObject* text_true;
    PyObject* text_false;
    PyObject* on_prefix;  // "on_"
    PyObject* rgb_open;   // "rgb("
    PyObject* rgba_open;  // "rgba("
    PyObject* close_paren;
    // numbers and slices
    PyObject* int_0;
    PyObject* int_neg1;
    PyObject* int_neg2;
    PyObject* int_2;
    PyObject* int_255;
    PyObject* slice_from_neg2;
    PyObject* slice_from_neg1;
    PyObject* slice_from_2;
    // keyword-name tuples of the calls the module makes, of interned texts: a
    // callee matches them to its parameter names by identity
    PyObject* kwnames_client;    // ("client",)
    PyObject* kwnames_renderer;  // ("prevent_default", "event_args", "event_js", "dispatch")
    PyObject* all_names;         // the tuple published as __all__
};

struct State {
    PyObject* module;       // strong reference while an exec step runs and once one succeeded
    PyObject* module_dict;  // strong reference, set and cleared with module
    PyObject* builtins;     // strong reference to the builtins module the last exec step found
    PyObject* builtin_zip;
    PyObject* builtin_super;
    // imported classes (strong references, kept for good)
    PyTypeObject* Property;
    PyTypeObject* NumericProperty;
    PyTypeObject* BoundedNumericProperty;
    PyTypeObject* BooleanProperty;
    PyTypeObject* VariableListProperty;
    PyTypeObject* ListProperty;
    PyTypeObject* PropertyStorage;
    PyTypeObject* EventDispatcher;
    // NumericProperty's get_units as the class holds it, when that is a
    // native one-argument method (strong, kept for good), else null
    PyObject* numeric_get_units;
    // their method tables
    const contract::PropertyVTable* property_table;
    const contract::NumericPropertyVTable* numeric_table;
    const contract::BoundedNumericPropertyVTable* bounded_numeric_table;
    const contract::BooleanPropertyVTable* boolean_table;
    const contract::VariableListPropertyVTable* variable_list_table;
    const contract::ListPropertyVTable* list_table;
};

extern Constants k;
extern State g;

// What the registration and the shared rules need to know of one class.
struct AttrClass {
    PyTypeObject* type;         // the static type object
    const char* name;           // "_Attribute"
    const char* attrvalue_qualname;
    const char* reduce_qualname;
    const char* setstate_qualname;
    // Registration: builds the class's table from its base's; returns the
    // table, whose first member is the copied base table.
    const void* (*build_table)();
    PyTypeObject** base;        // where the imported base class is kept
    AttrvalueEntry attrvalue;   // the class's attrvalue table entry
    PyObject* attrvalue_function = nullptr;  // the Python-visible function object
    // Remembered outcome of the override lookup: the version tag of the last
    // Python subclass whose lookup found the built-in function.
    unsigned int memo_type_tag = 0;
};

// Every class, in registration order.
extern AttrClass attribute_class;
extern AttrClass numeric_attribute_class;
extern AttrClass bounded_numeric_attribute_class;
extern AttrClass boolean_attribute_class;
extern AttrClass list_attribute_class;
extern AttrClass logical_attribute_class;
extern AttrClass variable_list_attribute_class;
extern AttrClass color_attribute_class;
extern AttrClass generic_event_attribute_class;

// The owner's current value, through the object's own table.
inline PyObject* current_value(PyObject* self, PyObject* obj) {
    auto* prop = reinterpret_cast<contract::PropertyObject*>(self);
    return prop->vtab->get_value(self, obj, 0);
}

}  // namespace tavo::attributes
