// The small property classes: BooleanProperty, StringProperty, DictProperty,
// ObjectProperty, OptionProperty, ColorProperty and AliasProperty; and the
// tables of every class.
#include "properties/common.hpp"

#include <structmember.h>

#include <cstddef>
#include <tuple>

namespace tavo::properties {

contract::BooleanPropertyVTable boolean_table;
contract::StringPropertyVTable string_table;
contract::DictPropertyVTable dict_table;
contract::ObjectPropertyVTable object_table;
contract::OptionPropertyVTable option_table;
contract::AliasPropertyVTable alias_table;
contract::ColorPropertyVTable color_table;

PyTypeObject boolean_type = static_type_base();
PyTypeObject string_type = static_type_base();
PyTypeObject dict_type = static_type_base();
PyTypeObject object_type = static_type_base();
PyTypeObject option_type = static_type_base();
PyTypeObject alias_type = static_type_base();
PyTypeObject color_type = static_type_base();

void build_numeric_tables();
void build_collection_tables();

namespace {

// A check that accepts what the root check does not refuse and what `accepts`
// approves; `what` names the accepted kind in the message.
template <bool (*Accepts)(PyObject* self, PyObject* value), const char* What>
PyObject* kind_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return accepted > 0 ? new_ref(Py_True) : nullptr;
    }
    if (!Accepts(self, value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only %s (got %R)", What, value);
        return nullptr;
    }
    return none_ref();
}

bool is_str(PyObject*, PyObject* value) { return PyUnicode_Check(value); }
bool is_dict(PyObject*, PyObject* value) { return PyDict_Check(value); }
constexpr char kStr[] = "str";
constexpr char kDict[] = "dict";

// ---- BooleanProperty: any value, tested for truth by its users ---------------------

PyObject* boolean_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &boolean_table); }
int boolean_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return property_init_root(self, args, kwds, Py_False);
}

// ---- StringProperty and DictProperty --------------------------------------------------

PyObject* string_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &string_table); }
int string_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyUnicode_FromString(""));
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// Each owner gets its own copy of a dict default.
PyObject* dict_convert(PyObject*, PyObject*, PyObject* value) {
    return PyDict_CheckExact(value) ? PyDict_Copy(value) : new_ref(value);
}
PyObject* dict_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &dict_table); }
int dict_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyDict_New());
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// ---- ObjectProperty -----------------------------------------------------------------

using ObjectProp = contract::ObjectPropertyObject;

PyObject* object_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return accepted > 0 ? new_ref(Py_True) : nullptr;
    }
    Ref baseclass = Ref::borrow(reinterpret_cast<ObjectProp*>(self)->baseclass);
    if (baseclass && baseclass.get() != Py_None) {
        const int instance = PyObject_IsInstance(value, baseclass.get());
        if (instance < 0) {
            return nullptr;
        }
        if (!instance) {
            raise_for(PyExc_ValueError, obj, self, " accept only %S (got %R)", baseclass.get(), value);
            return nullptr;
        }
    }
    return none_ref();
}

PyObject* object_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &object_table));
    if (self) {
        reinterpret_cast<ObjectProp*>(self.get())->baseclass = none_ref();
    }
    return self.release();
}

int object_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (property_init_root(self, args, kwds, Py_None) < 0) {
        return -1;
    }
    PyObject* baseclass = keyword(kwds, "baseclass");
    set_field(reinterpret_cast<ObjectProp*>(self)->baseclass, Ref::borrow(baseclass ? baseclass : Py_None));
    return 0;
}

int object_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<ObjectProp*>(self)->baseclass);
    return property_traverse(self, visit, arg);
}

int object_clear(PyObject* self) {
    set_field(reinterpret_cast<ObjectProp*>(self)->baseclass, Ref::borrow(Py_None));
    return property_clear(self);
}

void object_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(reinterpret_cast<ObjectProp*>(self)->baseclass);
    property_dealloc(self);
}

// ---- OptionProperty ---------------------------------------------------------------------

using OptionProp = contract::OptionPropertyObject;

