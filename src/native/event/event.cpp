// tavo.core._event: the owner type EventDispatcher and its relatives.
//
// An EventDispatcher is a component: when one is created, every property its
// class declares (through the whole MRO) gets a PropertyStorage record in the
// object's property_storage map, prepared by the property's init_storage.
#include "contract/event.hpp"
#include "contract/properties.hpp"
#include "support/ref.hpp"

#include <structmember.h>

#include <cstddef>

namespace {

using tavo::new_ref;
using tavo::none_ref;
using tavo::Ref;
using tavo::set_field;
using tavo::static_type_base;
namespace contract = tavo::contract;

std::uint64_t next_uid = 1;

// Looked up at the first owner creation: importing the property module at
// our own import would be circular (it imports this module).
PyTypeObject* property_type = nullptr;
PyTypeObject* storage_type = nullptr;

int load_property_types() {
    if (property_type) {
        return 0;
    }
    Ref module = Ref::steal(PyImport_ImportModule("tavo.core.properties"));
    if (!module) {
        return -1;
    }
    Ref prop = Ref::steal(PyObject_GetAttrString(module.get(), "Property"));
    Ref storage = Ref::steal(PyObject_GetAttrString(module.get(), "PropertyStorage"));
    if (!prop || !storage) {
        return -1;
    }
    if (!PyType_Check(prop.get()) || !PyType_Check(storage.get())) {
        PyErr_SetString(PyExc_TypeError, "tavo.core.properties does not define the property classes");
        return -1;
    }
    property_type = reinterpret_cast<PyTypeObject*>(prop.release());
    storage_type = reinterpret_cast<PyTypeObject*>(storage.release());
    return 0;
}

// ---- ObjectWithUid -------------------------------------------------------------

PyObject* uid_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self) {
        reinterpret_cast<contract::ObjectWithUidObject*>(self)->uid = next_uid++;
    }
    return self;
}

PyMemberDef uid_members[] = {
    {"uid", T_ULONGLONG, offsetof(contract::ObjectWithUidObject, uid), READONLY, "Unique id of the object."},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject uid_type = [] {
    PyTypeObject t = static_type_base();
    t.tp_name = "tavo.core._event.ObjectWithUid";
    t.tp_basicsize = sizeof(contract::ObjectWithUidObject);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "An object with a unique id (`uid`).";
    t.tp_members = uid_members;
    t.tp_new = uid_new;
    return t;
}();

// ---- EventObservers and BoundCallback --------------------------------------------

using Callback = contract::BoundCallbackObject;
using Observers = contract::EventObserversObject;

PyTypeObject callback_type = static_type_base();
PyTypeObject observers_type = static_type_base();

PyObject* callback_call(PyObject* self, PyObject* args, PyObject*) {
    auto* cb = reinterpret_cast<Callback*>(self);
    Ref all = Ref::steal(PySequence_Concat(args, cb->largs));
    if (!all) {
        return nullptr;
    }
    return PyObject_Call(cb->func, all.get(), cb->kwargs == Py_None ? nullptr : cb->kwargs);
}

int callback_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* cb = reinterpret_cast<Callback*>(self);
    Py_VISIT(cb->func);
    Py_VISIT(cb->largs);
    Py_VISIT(cb->kwargs);
    return 0;
}

int callback_clear(PyObject* self) {
    auto* cb = reinterpret_cast<Callback*>(self);
    Py_CLEAR(cb->func);
    Py_CLEAR(cb->largs);
    Py_CLEAR(cb->kwargs);
    return 0;
}

void callback_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    callback_clear(self);
    Py_TYPE(self)->tp_free(self);
}

PyObject* new_callback(PyObject* func, PyObject* largs, PyObject* kwargs) {
    PyObject* self = callback_type.tp_alloc(&callback_type, 0);
    if (self) {
        auto* cb = reinterpret_cast<Callback*>(self);
        cb->func = new_ref(func);
        cb->largs = new_ref(largs);
        cb->kwargs = new_ref(kwargs ? kwargs : Py_None);
        cb->uid = next_uid++;
    }
    return self;
}

