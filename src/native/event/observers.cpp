// BoundCallback and EventObservers: the callbacks bound to one event.
//
// A BoundCallback is a callable with extra positional and keyword arguments
// fixed at bind time; EventObservers keeps them in binding order and calls
// them on dispatch.
#include "event/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::event {

namespace {

using Callback = contract::BoundCallbackObject;
using Observers = contract::EventObserversObject;

Callback* as_callback(PyObject* o) { return reinterpret_cast<Callback*>(o); }
Observers* as_observers(PyObject* o) { return reinterpret_cast<Observers*>(o); }

// ---- BoundCallback -------------------------------------------------------

// A new callback of class `type`; largs must be a tuple, kwargs a dict, None or null.
PyObject* make_callback(PyTypeObject* type, PyObject* func, PyObject* largs, PyObject* kwargs) {
    if (!PyCallable_Check(func)) {
        PyErr_Format(PyExc_TypeError, "a callback must be callable, got %.200s", Py_TYPE(func)->tp_name);
        return nullptr;
    }
    if (!PyTuple_Check(largs)) {
        PyErr_Format(PyExc_TypeError, "the extra arguments of a callback must be a tuple, got %.200s",
                     Py_TYPE(largs)->tp_name);
        return nullptr;
    }
    if (kwargs && kwargs != Py_None && !PyDict_Check(kwargs)) {
        PyErr_Format(PyExc_TypeError, "the extra keywords of a callback must be a dict, got %.200s",
                     Py_TYPE(kwargs)->tp_name);
        return nullptr;
    }
    // A copy, so that later changes to the caller's dict do not reach the callback.
    Ref keywords = Ref::steal(kwargs && kwargs != Py_None ? PyDict_Copy(kwargs) : none_ref());
    if (!keywords) {
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self) {
        Callback* cb = as_callback(self);
        cb->func = new_ref(func);
        cb->largs = new_ref(largs);
        cb->kwargs = keywords.release();
        cb->uid = next_uid();
    }
    return self;
}

PyObject* callback_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "BoundCallback(func, *largs, **kwargs) needs a callable first");
        return nullptr;
    }
    Ref largs = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    if (!largs) {
        return nullptr;
    }
    return make_callback(type, PyTuple_GET_ITEM(args, 0), largs.get(), kwargs);
}

// func(*args, *largs, **kwargs), call-time keywords added to the bound ones.
PyObject* callback_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    Callback* cb = as_callback(self);
    if (!cb->func || !cb->largs) {
        PyErr_SetString(PyExc_RuntimeError, "this callback was released");
        return nullptr;
    }
    Ref func = Ref::borrow(cb->func);
    Ref all = Ref::steal(PySequence_Concat(args, cb->largs));
    if (!all) {
        return nullptr;
    }
    Ref keywords = Ref::borrow(cb->kwargs == Py_None ? nullptr : cb->kwargs);
    if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
        keywords = Ref::steal(keywords ? PyDict_Copy(keywords.get()) : PyDict_New());
        if (!keywords || PyDict_Update(keywords.get(), kwargs) < 0) {
            return nullptr;
        }
    }
    return PyObject_Call(func.get(), all.get(), keywords.get());
}

int callback_traverse(PyObject* self, visitproc visit, void* arg) {
    Callback* cb = as_callback(self);
    Py_VISIT(cb->func);
    Py_VISIT(cb->largs);
    Py_VISIT(cb->kwargs);
    return 0;
}

int callback_clear(PyObject* self) {
    Callback* cb = as_callback(self);
    Py_CLEAR(cb->func);
    Py_CLEAR(cb->largs);
    Py_CLEAR(cb->kwargs);
    return 0;
}

void callback_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<callback_dealloc>(self, [self] {
        callback_clear(self);
        Py_TYPE(self)->tp_free(self);
    });
}

