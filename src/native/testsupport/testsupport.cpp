// tavo.core._testsupport: test-only access to the native method tables.
//
//   table_call(obj, entry, *args)            entry of obj's own table
//   base_table_call(cls, obj, entry, *args)  entry of the table cls publishes
//   noop(x)                                  a trivial native call (benchmark floor)
//   runtime_version_warning(major, minor, version)
//                                            the import's version comparison, for a
//                                            module built for major.minor
//
// For `attrvalue` and `get_value` the last argument is the dispatch flag
// (True: a Python-level override may run).
#include "attributes/runtime_version.hpp"
#include "attributes/tables.hpp"
#include "support/compat.hpp"
#include "support/ref.hpp"

#include <cstring>

namespace {

using tavo::Ref;
namespace contract = tavo::contract;
namespace attributes = tavo::attributes;
namespace compat = tavo::compat;

// Classes whose table layout differs, looked up once.
struct Classes {
    PyTypeObject* Property = nullptr;
    PyTypeObject* NumericProperty = nullptr;
    PyTypeObject* VariableListAttribute = nullptr;
    PyTypeObject* ColorAttribute = nullptr;
    PyTypeObject* NumericAttribute = nullptr;
    PyTypeObject* BoundedNumericAttribute = nullptr;
    // Classes whose table is the base's followed by attrvalue alone.
    PyTypeObject* plain_attribute_classes[5] = {};
};
Classes classes;

int load_type(PyObject* module, const char* name, PyTypeObject*& slot) {
    Ref found = Ref::steal(PyObject_GetAttrString(module, name));
    if (!found) {
        return -1;
    }
    if (!PyType_Check(found.get())) {
        PyErr_Format(PyExc_TypeError, "%s is not a class", name);
        return -1;
    }
    slot = reinterpret_cast<PyTypeObject*>(found.release());  // kept for good
    return 0;
}

int load_classes() {
    if (classes.Property) {
        return 0;
    }
    Ref properties = Ref::steal(PyImport_ImportModule("tavo.core.properties"));
    Ref attrs = Ref::steal(PyImport_ImportModule("tavo.core._attributes"));
    if (!properties || !attrs) {
        return -1;
    }
    const char* plain[] = {"_Attribute", "_BooleanAttribute", "_LogicalAttribute", "_ListAttribute",
                           "_GenericEventAttribute"};
    for (int i = 0; i < 5; ++i) {
        if (load_type(attrs.get(), plain[i], classes.plain_attribute_classes[i]) < 0) {
            return -1;
        }
    }
    if (load_type(properties.get(), "NumericProperty", classes.NumericProperty) < 0 ||
        load_type(attrs.get(), "_VariableListAttribute", classes.VariableListAttribute) < 0 ||
        load_type(attrs.get(), "_ColorAttribute", classes.ColorAttribute) < 0 ||
        load_type(attrs.get(), "_NumericAttribute", classes.NumericAttribute) < 0 ||
        load_type(attrs.get(), "_BoundedNumericAttribute", classes.BoundedNumericAttribute) < 0 ||
        load_type(properties.get(), "Property", classes.Property) < 0) {
        return -1;
    }
    return 0;
}

bool is_sub(PyTypeObject* type, PyTypeObject* base) {
    return PyType_IsSubtype(type, base) != 0;
}

int expect_args(const char* entry, Py_ssize_t given, Py_ssize_t wanted) {
    if (given != wanted) {
        PyErr_Format(PyExc_TypeError, "entry %s takes %zd arguments (%zd given)", entry, wanted, given);
        return -1;
    }
    return 0;
}

int flag(PyObject* value, int& out) {
    out = PyObject_IsTrue(value);
    return out < 0 ? -1 : 0;
}

PyObject* float_result(float value) {
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return PyFloat_FromDouble(static_cast<double>(value));
}

PyObject* no_entry(PyTypeObject* type, const char* entry) {
    PyErr_Format(PyExc_AttributeError, "the table of %s has no entry %s", type->tp_name, entry);
    return nullptr;
}

// The attrvalue entry of a table laid out for class `type`.
attributes::AttrvalueEntry attrvalue_of(PyTypeObject* type, const void* table) {
    if (is_sub(type, classes.VariableListAttribute)) {
        return static_cast<const attributes::VariableListAttributeTable*>(table)->attrvalue;
    }
    if (is_sub(type, classes.ColorAttribute)) {
        return static_cast<const attributes::ColorAttributeTable*>(table)->attrvalue;
    }
    if (is_sub(type, classes.NumericAttribute)) {
        return static_cast<const attributes::NumericAttributeTable*>(table)->attrvalue;
    }
    if (is_sub(type, classes.BoundedNumericAttribute)) {
        return static_cast<const attributes::BoundedNumericAttributeTable*>(table)->attrvalue;
    }
    for (PyTypeObject* plain : classes.plain_attribute_classes) {
        if (is_sub(type, plain)) {
            return static_cast<const attributes::AttributeTable*>(table)->attrvalue;
        }
    }
    return nullptr;
}

// Call `entry` of `table` (laid out for class `type`) on `self`.
PyObject* call_entry(PyTypeObject* type, const void* table, PyObject* self, const char* entry,
                     PyObject* const* args, Py_ssize_t nargs) {
    const auto* base = static_cast<const contract::PropertyVTable*>(table);
    auto is = [&](const char* name) { return std::strcmp(entry, name) == 0; };
    int dispatch = 0;
    if (is("init_storage") || is("compare_value") || is("check") || is("convert")) {
        if (expect_args(entry, nargs, 2) < 0) {
            return nullptr;
        }
        auto function = is("init_storage")    ? base->init_storage
                        : is("compare_value") ? base->compare_value
                        : is("check")         ? base->check
                                              : base->convert;
        return function(self, args[0], args[1]);
    }
    if (is("get_value")) {
        if (expect_args(entry, nargs, 2) < 0 || flag(args[1], dispatch) < 0) {
            return nullptr;
        }
        return base->get_value(self, args[0], !dispatch);
    }
    if (is("parse_unit_text") || is("parse_unit_pair")) {
        if (!is_sub(type, classes.NumericProperty)) {
            return no_entry(type, entry);
        }
        const auto* numeric = static_cast<const contract::NumericPropertyVTable*>(table);
        if (is("parse_unit_text")) {
            if (expect_args(entry, nargs, 2) < 0) {
                return nullptr;
            }
            return float_result(numeric->parse_unit_text(self, args[0], args[1]));
        }
        if (expect_args(entry, nargs, 3) < 0) {
            return nullptr;
        }
        return float_result(numeric->parse_unit_pair(self, args[0], args[1], args[2]));
    }
    if (is("attrvalue")) {
        attributes::AttrvalueEntry function = attrvalue_of(type, table);
        if (!function) {
            return no_entry(type, entry);
        }
        if (expect_args(entry, nargs, 2) < 0 || flag(args[1], dispatch) < 0) {
            return nullptr;
        }
        return function(self, args[0], !dispatch);
    }
    if (is("_convert_numeric") || is("parse_str")) {
        attributes::ConvertEntry function = nullptr;
        if (is("_convert_numeric") && is_sub(type, classes.VariableListAttribute)) {
            function = static_cast<const attributes::VariableListAttributeTable*>(table)->convert_numeric;
        } else if (is("parse_str") && is_sub(type, classes.ColorAttribute)) {
            function = static_cast<const attributes::ColorAttributeTable*>(table)->parse_str;
        }
        if (!function) {
            return no_entry(type, entry);
        }
        if (expect_args(entry, nargs, 2) < 0) {
            return nullptr;
        }
        return function(self, args[0], args[1]);
    }
    PyErr_Format(PyExc_ValueError, "unknown table entry %s", entry);
    return nullptr;
}

const char* entry_name(PyObject* entry) {
    if (!PyUnicode_Check(entry)) {
        PyErr_SetString(PyExc_TypeError, "the entry must be given as a str");
        return nullptr;
    }
    return PyUnicode_AsUTF8(entry);
}

PyObject* table_call(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 2) {
        PyErr_SetString(PyExc_TypeError, "table_call(obj, entry, *args)");
        return nullptr;
    }
    if (load_classes() < 0) {
        return nullptr;
    }
    PyObject* self = args[0];
    if (!PyObject_TypeCheck(self, classes.Property)) {
        PyErr_Format(PyExc_TypeError, "table_call needs a property, got %.200s", Py_TYPE(self)->tp_name);
        return nullptr;
    }
    const char* entry = entry_name(args[1]);
    if (!entry) {
        return nullptr;
    }
    const void* table = reinterpret_cast<contract::PropertyObject*>(self)->vtab;
    return call_entry(Py_TYPE(self), table, self, entry, args + 2, nargs - 2);
}