PyObject* callback_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) < 1 || !PyCallable_Check(PyTuple_GET_ITEM(args, 0))) {
        PyErr_SetString(PyExc_TypeError, "BoundCallback(func, *largs, **kwargs) needs a callable first");
        return nullptr;
    }
    Ref largs = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    Ref keywords = Ref::steal(kwargs ? PyDict_Copy(kwargs) : none_ref());
    if (!largs || !keywords) {
        return nullptr;
    }
    return new_callback(PyTuple_GET_ITEM(args, 0), largs.get(), keywords.get());
}

PyMemberDef callback_members[] = {
    {"func", T_OBJECT, offsetof(Callback, func), READONLY, nullptr},
    {"largs", T_OBJECT, offsetof(Callback, largs), READONLY, nullptr},
    {"kwargs", T_OBJECT, offsetof(Callback, kwargs), READONLY, nullptr},
    {"uid", T_ULONGLONG, offsetof(Callback, uid), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyObject* observers_bind(PyObject* self, PyObject* func, PyObject* largs, PyObject* kwargs) {
    if (!PyCallable_Check(func)) {
        PyErr_Format(PyExc_TypeError, "a callback must be callable, got %.200s", Py_TYPE(func)->tp_name);
        return nullptr;
    }
    Ref callback = Ref::steal(new_callback(func, largs, kwargs));
    if (!callback || PyList_Append(reinterpret_cast<Observers*>(self)->callbacks, callback.get()) < 0) {
        return nullptr;
    }
    return callback.release();
}

PyObject* observers_unbind(PyObject* self, PyObject* func) {
    Ref callbacks = Ref::borrow(reinterpret_cast<Observers*>(self)->callbacks);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(callbacks.get()); ++i) {
        Ref callback = Ref::borrow(PyList_GET_ITEM(callbacks.get(), i));
        PyObject* bound = reinterpret_cast<Callback*>(callback.get())->func;
        const int same = bound == func ? 1 : PyObject_RichCompareBool(bound, func, Py_EQ);
        if (same < 0) {
            return nullptr;
        }
        if (same) {
            if (i < PyList_GET_SIZE(callbacks.get()) && PySequence_DelItem(callbacks.get(), i) < 0) {
                return nullptr;
            }
            Py_RETURN_TRUE;
        }
    }
    Py_RETURN_FALSE;
}

// Calls every callback bound when the dispatch starts; a callback returning
// True stops the dispatch (the event was handled).
PyObject* observers_dispatch(PyObject* self, PyObject* args) {
    Ref snapshot = Ref::steal(PySequence_Tuple(reinterpret_cast<Observers*>(self)->callbacks));
    if (!snapshot) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(snapshot.get()); ++i) {
        Ref result = Ref::steal(callback_call(PyTuple_GET_ITEM(snapshot.get(), i), args, nullptr));
        if (!result) {
            return nullptr;
        }
        if (result.get() == Py_True) {
            Py_RETURN_TRUE;
        }
    }
    Py_RETURN_NONE;
}

const contract::EventObserversVTable observers_table = {observers_bind, observers_unbind, observers_dispatch};

PyObject* observers_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    auto* o = reinterpret_cast<Observers*>(self.get());
    o->vtab = &observers_table;
    o->callbacks = PyList_New(0);
    return o->callbacks ? self.release() : nullptr;
}

int observers_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<Observers*>(self)->callbacks);
    return 0;
}

int observers_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<Observers*>(self)->callbacks);
    return 0;
}

void observers_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    observers_clear(self);
    Py_TYPE(self)->tp_free(self);
}

bool observers_alive(PyObject* self) {
    if (!reinterpret_cast<Observers*>(self)->callbacks) {
        PyErr_SetString(PyExc_RuntimeError, "the observers were cleared");
        return false;
    }
    return true;
}

PyObject* observers_py_bind(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!observers_alive(self)) {
        return nullptr;
    }
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "bind(func, *largs, **kwargs) needs a callable");
        return nullptr;
    }
    Ref largs = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    if (!largs) {
        return nullptr;
    }
    return observers_bind(self, PyTuple_GET_ITEM(args, 0), largs.get(), kwargs);
}

PyObject* observers_py_unbind(PyObject* self, PyObject* func) {
    return observers_alive(self) ? observers_unbind(self, func) : nullptr;
}

PyObject* observers_py_dispatch(PyObject* self, PyObject* args) {
    return observers_alive(self) ? observers_dispatch(self, args) : nullptr;
}

