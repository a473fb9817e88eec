// Shared parts of tavo.core._event: the class objects, the uid counter and
// the entries one class calls on another.
#pragma once

#include "contract/event.hpp"
#include "contract/properties.hpp"
#include "support/compat.hpp"
#include "support/ref.hpp"

#include <cstdint>

namespace tavo::event {

namespace contract = tavo::contract;

// The classes of the module (static types, readied by the module's exec step).
extern PyTypeObject uid_type;         // ObjectWithUid
extern PyTypeObject observable_type;  // Observable
extern PyTypeObject dispatcher_type;  // EventDispatcher
extern PyTypeObject callback_type;    // BoundCallback
extern PyTypeObject observers_type;   // EventObservers

extern const contract::EventDispatcherVTable dispatcher_table;
extern const contract::EventObserversVTable observers_table;

// A new uid, unique within the process (ObjectWithUid and BoundCallback).
std::uint64_t next_uid() noexcept;

// Slots shared along the ObjectWithUid -> Observable -> EventDispatcher chain.
PyObject* observable_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int observable_traverse(PyObject* self, visitproc visit, void* arg);
int observable_clear(PyObject* self);

// A new EventObservers (the exact class).
PyObject* new_observers();

// Class fillers, called once by the exec step before readying.
void fill_uid_types();
void fill_observer_types();
void fill_dispatcher_type();

// A dict or list field of an owner, or null with RuntimeError when the
// collector cleared it (the object is being torn down).
PyObject* live_field(PyObject* field, const char* what);

}  // namespace tavo::event