PyObject* base_table_call(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 3) {
        PyErr_SetString(PyExc_TypeError, "base_table_call(cls, obj, entry, *args)");
        return nullptr;
    }
    if (load_classes() < 0) {
        return nullptr;
    }
    if (!PyType_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "base_table_call needs a class first");
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(args[0]);
    PyObject* self = args[1];
    if (!is_sub(type, classes.Property) || !PyObject_TypeCheck(self, type)) {
        PyErr_Format(PyExc_TypeError, "base_table_call needs a property class and an instance of it, got %.200s",
                     Py_TYPE(self)->tp_name);
        return nullptr;
    }
    const char* entry = entry_name(args[2]);
    if (!entry) {
        return nullptr;
    }
    PyObject* capsule = PyDict_GetItemString(type->tp_dict, "__pyx_vtable__");
    if (!capsule) {
        PyErr_Format(PyExc_AttributeError, "%.200s publishes no method table", type->tp_name);
        return nullptr;
    }
    const void* table = PyCapsule_GetPointer(capsule, nullptr);
    if (!table) {
        return nullptr;
    }
    return call_entry(type, table, self, entry, args + 3, nargs - 3);
}

PyObject* noop(PyObject*, PyObject*) {
    Py_RETURN_NONE;
}

PyObject* runtime_version_warning(PyObject*, PyObject* args) {
    int major = 0;
    int minor = 0;
    const char* version = nullptr;
    if (!PyArg_ParseTuple(args, "iis:runtime_version_warning", &major, &minor, &version)) {
        return nullptr;
    }
    if (attributes::warn_on_runtime_mismatch(major, minor, version, "tavo.core._attributes") < 0) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* take_dict_watchers(PyObject*, PyObject*) {
    long taken = 0;
    while (compat::take_dict_watcher()) {
        ++taken;
    }
    return PyLong_FromLong(taken);
}

PyMethodDef methods[] = {
    {"table_call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_call)), METH_FASTCALL,
     "table_call(obj, entry, *args): call an entry of obj's own method table."},
    {"base_table_call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(base_table_call)),
     METH_FASTCALL, "base_table_call(cls, obj, entry, *args): call an entry of the table cls publishes."},
    {"take_dict_watchers", take_dict_watchers, METH_NOARGS,
     "take_dict_watchers(): take every free dict watcher slot of the interpreter for good; the number taken."},
    {"noop", noop, METH_O, "noop(x): return None (the cost of a trivial native call)."},
    {"runtime_version_warning", runtime_version_warning, METH_VARARGS,
     "runtime_version_warning(major, minor, version): the import's version check for a module built for "
     "major.minor, run against the version text given."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_testsupport", "Test-only access to the native method tables.", -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__testsupport() {
    return PyModule_Create(&module_def);
}
