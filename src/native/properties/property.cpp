// PropertyStorage and Property: per-owner storage records and the root of
// every property class (descriptor behaviour, conversion, check, observers).
#include "properties/common.hpp"

#include <structmember.h>

#include <cstdarg>
#include <cstddef>

namespace tavo::properties {

PyTypeObject* dispatcher_type = nullptr;
PyObject* observable_list_type = nullptr;
PyObject* css_length_units = nullptr;

contract::PropertyVTable property_table = {
    root_init_storage, root_get_storage, root_compare_value, root_get_value,
    root_set_value,    root_check,       root_convert,       root_dispatch,
};

// ---- messages and owners ------------------------------------------------------

void raise_for(PyObject* error, PyObject* obj, PyObject* self, const char* tail_format, ...) {
    va_list args;
    va_start(args, tail_format);
    Ref tail = Ref::steal(PyUnicode_FromFormatV(tail_format, args));
    va_end(args);
    if (!tail) {
        return;
    }
    PyObject* name = as_property(self)->name;
    PyErr_Format(error, "%s.%S%U", obj == Py_None ? "None" : Py_TYPE(obj)->tp_name, name ? name : Py_None,
                 tail.get());
}

contract::PropertyStorageObject* storage_of(PyObject* self, PyObject* obj) {
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "a property's owner must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    PyObject* map = reinterpret_cast<contract::EventDispatcherObject*>(obj)->property_storage;
    if (!map || !PyDict_Check(map)) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return nullptr;
    }
    PyObject* key = as_property(self)->storage_key;
    PyObject* found = PyDict_GetItemWithError(map, key ? key : Py_None);
    if (!found) {
        if (!PyErr_Occurred()) {
            PyErr_SetObject(PyExc_KeyError, key ? key : Py_None);
        }
        return nullptr;
    }
    if (!PyObject_TypeCheck(found, &storage_type)) {
        PyErr_Format(PyExc_TypeError, "the storage record of %S is a %.200s", key, Py_TYPE(found)->tp_name);
        return nullptr;
    }
    return reinterpret_cast<contract::PropertyStorageObject*>(found);
}

PyObject* keyword(PyObject* kwds, const char* name) {
    return kwds ? PyDict_GetItemString(kwds, name) : nullptr;
}

// ---- PropertyStorage ------------------------------------------------------------

using Storage = contract::PropertyStorageObject;

PyObject* storage_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    auto* s = reinterpret_cast<Storage*>(self.get());
    s->value = none_ref();
    s->observers = PyList_New(0);
    s->options = none_ref();
    s->units = none_ref();
    return s->observers ? self.release() : nullptr;
}

int storage_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* s = reinterpret_cast<Storage*>(self);
    Py_VISIT(s->value);
    Py_VISIT(s->observers);
    Py_VISIT(s->options);
    Py_VISIT(s->units);
    return 0;
}

int storage_clear(PyObject* self) {
    auto* s = reinterpret_cast<Storage*>(self);
    set_field(s->value, Ref::borrow(Py_None));
    set_field(s->observers, Ref::steal(PyList_New(0)));
    set_field(s->options, Ref::borrow(Py_None));
    set_field(s->units, Ref::borrow(Py_None));
    return 0;
}

void storage_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    auto* s = reinterpret_cast<Storage*>(self);
    Py_CLEAR(s->value);
    Py_CLEAR(s->observers);
    Py_CLEAR(s->options);
    Py_CLEAR(s->units);
    Py_TYPE(self)->tp_free(self);
}

PyObject* storage_get(PyObject* self, void* closure) {
    PyObject* value = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) +
                                                    reinterpret_cast<std::size_t>(closure));
    return new_ref(value ? value : Py_None);
}

int storage_set_options(PyObject* self, PyObject* value, void*) {
    if (!value || (value != Py_None && !PyList_Check(value))) {
        PyErr_SetString(PyExc_TypeError, "options must be a list or None");
        return -1;
    }
    set_field(reinterpret_cast<Storage*>(self)->options, Ref::borrow(value));
    return 0;
}

