// The small property classes: BooleanProperty, StringProperty, DictProperty,
// ObjectProperty, OptionProperty and ColorProperty.
#include "properties/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::properties {

contract::BooleanPropertyVTable boolean_table;
contract::StringPropertyVTable string_table;
contract::DictPropertyVTable dict_table;
contract::ObjectPropertyVTable object_table;
contract::OptionPropertyVTable option_table;
contract::ColorPropertyVTable color_table;

PyTypeObject boolean_type = static_type_base();
PyTypeObject string_type = static_type_base();
PyTypeObject dict_type = static_type_base();
PyTypeObject object_type = static_type_base();
PyTypeObject option_type = static_type_base();
PyTypeObject color_type = static_type_base();

namespace {

// ---- BooleanProperty: any value is kept; its users test it for truth -----------------

PyObject* boolean_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &boolean_table); }

int boolean_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return property_init_root(self, args, kwds, Py_False);
}

// ---- StringProperty ---------------------------------------------------------------------

PyObject* string_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    if (!PyUnicode_Check(value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only str (got %R)", value);
        return nullptr;
    }
    return none_ref();
}

PyObject* string_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &string_table); }

int string_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyUnicode_FromStringAndSize(nullptr, 0));
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// ---- DictProperty -------------------------------------------------------------------------

// Each owner keeps its own copy of a dict (the default one included).
PyObject* dict_convert(PyObject*, PyObject*, PyObject* value) {
    return PyDict_CheckExact(value) ? PyDict_Copy(value) : new_ref(value);
}

PyObject* dict_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    if (!PyDict_Check(value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only dict (got %R)", value);
        return nullptr;
    }
    return none_ref();
}

PyObject* dict_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &dict_table); }

int dict_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyDict_New());
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// ---- ObjectProperty -----------------------------------------------------------------

using ObjectProp = contract::ObjectPropertyObject;

ObjectProp* as_object_prop(PyObject* o) { return reinterpret_cast<ObjectProp*>(o); }

// Any object; with a `baseclass`, only its instances.
PyObject* object_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    Ref baseclass = Ref::borrow(as_object_prop(self)->baseclass);
    if (baseclass && baseclass.get() != Py_None) {
        const int instance = PyObject_IsInstance(value, baseclass.get());
        if (instance < 0) {
            return nullptr;
        }
        if (!instance) {
            raise_for(PyExc_ValueError, obj, self, " accept only %s (got %R)",
                      short_type_name(reinterpret_cast<PyTypeObject*>(baseclass.get())), value);
            return nullptr;
        }
    }
    return none_ref();
}

PyObject* object_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = property_new_with(type, &object_table);
    if (self) {
        as_object_prop(self)->baseclass = none_ref();
    }
    return self;
}

int object_init(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* baseclass = nullptr;
    if (keyword(kwds, "baseclass", baseclass) < 0) {
        return -1;
    }
    if (baseclass && baseclass != Py_None && !PyType_Check(baseclass)) {
        PyErr_Format(PyExc_TypeError, "baseclass must be a class or None, got %.200s", Py_TYPE(baseclass)->tp_name);
        return -1;
    }
    if (property_init_root(self, args, kwds, Py_None) < 0) {
        return -1;
    }
    set_field(as_object_prop(self)->baseclass, Ref::borrow(baseclass ? baseclass : Py_None));
    return 0;
}

int object_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_object_prop(self)->baseclass);
    return property_traverse(self, visit, arg);
}

int object_clear(PyObject* self) {
    set_field(as_object_prop(self)->baseclass, Ref::borrow(Py_None));
    return property_clear(self);
}

void object_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<object_dealloc>(self, [self] {
        Py_CLEAR(as_object_prop(self)->baseclass);
        property_dealloc(self);
    });
}