Py_ssize_t observers_length(PyObject* self) {
    PyObject* callbacks = reinterpret_cast<Observers*>(self)->callbacks;
    return callbacks ? PyList_GET_SIZE(callbacks) : 0;
}

PyMethodDef observers_methods[] = {
    {"bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(observers_py_bind)),
     METH_VARARGS | METH_KEYWORDS, "bind(func, *largs, **kwargs): call func on dispatch."},
    {"unbind", observers_py_unbind, METH_O, "unbind(func): remove the first callback bound to func."},
    {"dispatch", observers_py_dispatch, METH_VARARGS, "dispatch(*args): call the callbacks with args."},
    {nullptr, nullptr, 0, nullptr},
};

PySequenceMethods observers_sequence = [] {
    PySequenceMethods m{};
    m.sq_length = observers_length;
    return m;
}();

// ---- Observable and EventDispatcher ---------------------------------------------

using Observable = contract::ObservableObject;
using Dispatcher = contract::EventDispatcherObject;

PyObject* observable_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Ref self = Ref::steal(uid_new(type, args, kwargs));
    if (!self) {
        return nullptr;
    }
    auto* o = reinterpret_cast<Observable*>(self.get());
    o->event_observers = PyDict_New();
    return o->event_observers ? self.release() : nullptr;
}

int observable_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<Observable*>(self)->event_observers);
    return 0;
}

int observable_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<Observable*>(self)->event_observers);
    return 0;
}

void observable_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    observable_clear(self);
    Py_TYPE(self)->tp_free(self);
}

PyTypeObject observable_type = [] {
    PyTypeObject t = static_type_base();
    t.tp_name = "tavo.core._event.Observable";
    t.tp_basicsize = sizeof(Observable);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "Base of the objects whose events can be observed.";
    t.tp_dealloc = observable_dealloc;
    t.tp_traverse = observable_traverse;
    t.tp_clear = observable_clear;
    t.tp_new = observable_new;
    return t;
}();

PyTypeObject dispatcher_type = static_type_base();

// The observers of event `name`, borrowed; KeyError when not registered.
PyObject* event_observers(PyObject* self, PyObject* name) {
    PyObject* map = reinterpret_cast<Observable*>(self)->event_observers;
    PyObject* found = map ? PyDict_GetItemWithError(map, name) : nullptr;
    if (!found && !PyErr_Occurred()) {
        PyErr_Format(PyExc_KeyError, "'%.200s' object has no event %R", Py_TYPE(self)->tp_name, name);
    }
    return found;
}

PyObject* dispatch_event(PyObject* self, PyObject* name, PyObject* args) {
    Ref observers = Ref::borrow(event_observers(self, name));
    if (!observers) {
        return nullptr;
    }
    Ref call_args = Ref::steal(PyTuple_New(PyTuple_GET_SIZE(args) + 1));
    if (!call_args) {
        return nullptr;
    }
    PyTuple_SET_ITEM(call_args.get(), 0, new_ref(self));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        PyTuple_SET_ITEM(call_args.get(), i + 1, new_ref(PyTuple_GET_ITEM(args, i)));
    }
    return observers_dispatch(observers.get(), call_args.get());
}

const contract::EventDispatcherVTable dispatcher_table = {dispatch_event};

// Every property declared by the class of `self`, the most derived
// definition of a name winning: a new dict name -> property.
PyObject* declared_properties(PyTypeObject* type) {
    Ref found = Ref::steal(PyDict_New());
    if (!found) {
        return nullptr;
    }
    PyObject* mro = type->tp_mro;
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* klass = PyTuple_GET_ITEM(mro, i);
        PyObject* dict = reinterpret_cast<PyTypeObject*>(klass)->tp_dict;
        if (!dict) {
            continue;
        }
        Ref items = Ref::steal(PyDict_Items(dict));
        if (!items) {
            return nullptr;
        }
        for (Py_ssize_t j = 0; j < PyList_GET_SIZE(items.get()); ++j) {
            PyObject* pair = PyList_GET_ITEM(items.get(), j);
            PyObject* name = PyTuple_GET_ITEM(pair, 0);
            PyObject* value = PyTuple_GET_ITEM(pair, 1);
            if (!PyObject_TypeCheck(value, property_type)) {
                continue;
            }
            const int known = PyDict_Contains(found.get(), name);
            if (known < 0 || (!known && PyDict_SetItem(found.get(), name, value) < 0)) {
                return nullptr;
            }
        }
    }
    return found.release();
}