PyGetSetDef storage_getset[] = {
    {"value", storage_get, nullptr, "The owner's current value.", reinterpret_cast<void*>(offsetof(Storage, value))},
    {"observers", storage_get, nullptr, "Callbacks called with (owner, value) on change.",
     reinterpret_cast<void*>(offsetof(Storage, observers))},
    {"options", storage_get, storage_set_options, "Options accepted for this owner (list or None).",
     reinterpret_cast<void*>(offsetof(Storage, options))},
    {"units", storage_get, nullptr, "The unit recorded by the numeric parsers.",
     reinterpret_cast<void*>(offsetof(Storage, units))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject storage_type = [] {
    PyTypeObject t = static_type_base();
    t.tp_name = "tavo.core.properties.PropertyStorage";
    t.tp_basicsize = sizeof(Storage);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "The record a property keeps for one owner: value, observers, options, units.";
    t.tp_dealloc = storage_dealloc;
    t.tp_traverse = storage_traverse;
    t.tp_clear = storage_clear;
    t.tp_getset = storage_getset;
    t.tp_new = storage_new;
    return t;
}();

// ---- root entries -------------------------------------------------------------

PyObject* root_init_storage(PyObject* self, PyObject* obj, PyObject* storage) {
    if (!PyObject_TypeCheck(storage, &storage_type)) {
        PyErr_Format(PyExc_TypeError, "init_storage needs a PropertyStorage, got %.200s",
                     Py_TYPE(storage)->tp_name);
        return nullptr;
    }
    Ref defaultvalue = Ref::borrow(as_property(self)->defaultvalue);
    Ref value = Ref::steal(as_property(self)->vtab->convert(self, obj, defaultvalue ? defaultvalue.get() : Py_None));
    if (!value) {
        return nullptr;
    }
    set_field(reinterpret_cast<Storage*>(storage)->value, std::move(value));
    return none_ref();
}

PyObject* root_get_storage(PyObject* self, PyObject* obj) {
    Storage* storage = storage_of(self, obj);
    return storage ? new_ref(reinterpret_cast<PyObject*>(storage)) : nullptr;
}

PyObject* root_compare_value(PyObject*, PyObject* a, PyObject* b) {
    return PyObject_RichCompare(a, b, Py_EQ);
}

// Property's own Python-level get_value, to tell an override from it.
PyObject* builtin_get_value = nullptr;
PyObject* get_value_name = nullptr;

PyObject* root_get_value(PyObject* self, PyObject* obj, int skip_dispatch) {
    PyTypeObject* type = Py_TYPE(self);
    if (!skip_dispatch && (type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        PyObject* method = _PyType_Lookup(type, get_value_name);
        if (method && method != builtin_get_value) {
            return PyObject_CallMethodOneArg(self, get_value_name, obj);
        }
    }
    if (obj == Py_None) {
        PyObject* defaultvalue = as_property(self)->defaultvalue;
        return new_ref(defaultvalue ? defaultvalue : Py_None);
    }
    Storage* storage = storage_of(self, obj);
    return storage ? new_ref(storage->value) : nullptr;
}

PyObject* root_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    const contract::PropertyVTable* table = as_property(self)->vtab;
    Ref keep_self = Ref::borrow(self);
    Ref storage = Ref::steal(table->get_storage(self, obj));
    if (!storage) {
        return nullptr;
    }
    Ref converted = Ref::steal(table->convert(self, obj, value));
    if (!converted) {
        return nullptr;
    }
    Ref checked = Ref::steal(table->check(self, obj, converted.get()));
    if (!checked) {
        return nullptr;
    }
    auto* record = reinterpret_cast<Storage*>(storage.get());
    Ref old = Ref::borrow(record->value);
    Ref same = Ref::steal(table->compare_value(self, old.get(), converted.get()));
    if (!same) {
        return nullptr;
    }
    const int unchanged = PyObject_IsTrue(same.get());
    if (unchanged < 0) {
        return nullptr;
    }
    if (unchanged) {
        return none_ref();
    }
    set_field(record->value, std::move(converted));
    return table->dispatch(self, obj);
}

int root_accepts(PyObject* self, PyObject* obj, PyObject* value) {
    if (value != Py_None) {
        return 0;
    }
    if (as_property(self)->allownone) {
        return 1;
    }
    raise_for(PyExc_ValueError, obj, self, " does not accept None");
    return -1;
}

PyObject* root_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted < 0) {
        return nullptr;
    }
    return PyBool_FromLong(accepted);
}