PyMemberDef object_members[] = {
    {"baseclass", T_OBJECT, offsetof(ObjectProp, baseclass), READONLY, "The class values must be of, or None."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- OptionProperty ---------------------------------------------------------------------

using OptionProp = contract::OptionPropertyObject;

OptionProp* as_option_prop(PyObject* o) { return reinterpret_cast<OptionProp*>(o); }

// One of the options.
PyObject* option_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    Ref options = Ref::borrow(as_option_prop(self)->options);
    const int found = options && PyList_Check(options.get()) ? PySequence_Contains(options.get(), value) : 0;
    if (found < 0) {
        return nullptr;
    }
    if (!found) {
        raise_for(PyExc_ValueError, obj, self, " is set to an invalid option %R. Must be one of: %R", value,
                  options ? options.get() : Py_None);
        return nullptr;
    }
    return none_ref();
}

PyObject* option_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &option_table));
    if (!self) {
        return nullptr;
    }
    as_option_prop(self.get())->options = PyList_New(0);
    return as_option_prop(self.get())->options ? self.release() : nullptr;
}

int option_init(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* given = nullptr;
    if (keyword(kwds, "options", given) < 0) {
        return -1;
    }
    Ref options;
    if (!given) {
        options = Ref::steal(PyList_New(0));
    } else if (PyList_Check(given) || PyTuple_Check(given)) {
        options = Ref::steal(PySequence_List(given));
    } else {
        PyErr_Format(PyExc_TypeError, "options must be a list or tuple, got %.200s", Py_TYPE(given)->tp_name);
        return -1;
    }
    if (!options || property_init_root(self, args, kwds, Py_None) < 0) {
        return -1;
    }
    set_field(as_option_prop(self)->options, std::move(options));
    return 0;
}

int option_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_option_prop(self)->options);
    return property_traverse(self, visit, arg);
}

int option_clear(PyObject* self) {
    Py_CLEAR(as_option_prop(self)->options);
    return property_clear(self);
}

void option_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<option_dealloc>(self, [self] {
        Py_CLEAR(as_option_prop(self)->options);
        property_dealloc(self);
    });
}

PyMemberDef option_members[] = {
    {"options", T_OBJECT, offsetof(OptionProp, options), READONLY, "The accepted values (a list)."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- ColorProperty: [r, g, b, a] floats from components or a hex text ----------------------

PyObject* hex_parser = nullptr;  // tavo.core.utils.get_color_from_hex_255, looked up at first use

// The components of a hex colour text: [r, g, b] in 0..1 and the alpha when
// given; null with ValueError, naming this property, for a text that is not
// a colour (the parser's own refusal knows no owner).
PyObject* hex_components(PyObject* self, PyObject* obj, PyObject* text) {
    if (!hex_parser) {
        Ref utils = Ref::steal(PyImport_ImportModule("tavo.core.utils"));
        Ref found = utils ? Ref::steal(PyObject_GetAttrString(utils.get(), "get_color_from_hex_255")) : Ref();
        if (!found) {
            return nullptr;
        }
        if (!hex_parser) {  // the import may have run a parse that found it first
            hex_parser = found.release();
        }
    }
    Ref parsed = Ref::steal(PyObject_CallOneArg(hex_parser, text));
    if (!parsed && !PyErr_ExceptionMatches(PyExc_ValueError)) {
        return nullptr;
    }
    if (!parsed || parsed.get() == Py_None) {
        PyErr_Clear();
        raise_for(PyExc_ValueError, obj, self,
                  " has an invalid color text (got %R): give #rgb, #rgba, #rrggbb or #rrggbbaa in hex digits, "
                  "the # optional",
                  text);
        return nullptr;
    }
    if (!PyList_Check(parsed.get())) {
        PyErr_Format(PyExc_TypeError, "get_color_from_hex_255 gave a %.200s, not a list",
                     Py_TYPE(parsed.get())->tp_name);
        return nullptr;
    }
    const Py_ssize_t n = PyList_GET_SIZE(parsed.get());
    Ref scaled = Ref::steal(PyList_New(n));
    for (Py_ssize_t i = 0; scaled && i < n; ++i) {
        PyObject* item = PyList_GET_ITEM(parsed.get(), i);
        if (!is_number(item)) {
            PyErr_SetString(PyExc_TypeError, "get_color_from_hex_255 gave a component that is not a number");
            return nullptr;
        }
        const double value = PyFloat_AsDouble(item);
        if (value == -1.0 && PyErr_Occurred()) {
            return nullptr;
        }
        // Channels come as 0..255, the alpha already as 0..1.
        PyObject* channel = PyFloat_FromDouble(i < 3 ? value / 255.0 : value);
        if (!channel) {
            return nullptr;
        }
        PyList_SET_ITEM(scaled.get(), i, channel);
    }
    return scaled.release();
}

// None is passed on for the check; a text is read as a hex colour; a list or
// tuple of 3 or 4 numbers becomes 4 floats (alpha 1.0 added); else ValueError.
PyObject* color_convert(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None) {
        return none_ref();
    }
    Ref components;
    if (PyUnicode_Check(value)) {
        components = Ref::steal(hex_components(self, obj, value));
    } else if (PyList_Check(value) || PyTuple_Check(value)) {
        components = Ref::steal(PySequence_List(value));
    } else {
        raise_for(PyExc_ValueError, obj, self, " has an invalid color (got %R)", value);
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
        if (item && !is_number(item)) {
            raise_for(PyExc_ValueError, obj, self, " components must be numbers (got %R)", value);
            return nullptr;
        }
        PyObject* channel = item ? PyNumber_Float(item) : PyFloat_FromDouble(1.0);
        if (!channel) {
            if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();  // an int beyond the float range
                raise_for(PyExc_ValueError, obj, self, " has a component out of range (got %R)", value);
            }
            return nullptr;
        }
        PyList_SET_ITEM(result.get(), i, channel);
    }
    return result.release();
}

