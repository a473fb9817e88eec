// tavo.core.properties: the module's create and exec steps.
//
// The module is made once per process (support/process_module.hpp): owners,
// attribute classes and ObservableList instances hold its classes, so an
// import after its sys.modules entry was removed gets the same module. The
// classes are readied once per process: each class's table is built as a
// copy of its parent's with the class's replacements, and published in the
// class namespace as a nameless capsule under `__pyx_vtable__`, the form the
// modules built on this one read.
#include "properties/common.hpp"
#include "support/process_module.hpp"

#include <tuple>
#include <utility>

namespace tavo::properties {

namespace {

// The units a unit text may end with (besides "%"): the CSS length units of
// two characters.
constexpr const char* kLengthUnits[] = {"px", "pt", "pc", "mm", "cm", "in", "em",
                                        "ex", "ch", "vw", "vh", "lh", "vi", "vb"};

int ready_class(PyTypeObject* type, PyTypeObject* base, const void* table) {
    type->tp_base = base;
    if (PyType_Ready(type) < 0) {
        return -1;
    }
    if (!table) {
        return 0;
    }
    Ref capsule = Ref::steal(PyCapsule_New(const_cast<void*>(table), nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
}

int ready_classes() {
    if (property_type.tp_flags & Py_TPFLAGS_READY) {
        return 0;
    }
    fill_storage_type();
    fill_property_type();
    fill_numeric_types();
    fill_list_types();
    fill_reference_alias_types();
    fill_simple_types();
    build_numeric_tables();
    build_list_tables();
    build_reference_alias_tables();
    build_simple_tables();

    const std::tuple<PyTypeObject*, PyTypeObject*, const void*> classes[] = {
        {&storage_type, nullptr, nullptr},
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
    // Property's own get_value, kept to tell a Python override from it.
    get_value_name = PyUnicode_InternFromString("get_value");
    if (!get_value_name) {
        return -1;
    }
    builtin_get_value = PyDict_GetItemWithError(property_type.tp_dict, get_value_name);
    if (!builtin_get_value) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_RuntimeError, "Property has no get_value");
        }
        return -1;
    }
    Py_INCREF(builtin_get_value);
    return 0;
}

int make_units() {
    if (css_length_units) {
        return 0;
    }
    constexpr Py_ssize_t count = sizeof(kLengthUnits) / sizeof(kLengthUnits[0]);
    Ref units = Ref::steal(PyTuple_New(count));
    for (Py_ssize_t i = 0; units && i < count; ++i) {
        PyObject* unit = PyUnicode_InternFromString(kLengthUnits[i]);
        if (!unit) {
            return -1;
        }
        PyTuple_SET_ITEM(units.get(), i, unit);
    }
    if (!units) {
        return -1;
    }
    css_length_units = units.release();
    return 0;
}

int exec_steps(PyObject* module) {
    // Owners are EventDispatchers: the event module comes first.
    Ref event = Ref::steal(PyImport_ImportModule("tavo.core._event"));
    if (!event) {
        return -1;
    }
    Ref dispatcher = Ref::steal(PyObject_GetAttrString(event.get(), "EventDispatcher"));
    if (!dispatcher) {
        return -1;
    }
    if (!PyType_Check(dispatcher.get()) ||
        reinterpret_cast<PyTypeObject*>(dispatcher.get())->tp_basicsize <
            static_cast<Py_ssize_t>(sizeof(contract::EventDispatcherObject))) {
        PyErr_SetString(PyExc_TypeError, "tavo.core._event.EventDispatcher is not the native owner class");
        return -1;
    }
    if (!dispatcher_type) {
        dispatcher_type = reinterpret_cast<PyTypeObject*>(dispatcher.release());  // kept for good
    }
    if (ready_classes() < 0 || make_units() < 0) {
        return -1;
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
    // ObservableList is defined by running its source in the module namespace.
    PyObject* globals = PyModule_GetDict(module);
    if (PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) < 0) {
        return -1;
    }
    Ref done = Ref::steal(PyRun_String(observable_list_source, Py_file_input, globals, globals));
    if (!done) {
        return -1;
    }
    Ref key = Ref::steal(PyUnicode_InternFromString("ObservableList"));
    PyObject* observable = key ? PyDict_GetItemWithError(globals, key.get()) : nullptr;
    if (!observable) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_RuntimeError, "ObservableList was not defined");
        }
        return -1;
    }
    Ref owner = Ref::steal(PyUnicode_InternFromString("owner"));
    Ref prop = Ref::steal(PyUnicode_InternFromString("prop"));
    Ref kwnames = Ref::steal(owner && prop ? PyTuple_Pack(2, owner.get(), prop.get()) : nullptr);
    if (!kwnames) {
        return -1;
    }
    Py_XSETREF(observable_list_type, new_ref(observable));
    Py_XSETREF(observable_list_kwnames, kwnames.release());
    return 0;
}

ProcessModule the_module{"properties"};

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    return create_process_module(the_module, spec);
}

int exec_module(PyObject* module) {
    return exec_process_module(the_module, module, exec_steps);
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "properties",
    "The property system: values kept per owner (an EventDispatcher), converted, checked and observed.",
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
