// EventDispatcher: the owner type of the property system.
//
// When an EventDispatcher is created, every property its class declares
// (through the whole MRO, the most derived definition of a name winning) gets
// a PropertyStorage record in the object's property_storage map, prepared by
// the property's own init_storage entry. The object also keeps its events:
// server events with their observers, client events by name.
#include "event/common.hpp"

#include <cstddef>
#include <iterator>

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
// The root property's init_storage: a property whose table keeps it only
// stores its converted default, so its record can wait for a first use.
using InitStorage = PyObject* (*)(PyObject*, PyObject*, PyObject*);
InitStorage root_init_storage = nullptr;

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
    Ref keep_prop = Ref::steal(reinterpret_cast<PyObject*>(prop));
    PyObject* capsule = PyDict_GetItemString(prop->tp_dict, "__pyx_vtable__");
    const auto* table =
        capsule ? static_cast<const contract::PropertyVTable*>(PyCapsule_GetPointer(capsule, nullptr)) : nullptr;
    if (!table) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "tavo.core.properties.Property publishes no method table");
        }
        return -1;
    }
    if (load_native_class(module.get(), "PropertyStorage", sizeof(Storage), storage) < 0) {
        return -1;
    }
    root_init_storage = table->init_storage;
    property_type = reinterpret_cast<PyTypeObject*>(keep_prop.release());
    storage_type = storage;
    return 0;
}

bool is_property(PyObject* o) { return property_type && PyObject_TypeCheck(o, property_type); }

contract::PropertyObject* as_property(PyObject* o) { return reinterpret_cast<contract::PropertyObject*>(o); }

// ---- creation -------------------------------------------------------------

// Every property declared along the MRO of `type`, the most derived
// definition of a name winning, in the order of a name's first definition
// from the most derived class on: a new tuple.
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
    Ref values = Ref::steal(PyDict_Values(found.get()));
    return values ? PyList_AsTuple(values.get()) : nullptr;
}

// The declared properties of recently created classes, by version tag. A tag
// is never given to another class or to another state of the same class, and
// any change of a class or of one of its bases retags it, so while the tag is
// the one remembered the class's dicts along the MRO still hold every
// property listed: the list borrows them and keeps nothing alive. Borrowed
// only until code can run (see compat.hpp's rules for tag-keyed caches).
struct PlanEntry {
    unsigned int tag = 0;
    Py_ssize_t count = 0;
    // Borrowed from the class dicts. Held in place, so that remembering a
    // class allocates nothing; a class declaring more is not remembered.
    PyObject* properties[48] = {};
};
PlanEntry plan_cache[64];

void remember_plan(unsigned int tag, PyObject* properties) {
    const Py_ssize_t count = PyTuple_GET_SIZE(properties);
    if (count > static_cast<Py_ssize_t>(std::size(PlanEntry{}.properties))) {
        return;  // collected again at each creation
    }
    PlanEntry& entry = plan_cache[tag % 64];
    for (Py_ssize_t i = 0; i < count; ++i) {
        entry.properties[i] = PyTuple_GET_ITEM(properties, i);
    }
    entry.count = count;
    entry.tag = tag;
}

// The declared properties of `type`, a new tuple owning them: what the
// creation iterates over stays alive whatever the preparations do.
PyObject* class_plan(PyTypeObject* type) {
    static PyObject* any_name = PyUnicode_InternFromString("__init__");
    if (!any_name) {
        PyErr_Clear();  // no name to give tags with: every creation collects the list anew
    }
    const unsigned int tag = any_name ? compat::assign_type_version(type, any_name) : 0;
    const PlanEntry& entry = plan_cache[tag % 64];
    if (tag != 0 && entry.tag == tag) {
        // The entry's pointers are borrowed and good only until code runs: the
        // tuple's allocation may run the collector, whose finalizers may change
        // the class (and free its properties) or refill this slot. They are
        // taken only when the slot and the class's tag are still the ones
        // looked up; else the list is collected anew.
        Ref properties = Ref::steal(PyTuple_New(entry.count));
        if (!properties) {
            return nullptr;
        }
        if (entry.tag == tag && compat::type_version(type) == tag &&
            entry.count == PyTuple_GET_SIZE(properties.get())) {
            for (Py_ssize_t i = 0; i < entry.count; ++i) {
                PyTuple_SET_ITEM(properties.get(), i, new_ref(entry.properties[i]));
            }
            return properties.release();
        }
    }
    Ref properties = Ref::steal(declared_properties(type));
    // Collecting them runs no code of the class's, but hashing a key could
    // change the class: the tag must still be the one looked up.
    if (properties && tag != 0 && compat::type_version(type) == tag) {
        remember_plan(tag, properties.get());
    }
    return properties.release();
}