PyMemberDef callback_members[] = {
    {"func", T_OBJECT, offsetof(Callback, func), READONLY, "The callable."},
    {"largs", T_OBJECT, offsetof(Callback, largs), READONLY, "Positional arguments added after the event's."},
    {"kwargs", T_OBJECT, offsetof(Callback, kwargs), READONLY, "Keyword arguments (dict or None)."},
    {"uid", T_ULONGLONG, offsetof(Callback, uid), READONLY, "Unique id of the callback."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- EventObservers: the table entries -----------------------------------

PyObject* callbacks_of(PyObject* self) { return live_field(as_observers(self)->callbacks, "callbacks"); }

PyObject* observers_bind(PyObject* self, PyObject* func, PyObject* largs, PyObject* kwargs) {
    PyObject* callbacks = callbacks_of(self);
    if (!callbacks) {
        return nullptr;
    }
    Ref callback = Ref::steal(make_callback(&callback_type, func, largs, kwargs));
    if (!callback || PyList_Append(callbacks, callback.get()) < 0) {
        return nullptr;
    }
    return callback.release();
}

// Removes the first callback bound to `func` (same object or equal); True
// when one was removed.
PyObject* observers_unbind(PyObject* self, PyObject* func) {
    PyObject* callbacks = callbacks_of(self);
    if (!callbacks) {
        return nullptr;
    }
    // Comparing may run Python code that changes the list: compare against a
    // snapshot, then remove the matching callback by identity.
    Ref snapshot = Ref::steal(PySequence_Tuple(callbacks));
    if (!snapshot) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(snapshot.get()); ++i) {
        PyObject* callback = PyTuple_GET_ITEM(snapshot.get(), i);
        PyObject* bound = as_callback(callback)->func;
        if (!bound) {
            continue;
        }
        const int same = bound == func ? 1 : PyObject_RichCompareBool(bound, func, Py_EQ);
        if (same < 0) {
            return nullptr;
        }
        if (!same) {
            continue;
        }
        PyObject* live = as_observers(self)->callbacks;
        for (Py_ssize_t j = 0; live && j < PyList_GET_SIZE(live); ++j) {
            if (PyList_GET_ITEM(live, j) == callback) {
                if (PyList_SetSlice(live, j, j + 1, nullptr) < 0) {
                    return nullptr;
                }
                break;
            }
        }
        Py_RETURN_TRUE;
    }
    Py_RETURN_FALSE;
}

// Calls the callbacks bound when the dispatch starts, in binding order; a
// callback returning True stops the dispatch (the event was handled), and
// the result is then True, else None.
PyObject* observers_dispatch(PyObject* self, PyObject* args) {
    if (!PyTuple_Check(args)) {
        PyErr_Format(PyExc_TypeError, "dispatch arguments must be a tuple, got %.200s", Py_TYPE(args)->tp_name);
        return nullptr;
    }
    PyObject* callbacks = callbacks_of(self);
    if (!callbacks) {
        return nullptr;
    }
    Ref snapshot = Ref::steal(PySequence_Tuple(callbacks));
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

// ---- EventObservers: the class -------------------------------------------

PyObject* observers_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    Observers* o = as_observers(self.get());
    o->vtab = &observers_table;
    o->callbacks = PyList_New(0);
    return o->callbacks ? self.release() : nullptr;
}

int observers_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_observers(self)->callbacks);
    return 0;
}

int observers_clear(PyObject* self) {
    Py_CLEAR(as_observers(self)->callbacks);
    return 0;
}

void observers_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<observers_dealloc>(self, [self] {
        observers_clear(self);
        Py_TYPE(self)->tp_free(self);
    });
}

PyObject* observers_py_bind(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "bind(func, *largs, **kwargs) needs a callable");
        return nullptr;
    }
    Ref largs = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    if (!largs) {
        return nullptr;
    }
    return as_observers(self)->vtab->bind(self, PyTuple_GET_ITEM(args, 0), largs.get(), kwargs);
}

PyObject* observers_py_unbind(PyObject* self, PyObject* func) {
    return as_observers(self)->vtab->unbind(self, func);
}

PyObject* observers_py_dispatch(PyObject* self, PyObject* args) {
    return as_observers(self)->vtab->dispatch(self, args);
}

Py_ssize_t observers_length(PyObject* self) {
    PyObject* callbacks = as_observers(self)->callbacks;
    return callbacks ? PyList_GET_SIZE(callbacks) : 0;
}

PyMethodDef observers_methods[] = {
    {"bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(observers_py_bind)),
     METH_VARARGS | METH_KEYWORDS, "bind(func, *largs, **kwargs): call func on dispatch; returns the BoundCallback."},
    {"unbind", observers_py_unbind, METH_O,
     "unbind(func): remove the first callback bound to func; whether one was removed."},
    {"dispatch", observers_py_dispatch, METH_VARARGS,
     "dispatch(*args): call the callbacks with args; True when one of them returned True."},
    {nullptr, nullptr, 0, nullptr},
};

PySequenceMethods observers_sequence = [] {
    PySequenceMethods m{};
    m.sq_length = observers_length;
    return m;
}();

}  // namespace

const contract::EventObserversVTable observers_table = {observers_bind, observers_unbind, observers_dispatch};

PyTypeObject callback_type = static_type_base();
PyTypeObject observers_type = static_type_base();

PyObject* new_observers() {
    return observers_new(&observers_type, nullptr, nullptr);
}

void fill_observer_types() {
    PyTypeObject& c = callback_type;
    c.tp_name = "tavo.core._event.BoundCallback";
    c.tp_basicsize = sizeof(Callback);
    c.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    c.tp_doc = "BoundCallback(func, *largs, **kwargs): func called with extra arguments fixed at bind time.";
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
    o.tp_doc = "The callbacks bound to one event, called in binding order on dispatch.";
    o.tp_dealloc = observers_dealloc;
    o.tp_traverse = observers_traverse;
    o.tp_clear = observers_clear;
    o.tp_as_sequence = &observers_sequence;
    o.tp_methods = observers_methods;
    o.tp_new = observers_new;
}

}  // namespace tavo::event
