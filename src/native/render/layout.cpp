// What a component class declares, kept per class (see layout.hpp).
#include "render/layout.hpp"

#include "support/compat.hpp"

#include <cstddef>
#include <cstdint>

namespace tavo::render {

namespace {

PyTypeObject layout_type = static_type_base();

LayoutObject* as_layout(PyObject* o) { return reinterpret_cast<LayoutObject*>(o); }

// The kept layouts: address of the class (an int) -> layout. Process-wide.
PyObject* kept = nullptr;

// In front of `kept`: the last layout found for a class, by the class's
// address and version tag. A slot only ever points at the layout `kept`
// holds for that class, and is cleared or replaced when that one goes.
struct RecentSlot {
    const PyTypeObject* type;
    unsigned int tag;
    LayoutObject* layout;
};
constexpr std::size_t kRecentSlots = 64;
RecentSlot recent[kRecentSlots];

RecentSlot& recent_slot(const void* type) {
    const auto address = reinterpret_cast<std::uintptr_t>(type);
    return recent[((address >> 4) ^ (address >> 10)) % kRecentSlots];
}

void layout_dealloc(PyObject* self) {
    LayoutObject* layout = as_layout(self);
    for (Py_ssize_t i = 0; i < Py_SIZE(self); ++i) {
        Entry& entry = layout->entries[i];
        Py_XDECREF(entry.key);
        Py_XDECREF(entry.name_seen);
        Py_XDECREF(entry.derived);
        Py_XDECREF(entry.checked_name);
    }
    Py_XDECREF(layout->class_ref);
    Py_TYPE(self)->tp_free(self);
}

// The callback of the weak reference to a class: the class is going, its
// layout with it. `key` is the class's address as kept.
PyObject* forget_class(PyObject* key, PyObject*) {
    void* address = PyLong_AsVoidPtr(key);
    if (!address && PyErr_Occurred()) {
        return nullptr;
    }
    RecentSlot& slot = recent_slot(address);
    if (slot.type == address) {
        slot = RecentSlot{};
    }
    if (PyDict_DelItem(kept, key) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) {
            return nullptr;
        }
        PyErr_Clear();
    }
    Py_RETURN_NONE;
}

PyMethodDef forget_class_def = {"forget_class", forget_class, METH_O, nullptr};

// The attribute class `value` is an instance of, or null.
const AttributeClass* attribute_class_of(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    for (const AttributeClass& cls : attribute_classes) {
        if (type == cls.type) {
            return &cls;
        }
    }
    if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        return nullptr;
    }
    for (const AttributeClass& cls : attribute_classes) {
        if (PyType_IsSubtype(type, cls.type)) {
            return &cls;
        }
    }
    return nullptr;
}

// The names the class bodies along the reversed MRO define, in order of
// first definition: a new dict used as an ordered set. Only exact str keys
// (hashing them runs no Python code, so the namespaces cannot change while
// they are read).
PyObject* names_in_order(PyTypeObject* type) {
    Ref names = Ref::steal(PyDict_New());
    Ref mro = Ref::borrow(type->tp_mro);
    if (!names || !mro) {
        if (names) {
            PyErr_SetString(PyExc_TypeError, "the component class is not ready");
        }
        return nullptr;
    }
    for (Py_ssize_t i = PyTuple_GET_SIZE(mro.get()) - 1; i >= 0; --i) {
        PyObject* klass = PyTuple_GET_ITEM(mro.get(), i);
        // A static type of the runtime keeps no namespace here from 3.12 on;
        // none of those declares attributes.
        PyObject* dict = PyType_Check(klass) ? reinterpret_cast<PyTypeObject*>(klass)->tp_dict : nullptr;
        if (!dict) {
            continue;
        }
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict, &position, &key, &value)) {
            if (PyUnicode_CheckExact(key) && !PyDict_SetDefault(names.get(), key, Py_None)) {
                return nullptr;
            }
        }
    }
    return names.release();
}

// What `type` finds under `name` through its MRO, as attribute lookup on the
// class does (without the metatype); the runtime's lookup is not used, as its
// cache would keep every name looked up. A new reference, or null (with an
// exception on failure).
PyObject* class_attribute(PyObject* mro, PyObject* name) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* klass = PyTuple_GET_ITEM(mro, i);
        PyObject* dict = PyType_Check(klass) ? reinterpret_cast<PyTypeObject*>(klass)->tp_dict : nullptr;
        if (!dict) {
            continue;
        }
        PyObject* value = PyDict_GetItemWithError(dict, name);
        if (value) {
            return new_ref(value);
        }
        if (PyErr_Occurred()) {
            return nullptr;
        }
    }
    return nullptr;
}