PyObject* root_convert(PyObject*, PyObject*, PyObject* value) {
    return new_ref(value);
}

PyObject* root_dispatch(PyObject* self, PyObject* obj) {
    Storage* storage = storage_of(self, obj);
    if (!storage) {
        return nullptr;
    }
    Ref value = Ref::borrow(storage->value);
    Ref observers = Ref::steal(PySequence_Tuple(storage->observers));
    if (!observers) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(observers.get()); ++i) {
        Ref result = Ref::steal(
            PyObject_CallFunctionObjArgs(PyTuple_GET_ITEM(observers.get(), i), obj, value.get(), nullptr));
        if (!result) {
            return nullptr;
        }
    }
    return none_ref();
}

// ---- Property ---------------------------------------------------------------------

using Prop = contract::PropertyObject;

PyObject* property_new_with(PyTypeObject* type, const void* table) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    Prop* p = as_property(self.get());
    p->vtab = static_cast<const contract::PropertyVTable*>(table);
    p->storage_key = none_ref();
    p->name = none_ref();
    p->defaultvalue = none_ref();
    p->allownone = 0;
    return self.release();
}

PyObject* property_new(PyTypeObject* type, PyObject*, PyObject*) {
    return property_new_with(type, &property_table);
}

int property_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_property(self)->defaultvalue);
    return 0;
}

int property_clear(PyObject* self) {
    set_field(as_property(self)->defaultvalue, Ref::borrow(Py_None));
    return 0;
}

void property_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Prop* p = as_property(self);
    if (p->weakreflist) {
        PyObject_ClearWeakRefs(self);
    }
    Py_CLEAR(p->storage_key);
    Py_CLEAR(p->name);
    Py_CLEAR(p->defaultvalue);
    Py_TYPE(self)->tp_free(self);
}

int property_init_root(PyObject* self, PyObject* args, PyObject* kwds, PyObject* fallback) {
    PyObject* defaultvalue = PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0) : fallback;
    int allownone = 0;
    if (PyObject* given = keyword(kwds, "allownone")) {
        allownone = PyObject_IsTrue(given);
        if (allownone < 0) {
            return -1;
        }
    }
    set_field(as_property(self)->defaultvalue, Ref::borrow(defaultvalue));
    as_property(self)->allownone = allownone;
    return 0;
}

int property_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return property_init_root(self, args, kwds, Py_None);
}

PyObject* property_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) {
        return new_ref(self);
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
    return as_property(self)->vtab->dispatch(self, obj);
}

PyMethodDef property_methods[] = {
    {"__set_name__", property_set_name, METH_VARARGS, "Name the property after the class attribute."},
    {"get", property_py_get, METH_O, "get(obj): the owner's value."},
    {"get_value", property_py_get_value, METH_O, "get_value(obj): the owner's value (may be overridden)."},
    {"set", property_py_set, METH_VARARGS, "set(obj, value): assign the owner's value."},
    {"dispatch", property_py_dispatch, METH_O, "dispatch(obj): call the owner's observers of this property."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* property_get_field(PyObject* self, void* closure) {
    PyObject* value = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) +
                                                    reinterpret_cast<std::size_t>(closure));
    return new_ref(value ? value : Py_None);
}

PyObject* property_get_allownone(PyObject* self, void*) {
    return PyBool_FromLong(as_property(self)->allownone);
}

