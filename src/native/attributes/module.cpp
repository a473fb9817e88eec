// The module tavo.core._attributes: its entry point, create and exec steps,
// the import of the property system's classes with their method tables, and
// the registration of the attribute classes on top of them.
#include "attributes/common.hpp"
#include "attributes/runtime_version.hpp"
#include "support/process_module.hpp"

#include <array>
#include <cstdio>

namespace tavo::attributes {

namespace {

const char* const kModuleName = "tavo.core._attributes";
const char* const kPropertiesModule = "tavo.core.properties";
const char* const kEventModule = "tavo.core._event";
const char* const kUtilsModule = "tavo.core.utils";
const char* const kPicklingRefusal = "no default __reduce__ due to non-trivial __cinit__";

// The interpreter the module was first created in; the module is process-wide
// and cannot serve a second one.
std::int64_t recorded_interpreter = -1;
bool constants_built = false;

// ---- constants -----------------------------------------------------------

struct StringConstant {
    PyObject** slot;
    const char* text;
    bool intern;
};

int build_constants() {
    if (constants_built) {
        return 0;
    }
    k.empty_tuple = PyTuple_New(0);
    k.empty_str = PyUnicode_FromString("");
    if (!k.empty_tuple || !k.empty_str) {
        return -1;
    }
    const StringConstant strings[] = {
        {&k.attrtype, "attrtype", true},
        {&k.attrname, "attrname", true},
        {&k.sync, "sync", true},
        {&k.options, "options", true},
        {&k.values, "values", true},
        {&k.allownone, "allownone", true},
        {&k.length, "length", true},
        {&k.format, "format", true},
        {&k.defaultvalue, "defaultvalue", true},
        {&k.eventhandler, "eventhandler", true},
        {&k.prevent_default, "prevent_default", true},
        {&k.eventargs, "eventargs", true},
        {&k.eventjs, "eventjs", true},
        {&k.dispatch, "dispatch", true},
        {&k.client, "client", true},
        {&k.event_args, "event_args", true},
        {&k.event_js, "event_js", true},
        {&k.obj, "obj", true},
        {&k.name, "name", true},
        {&k.get_units, "get_units", true},
        {&k.register_event, "register_event", true},
        {&k.attrvalue, "attrvalue", true},
        {&k.dunder_init, "__init__", true},
        {&k.dunder_class, "__class__", true},
        {&k.dunder_name, "__name__", true},
        {&k.dunder_module, "__module__", true},
        {&k.dunder_all, "__all__", true},
        {&k.dunder_test, "__test__", true},
        {&k.dunder_builtins, "__builtins__", true},
        {&k.dunder_getstate, "__getstate__", true},
        {&k.dunder_reduce, "__reduce__", true},
        {&k.dunder_reduce_ex, "__reduce_ex__", true},
        {&k.dunder_setstate, "__setstate__", true},
        {&k.pyx_vtable, "__pyx_vtable__", true},
        {&k.CSS_LENGTH_UNITS, "CSS_LENGTH_UNITS", true},
        {&k.ObservableList, "ObservableList", true},
        {&k.get_color_from_hex_255, "get_color_from_hex_255", true},
        {&k.module_name, kModuleName, true},
        {&k.underscore, "_", false},
        {&k.dash, "-", false},
        {&k.space, " ", false},
        {&k.comma_space, ", ", false},
        {&k.percent, "%", false},
        {&k.css, "css", false},
        {&k.text_true, "true", false},
        {&k.text_false, "false", false},
        {&k.on_prefix, "on_", false},
        {&k.rgb_open, "rgb(", false},
        {&k.rgba_open, "rgba(", false},
        {&k.close_paren, ")", false},
    };
    for (const StringConstant& constant : strings) {
        *constant.slot = constant.intern ? PyUnicode_InternFromString(constant.text)
                                         : PyUnicode_FromString(constant.text);
        if (!*constant.slot) {
            return -1;
        }
    }
    const std::pair<PyObject**, long> integers[] = {
        {&k.int_0, 0}, {&k.int_neg1, -1}, {&k.int_neg2, -2}, {&k.int_2, 2}, {&k.int_255, 255},
    };
    for (const auto& [slot, value] : integers) {
        *slot = PyLong_FromLong(value);
        if (!*slot) {
            return -1;
        }
    }
    constants_built = true;
    return 0;
}

int build_tuples_and_slices() {
    if (k.all_names) {
        return 0;
    }
    k.slice_from_neg2 = PySlice_New(k.int_neg2, Py_None, Py_None);
    k.slice_from_neg1 = PySlice_New(k.int_neg1, Py_None, Py_None);
    k.slice_from_2 = PySlice_New(k.int_2, Py_None, Py_None);
    k.kwnames_client = PyTuple_Pack(1, k.client);
    k.kwnames_renderer = PyTuple_Pack(4, k.prevent_default, k.event_args, k.event_js, k.dispatch);
    PyObject* all = Py_BuildValue("(sssssss)", "_Attribute", "_NumericAttribute", "_BoundedNumericAttribute",
                                  "_BooleanAttribute", "_VariableListAttribute", "_ColorAttribute",
                                  "_GenericEventAttribute");
    if (!k.slice_from_neg2 || !k.slice_from_neg1 || !k.slice_from_2 || !k.kwnames_client ||
        !k.kwnames_renderer || !all) {
        Py_XDECREF(all);
        return -1;
    }
    k.all_names = all;
    return 0;
}

int lookup_builtin(const char* name, PyObject*& slot) {
    if (slot) {
        return 0;
    }
    PyObject* found = PyObject_GetAttrString(g.builtins, name);
    if (!found) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        }
        return -1;
    }
    slot = found;
    return 0;
}