PyObject* option_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return accepted > 0 ? new_ref(Py_True) : nullptr;
    }
    Ref options = Ref::borrow(reinterpret_cast<OptionProp*>(self)->options);
    const int found = PySequence_Contains(options.get(), value);
    if (found < 0) {
        return nullptr;
    }
    if (!found) {
        raise_for(PyExc_ValueError, obj, self, " is set to an invalid option %R. Must be one of: %S", value,
                  options.get());
        return nullptr;
    }
    return none_ref();
}

PyObject* option_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &option_table));
    if (self) {
        reinterpret_cast<OptionProp*>(self.get())->options = PyList_New(0);
        if (!reinterpret_cast<OptionProp*>(self.get())->options) {
            return nullptr;
        }
    }
    return self.release();
}

int option_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (property_init_root(self, args, kwds, Py_None) < 0) {
        return -1;
    }
    PyObject* given = keyword(kwds, "options");
    Ref options = Ref::steal(given ? PySequence_List(given) : PyList_New(0));
    if (!options) {
        return -1;
    }
    set_field(reinterpret_cast<OptionProp*>(self)->options, std::move(options));
    return 0;
}

int option_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<OptionProp*>(self)->options);
    return property_traverse(self, visit, arg);
}

int option_clear(PyObject* self) {
    set_field(reinterpret_cast<OptionProp*>(self)->options, Ref::steal(PyList_New(0)));
    return property_clear(self);
}

void option_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(reinterpret_cast<OptionProp*>(self)->options);
    property_dealloc(self);
}

PyMemberDef option_members[] = {
    {"options", T_OBJECT, offsetof(OptionProp, options), READONLY, "The accepted values."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- ColorProperty: [r, g, b, a] floats from a list or a hex text --------------------------

PyObject* color_parser = nullptr;

PyObject* color_convert(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None) {
        return none_ref();
    }
    Ref components;
    if (PyUnicode_Check(value)) {
        if (!color_parser) {
            Ref utils = Ref::steal(PyImport_ImportModule("tavo.core.utils"));
            color_parser = utils ? PyObject_GetAttrString(utils.get(), "get_color_from_hex_255") : nullptr;
            if (!color_parser) {
                return nullptr;
            }
        }
        components = Ref::steal(PyObject_CallOneArg(color_parser, value));
        if (!components) {
            return nullptr;
        }
        if (components.get() == Py_None) {
            raise_for(PyExc_ValueError, obj, self, " has an invalid color text (got %R)", value);
            return nullptr;
        }
        // the parser's channels are 0..255
        Ref scaled = Ref::steal(PyList_New(0));
        for (Py_ssize_t i = 0; scaled && i < PyList_GET_SIZE(components.get()); ++i) {
            PyObject* item = PyList_GET_ITEM(components.get(), i);
            Ref channel = Ref::steal(i < 3 ? PyFloat_FromDouble(PyFloat_AsDouble(item) / 255.0) : new_ref(item));
            if (!channel || PyList_Append(scaled.get(), channel.get()) < 0) {
                return nullptr;
            }
        }
        components = std::move(scaled);
    } else if (PyList_Check(value) || PyTuple_Check(value)) {
        components = Ref::steal(PySequence_List(value));
    } else {
        raise_for(PyExc_ValueError, obj, self, " has an invalid format (got %R)", value);
        return nullptr;
    }
    if (!components) {
        return nullptr;
    }
    const Py_ssize_t n = PyList_GET_SIZE(components.get());
    if (n != 3 && n != 4) {
        raise_for(PyExc_ValueError, obj, self, " must have 3 or 4 components (got %R)", value);
        return nullptr;
    }
    Ref result = Ref::steal(PyList_New(4));
    for (Py_ssize_t i = 0; result && i < 4; ++i) {
        PyObject* item = i < n ? PyList_GET_ITEM(components.get(), i) : nullptr;
        if (item && !PyLong_Check(item) && !PyFloat_Check(item)) {
            raise_for(PyExc_ValueError, obj, self, " components must be numbers (got %R)", value);
            return nullptr;
        }
        PyObject* channel = item ? PyNumber_Float(item) : PyFloat_FromDouble(1.0);
        if (!channel) {
            return nullptr;
        }
        PyList_SET_ITEM(result.get(), i, channel);
    }
    return result.release();
}

PyObject* color_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &color_table); }
int color_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref white = Ref::steal(Py_BuildValue("[dddd]", 1.0, 1.0, 1.0, 1.0));
    return white ? property_init_root(self, args, kwds, white.get()) : -1;
}