PyGetSetDef property_getset[] = {
    {"name", property_get_field, nullptr, "The name given by the owner class.",
     reinterpret_cast<void*>(offsetof(Prop, name))},
    {"defaultvalue", property_get_field, nullptr, "The default value.",
     reinterpret_cast<void*>(offsetof(Prop, defaultvalue))},
    {"allownone", property_get_allownone, nullptr, "Whether None is accepted.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject property_type = static_type_base();

void fill_property_types() {
    PyTypeObject& t = property_type;
    t.tp_name = "tavo.core.properties.Property";
    t.tp_basicsize = sizeof(Prop);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc =
        "Property(defaultvalue=None, **kw): a value kept per owner (an EventDispatcher).\n"
        "\n"
        "Declared as a class attribute of the owner class. Keyword `allownone` lets None be assigned.";
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

int ready_class(PyTypeObject* type, PyTypeObject* base, const void* table) {
    type->tp_base = base;
    if (PyType_Ready(type) < 0) {
        return -1;
    }
    Ref capsule = Ref::steal(PyCapsule_New(const_cast<void*>(table), nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
}

// ---- the module ----------------------------------------------------------------

namespace {

int exec_module(PyObject* module) {
    Ref event = Ref::steal(PyImport_ImportModule("tavo.core._event"));
    if (!event) {
        return -1;
    }
    Ref dispatcher = Ref::steal(PyObject_GetAttrString(event.get(), "EventDispatcher"));
    if (!dispatcher || !PyType_Check(dispatcher.get())) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "tavo.core._event.EventDispatcher is not a class");
        }
        return -1;
    }
    if (!dispatcher_type) {
        dispatcher_type = reinterpret_cast<PyTypeObject*>(dispatcher.release());
    }
    if (!(property_type.tp_flags & Py_TPFLAGS_READY)) {
        fill_property_types();
        fill_numeric_types();
        fill_collection_types();
        fill_simple_types();
        if (PyType_Ready(&storage_type) < 0 || build_tables() < 0) {
            return -1;
        }
        builtin_get_value = PyDict_GetItemString(property_type.tp_dict, "get_value");
        get_value_name = PyUnicode_InternFromString("get_value");
        if (!get_value_name) {
            return -1;
        }
    }
    if (!css_length_units) {
        css_length_units = Py_BuildValue("(sssssssssss)", "px", "pt", "pc", "mm", "cm", "in", "em", "ex", "ch",
                                         "vw", "vh");
        if (!css_length_units) {
            return -1;
        }
    }
    const std::pair<const char*, PyTypeObject*> published[] = {
        {"PropertyStorage", &storage_type},
        {"Property", &property_type},
        {"NumericProperty", &numeric_type},
        {"BoundedNumericProperty", &bounded_numeric_type},
        {"BooleanProperty", &boolean_type},
        {"VariableListProperty", &variable_list_type},
        {"ListProperty", &list_type},
        {"StringProperty", &string_type},
        {"DictProperty", &dict_type},
        {"ObjectProperty", &object_type},
        {"OptionProperty", &option_type},
        {"ReferenceListProperty", &reference_list_type},
        {"AliasProperty", &alias_type},
        {"ColorProperty", &color_type},
    };
    for (const auto& [name, type] : published) {
        if (PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) < 0) {
            return -1;
        }
    }
    if (PyModule_AddObjectRef(module, "CSS_LENGTH_UNITS", css_length_units) < 0) {
        return -1;
    }
    PyObject* globals = PyModule_GetDict(module);
    if (PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) < 0) {
        return -1;
    }
    Ref done = Ref::steal(PyRun_String(observable_list_source, Py_file_input, globals, globals));
    if (!done) {
        return -1;
    }
    PyObject* observable = PyDict_GetItemString(globals, "ObservableList");
    if (!observable) {
        PyErr_SetString(PyExc_RuntimeError, "ObservableList was not defined");
        return -1;
    }
    Py_XSETREF(observable_list_type, new_ref(observable));
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "properties",
    "The property system: values kept per owner, converted, checked and observed.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tavo::properties

PyMODINIT_FUNC PyInit_properties() {
    return PyModuleDef_Init(&tavo::properties::module_def);
}