// ---- importing the property system's classes ----------------------------

// Import `class_name` from `module`, check its instance size against the
// layout this module was built with and, when `table` is given, fetch its
// method table. The class is kept for good (one strong reference).
int import_class(PyObject* module, const char* module_name, const char* class_name, Py_ssize_t expected_size,
                 PyTypeObject** out, const void** table) {
    Ref found = Ref::steal(PyObject_GetAttrString(module, class_name));
    if (!found) {
        return -1;
    }
    if (!PyType_Check(found.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, class_name);
        return -1;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(found.get());
    const Py_ssize_t actual = type->tp_basicsize;
    if (actual < expected_size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. "
                     "Expected %zd from C header, got %zd from PyObject",
                     module_name, class_name, expected_size, actual);
        return -1;
    }
    if (actual > expected_size &&
        PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                         "%.200s.%.200s size changed, may indicate binary incompatibility. "
                         "Expected %zd from C header, got %zd from PyObject",
                         module_name, class_name, expected_size, actual) < 0) {
        return -1;
    }
    if (table) {
        Ref capsule = Ref::steal(PyObject_GetItem(type->tp_dict, k.pyx_vtable));
        if (!capsule) {
            return -1;
        }
        void* pointer = PyCapsule_GetPointer(capsule.get(), nullptr);
        if (!pointer) {
            if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
            }
            return -1;
        }
        *table = pointer;
    }
    PyTypeObject* previous = *out;
    *out = reinterpret_cast<PyTypeObject*>(found.release());
    Py_XDECREF(previous);
    return 0;
}

template <typename Table>
int import_with_table(PyObject* module, const char* module_name, const char* class_name, Py_ssize_t size,
                      PyTypeObject** out, const Table** table) {
    const void* pointer = nullptr;
    if (import_class(module, module_name, class_name, size, out, &pointer) < 0) {
        return -1;
    }
    *table = static_cast<const Table*>(pointer);
    return 0;
}

// NumericProperty's own get_units, when it is a native method taking one
// argument: the numeric renderings call its function directly wherever a
// class keeps that method (any other finding leaves them calling by name).
void remember_base_get_units() {
    PyObject* found = compat::type_lookup(g.NumericProperty, k.get_units);  // borrowed
    const bool one_argument =
        found && Py_IS_TYPE(found, &PyMethodDescr_Type) &&
        (reinterpret_cast<PyMethodDescrObject*>(found)->d_method->ml_flags & ~METH_COEXIST) == METH_O;
    set_field(g.numeric_get_units, one_argument ? Ref::borrow(found) : Ref());
}