// ---- AliasProperty: a value computed by a getter, assigned by a setter ----------------------

using AliasProp = contract::AliasPropertyObject;

PyObject* alias_init_storage(PyObject*, PyObject*, PyObject*) { return none_ref(); }

PyObject* alias_get_value(PyObject* self, PyObject* obj, int) {
    if (obj == Py_None) {
        return none_ref();
    }
    return PyObject_CallOneArg(reinterpret_cast<AliasProp*>(self)->getter, obj);
}

PyObject* alias_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    Ref setter = Ref::borrow(reinterpret_cast<AliasProp*>(self)->setter);
    if (!setter || setter.get() == Py_None) {
        raise_for(PyExc_AttributeError, obj, self, " is read-only");
        return nullptr;
    }
    Ref done = Ref::steal(PyObject_CallFunctionObjArgs(setter.get(), obj, value, nullptr));
    if (!done) {
        return nullptr;
    }
    const int changed = PyObject_IsTrue(done.get());
    if (changed < 0) {
        return nullptr;
    }
    return changed ? as_property(self)->vtab->dispatch(self, obj) : none_ref();
}

PyObject* alias_dispatch(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(alias_get_value(self, obj, 1));
    if (!value) {
        return nullptr;
    }
    return root_dispatch(self, obj);
}

PyObject* alias_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &alias_table));
    if (self) {
        reinterpret_cast<AliasProp*>(self.get())->getter = none_ref();
        reinterpret_cast<AliasProp*>(self.get())->setter = none_ref();
    }
    return self.release();
}

int alias_init(PyObject* self, PyObject* args, PyObject* kwds) {
    static const char* names[] = {"getter", "setter", nullptr};
    PyObject* getter = nullptr;
    PyObject* setter = Py_None;
    Ref positional = Ref::steal(PyTuple_GetSlice(args, 0, 2));
    Ref no_keywords = Ref::steal(PyDict_New());
    if (!positional || !no_keywords) {
        return -1;
    }
    if (PyObject* given = keyword(kwds, "getter")) {
        getter = given;
    }
    if (PyObject* given = keyword(kwds, "setter")) {
        setter = given;
    }
    if (!getter && !PyArg_ParseTupleAndKeywords(positional.get(), no_keywords.get(), "O|O:AliasProperty",
                                                const_cast<char**>(names), &getter, &setter)) {
        return -1;
    }
    if (!PyCallable_Check(getter) || (setter != Py_None && !PyCallable_Check(setter))) {
        PyErr_SetString(PyExc_TypeError, "AliasProperty needs a callable getter and a callable setter or None");
        return -1;
    }
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || property_init_root(self, no_args.get(), kwds, Py_None) < 0) {
        return -1;
    }
    set_field(reinterpret_cast<AliasProp*>(self)->getter, Ref::borrow(getter));
    set_field(reinterpret_cast<AliasProp*>(self)->setter, Ref::borrow(setter));
    return 0;
}

int alias_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<AliasProp*>(self)->getter);
    Py_VISIT(reinterpret_cast<AliasProp*>(self)->setter);
    return property_traverse(self, visit, arg);
}

int alias_clear(PyObject* self) {
    set_field(reinterpret_cast<AliasProp*>(self)->setter, Ref::borrow(Py_None));
    return property_clear(self);
}

void alias_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(reinterpret_cast<AliasProp*>(self)->getter);
    Py_CLEAR(reinterpret_cast<AliasProp*>(self)->setter);
    property_dealloc(self);
}

void fill(PyTypeObject& t, const char* name, Py_ssize_t size, const char* doc, newfunc create, initproc init) {
    t.tp_name = name;
    t.tp_basicsize = size;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = doc;
    t.tp_dealloc = property_dealloc;
    t.tp_traverse = property_traverse;
    t.tp_clear = property_clear;
    t.tp_init = init;
    t.tp_new = create;
}

}  // namespace