int create_storages(PyObject* self) {
    if (load_property_types() < 0) {
        return -1;
    }
    Ref props = Ref::steal(declared_properties(Py_TYPE(self)));
    if (!props) {
        return -1;
    }
    Ref values = Ref::steal(PyDict_Values(props.get()));
    if (!values) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        PyObject* prop = PyList_GET_ITEM(values.get(), i);
        auto* p = reinterpret_cast<contract::PropertyObject*>(prop);
        if (!p->storage_key || p->storage_key == Py_None) {
            continue;  // never given a name: not part of a class body
        }
        Ref storage = Ref::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(storage_type)));
        if (!storage) {
            return -1;
        }
        PyObject* map = reinterpret_cast<Dispatcher*>(self)->property_storage;
        if (PyDict_SetItem(map, p->storage_key, storage.get()) < 0) {
            return -1;
        }
        Ref keep = Ref::borrow(prop);
        Ref done = Ref::steal(p->vtab->init_storage(prop, self, storage.get()));
        if (!done) {
            return -1;
        }
    }
    return 0;
}

PyObject* dispatcher_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Ref self = Ref::steal(observable_new(type, args, kwargs));
    if (!self) {
        return nullptr;
    }
    auto* d = reinterpret_cast<Dispatcher*>(self.get());
    d->vtab = &dispatcher_table;
    d->property_storage = PyDict_New();
    d->client_events = PyList_New(0);
    if (!d->property_storage || !d->client_events || create_storages(self.get()) < 0) {
        return nullptr;
    }
    return self.release();
}

int dispatcher_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* d = reinterpret_cast<Dispatcher*>(self);
    Py_VISIT(d->property_storage);
    Py_VISIT(d->client_events);
    return observable_traverse(self, visit, arg);
}

int dispatcher_clear(PyObject* self) {
    auto* d = reinterpret_cast<Dispatcher*>(self);
    set_field(d->property_storage, Ref::borrow(Py_None));
    Py_CLEAR(d->client_events);
    return observable_clear(self);
}

void dispatcher_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    auto* d = reinterpret_cast<Dispatcher*>(self);
    if (d->weakreflist) {
        PyObject_ClearWeakRefs(self);
    }
    Py_CLEAR(d->property_storage);
    Py_CLEAR(d->client_events);
    observable_clear(self);
    Py_TYPE(self)->tp_free(self);
}

// The class attribute `name` when it is a property; borrowed.
PyObject* find_property(PyObject* self, PyObject* name) {
    PyObject* found = _PyType_Lookup(Py_TYPE(self), name);
    if (found && property_type && PyObject_TypeCheck(found, property_type)) {
        return found;
    }
    return nullptr;
}

int dispatcher_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no positional arguments", Py_TYPE(self)->tp_name);
        return -1;
    }
    if (!kwargs) {
        return 0;
    }
    Ref items = Ref::steal(PyDict_Items(kwargs));
    if (!items) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 0);
        if (!find_property(self, name)) {
            PyErr_Format(PyExc_TypeError, "%.200s has no property %R", Py_TYPE(self)->tp_name, name);
            return -1;
        }
        if (PyObject_SetAttr(self, name, PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 1)) < 0) {
            return -1;
        }
    }
    return 0;
}

PyObject* dispatcher_register_event(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"name", "client", nullptr};
    PyObject* name = nullptr;
    int client = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "U|p:register_event", const_cast<char**>(keywords), &name,
                                     &client)) {
        return nullptr;
    }
    auto* d = reinterpret_cast<Dispatcher*>(self);
    if (client) {
        const int known = PySequence_Contains(d->client_events, name);
        if (known < 0 || (!known && PyList_Append(d->client_events, name) < 0)) {
            return nullptr;
        }
        Py_RETURN_NONE;
    }
    PyObject* map = d->base.event_observers;
    const int known = PyDict_Contains(map, name);
    if (known < 0) {
        return nullptr;
    }
    if (!known) {
        Ref observers = Ref::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&observers_type)));
        if (!observers || PyDict_SetItem(map, name, observers.get()) < 0) {
            return nullptr;
        }
    }
    Py_RETURN_NONE;
}