// ---- pickling refusal ----------------------------------------------------

// The refusing methods of every class share this docstring, which also marks
// a `__reduce__` / `__setstate__` as a refusal installed here.
const char kRefusalDoc[] = "Attribute objects cannot be pickled.";

template <AttrClass& Cls>
PyObject* refuse_reduce(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, kPicklingRefusal);
    ATTR_TRACE(Cls.reduce_qualname);
    return nullptr;
}

template <AttrClass& Cls>
PyObject* refuse_setstate(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, kPicklingRefusal);
    ATTR_TRACE(Cls.setstate_qualname);
    return nullptr;
}

template <AttrClass& Cls>
PyMethodDef reduce_def = {"__reduce__", refuse_reduce<Cls>, METH_NOARGS, kRefusalDoc};
template <AttrClass& Cls>
PyMethodDef setstate_def = {"__setstate__", refuse_setstate<Cls>, METH_O, kRefusalDoc};

bool is_refusal(PyObject* method) {
    return Py_IS_TYPE(method, &PyMethodDescr_Type) &&
           reinterpret_cast<PyMethodDescrObject*>(method)->d_method->ml_doc == kRefusalDoc;
}

// Class attribute `name` as found through the MRO (borrowed, may be null).
PyObject* class_lookup(PyTypeObject* type, PyObject* name) {
    return compat::type_lookup(type, name);
}

int set_class_attribute(PyTypeObject* type, PyObject* name, PyObject* value) {
    int status = value ? PyDict_SetItem(type->tp_dict, name, value) : PyDict_DelItem(type->tp_dict, name);
    PyType_Modified(type);
    return status;
}

int install_pickling_refusal(PyTypeObject* type, PyMethodDef* reduce, PyMethodDef* setstate) {
    auto default_of = [](PyObject* name) { return class_lookup(&PyBaseObject_Type, name); };
    if (class_lookup(type, k.dunder_getstate) != default_of(k.dunder_getstate) ||
        class_lookup(type, k.dunder_reduce_ex) != default_of(k.dunder_reduce_ex)) {
        return 0;
    }
    PyObject* current_reduce = class_lookup(type, k.dunder_reduce);
    if (current_reduce != default_of(k.dunder_reduce) && !(current_reduce && is_refusal(current_reduce))) {
        return 0;
    }
    Ref reduce_method = Ref::steal(PyDescr_NewMethod(type, reduce));
    if (!reduce_method || set_class_attribute(type, k.dunder_reduce, reduce_method.get()) < 0) {
        return -1;
    }
    PyObject* own_setstate = PyDict_GetItemWithError(type->tp_dict, k.dunder_setstate);
    if (!own_setstate && PyErr_Occurred()) {
        return -1;
    }
    if (own_setstate && !is_refusal(own_setstate)) {
        return 0;
    }
    Ref setstate_method = Ref::steal(PyDescr_NewMethod(type, setstate));
    if (!setstate_method || set_class_attribute(type, k.dunder_setstate, setstate_method.get()) < 0) {
        return -1;
    }
    return 0;
}

// ---- registration of one class -------------------------------------------

struct Registration {
    AttrClass* cls;
    PyMethodDef* reduce;
    PyMethodDef* setstate;
};

template <AttrClass& Cls>
constexpr Registration registration() {
    return {&Cls, &reduce_def<Cls>, &setstate_def<Cls>};
}

