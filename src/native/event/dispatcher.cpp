// EventDispatcher: the owner type of the property system.
//
// When an EventDispatcher is created, every property its class declares
// (through the whole MRO, the most derived definition of a name winning) gets
// a PropertyStorage record in the object's property_storage map, prepared by
// the property's own init_storage entry. The object also keeps its events:
// server events with their observers, client events by name.
#include "event/common.hpp"

#include <cstddef>

namespace tavo::event {

namespace {

using Dispatcher = contract::EventDispatcherObject;
using Storage = contract::PropertyStorageObject;

Dispatcher* as_dispatcher(PyObject* o) { return reinterpret_cast<Dispatcher*>(o); }

// ---- the property classes, found at the first owner creation -------------
//
// tavo.core.properties imports this module (it checks owners against
// EventDispatcher), so importing it back at our own import would be circular.

PyTypeObject* property_type = nullptr;
PyTypeObject* storage_type = nullptr;

// Class `name` of the property module, checked to have (at least) the native
// layout `size` this module reads: a Python class of that name must not be
// taken for the native one.
int load_native_class(PyObject* module, const char* name, std::size_t size, PyTypeObject*& slot) {
    Ref found = Ref::steal(PyObject_GetAttrString(module, name));
    if (!found) {
        return -1;
    }
    if (!PyType_Check(found.get())) {
        PyErr_Format(PyExc_TypeError, "tavo.core.properties.%s is not a class", name);
        return -1;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(found.get());
    if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) || type->tp_basicsize < static_cast<Py_ssize_t>(size)) {
        PyErr_Format(PyExc_TypeError, "tavo.core.properties.%s is not the native property class", name);
        return -1;
    }
    slot = reinterpret_cast<PyTypeObject*>(found.release());  // kept for the life of the process
    return 0;
}

int load_property_types() {
    if (property_type && storage_type) {
        return 0;
    }
    Ref module = Ref::steal(PyImport_ImportModule("tavo.core.properties"));
    if (!module) {
        return -1;
    }
    PyTypeObject* prop = nullptr;
    PyTypeObject* storage = nullptr;
    if (load_native_class(module.get(), "Property", sizeof(contract::PropertyObject), prop) < 0) {
        return -1;
    }
    if (load_native_class(module.get(), "PropertyStorage", sizeof(Storage), storage) < 0) {
        Py_DECREF(prop);
        return -1;
    }
    property_type = prop;
    storage_type = storage;
    return 0;
}

bool is_property(PyObject* o) { return property_type && PyObject_TypeCheck(o, property_type); }

contract::PropertyObject* as_property(PyObject* o) { return reinterpret_cast<contract::PropertyObject*>(o); }

// ---- creation -------------------------------------------------------------

// Every property declared along the MRO of `type`, the most derived
// definition of a name winning: a new dict name -> property.
PyObject* declared_properties(PyTypeObject* type) {
    Ref found = Ref::steal(PyDict_New());
    if (!found) {
        return nullptr;
    }
    Ref mro = Ref::borrow(type->tp_mro);
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro.get()); ++i) {
        PyObject* klass = PyTuple_GET_ITEM(mro.get(), i);
        PyObject* dict = PyType_Check(klass) ? reinterpret_cast<PyTypeObject*>(klass)->tp_dict : nullptr;
        if (!dict) {
            continue;
        }
        // A snapshot: hashing a key may run Python code that changes the class.
        Ref items = Ref::steal(PyDict_Items(dict));
        if (!items) {
            return nullptr;
        }
        for (Py_ssize_t j = 0; j < PyList_GET_SIZE(items.get()); ++j) {
            PyObject* pair = PyList_GET_ITEM(items.get(), j);
            PyObject* name = PyTuple_GET_ITEM(pair, 0);
            PyObject* value = PyTuple_GET_ITEM(pair, 1);
            if (!is_property(value)) {
                continue;
            }
            if (!PyDict_SetDefault(found.get(), name, value)) {
                return nullptr;
            }
        }
    }
    return found.release();
}