// A new layout of `type`, its entries holding the attribute objects found
// now; `held` receives a list holding them (strong references).
LayoutObject* make_layout(PyTypeObject* type, Ref& held) {
    Ref names = Ref::steal(names_in_order(type));
    Ref found = Ref::steal(PyList_New(0));
    Ref keys = Ref::steal(PyList_New(0));
    Ref mro = Ref::borrow(type->tp_mro);
    if (!names || !found || !keys) {
        return nullptr;
    }
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* unused = nullptr;
    while (PyDict_Next(names.get(), &position, &key, &unused)) {
        Ref value = Ref::steal(class_attribute(mro.get(), key));
        if (!value && PyErr_Occurred()) {
            return nullptr;
        }
        if (value && attribute_class_of(value.get()) &&
            (PyList_Append(found.get(), value.get()) < 0 || PyList_Append(keys.get(), key) < 0)) {
            return nullptr;
        }
    }
    const Py_ssize_t count = PyList_GET_SIZE(found.get());
    LayoutObject* layout = PyObject_NewVar(LayoutObject, &layout_type, count);
    if (!layout) {
        return nullptr;
    }
    layout->class_ref = nullptr;
    layout->tag = 0;
    layout->checked = false;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* attr = PyList_GET_ITEM(found.get(), i);
        const AttributeClass* cls = attribute_class_of(attr);
        layout->entries[i] = Entry{new_ref(PyList_GET_ITEM(keys.get(), i)), attr, cls, Py_TYPE(attr) == cls->type,
                                   nullptr, nullptr, nullptr, Kind::none};
    }
    held = std::move(found);
    return layout;
}

}  // namespace

int ready_layout_type() {
    if (layout_type.tp_flags & Py_TPFLAGS_READY) {
        return 0;
    }
    PyTypeObject& t = layout_type;
    t.tp_name = "tavo.core._render._Layout";
    t.tp_doc = "The attributes a component class declares, in declaration order (internal).";
    t.tp_basicsize = offsetof(LayoutObject, entries);
    t.tp_itemsize = sizeof(Entry);
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_dealloc = layout_dealloc;
    if (PyType_Ready(&t) < 0) {
        return -1;
    }
    if (!kept) {
        kept = PyDict_New();
        if (!kept) {
            return -1;
        }
    }
    return 0;
}

LayoutObject* layout_of(PyTypeObject* type, Ref& held) {
    const unsigned int tag = compat::type_version(type);
    RecentSlot& slot = recent_slot(type);
    if (tag != 0 && slot.type == type && slot.tag == tag) {
        Py_INCREF(slot.layout);
        return slot.layout;
    }
    Ref key = Ref::steal(PyLong_FromVoidPtr(type));
    if (!key) {
        return nullptr;
    }
    // Held: making the new layout runs code (the collector's finalizers on
    // 3.11) that may render this class and replace the kept layout.
    Ref known = Ref::borrow(PyDict_GetItemWithError(kept, key.get()));
    if (known && tag != 0 && as_layout(known.get())->tag == tag) {
        slot = RecentSlot{type, tag, as_layout(known.get())};
        return as_layout(known.release());
    }
    if (!known && PyErr_Occurred()) {
        return nullptr;
    }
    // Made anew: give the class a version tag first, so that the layout
    // describes the namespaces under that tag.
    const unsigned int new_tag = compat::assign_type_version(type, k.dunder_init);
    Ref made = Ref::steal(reinterpret_cast<PyObject*>(make_layout(type, held)));
    if (!made) {
        return nullptr;
    }
    LayoutObject* layout = as_layout(made.get());
    if (new_tag == 0 || compat::type_version(type) != new_tag) {
        return as_layout(made.release());  // not kept: used by this call only, through `held`
    }
    layout->tag = new_tag;
    Ref class_ref;
    if (known) {
        class_ref = Ref::borrow(as_layout(known.get())->class_ref);
    } else {
        Ref forget = Ref::steal(PyCFunction_New(&forget_class_def, key.get()));
        if (!forget) {
            return nullptr;
        }
        class_ref = Ref::steal(PyWeakref_NewRef(reinterpret_cast<PyObject*>(type), forget.get()));
        if (!class_ref) {
            return nullptr;
        }
    }
    layout->class_ref = class_ref.release();
    // The slot points at the new layout before the old one can go.
    slot = RecentSlot{type, new_tag, layout};
    if (PyDict_SetItem(kept, key.get(), made.get()) < 0) {
        slot = RecentSlot{};
        return nullptr;
    }
    return as_layout(made.release());
}

}  // namespace tavo::render