int register_class(const Registration& entry) {
    AttrClass& cls = *entry.cls;
    PyTypeObject* type = cls.type;
    const void* table = cls.build_table();
    if (!(type->tp_flags & Py_TPFLAGS_READY)) {
        type->tp_base = *cls.base;
        type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
        // A failed readying is undone, so that a later import can ready the
        // class again on another base.
        compat::StaticTypeSnapshot before(type);
        // Readying must not meet a half-built class in a collection.
        const int collector_was_enabled = PyGC_Disable();
        const int status = PyType_Ready(type);
        if (collector_was_enabled) {
            PyGC_Enable();
        }
        if (status < 0) {
            before.restore_after_failed_ready(type);
            return -1;
        }
    }
    Ref capsule = Ref::steal(PyCapsule_New(const_cast<void*>(table), nullptr, nullptr));
    if (!capsule || set_class_attribute(type, k.pyx_vtable, capsule.get()) < 0) {
        return -1;
    }
    if (PyObject_SetAttrString(g.module, cls.name, reinterpret_cast<PyObject*>(type)) < 0) {
        return -1;
    }
    if (install_pickling_refusal(type, entry.reduce, entry.setstate) < 0) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", type->tp_name);
        }
        return -1;
    }
    return 0;
}

const std::array<Registration, 9> kClasses = {
    registration<attribute_class>(),
    registration<numeric_attribute_class>(),
    registration<bounded_numeric_attribute_class>(),
    registration<boolean_attribute_class>(),
    registration<list_attribute_class>(),
    registration<logical_attribute_class>(),
    registration<variable_list_attribute_class>(),
    registration<color_attribute_class>(),
    registration<generic_event_attribute_class>(),
};

int register_named(AttrClass& cls) {
    for (const Registration& entry : kClasses) {
        if (entry.cls == &cls) {
            return register_class(entry);
        }
    }
    return 0;
}

// ---- borrowed names ------------------------------------------------------

// Bind `names` of module `module_name` into the namespace, as a
// `from module import names` would.
int bind_names(const char* module_name, std::initializer_list<PyObject*> names) {
    Ref module_name_obj = Ref::steal(PyUnicode_FromString(module_name));
    if (!module_name_obj) {
        return -1;
    }
    Ref module = Ref::borrow(PyDict_GetItemWithError(PyImport_GetModuleDict(), module_name_obj.get()));
    if (!module && PyErr_Occurred()) {
        return -1;
    }
    bool complete = static_cast<bool>(module);
    for (PyObject* name : names) {
        if (complete && !PyObject_HasAttr(module.get(), name)) {
            complete = false;
        }
    }
    if (!complete) {
        Ref fromlist = Ref::steal(PyList_New(0));
        if (!fromlist) {
            return -1;
        }
        for (PyObject* name : names) {
            if (PyList_Append(fromlist.get(), name) < 0) {
                return -1;
            }
        }
        module = Ref::steal(PyImport_ImportModuleLevelObject(module_name_obj.get(), g.module_dict, nullptr,
                                                             fromlist.get(), 0));
        if (!module) {
            return -1;
        }
    }
    for (PyObject* name : names) {
        Ref value = Ref::steal(PyObject_GetAttr(module.get(), name));
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
                return -1;
            }
            PyErr_Clear();
            // A submodule of that name, under the imported module's own name;
            // an object without one has no submodules.
            Ref owner_name =
                Ref::steal(PyModule_Check(module.get()) ? PyModule_GetNameObject(module.get()) : nullptr);
            PyErr_Clear();
            if (owner_name) {
                Ref full_name = Ref::steal(PyUnicode_FromFormat("%U.%U", owner_name.get(), name));
                if (!full_name) {
                    return -1;
                }
                value = Ref::borrow(PyDict_GetItemWithError(PyImport_GetModuleDict(), full_name.get()));
            }
            if (!value) {
                if (!PyErr_Occurred()) {
                    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
                }
                return -1;
            }
        }
        if (PyDict_SetItem(g.module_dict, name, value.get()) < 0) {
            return -1;
        }
    }
    return 0;
}

// ---- create and exec steps -------------------------------------------------