// The observers list of a property's storage record (borrowed), or null.
PyObject* property_observers(PyObject* self, PyObject* prop) {
    auto* p = reinterpret_cast<contract::PropertyObject*>(prop);
    PyObject* map = reinterpret_cast<Dispatcher*>(self)->property_storage;
    if (!map || !PyDict_Check(map)) {
        PyErr_SetString(PyExc_RuntimeError, "the owner's storage was cleared");
        return nullptr;
    }
    PyObject* storage = PyDict_GetItemWithError(map, p->storage_key ? p->storage_key : Py_None);
    if (!storage) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_KeyError, "%R", p->name);
        }
        return nullptr;
    }
    if (!PyObject_TypeCheck(storage, storage_type)) {
        PyErr_SetString(PyExc_TypeError, "corrupt property storage");
        return nullptr;
    }
    return reinterpret_cast<contract::PropertyStorageObject*>(storage)->observers;
}

// bind(name=callback, ...) and unbind(name=callback, ...), for properties
// (callback(owner, value) on change) and registered events.
PyObject* bind_or_unbind(PyObject* self, PyObject* args, PyObject* kwargs, bool bind) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_SetString(PyExc_TypeError, "bind/unbind take keyword arguments only: name=callback");
        return nullptr;
    }
    if (!kwargs || load_property_types() < 0) {
        return kwargs ? nullptr : none_ref();
    }
    Ref items = Ref::steal(PyDict_Items(kwargs));
    if (!items) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 0);
        PyObject* callback = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 1);
        if (bind && !PyCallable_Check(callback)) {
            PyErr_Format(PyExc_TypeError, "the callback bound to %R must be callable", name);
            return nullptr;
        }
        if (PyObject* prop = find_property(self, name)) {
            Ref observers = Ref::borrow(property_observers(self, prop));
            if (!observers) {
                return nullptr;
            }
            if (bind) {
                if (PyList_Append(observers.get(), callback) < 0) {
                    return nullptr;
                }
                continue;
            }
            Ref index = Ref::steal(PyObject_CallMethod(observers.get(), "index", "O", callback));
            if (!index) {
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
                    return nullptr;
                }
                PyErr_Clear();
                continue;
            }
            if (PyObject_DelItem(observers.get(), index.get()) < 0) {
                return nullptr;
            }
            continue;
        }
        Ref observers = Ref::borrow(event_observers(self, name));
        Ref no_args = Ref::steal(PyTuple_New(0));
        if (!observers || !no_args) {
            return nullptr;
        }
        Ref result = Ref::steal(bind ? observers_bind(observers.get(), callback, no_args.get(), nullptr)
                                     : observers_unbind(observers.get(), callback));
        if (!result) {
            return nullptr;
        }
    }
    Py_RETURN_NONE;
}

PyObject* dispatcher_bind(PyObject* self, PyObject* args, PyObject* kwargs) {
    return bind_or_unbind(self, args, kwargs, true);
}

PyObject* dispatcher_unbind(PyObject* self, PyObject* args, PyObject* kwargs) {
    return bind_or_unbind(self, args, kwargs, false);
}

PyObject* dispatcher_dispatch(PyObject* self, PyObject* args) {
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "dispatch(name, *args) needs an event name");
        return nullptr;
    }
    Ref rest = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    if (!rest) {
        return nullptr;
    }
    return dispatch_event(self, PyTuple_GET_ITEM(args, 0), rest.get());
}

PyObject* dispatcher_property(PyObject* self, PyObject* name) {
    if (load_property_types() < 0) {
        return nullptr;
    }
    PyObject* prop = find_property(self, name);
    if (!prop) {
        PyErr_Format(PyExc_KeyError, "%R", name);
        return nullptr;
    }
    return new_ref(prop);
}

PyObject* dispatcher_is_event_type(PyObject* self, PyObject* name) {
    auto* d = reinterpret_cast<Dispatcher*>(self);
    int known = PyDict_Contains(d->base.event_observers, name);
    if (known == 0) {
        known = PySequence_Contains(d->client_events, name);
    }
    return known < 0 ? nullptr : PyBool_FromLong(known);
}