// A list of 4 numbers (what convert makes).
PyObject* color_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    bool ok = PyList_Check(value) && PyList_GET_SIZE(value) == 4;
    for (Py_ssize_t i = 0; ok && i < 4; ++i) {
        ok = is_number(PyList_GET_ITEM(value, i));
    }
    if (!ok) {
        raise_for(PyExc_ValueError, obj, self, " accept only a list of 4 numbers (got %R)", value);
        return nullptr;
    }
    return none_ref();
}

PyObject* color_new(PyTypeObject* type, PyObject*, PyObject*) { return property_new_with(type, &color_table); }

int color_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref white = Ref::steal(Py_BuildValue("[iiii]", 1, 1, 1, 1));
    return white ? property_init_root(self, args, kwds, white.get()) : -1;
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
         "BooleanProperty(defaultvalue=False, **kw): a flag; any value is kept and tested for truth by its users.",
         boolean_new, boolean_init);
    fill(string_type, "tavo.core.properties.StringProperty", sizeof(contract::StringPropertyObject),
         "StringProperty(defaultvalue='', **kw): a str.", string_new, string_init);
    fill(dict_type, "tavo.core.properties.DictProperty", sizeof(contract::DictPropertyObject),
         "DictProperty(defaultvalue={}, **kw): a dict; each owner keeps its own copy of a dict given to it.",
         dict_new, dict_init);
    fill(object_type, "tavo.core.properties.ObjectProperty", sizeof(ObjectProp),
         "ObjectProperty(defaultvalue=None, *, baseclass=None, **kw): any object, or an instance of baseclass.",
         object_new, object_init);
    object_type.tp_traverse = object_traverse;
    object_type.tp_clear = object_clear;
    object_type.tp_dealloc = object_dealloc;
    object_type.tp_members = object_members;
    fill(option_type, "tavo.core.properties.OptionProperty", sizeof(OptionProp),
         "OptionProperty(defaultvalue=None, *, options=[], **kw): one of the options.", option_new, option_init);
    option_type.tp_traverse = option_traverse;
    option_type.tp_clear = option_clear;
    option_type.tp_dealloc = option_dealloc;
    option_type.tp_members = option_members;
    fill(color_type, "tavo.core.properties.ColorProperty", sizeof(contract::ColorPropertyObject),
         "ColorProperty(defaultvalue=[1, 1, 1, 1], **kw): [r, g, b, a] floats from 3 or 4 numbers or a hex "
         "text ('#rgb', '#rgba', '#rrggbb', '#rrggbbaa').",
         color_new, color_init);
}

void build_simple_tables() {
    boolean_table.base = property_table;
    string_table.base = property_table;
    string_table.base.check = string_check;
    dict_table.base = property_table;
    dict_table.base.convert = dict_convert;
    dict_table.base.check = dict_check;
    object_table.base = property_table;
    object_table.base.check = object_check;
    option_table.base = property_table;
    option_table.base.check = option_check;
    color_table.base = property_table;
    color_table.base.convert = color_convert;
    color_table.base.check = color_check;
}

}  // namespace tavo::properties
