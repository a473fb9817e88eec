// Rules shared by every attribute class of tavo.core._attributes, and the
// module's process-wide state.
#pragma once

#include "attributes/tables.hpp"
#include "contract/event.hpp"
#include "support/compat.hpp"
#include "support/ref.hpp"
#include "support/traceback.hpp"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace tavo::attributes {

inline constexpr const char* kSourceFile = "tavo/core/_attributes";

// Add the traceback entry of the failing operation `qualname`.
#define ATTR_TRACE(qualname) ::tavo::add_traceback((qualname), __LINE__, ::tavo::attributes::kSourceFile)

// ---- process-wide state --------------------------------------------------

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
    PyObject* module;      // strong reference once the exec step succeeded
    PyObject* module_dict; // borrowed from module
    PyObject* builtins;    // borrowed (the builtins module lives for good)
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

// ---- one attribute class -------------------------------------------------

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
    // Remembered outcome of the override lookup (a Python subclass that does
    // not override attrvalue): the type's version tag and the instance dict's
    // version when the lookup found the built-in function.
    unsigned int memo_type_tag = 0;
    std::uint64_t memo_dict_version = 0;
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

// The slots in which the nine classes' type objects differ; all are
// subclassable, collected and otherwise alike.
struct AttributeTypeSlots {
    const char* name;
    Py_ssize_t basicsize;
    const char* doc;
    newfunc create;
    initproc init;
    traverseproc traverse;
    inquiry clear;
    destructor dealloc;
    PyGetSetDef* getset;
};
PyTypeObject attribute_type_object(const AttributeTypeSlots& slots);

// Create the Python-visible `attrvalue` function object of `cls`.
PyObject* new_attrvalue_function(AttrClass& cls);
int ready_function_type();

// The attrvalue table entry of a class: the override dispatch, then the
// class's rendering. A failure gets the class's attrvalue traceback entry.
using Renderer = PyObject* (*)(PyObject* self, PyObject* obj);

// Look for a Python-level override of attrvalue on `self`. Returns false when
// there is none (the class's own rendering runs); otherwise true with
// `result` holding the override's result (null on failure).
bool dispatch_attrvalue_override(PyObject* self, PyObject* obj, AttrClass& cls, Ref& result);

template <AttrClass& Cls, Renderer Render>
PyObject* attrvalue_entry(PyObject* self, PyObject* obj, int skip_dispatch) {
    Ref result;
    if (skip_dispatch || !dispatch_attrvalue_override(self, obj, Cls, result)) {
        result = Ref::steal(Render(self, obj));
    }
    if (!result) {
        ATTR_TRACE(Cls.attrvalue_qualname);
    }
    return result.release();
}

// The owner's current value, through the object's own table.
inline PyObject* current_value(PyObject* self, PyObject* obj) {
    auto* prop = reinterpret_cast<contract::PropertyObject*>(self);
    return prop->vtab->get_value(self, obj, 0);
}

// ---- constructor keywords ------------------------------------------------

// Read keyword `key` of `kw` (default ""): exactly a str or None; stored into
// `field` at once. -1 with TypeError "Expected str, got <type>" otherwise.
int read_text_keyword(PyObject* kw, PyObject* key, PyObject*& field);
// Read `sync` (default 0) as a 32-bit signed integer.
int read_sync_keyword(PyObject* kw, int& field);
// Read keyword `key` (default an empty list) as a new list built from any iterable.
int read_list_keyword(PyObject* kw, PyObject* key, PyObject*& field);
// The runtime's integer conversion to a 32-bit signed integer.
int to_int32(PyObject* value, int& out);
// Check that a text field value is exactly a str or None.
int check_text(PyObject* value);
// super(cls, self).__init__(*args, **kw) with a copy of kw.
int init_base(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kw);
// kwds of tp_init as a new dict (empty when none were given).
PyObject* copy_keywords(PyObject* kwds);
// Parse a constructor's named parameters, each given by position or by
// keyword; `values` holds their defaults on entry. Every other keyword goes
// into `kw`, a new dict. The runtime's TypeErrors for a wrong count or a
// repeated argument.
int parse_parameters(PyObject* args, PyObject* kwds, std::initializer_list<PyObject*> names, Ref* values,
                     Ref& kw);

// ---- names and messages --------------------------------------------------

// The page name: `attrname` when it is a non-empty str, else `name` with
// every "_" replaced by "-".
PyObject* resolved_attrname(PyObject* attrname, PyObject* name);

// Getter closures: the field's offset and the getter's traceback name.
struct FieldGetter {
    std::size_t offset;
    const char* qualname;
};
PyObject* get_attrname(PyObject* self, void* closure);
PyObject* get_object_field(PyObject* self, void* closure);
PyObject* get_int_field(PyObject* self, void* closure);

// The getters and attribute table most classes share, in the order sync,
// attrname, attrtype, then options for the classes that show that field.
template <typename Object, bool kOptions = false>
struct CommonGetters {
    FieldGetter sync;
    FieldGetter attrname;
    FieldGetter attrtype;
    FieldGetter options;
    PyGetSetDef table[5];