// The record of `prop` made now, in the map first, then prepared by the
// property's own init_storage.
int prepare_record(PyObject* self, PyObject* map, PyObject* prop, PyObject* key) {
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args) {
        return -1;
    }
    Ref storage = Ref::steal(storage_type->tp_new(storage_type, no_args.get(), nullptr));
    if (!storage || PyDict_SetItem(map, key, storage.get()) < 0) {
        return -1;
    }
    Ref done = Ref::steal(as_property(prop)->vtab->init_storage(prop, self, storage.get()));
    return done ? 0 : -1;
}

// A property that only stores its converted default: the conversion runs now
// (its failure fails the creation, as the record's preparation would), and
// the map keeps the converted value until a first use makes the record. The
// key gets its place in the map after the conversion, unless the conversion
// itself uses the property (a unit recorded for the owner, a look at
// property_storage): that use puts None in its place first, as if the place
// had been there all along, and finds a record, as it would have.
int defer_record(PyObject* self, PyObject* map, PyObject* prop, PyObject* key) {
    Dispatcher* d = as_dispatcher(self);
    d->preparing_key = key;
    d->preparing_key_entered = 0;
    Ref defaultvalue = Ref::borrow(as_property(prop)->defaultvalue);
    Ref value =
        Ref::steal(as_property(prop)->vtab->convert(prop, self, defaultvalue ? defaultvalue.get() : Py_None));
    const bool entered = d->preparing_key_entered != 0;
    d->preparing_key = nullptr;
    if (!value) {
        return -1;
    }
    if (entered) {
        PyObject* entry = PyDict_GetItemWithError(map, key);
        if (!entry && PyErr_Occurred()) {
            return -1;
        }
        if (entry && contract::is_record(entry, storage_type)) {
            auto* record = reinterpret_cast<Storage*>(entry);
            contract::set_record_field(record, record->value, std::move(value));
            return 0;
        }
    }
    if (contract::is_record(value.get(), storage_type)) {
        // A record as a value: kept in a record of its own, so it is not taken for one.
        Ref record = Ref::steal(contract::new_record_holding(value.get(), storage_type));
        return record ? PyDict_SetItem(map, key, record.get()) : -1;
    }
    return PyDict_SetItem(map, key, value.get());
}

// Give every declared property its storage record (or its converted default,
// kept until the record is first needed).
int create_storages(PyObject* self, PyTypeObject* type) {
    if (load_property_types() < 0) {
        return -1;
    }
    Ref props = Ref::steal(class_plan(type));
    if (!props) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(props.get()); ++i) {
        PyObject* prop = PyTuple_GET_ITEM(props.get(), i);
        PyObject* key = as_property(prop)->storage_key;
        if (!key || key == Py_None) {
            continue;  // never named by a class body: no record
        }
        Ref keep_key = Ref::borrow(key);
        PyObject* map = live_field(as_dispatcher(self)->property_storage, "property storage");
        if (!map) {
            return -1;
        }
        const int status = as_property(prop)->vtab->init_storage == root_init_storage
                               ? defer_record(self, map, prop, keep_key.get())
                               : prepare_record(self, map, prop, keep_key.get());
        if (status < 0) {
            return -1;
        }
    }
    return 0;
}

