// tavo.core._event: the owner type EventDispatcher and its relatives.
//
// The module is made once per process (support/process_module.hpp): an
// import after its sys.modules entry was removed gets the same module. It
// readies its classes once and publishes the tables of EventDispatcher and
// EventObservers as nameless capsules under `__pyx_vtable__`, the form the
// modules built on it read.
#include "event/common.hpp"
#include "support/process_module.hpp"

#include <utility>

namespace tavo::event {

namespace {

int publish_table(PyTypeObject* type, const void* table) {
    Ref capsule = Ref::steal(PyCapsule_New(const_cast<void*>(table), nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
}

int ready_types() {
    if (dispatcher_type.tp_flags & Py_TPFLAGS_READY) {
        return 0;
    }
    fill_uid_types();
    fill_observer_types();
    fill_dispatcher_type();
    for (PyTypeObject* type : {&uid_type, &observable_type, &dispatcher_type, &callback_type, &observers_type}) {
        if (PyType_Ready(type) < 0) {
            return -1;
        }
    }
    if (publish_table(&dispatcher_type, &dispatcher_table) < 0 ||
        publish_table(&observers_type, &observers_table) < 0) {
        return -1;
    }
    return 0;
}

int exec_steps(PyObject* module) {
    if (ready_types() < 0) {
        return -1;
    }
    const std::pair<const char*, PyTypeObject*> published[] = {
        {"ObjectWithUid", &uid_type},          {"Observable", &observable_type},
        {"EventDispatcher", &dispatcher_type}, {"BoundCallback", &callback_type},
        {"EventObservers", &observers_type},
    };
    for (const auto& [name, type] : published) {
        if (PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) < 0) {
            return -1;
        }
    }
    return 0;
}

ProcessModule the_module{"_event"};

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
    "_event",
    "The owner type of the property system (EventDispatcher) and its relatives.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tavo::event

PyMODINIT_FUNC PyInit__event() {
    return PyModuleDef_Init(&tavo::event::module_def);
}