    CommonGetters(const char* sync_name, const char* attrname_name, const char* attrtype_name,
                  const char* options_name)
        : sync{offsetof(Object, sync), sync_name},
          attrname{offsetof(Object, attrname), attrname_name},
          attrtype{offsetof(Object, attrtype), attrtype_name},
          options{options_offset(), options_name},
          table{
              {"sync", get_int_field, nullptr, nullptr, &sync},
              {"attrname", get_attrname, nullptr, nullptr, &attrname},
              {"attrtype", get_object_field, nullptr, nullptr, &attrtype},
              kOptions ? PyGetSetDef{"options", get_object_field, nullptr, nullptr, &options} : PyGetSetDef{},
              PyGetSetDef{},
          } {}

    static constexpr std::size_t options_offset() {
        if constexpr (kOptions) {
            return offsetof(Object, options);
        } else {
            return 0;
        }
    }
};

// The traceback names of those getters, for the class named Class.
#define GETTER_NAMES(Class)                                                                            \
    "tavo.core._attributes." Class ".sync.__get__", "tavo.core._attributes." Class ".attrname.__get__", \
        "tavo.core._attributes." Class ".attrtype.__get__", "tavo.core._attributes." Class ".options.__get__"

// The plain text form of a message piece: a str as it is, anything else
// formatted as format(value, "") does.
PyObject* plain_text(PyObject* value);

// One piece of a composed message: fixed text, the repr of an object, or the
// plain text form of an object.
struct Piece {
    enum Kind { Text, Repr, Plain } kind;
    const char* text;
    PyObject* object;
};
inline Piece text(const char* s) { return {Piece::Text, s, nullptr}; }
inline Piece repr(PyObject* o) { return {Piece::Repr, nullptr, o}; }
inline Piece plain(PyObject* o) { return {Piece::Plain, nullptr, o}; }

// Raise ValueError "<owner class name>.<property name><pieces...>". Errors
// met while composing the message are raised instead.
void raise_composed(PyObject* owner, PyObject* prop, std::initializer_list<Piece> pieces);

// ---- small helpers -------------------------------------------------------

// A name of the module namespace (then of the builtins), as a lookup at each
// call finds it; NameError "name '...' is not defined" when absent. New
// reference. What a lookup found is remembered with the versions of the two
// namespaces and taken again while neither has changed.
struct GlobalName {
    PyObject* const* name;  // the interned name among the constants
    std::uint64_t module_version = 0;
    std::uint64_t builtins_version = 0;
    PyObject* value = nullptr;  // borrowed: held by the namespace it was found in
};
PyObject* module_global(GlobalName& global);

// The texts of the items of `iterable` (a str item as it is, others through
// str()) joined by `separator`.
PyObject* join_item_texts(PyObject* iterable, PyObject* separator);

// Membership test holding its own reference to the container while the
// items' __eq__ run.
int contains(PyObject* container, PyObject* value);

// GC helpers of the base part.
inline int traverse_base(PyTypeObject* base, PyObject* self, visitproc visit, void* arg) {
    return base->tp_traverse ? base->tp_traverse(self, visit, arg) : 0;
}
inline void clear_base(PyTypeObject* base, PyObject* self) {
    if (base->tp_clear) {
        base->tp_clear(self);
    }
}
// Release of an attribute object: own fields are already released by the caller,
// inside the trashcan it entered; the base's release does not enter it again
// (it is not the object's own tp_dealloc).
void dealloc_base(PyTypeObject* base, PyObject* self);
// Base creation with the constructor's arguments, then the class's table.
PyObject* new_with_base(PyTypeObject* base, PyTypeObject* type, PyObject* args, PyObject* kwds,
                        const void* table);

// Set a field to a new empty list / dict / the empty str at object creation.
int init_new_list(PyObject*& field);
int init_new_dict(PyObject*& field);
inline void init_empty_text(PyObject*& field) { field = new_ref(k.empty_str); }

// value[i] for an index i >= 0, by the value's own subscription (a subclass's
// __getitem__, a mapping's key i); exact lists and tuples are read directly,
// a list's index checked against its current length.
inline PyObject* item_at(PyObject* value, Py_ssize_t i) {
    if (PyList_CheckExact(value) && i < PyList_GET_SIZE(value)) {
        return new_ref(PyList_GET_ITEM(value, i));
    }
    if (PyTuple_CheckExact(value) && i < PyTuple_GET_SIZE(value)) {
        return new_ref(PyTuple_GET_ITEM(value, i));
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? PyObject_GetItem(value, index.get()) : nullptr;
}

// Whether obj is an owner (EventDispatcher) instance. The subtype test's
// outcome is remembered by the version tag of the last owner class that
// passed it: tags are never reused, and a change of a class's bases retags it.
extern unsigned int owner_type_tag;
bool is_owner_slow(PyObject* obj);
inline bool is_owner(PyObject* obj) {
    const PyTypeObject* type = Py_TYPE(obj);
    if (type->tp_version_tag == owner_type_tag && (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG)) {
        return true;
    }
    return is_owner_slow(obj);
}

}  // namespace tavo::attributes