// Make the records still kept as values (before the map is shown); a key
// whose default is being converted gets its place first.
int make_all_records(Dispatcher* d, PyObject* map) {
    if (!storage_type) {
        return 0;  // no owner was created yet
    }
    if (d->preparing_key && !d->preparing_key_entered) {
        const int present = PyDict_Contains(map, d->preparing_key);
        if (present < 0 || (!present && contract::enter_preparing_key(d, map) < 0)) {
            return -1;
        }
    }
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(map, &position, &key, &value)) {
        // Replacing a value keeps the keys, which the iteration allows.
        if (!contract::is_record(value, storage_type) &&
            !contract::make_deferred_record(map, key, value, storage_type)) {
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
    d->client_events = none_ref();  // the tuple comes with the first client event
    if (!d->property_storage || create_storages(self.get(), type) < 0) {
        return nullptr;
    }
    return self.release();
}

int dispatcher_traverse(PyObject* self, visitproc visit, void* arg) {
    Dispatcher* d = as_dispatcher(self);
    Py_VISIT(d->property_storage);
    Py_VISIT(d->client_events);
    Py_VISIT(d->page_entry);
    return observable_traverse(self, visit, arg);
}

int dispatcher_clear(PyObject* self) {
    Dispatcher* d = as_dispatcher(self);
    Py_CLEAR(d->property_storage);
    Py_CLEAR(d->client_events);
    Py_CLEAR(d->page_entry);
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
    PyObject* found = compat::type_lookup(Py_TYPE(self), name);
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
    if (!contract::is_record(storage, storage_type)) {
        storage = contract::make_deferred_record(map, key ? key : Py_None, storage, storage_type);
        if (!storage) {
            return nullptr;
        }
    }
    auto* record = reinterpret_cast<Storage*>(storage);
    if (!record->observers || !PyList_Check(record->observers)) {
        contract::set_record_field(record, record->observers, Ref::steal(PyList_New(0)));
        if (!record->observers) {
            return nullptr;
        }
    }
    return record->observers;
}

// Whether `name` was registered as a client event: -1 with an exception.
int is_client_event(PyObject* self, PyObject* name) {
    Ref events = Ref::borrow(as_dispatcher(self)->client_events);
    if (!events || !PyTuple_Check(events.get())) {
        return 0;
    }
    Ref held_name = Ref::borrow(name);
    return PySequence_Contains(events.get(), held_name.get());
}

// The EventObservers of a registered event (a new reference), or null
// (`failed` tells an error). A client event gets its observers when first
// bound or dispatched: an owner's creation registers them by name only.
PyObject* find_event(PyObject* self, PyObject* name, bool& failed) {
    failed = false;
    Dispatcher* d = as_dispatcher(self);
    Ref map = Ref::borrow(live_field(d->base.event_observers, "event observers"));
    if (!map) {
        failed = true;
        return nullptr;
    }
    if (PyDict_Check(map.get())) {
        Ref found = Ref::borrow(PyDict_GetItemWithError(map.get(), name));
        if (found || PyErr_Occurred()) {
            failed = !found;
            return found.release();
        }
    }
    const int client = is_client_event(self, name);
    if (client <= 0) {
        failed = client < 0;
        return nullptr;
    }
    // The map the owner holds now (the comparisons may have run code).
    map = Ref::borrow(live_field(d->base.event_observers, "event observers"));
    if (map && !PyDict_Check(map.get())) {
        map = Ref::steal(PyDict_New());
        if (map) {
            set_field(d->base.event_observers, map);
        }
    }
    if (!map) {
        failed = true;
        return nullptr;
    }
    Ref made = Ref::steal(new_observers());
    PyObject* observers = made ? PyDict_SetDefault(map.get(), name, made.get()) : nullptr;  // borrowed
    failed = !observers;
    return observers ? new_ref(observers) : nullptr;
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
    Ref observers = Ref::steal(find_event(self, name, failed));
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

// register_event(name, client=False)'s arguments, read from a vectorcall
// (every owner with an event attribute calls it at creation).
bool register_event_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject*& name,
                              int& client) {
    static const char* const parameter_names[] = {"name", "client"};
    PyObject* given[2] = {nullptr, nullptr};
    if (nargs > 2) {
        PyErr_Format(PyExc_TypeError, "register_event() takes at most 2 arguments (%zd given)", nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        given[i] = args[i];
    }
    const Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
        int slot = -1;
        for (int j = 0; j < 2 && slot < 0; ++j) {
            if (PyUnicode_CompareWithASCIIString(keyword, parameter_names[j]) == 0) {
                slot = j;
            }
        }
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "register_event() got an unexpected keyword argument '%S'", keyword);
            return false;
        }
        if (given[slot]) {
            PyErr_Format(PyExc_TypeError, "argument for register_event() given by name ('%S') and position (%d)",
                         keyword, slot + 1);
            return false;
        }
        given[slot] = args[nargs + i];
    }
    if (!given[0]) {
        PyErr_SetString(PyExc_TypeError, "register_event() missing required argument 'name' (pos 1)");
        return false;
    }
    if (!PyUnicode_Check(given[0])) {
        PyErr_Format(PyExc_TypeError, "register_event() argument 1 must be str, not %.50s",
                     given[0] == Py_None ? "None" : Py_TYPE(given[0])->tp_name);
        return false;
    }
    name = given[0];
    client = given[1] ? PyObject_IsTrue(given[1]) : 0;
    return client >= 0;
}

