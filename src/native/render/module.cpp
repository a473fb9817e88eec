// The module tavo.core._render: its entry point, the create and exec steps,
// and the import of the attribute classes with their method tables.
#include "render/layout.hpp"
#include "render/page.hpp"
#include "render/start_tag.hpp"

#include "contract/event.hpp"

#include <cstdint>

namespace tavo::render {

namespace {

constexpr const char* kModuleName = "tavo.core._render";

template <typename Object, typename Table>
AttributeClass describe_class(const char* name, bool boolean = false) {
    return AttributeClass{name,
                          sizeof(Object),
                          offsetof(Object, attrtype),
                          offsetof(Object, attrname),
                          offsetof(Table, attrvalue),
                          offsetof(Object, sync),
                          boolean,
                          nullptr,
                          nullptr};
}

}  // namespace

namespace a = attributes;

AttributeClass attribute_classes[kAttributeClasses] = {
    describe_class<a::AttributeObject, a::AttributeTable>("_Attribute"),
    describe_class<a::NumericAttributeObject, a::NumericAttributeTable>("_NumericAttribute"),
    describe_class<a::BoundedNumericAttributeObject, a::BoundedNumericAttributeTable>("_BoundedNumericAttribute"),
    describe_class<a::VariableListAttributeObject, a::VariableListAttributeTable>("_VariableListAttribute"),
    describe_class<a::FlagAttributeObject, a::BooleanAttributeTable>("_BooleanAttribute", true),
    describe_class<a::FlagAttributeObject, a::LogicalAttributeTable>("_LogicalAttribute"),
    describe_class<a::ListAttributeObject, a::ListAttributeTable>("_ListAttribute"),
    describe_class<a::ColorAttributeObject, a::ColorAttributeTable>("_ColorAttribute"),
    describe_class<a::GenericEventAttributeObject, a::GenericEventAttributeTable>("_GenericEventAttribute"),
};

Constants k = {};
PyTypeObject* event_dispatcher = nullptr;

namespace {

// The interpreter the module was first created in; its state is process-wide.
std::int64_t recorded_interpreter = -1;
PyObject* the_module = nullptr;  // held once an exec step succeeded

int build_constants() {
    if (k.default_id_attribute) {
        return 0;
    }
    const struct {
        PyObject** slot;
        const char* text;
        bool intern;
    } strings[] = {
        {&k.style, "style", true},
        {&k.klass, "class", true},
        {&k.element, "element", true},
        {&k.attrtype, "attrtype", true},
        {&k.attrname, "attrname", true},
        {&k.add_note, "add_note", true},
        {&k.dunder_init, "__init__", true},
        {&k.underscore, "_", false},
        {&k.dash, "-", false},
        {&k.open, "<", false},
        {&k.close, ">", false},
        {&k.space, " ", false},
        {&k.equals_quote, "=\"", false},
        {&k.quote, "\"", false},
        {&k.style_open, " style=\"", false},
        {&k.class_open, " class=\"", false},
        {&k.colon_space, ": ", false},
        {&k.semicolon_space, "; ", false},
        {&k.sync, "sync", true},
        {&k.empty, "", false},
        {&k.default_id_attribute, "data-tavo-id", true},
    };
    for (const auto& constant : strings) {
        if (*constant.slot) {
            continue;
        }
        *constant.slot = constant.intern ? PyUnicode_InternFromString(constant.text)
                                         : PyUnicode_FromString(constant.text);
        if (!*constant.slot) {
            return -1;
        }
    }
    return 0;
}

// The native class `name` of `module`, which must be a static type with at
// least the instance size this module reads. A new reference.
PyTypeObject* native_class(PyObject* module, const char* module_name, const char* name, std::size_t size) {
    Ref found = Ref::steal(PyObject_GetAttrString(module, name));
    if (!found) {
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(found.get());
    if (!PyType_Check(found.get()) || (type->tp_flags & Py_TPFLAGS_HEAPTYPE) ||
        type->tp_basicsize < static_cast<Py_ssize_t>(size)) {
        PyErr_Format(PyExc_ImportError, "%s.%s is not the native class this module was built for", module_name,
                     name);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(found.release());
}

int import_attribute_classes() {
    if (attribute_classes[0].type) {
        return 0;
    }
    Ref module = Ref::steal(PyImport_ImportModule("tavo.core._attributes"));
    if (!module) {
        return -1;
    }
    AttributeClass found[kAttributeClasses];
    for (int i = 0; i < kAttributeClasses; ++i) {
        found[i] = attribute_classes[i];
        Ref type = Ref::steal(reinterpret_cast<PyObject*>(
            native_class(module.get(), "tavo.core._attributes", found[i].name, found[i].basicsize)));
        if (!type) {
            return -1;
        }
        PyObject* capsule = PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(type.get())->tp_dict,
                                                 "__pyx_vtable__");
        const void* table = capsule ? PyCapsule_GetPointer(capsule, nullptr) : nullptr;
        if (!table) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_ImportError, "tavo.core._attributes.%s publishes no method table", found[i].name);
            }
            return -1;
        }
        found[i].attrvalue = *reinterpret_cast<const attributes::AttrvalueEntry*>(
            static_cast<const char*>(table) + found[i].attrvalue_offset);
        found[i].type = reinterpret_cast<PyTypeObject*>(type.release());  // kept for good
    }
    for (int i = 0; i < kAttributeClasses; ++i) {
        attribute_classes[i] = found[i];
    }
    return 0;
}

int import_event_dispatcher() {
    if (event_dispatcher) {
        return 0;
    }
    Ref module = Ref::steal(PyImport_ImportModule("tavo.core._event"));
    if (!module) {
        return -1;
    }
    event_dispatcher = native_class(module.get(), "tavo.core._event", "EventDispatcher",
                                    sizeof(contract::EventDispatcherObject));
    return event_dispatcher ? 0 : -1;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return nullptr;
    }
    if (recorded_interpreter == -1) {
        recorded_interpreter = id;
    } else if (recorded_interpreter != id) {
        PyErr_SetString(PyExc_ImportError,
                        "tavo.core._render can only be loaded into one interpreter per process.");
        return nullptr;
    }
    if (the_module) {
        return new_ref(the_module);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) {
        return nullptr;
    }
    // The runtime adds the functions and the documentation.
    return PyModule_NewObject(name.get());
}

int exec_module(PyObject* module) {
    if (the_module) {
        return 0;
    }
    if (build_constants() < 0 || import_event_dispatcher() < 0 || import_attribute_classes() < 0 ||
        ready_layout_type() < 0 || add_page_types(module) < 0) {
        add_traceback("init tavo.core._render", __LINE__, kSourceFile);
        return -1;
    }
    the_module = new_ref(module);
    return 0;
}

PyMethodDef methods[] = {
    {"start_tag", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(start_tag)), METH_FASTCALL,
     "start_tag($module, component, tag, /)\n--\n\n"
     "The HTML start tag of component (an EventDispatcher) as element tag, from the attribute\n"
     "objects its class declares. See tavo.html for the rules."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_render",
    "A component's HTML start tag from the attributes its class declares (native part of tavo.html).",
    0,
    methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tavo::render

PyMODINIT_FUNC PyInit__render() {
    return PyModuleDef_Init(&tavo::render::module_def);
}
