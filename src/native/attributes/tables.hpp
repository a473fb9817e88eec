// Instance layouts and method tables of the attribute classes.
//
// Each table begins with a copy of its base property's table (with the
// class's replacements in place) and continues with the operations the class
// adds. The tables are published under `__pyx_vtable__` in each class
// namespace; tavo.core._testsupport reads them through this header.
#pragma once

#include "contract/properties.hpp"

namespace tavo::attributes {

namespace contract = tavo::contract;

// attrvalue(self, obj, skip_dispatch): with skip_dispatch 0, a Python
// subclass that overrides `attrvalue` is called instead.
using AttrvalueEntry = PyObject* (*)(PyObject* self, PyObject* obj, int skip_dispatch);
using ConvertEntry = PyObject* (*)(PyObject* self, PyObject* obj, PyObject* value);

struct AttributeTable {
    contract::PropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct NumericAttributeTable {
    contract::NumericPropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct BoundedNumericAttributeTable {
    contract::BoundedNumericPropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct BooleanAttributeTable {
    contract::BooleanPropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct LogicalAttributeTable {
    contract::BooleanPropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct VariableListAttributeTable {
    contract::VariableListPropertyVTable base;
    ConvertEntry convert_numeric;  // _convert_numeric(self, obj, item)
    AttrvalueEntry attrvalue;
};

struct ListAttributeTable {
    contract::ListPropertyVTable base;
    AttrvalueEntry attrvalue;
};

struct ColorAttributeTable {
    contract::PropertyVTable base;
    AttrvalueEntry attrvalue;
    ConvertEntry parse_str;  // parse_str(self, obj, text)
};

struct GenericEventAttributeTable {
    contract::BooleanPropertyVTable base;
    AttrvalueEntry attrvalue;
};

// ---- instance layouts ----------------------------------------------------

struct AttributeObject {
    contract::PropertyObject base;
    PyObject* attrtype;
    int sync;
    PyObject* options;
    PyObject* values;
    PyObject* attrname;
};

// Shared by _NumericAttribute, _BoundedNumericAttribute and
// _VariableListAttribute: the base part, then the same four fields.
template <typename Base>
struct NumericLikeObject {
    Base base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* options;
};

using NumericAttributeObject = NumericLikeObject<contract::NumericPropertyObject>;
using BoundedNumericAttributeObject = NumericLikeObject<contract::BoundedNumericPropertyObject>;
using VariableListAttributeObject = NumericLikeObject<contract::VariableListPropertyObject>;

// _BooleanAttribute and _LogicalAttribute.
struct FlagAttributeObject {
    contract::BooleanPropertyObject base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
};

struct ListAttributeObject {
    contract::ListPropertyObject base;
    PyObject* attrtype;
    int sync;
    PyObject* length;
    PyObject* attrname;
};

struct ColorAttributeObject {
    contract::PropertyObject base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* format;
    PyObject* options;
};

struct GenericEventAttributeObject {
    contract::BooleanPropertyObject base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* eventhandler;
    PyObject* prevent_default;
    PyObject* dispatch;
    PyObject* eventargs;
    PyObject* eventjs;
};

}  // namespace tavo::attributes