int copy_spec_attribute(PyObject* spec, PyObject* module, const char* from, const char* to, bool skip_none) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    if (skip_none && value.get() == Py_None) {
        return 0;
    }
    return PyObject_SetAttrString(module, to, value.get());
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    if (claim_interpreter(recorded_interpreter) < 0) {
        return nullptr;
    }
    if (g.module) {
        return new_ref(g.module);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) {
        return nullptr;
    }
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module || copy_spec_attribute(spec, module.get(), "loader", "__loader__", false) < 0 ||
        copy_spec_attribute(spec, module.get(), "origin", "__file__", false) < 0 ||
        copy_spec_attribute(spec, module.get(), "parent", "__package__", false) < 0 ||
        copy_spec_attribute(spec, module.get(), "submodule_search_locations", "__path__", true) < 0) {
        return nullptr;
    }
    return module.release();
}

int check_runtime_version() {
    return warn_on_runtime_mismatch(compat::kBuiltMajor, compat::kBuiltMinor, Py_GetVersion(), kModuleName);
}

// The exec step proper; `failed_line` receives the line of a failing statement.
int exec_steps(PyObject* module, int& failed_line) {
#define EXEC_CHECK(expr)             \
    do {                             \
        if ((expr) < 0) {            \
            failed_line = __LINE__;  \
            return -1;               \
        }                            \
    } while (0)

    g.module = new_ref(module);
    set_field(g.module_dict, Ref::borrow(PyModule_GetDict(module)));
    // Held, not borrowed: sys.modules["builtins"] may be replaced and the old
    // module released while the cached names still refer to its namespace.
    Ref builtins = Ref::borrow(PyImport_AddModule("builtins"));
    if (!builtins) {
        return -1;
    }
    set_field(g.builtins, std::move(builtins));
    if (PyObject_SetAttrString(module, "__builtins__", g.builtins) < 0) {
        return -1;
    }
    if (check_runtime_version() < 0) {
        return -1;
    }
    if (build_constants() < 0) {
        return -1;
    }
    PyObject* modules = PyImport_GetModuleDict();
    EXEC_CHECK(PyDict_Contains(modules, k.module_name) == 1 ? 0 : PyDict_SetItem(modules, k.module_name, module));
    EXEC_CHECK(lookup_builtin("zip", g.builtin_zip));
    EXEC_CHECK(lookup_builtin("super", g.builtin_super));
    EXEC_CHECK(build_tuples_and_slices());
    EXEC_CHECK(ready_function_type());
    EXEC_CHECK(watch_module_namespaces());

    namespace c = contract;
    Ref properties = Ref::steal(PyImport_ImportModule(kPropertiesModule));
    EXEC_CHECK(properties ? 0 : -1);
    PyObject* props = properties.get();
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "Property", sizeof(c::PropertyObject), &g.Property,
                                 &g.property_table));
    EXEC_CHECK(register_named(attribute_class));
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "NumericProperty", sizeof(c::NumericPropertyObject),
                                 &g.NumericProperty, &g.numeric_table));
    remember_base_get_units();
    EXEC_CHECK(register_named(numeric_attribute_class));
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "BoundedNumericProperty",
                                 sizeof(c::BoundedNumericPropertyObject), &g.BoundedNumericProperty,
                                 &g.bounded_numeric_table));
    EXEC_CHECK(register_named(bounded_numeric_attribute_class));
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "BooleanProperty", sizeof(c::BooleanPropertyObject),
                                 &g.BooleanProperty, &g.boolean_table));
    EXEC_CHECK(register_named(boolean_attribute_class));
    EXEC_CHECK(register_named(logical_attribute_class));
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "VariableListProperty",
                                 sizeof(c::VariableListPropertyObject), &g.VariableListProperty,
                                 &g.variable_list_table));
    EXEC_CHECK(register_named(variable_list_attribute_class));
    EXEC_CHECK(import_with_table(props, kPropertiesModule, "ListProperty", sizeof(c::ListPropertyObject),
                                 &g.ListProperty, &g.list_table));
    EXEC_CHECK(register_named(list_attribute_class));
    EXEC_CHECK(register_named(color_attribute_class));
    EXEC_CHECK(register_named(generic_event_attribute_class));

    // Classes imported for their layout only: they must be what this module
    // was built against even where it does not use them.
    static PyTypeObject* imported_only[15] = {};
    const void* unused_table = nullptr;
    Ref builtins_module = Ref::borrow(g.builtins);
    EXEC_CHECK(import_class(builtins_module.get(), "builtins", "type", sizeof(PyHeapTypeObject),
                            &imported_only[0], nullptr));
    Ref event = Ref::steal(PyImport_ImportModule(kEventModule));
    EXEC_CHECK(event ? 0 : -1);
    PyObject* ev = event.get();
    EXEC_CHECK(import_class(ev, kEventModule, "ObjectWithUid", sizeof(c::ObjectWithUidObject), &imported_only[1],
                            nullptr));
    EXEC_CHECK(import_class(ev, kEventModule, "Observable", sizeof(c::ObservableObject), &imported_only[2],
                            nullptr));
    EXEC_CHECK(import_class(ev, kEventModule, "EventDispatcher", sizeof(c::EventDispatcherObject),
                            &g.EventDispatcher, &unused_table));
    EXEC_CHECK(import_class(ev, kEventModule, "BoundCallback", sizeof(c::BoundCallbackObject), &imported_only[3],
                            nullptr));
    EXEC_CHECK(import_class(ev, kEventModule, "EventObservers", sizeof(c::EventObserversObject),
                            &imported_only[4], &unused_table));
    EXEC_CHECK(import_class(props, kPropertiesModule, "PropertyStorage", sizeof(c::PropertyStorageObject),
                            &g.PropertyStorage, nullptr));
    const std::pair<const char*, Py_ssize_t> tabled[] = {
        {"StringProperty", sizeof(c::StringPropertyObject)},
        {"DictProperty", sizeof(c::DictPropertyObject)},
        {"ObjectProperty", sizeof(c::ObjectPropertyObject)},
        {"OptionProperty", sizeof(c::OptionPropertyObject)},
        {"ReferenceListProperty", sizeof(c::ReferenceListPropertyObject)},
        {"AliasProperty", sizeof(c::AliasPropertyObject)},
        {"ColorProperty", sizeof(c::ColorPropertyObject)},
    };
    int slot = 5;
    for (const auto& [class_name, size] : tabled) {
        EXEC_CHECK(import_class(props, kPropertiesModule, class_name, size, &imported_only[slot++], &unused_table));
    }

    EXEC_CHECK(PyDict_SetItem(g.module_dict, k.dunder_all, k.all_names));
    EXEC_CHECK(bind_names(kPropertiesModule, {k.ObservableList, k.CSS_LENGTH_UNITS}));
    EXEC_CHECK(bind_names(kUtilsModule, {k.get_color_from_hex_255}));
    for (const Registration& entry : kClasses) {
        AttrClass& cls = *entry.cls;
        if (!cls.attrvalue_function) {
            cls.attrvalue_function = new_attrvalue_function(cls);
            EXEC_CHECK(cls.attrvalue_function ? 0 : -1);
        }
        EXEC_CHECK(set_class_attribute(cls.type, k.attrvalue, cls.attrvalue_function));
    }
    Ref test = Ref::steal(PyDict_New());
    EXEC_CHECK(test ? 0 : -1);
    EXEC_CHECK(PyDict_SetItem(g.module_dict, k.dunder_test, test.get()));
    return 0;
#undef EXEC_CHECK
}

int exec_module(PyObject* module) {
    if (g.module) {
        if (g.module == module) {
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module '_attributes' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    int failed_line = 0;
    if (exec_steps(module, failed_line) == 0) {
        return 0;
    }
    if (constants_built && failed_line != 0) {
        add_traceback("init tavo.core._attributes", failed_line, kSourceFile);
    }
    Py_CLEAR(g.module);
    Py_CLEAR(g.module_dict);
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_attributes",  // m_name
    nullptr,        // m_doc
    0,              // m_size
    nullptr,        // m_methods
    module_slots,   // m_slots
    nullptr,        // m_traverse
    nullptr,        // m_clear
    nullptr,        // m_free
};

}  // namespace

}  // namespace tavo::attributes

PyMODINIT_FUNC PyInit__attributes() {
    return PyModuleDef_Init(&tavo::attributes::module_def);
}