// Give every declared property its storage record: first the record goes
// into property_storage, then the property's own init_storage prepares it.
int create_storages(PyObject* self, PyTypeObject* type) {
    if (load_property_types() < 0) {
        return -1;
    }
    Ref props = Ref::steal(declared_properties(type));
    if (!props) {
        return -1;
    }
    Ref values = Ref::steal(PyDict_Values(props.get()));
    if (!values) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        PyObject* prop = PyList_GET_ITEM(values.get(), i);
        PyObject* key = as_property(prop)->storage_key;
        if (!key || key == Py_None) {
            continue;  // never named by a class body: no record
        }
        Ref keep_key = Ref::borrow(key);
        Ref storage = Ref::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(storage_type)));
        if (!storage) {
            return -1;
        }
        PyObject* map = live_field(as_dispatcher(self)->property_storage, "property storage");
        if (!map || PyDict_SetItem(map, keep_key.get(), storage.get()) < 0) {
            return -1;
        }
        Ref done = Ref::steal(as_property(prop)->vtab->init_storage(prop, self, storage.get()));
        if (!done) {
            return -1;
        }
    }
    return 0;
}

PyObject* dispatch_event(PyObject* self, PyObject* name, PyObject* args);

PyObject* dispatcher_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Ref self = Ref::steal(observable_new(type, args, kwargs));
    if (!self) {
        return nullptr;
    }
    Dispatcher* d = as_dispatcher(self.get());
    d->vtab = &dispatcher_table;
    d->property_storage = PyDict_New();
    d->client_events = PyList_New(0);
    if (!d->property_storage || !d->client_events || create_storages(self.get(), type) < 0) {
        return nullptr;
    }
    return self.release();
}

int dispatcher_traverse(PyObject* self, visitproc visit, void* arg) {
    Dispatcher* d = as_dispatcher(self);
    Py_VISIT(d->property_storage);
    Py_VISIT(d->client_events);
    return observable_traverse(self, visit, arg);
}

int dispatcher_clear(PyObject* self) {
    Dispatcher* d = as_dispatcher(self);
    Py_CLEAR(d->property_storage);
    Py_CLEAR(d->client_events);
    return observable_clear(self);
}

void dispatcher_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<dispatcher_dealloc>(self, [self] {
        if (as_dispatcher(self)->weakreflist) {
            PyObject_ClearWeakRefs(self);
        }
        dispatcher_clear(self);
        Py_TYPE(self)->tp_free(self);
    });
}

// ---- lookups ----------------------------------------------------------------

// The property the class declares under `name` (borrowed), or null without an error.
PyObject* find_property(PyObject* self, PyObject* name) {
    if (!PyUnicode_Check(name)) {
        return nullptr;
    }
    PyObject* found = _PyType_Lookup(Py_TYPE(self), name);
    return found && is_property(found) ? found : nullptr;
}

// The observers list of `prop`'s record on this owner (borrowed), made when
// the record has none yet.
PyObject* property_observers(PyObject* self, PyObject* prop) {
    PyObject* map = live_field(as_dispatcher(self)->property_storage, "property storage");
    if (!map) {
        return nullptr;
    }
    PyObject* key = as_property(prop)->storage_key;
    PyObject* storage = PyDict_GetItemWithError(map, key ? key : Py_None);
    if (!storage) {
        if (!PyErr_Occurred()) {
            PyErr_SetObject(PyExc_KeyError, key ? key : Py_None);
        }
        return nullptr;
    }
    if (!PyObject_TypeCheck(storage, storage_type)) {
        PyErr_Format(PyExc_TypeError, "the storage record of %R is a %.200s, not a PropertyStorage", key,
                     Py_TYPE(storage)->tp_name);
        return nullptr;
    }
    auto* record = reinterpret_cast<Storage*>(storage);
    if (!record->observers || !PyList_Check(record->observers)) {
        set_field(record->observers, Ref::steal(PyList_New(0)));
        if (!record->observers) {
            return nullptr;
        }
    }
    return record->observers;
}