// The client events `events` (a tuple, or null for none yet) followed by
// `name`: a new tuple, untracked by the collector when it holds only exact
// texts (a tuple of texts cannot be part of a cycle; an owner keeps it for
// its whole life).
PyObject* with_client_event(PyObject* events, PyObject* name) {
    const Py_ssize_t count = events ? PyTuple_GET_SIZE(events) : 0;
    PyObject* more = PyTuple_New(count + 1);
    if (!more) {
        return nullptr;
    }
    bool texts_only = PyUnicode_CheckExact(name);
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PyTuple_GET_ITEM(events, i);
        texts_only = texts_only && PyUnicode_CheckExact(item);
        PyTuple_SET_ITEM(more, i, new_ref(item));
    }
    PyTuple_SET_ITEM(more, count, new_ref(name));
    if (texts_only) {
        PyObject_GC_UnTrack(more);
    }
    return more;
}

PyObject* dispatcher_register_event(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* name = nullptr;
    int client = 0;
    if (!register_event_arguments(args, nargs, kwnames, name, client)) {
        return nullptr;
    }
    Dispatcher* d = as_dispatcher(self);
    if (client) {
        // Held: comparing a str subclass's name may run code that registers
        // another client event and replaces the tuple.
        Ref events = Ref::borrow(live_field(d->client_events, "client events"));
        if (!events) {
            return nullptr;
        }
        const bool any = PyTuple_Check(events.get());
        const int known = any ? PySequence_Contains(events.get(), name) : 0;
        if (known < 0) {
            return nullptr;
        }
        if (!known) {
            // Added to the tuple the owner holds now: events registered
            // while the names were compared stay.
            events = Ref::borrow(live_field(d->client_events, "client events"));
            if (!events) {
                return nullptr;
            }
            Ref more = Ref::steal(with_client_event(PyTuple_Check(events.get()) ? events.get() : nullptr, name));
            if (!more) {
                return nullptr;
            }
            set_field(d->client_events, std::move(more));
        }
        Py_RETURN_NONE;
    }
    // Held: hashing and comparing the name may run code.
    Ref map = Ref::borrow(live_field(d->base.event_observers, "event observers"));
    if (!map) {
        return nullptr;
    }
    if (!PyDict_Check(map.get())) {
        map = Ref::steal(PyDict_New());
        if (!map) {
            return nullptr;
        }
        set_field(d->base.event_observers, map);
    }
    const int known = PyDict_Contains(map.get(), name);
    if (known < 0) {
        return nullptr;
    }
    if (!known) {
        Ref observers = Ref::steal(new_observers());
        if (!observers || PyDict_SetItem(map.get(), name, observers.get()) < 0) {
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
        Ref observers = Ref::steal(find_event(self, name, failed));
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
     METH_FASTCALL | METH_KEYWORDS,
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
    if (map && PyDict_Check(map) && make_all_records(as_dispatcher(self), map) < 0) {
        return nullptr;
    }
    return new_ref(map ? map : Py_None);
}

PyObject* get_client_events(PyObject* self, void*) {
    PyObject* events = as_dispatcher(self)->client_events;
    return events && PyTuple_Check(events) ? new_ref(events) : PyTuple_New(0);
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
