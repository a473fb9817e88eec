// Instance layouts and method tables of tavo.core._event.
//
// Shared by the event module itself and the modules built on it; see
// properties.hpp for the conventions of table entries.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace tavo::contract {

struct ObjectWithUidObject {
    PyObject_HEAD
    std::uint64_t uid;  // unique per object, never reused in a process
};

struct ObservableObject {
    ObjectWithUidObject base;
    PyObject* event_observers;  // dict: event name -> EventObservers (None before the first event)
};

struct EventDispatcherVTable {
    // Call the observers bound to event `name` with (self, *args).
    PyObject* (*dispatch_event)(PyObject* self, PyObject* name, PyObject* args);
};

struct EventDispatcherObject {
    ObservableObject base;
    const EventDispatcherVTable* vtab;
    PyObject* property_storage;  // dict: storage_key -> PropertyStorage
    PyObject* client_events;     // tuple of event names registered with client=True (None before the first)
    PyObject* weakreflist;
    // While the owner is created, the storage key (borrowed) whose default is
    // being converted before it has a place in property_storage; a use of
    // that property during the conversion gives it its place then (entered).
    PyObject* preparing_key;
    int preparing_key_entered;
    // The entry of the page showing this owner (held), or null: see page.hpp.
    PyObject* page_entry;
};

// The owner's property_storage place of the key being prepared, made on its
// first use during the conversion of its default: None, as the property
// system keeps a value with no record. 0, or -1 with an exception.
inline int enter_preparing_key(EventDispatcherObject* owner, PyObject* map) {
    if (PyDict_SetItem(map, owner->preparing_key, Py_None) < 0) {
        return -1;
    }
    owner->preparing_key_entered = 1;
    return 0;
}

struct BoundCallbackObject {
    PyObject_HEAD
    PyObject* func;
    PyObject* largs;   // tuple
    PyObject* kwargs;  // dict or None
    std::uint64_t uid;
};

struct EventObserversVTable {
    // Bind / unbind a callback (BoundCallback made from func, largs, kwargs).
    PyObject* (*bind)(PyObject* self, PyObject* func, PyObject* largs, PyObject* kwargs);
    PyObject* (*unbind)(PyObject* self, PyObject* func);
    // Call every bound callback with (*args, *largs, **kwargs).
    PyObject* (*dispatch)(PyObject* self, PyObject* args);
};

struct EventObserversObject {
    PyObject_HEAD
    const EventObserversVTable* vtab;
    PyObject* callbacks;  // list of BoundCallback
};

}  // namespace tavo::contract