// The EventObservers of a registered event (borrowed), or null without an error.
PyObject* find_event(PyObject* self, PyObject* name, bool& failed) {
    failed = false;
    PyObject* map = live_field(as_dispatcher(self)->base.event_observers, "event observers");
    PyObject* found = map ? PyDict_GetItemWithError(map, name) : nullptr;
    failed = !found && PyErr_Occurred();
    return found;
}

void raise_unknown(PyObject* self, PyObject* name, const char* what) {
    Ref message = Ref::steal(PyUnicode_FromFormat("%s has no %s %R", Py_TYPE(self)->tp_name, what, name));
    if (message) {
        PyErr_SetObject(PyExc_KeyError, message.get());
    }
}

// ---- table entry --------------------------------------------------------

// Calls the observers of event `name` with (self, *args).
PyObject* dispatch_event(PyObject* self, PyObject* name, PyObject* args) {
    if (!PyTuple_Check(args)) {
        PyErr_Format(PyExc_TypeError, "dispatch arguments must be a tuple, got %.200s", Py_TYPE(args)->tp_name);
        return nullptr;
    }
    bool failed = false;
    Ref observers = Ref::borrow(find_event(self, name, failed));
    if (!observers) {
        if (!failed) {
            raise_unknown(self, name, "event");
        }
        return nullptr;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    Ref call_args = Ref::steal(PyTuple_New(n + 1));
    if (!call_args) {
        return nullptr;
    }
    PyTuple_SET_ITEM(call_args.get(), 0, new_ref(self));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTuple_SET_ITEM(call_args.get(), i + 1, new_ref(PyTuple_GET_ITEM(args, i)));
    }
    return reinterpret_cast<contract::EventObserversObject*>(observers.get())->vtab->dispatch(observers.get(),
                                                                                            call_args.get());
}

// ---- Python methods -------------------------------------------------------

int dispatcher_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes only keyword arguments (property=value)",
                     Py_TYPE(self)->tp_name);
        return -1;
    }
    if (!kwargs) {
        return 0;
    }
    if (load_property_types() < 0) {
        return -1;
    }
    Ref items = Ref::steal(PyDict_Items(kwargs));
    if (!items) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        if (!find_property(self, name)) {
            PyErr_Format(PyExc_TypeError, "%.200s() got an unexpected keyword argument %R: no such property",
                         Py_TYPE(self)->tp_name, name);
            return -1;
        }
        if (PyObject_SetAttr(self, name, PyTuple_GET_ITEM(pair, 1)) < 0) {
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
    Dispatcher* d = as_dispatcher(self);
    if (client) {
        PyObject* events = live_field(d->client_events, "client events");
        if (!events) {
            return nullptr;
        }
        const int known = PySequence_Contains(events, name);
        if (known < 0 || (!known && PyList_Append(events, name) < 0)) {
            return nullptr;
        }
        Py_RETURN_NONE;
    }
    PyObject* map = live_field(d->base.event_observers, "event observers");
    if (!map) {
        return nullptr;
    }
    const int known = PyDict_Contains(map, name);
    if (known < 0) {
        return nullptr;
    }
    if (!known) {
        Ref observers = Ref::steal(new_observers());
        if (!observers || PyDict_SetItem(map, name, observers.get()) < 0) {
            return nullptr;
        }
    }
    Py_RETURN_NONE;
}