void fill_simple_types() {
    fill(boolean_type, "tavo.core.properties.BooleanProperty", sizeof(contract::BooleanPropertyObject),
         "BooleanProperty(defaultvalue=False, **kw): a flag; any value is kept and tested for truth.", boolean_new,
         boolean_init);
    fill(string_type, "tavo.core.properties.StringProperty", sizeof(contract::StringPropertyObject),
         "StringProperty(defaultvalue='', **kw): a str.", string_new, string_init);
    fill(dict_type, "tavo.core.properties.DictProperty", sizeof(contract::DictPropertyObject),
         "DictProperty(defaultvalue={}, **kw): a dict (each owner gets a copy of a dict assigned).", dict_new,
         dict_init);
    fill(object_type, "tavo.core.properties.ObjectProperty", sizeof(ObjectProp),
         "ObjectProperty(defaultvalue=None, baseclass=None, **kw): any object, optionally of a class.",
         object_new, object_init);
    object_type.tp_traverse = object_traverse;
    object_type.tp_clear = object_clear;
    object_type.tp_dealloc = object_dealloc;
    fill(option_type, "tavo.core.properties.OptionProperty", sizeof(OptionProp),
         "OptionProperty(defaultvalue=None, options=[], **kw): one of the options.", option_new, option_init);
    option_type.tp_traverse = option_traverse;
    option_type.tp_clear = option_clear;
    option_type.tp_dealloc = option_dealloc;
    option_type.tp_members = option_members;
    fill(color_type, "tavo.core.properties.ColorProperty", sizeof(contract::ColorPropertyObject),
         "ColorProperty(defaultvalue=[1, 1, 1, 1], **kw): [r, g, b, a] floats 0..1 from a list or a hex text.",
         color_new, color_init);
    fill(alias_type, "tavo.core.properties.AliasProperty", sizeof(AliasProp),
         "AliasProperty(getter, setter=None, **kw): a value read by getter(owner), assigned by setter(owner, "
         "value) (a true result notifies the observers).",
         alias_new, alias_init);
    alias_type.tp_traverse = alias_traverse;
    alias_type.tp_clear = alias_clear;
    alias_type.tp_dealloc = alias_dealloc;
}

int build_tables() {
    boolean_table.base = property_table;
    string_table.base = property_table;
    string_table.base.check = kind_check<is_str, kStr>;
    dict_table.base = property_table;
    dict_table.base.convert = dict_convert;
    dict_table.base.check = kind_check<is_dict, kDict>;
    object_table.base = property_table;
    object_table.base.check = object_check;
    option_table.base = property_table;
    option_table.base.check = option_check;
    color_table.base = property_table;
    color_table.base.convert = color_convert;
    alias_table.base = property_table;
    alias_table.base.init_storage = alias_init_storage;
    alias_table.base.get_value = alias_get_value;
    alias_table.base.set_value = alias_set_value;
    alias_table.base.dispatch = alias_dispatch;
    build_numeric_tables();
    build_collection_tables();

    const std::tuple<PyTypeObject*, PyTypeObject*, const void*> classes[] = {
        {&property_type, nullptr, &property_table},
        {&numeric_type, &property_type, &numeric_table},
        {&bounded_numeric_type, &numeric_type, &bounded_numeric_table},
        {&boolean_type, &property_type, &boolean_table},
        {&variable_list_type, &property_type, &variable_list_table},
        {&list_type, &property_type, &list_table},
        {&string_type, &property_type, &string_table},
        {&dict_type, &property_type, &dict_table},
        {&object_type, &property_type, &object_table},
        {&option_type, &property_type, &option_table},
        {&reference_list_type, &property_type, &reference_list_table},
        {&alias_type, &property_type, &alias_table},
        {&color_type, &property_type, &color_table},
    };
    for (const auto& [type, base, table] : classes) {
        if (ready_class(type, base, table) < 0) {
            return -1;
        }
    }
    return 0;
}

}  // namespace tavo::properties