PyMethodDef dispatcher_methods[] = {
    {"register_event", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_register_event)),
     METH_VARARGS | METH_KEYWORDS,
     "register_event(name, client=False): make `name` an event of this object (a client event when client)."},
    {"bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_bind)),
     METH_VARARGS | METH_KEYWORDS, "bind(name=callback, ...): observe a property or an event."},
    {"unbind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_unbind)),
     METH_VARARGS | METH_KEYWORDS, "unbind(name=callback, ...): stop observing."},
    {"dispatch", dispatcher_dispatch, METH_VARARGS, "dispatch(name, *args): call the observers of an event."},
    {"property", dispatcher_property, METH_O, "property(name): the property object declared under name."},
    {"is_event_type", dispatcher_is_event_type, METH_O, "is_event_type(name): whether name is a registered event."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* get_property_storage(PyObject* self, void*) {
    PyObject* map = reinterpret_cast<Dispatcher*>(self)->property_storage;
    return new_ref(map ? map : Py_None);
}

PyObject* get_client_events(PyObject* self, void*) {
    PyObject* events = reinterpret_cast<Dispatcher*>(self)->client_events;
    return events ? PySequence_Tuple(events) : PyTuple_New(0);
}

PyGetSetDef dispatcher_getset[] = {
    {"property_storage", get_property_storage, nullptr, "The storage records of the properties, by key.",
     nullptr},
    {"client_events", get_client_events, nullptr, "The client events registered on this object.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void fill_types() {
    PyTypeObject& c = callback_type;
    c.tp_name = "tavo.core._event.BoundCallback";
    c.tp_basicsize = sizeof(Callback);
    c.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    c.tp_doc = "A callback with extra positional and keyword arguments.";
    c.tp_dealloc = callback_dealloc;
    c.tp_traverse = callback_traverse;
    c.tp_clear = callback_clear;
    c.tp_call = callback_call;
    c.tp_members = callback_members;
    c.tp_new = callback_new;

    PyTypeObject& o = observers_type;
    o.tp_name = "tavo.core._event.EventObservers";
    o.tp_basicsize = sizeof(Observers);
    o.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    o.tp_doc = "The callbacks bound to one event.";
    o.tp_dealloc = observers_dealloc;
    o.tp_traverse = observers_traverse;
    o.tp_clear = observers_clear;
    o.tp_as_sequence = &observers_sequence;
    o.tp_methods = observers_methods;
    o.tp_new = observers_new;

    PyTypeObject& d = dispatcher_type;
    d.tp_name = "tavo.core._event.EventDispatcher";
    d.tp_basicsize = sizeof(Dispatcher);
    d.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    d.tp_doc =
        "A component: an object whose class declares properties and which dispatches events.\n"
        "\n"
        "EventDispatcher(**kwargs) assigns the given properties.";
    d.tp_dealloc = dispatcher_dealloc;
    d.tp_traverse = dispatcher_traverse;
    d.tp_clear = dispatcher_clear;
    d.tp_weaklistoffset = offsetof(Dispatcher, weakreflist);
    d.tp_methods = dispatcher_methods;
    d.tp_getset = dispatcher_getset;
    d.tp_init = dispatcher_init;
    d.tp_new = dispatcher_new;
}

int publish_table(PyTypeObject* type, const void* table) {
    Ref capsule = Ref::steal(PyCapsule_New(const_cast<void*>(table), nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
}

int exec_module(PyObject* module) {
    if (!(dispatcher_type.tp_flags & Py_TPFLAGS_READY)) {
        fill_types();
        observable_type.tp_base = &uid_type;
        dispatcher_type.tp_base = &observable_type;
        PyTypeObject* types[] = {&uid_type, &observable_type, &dispatcher_type, &callback_type, &observers_type};
        for (PyTypeObject* type : types) {
            if (PyType_Ready(type) < 0) {
                return -1;
            }
        }
        if (publish_table(&dispatcher_type, &dispatcher_table) < 0 ||
            publish_table(&observers_type, &observers_table) < 0) {
            return -1;
        }
    }
    const std::pair<const char*, PyTypeObject*> published[] = {
        {"ObjectWithUid", &uid_type},       {"Observable", &observable_type},
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

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_event", "The owner type of the property system and its relatives.", 0, nullptr,
    slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__event() {
    return PyModuleDef_Init(&module_def);
}