// bind(name=callback, ...) / unbind(name=callback, ...): a property's
// callbacks are called with (owner, value) when its value changes; an
// event's with (owner, *args) when it is dispatched.
PyObject* bind_or_unbind(PyObject* self, PyObject* args, PyObject* kwargs, bool bind) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_Format(PyExc_TypeError, "%s() takes only keyword arguments: name=callback", bind ? "bind" : "unbind");
        return nullptr;
    }
    if (!kwargs) {
        Py_RETURN_NONE;
    }
    if (load_property_types() < 0) {
        return nullptr;
    }
    Ref items = Ref::steal(PyDict_Items(kwargs));
    if (!items) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        PyObject* callback = PyTuple_GET_ITEM(pair, 1);
        if (bind && !PyCallable_Check(callback)) {
            PyErr_Format(PyExc_TypeError, "the callback bound to %R must be callable, got %.200s", name,
                         Py_TYPE(callback)->tp_name);
            return nullptr;
        }
        if (PyObject* prop = find_property(self, name)) {
            Ref keep = Ref::borrow(prop);
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
            // The first callback equal to the given one (bound methods compare equal).
            const Py_ssize_t index = PySequence_Index(observers.get(), callback);
            if (index < 0) {
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
                    return nullptr;
                }
                PyErr_Clear();
                continue;
            }
            if (PySequence_DelItem(observers.get(), index) < 0) {
                return nullptr;
            }
            continue;
        }
        bool failed = false;
        Ref observers = Ref::borrow(find_event(self, name, failed));
        if (!observers) {
            if (!failed) {
                raise_unknown(self, name, "property or event");
            }
            return nullptr;
        }
        const auto* table = reinterpret_cast<contract::EventObserversObject*>(observers.get())->vtab;
        Ref no_args = Ref::steal(PyTuple_New(0));
        if (!no_args) {
            return nullptr;
        }
        Ref result = Ref::steal(bind ? table->bind(observers.get(), callback, no_args.get(), nullptr)
                                     : table->unbind(observers.get(), callback));
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
    return as_dispatcher(self)->vtab->dispatch_event(self, PyTuple_GET_ITEM(args, 0), rest.get());
}

PyObject* dispatcher_property(PyObject* self, PyObject* name) {
    if (load_property_types() < 0) {
        return nullptr;
    }
    PyObject* prop = find_property(self, name);
    if (!prop) {
        raise_unknown(self, name, "property");
        return nullptr;
    }
    return new_ref(prop);
}

PyMethodDef dispatcher_methods[] = {
    {"register_event", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_register_event)),
     METH_VARARGS | METH_KEYWORDS,
     "register_event(name, client=False): make `name` an event of this object; a client event is only "
     "recorded by name."},
    {"bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_bind)),
     METH_VARARGS | METH_KEYWORDS, "bind(name=callback, ...): observe a property or a registered event."},
    {"unbind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dispatcher_unbind)),
     METH_VARARGS | METH_KEYWORDS, "unbind(name=callback, ...): stop observing."},
    {"dispatch", dispatcher_dispatch, METH_VARARGS,
     "dispatch(name, *args): call the observers of event `name` with (self, *args)."},
    {"property", dispatcher_property, METH_O, "property(name): the property object declared under `name`."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* get_property_storage(PyObject* self, void*) {
    PyObject* map = as_dispatcher(self)->property_storage;
    return new_ref(map ? map : Py_None);
}

PyObject* get_client_events(PyObject* self, void*) {
    PyObject* events = as_dispatcher(self)->client_events;
    return events ? PySequence_Tuple(events) : PyTuple_New(0);
}

PyGetSetDef dispatcher_getset[] = {
    {"property_storage", get_property_storage, nullptr, "The storage records of the properties, by storage key.",
     nullptr},
    {"client_events", get_client_events, nullptr, "The names of the client events registered on this object.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const contract::EventDispatcherVTable dispatcher_table = {dispatch_event};

PyTypeObject dispatcher_type = static_type_base();

void fill_dispatcher_type() {
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
    d.tp_base = &observable_type;
}

}  // namespace tavo::event
