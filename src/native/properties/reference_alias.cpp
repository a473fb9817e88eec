// ReferenceListProperty and AliasProperty: properties whose value is not kept
// in their own storage record but read from elsewhere on the owner.
//
// A ReferenceListProperty reads the values of other properties of the owner
// as one list and assigns them from one sequence. An AliasProperty reads
// getter(owner) and assigns through setter(owner, value).
#include "properties/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::properties {

contract::ReferenceListPropertyVTable reference_list_table;
contract::AliasPropertyVTable alias_table;

PyTypeObject reference_list_type = static_type_base();
PyTypeObject alias_type = static_type_base();

namespace {

// Both keep only observers in their record.
PyObject* observers_only_init_storage(PyObject*, PyObject*, PyObject* storage) {
    if (!PyObject_TypeCheck(storage, &storage_type)) {
        PyErr_Format(PyExc_TypeError, "init_storage needs a PropertyStorage, got %.200s", Py_TYPE(storage)->tp_name);
        return nullptr;
    }
    if (prepare_observers(reinterpret_cast<contract::PropertyStorageObject*>(storage)) < 0) {
        return nullptr;
    }
    return none_ref();
}

// ---- ReferenceListProperty ---------------------------------------------------------

using RefList = contract::ReferenceListPropertyObject;

RefList* as_reflist(PyObject* o) { return reinterpret_cast<RefList*>(o); }

// The referenced properties (a new reference to the tuple).
PyObject* referenced(PyObject* self) {
    PyObject* props = as_reflist(self)->properties;
    return props && PyTuple_Check(props) ? new_ref(props) : PyTuple_New(0);
}

// [p.get_value(owner) for p in properties]; obj None gives their defaults.
PyObject* reference_list_values(PyObject* self, PyObject* obj) {
    if (obj != Py_None && !is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "the owner of a property must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    Ref props = Ref::steal(referenced(self));
    if (!props) {
        return nullptr;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(props.get());
    Ref values = Ref::steal(PyList_New(n));
    if (!values) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* prop = PyTuple_GET_ITEM(props.get(), i);
        PyObject* value = as_property(prop)->vtab->get_value(prop, obj, 0);
        if (!value) {
            return nullptr;
        }
        PyList_SET_ITEM(values.get(), i, value);
    }
    return values.release();
}

PyObject* reference_list_get_value(PyObject* self, PyObject* obj, int skip_dispatch) {
    PyObject* result = nullptr;
    if (python_get_value(self, obj, skip_dispatch, result)) {
        return result;
    }
    // The referenced properties may be reference lists themselves.
    if (Py_EnterRecursiveCall(" while reading a ReferenceListProperty")) {
        return nullptr;
    }
    result = reference_list_values(self, obj);
    Py_LeaveRecursiveCall();
    return result;
}

// Assigns each item of `value` to the referenced property at the same place,
// then notifies this property's observers with the new list.
PyObject* reference_list_assign(PyObject* self, PyObject* obj, PyObject* value) {
    Ref keep_self = Ref::borrow(self);
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "the owner of a property must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    Ref props = Ref::steal(referenced(self));
    if (!props) {
        return nullptr;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(props.get());
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only a list or tuple of %zd items (got %R)", n, value);
        return nullptr;
    }
    Ref items = Ref::steal(PySequence_Tuple(value));
    if (!items) {
        return nullptr;
    }
    if (PyTuple_GET_SIZE(items.get()) != n) {
        raise_for(PyExc_ValueError, obj, self, " must have %zd components (got %R)", n, value);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* prop = PyTuple_GET_ITEM(props.get(), i);
        Ref done = Ref::steal(as_property(prop)->vtab->set_value(prop, obj, PyTuple_GET_ITEM(items.get(), i)));
        if (!done) {
            return nullptr;
        }
    }
    return as_property(self)->vtab->dispatch(self, obj);
}

PyObject* reference_list_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    if (Py_EnterRecursiveCall(" while assigning a ReferenceListProperty")) {
        return nullptr;
    }
    PyObject* result = reference_list_assign(self, obj, value);
    Py_LeaveRecursiveCall();
    return result;
}

PyObject* reference_list_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &reference_list_table));
    if (!self) {
        return nullptr;
    }
    as_reflist(self.get())->properties = PyTuple_New(0);
    return as_reflist(self.get())->properties ? self.release() : nullptr;
}

// ReferenceListProperty(*properties, **kw): every positional argument is a
// referenced property (there is no default value of its own).
int reference_list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        PyObject* prop = PyTuple_GET_ITEM(args, i);
        if (!PyObject_TypeCheck(prop, &property_type)) {
            PyErr_Format(PyExc_TypeError, "ReferenceListProperty takes properties, got %.200s",
                         Py_TYPE(prop)->tp_name);
            return -1;
        }
        if (prop == self) {
            PyErr_SetString(PyExc_ValueError, "a ReferenceListProperty cannot reference itself");
            return -1;
        }
    }
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || property_init_root(self, no_args.get(), kwds, Py_None) < 0) {
        return -1;
    }
    set_field(as_reflist(self)->properties, Ref::borrow(args));
    return 0;
}

int reference_list_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_reflist(self)->properties);
    return property_traverse(self, visit, arg);
}

int reference_list_clear(PyObject* self) {
    Py_CLEAR(as_reflist(self)->properties);
    return property_clear(self);
}

void reference_list_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<reference_list_dealloc>(self, [self] {
        Py_CLEAR(as_reflist(self)->properties);
        property_dealloc(self);
    });
}

PyObject* reference_list_get_properties(PyObject* self, void*) {
    return referenced(self);
}

PyGetSetDef reference_list_getset[] = {
    {"properties", reference_list_get_properties, nullptr, "The referenced properties (a tuple).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- AliasProperty ----------------------------------------------------------------

using Alias = contract::AliasPropertyObject;

Alias* as_alias(PyObject* o) { return reinterpret_cast<Alias*>(o); }

// getter(owner); obj None gives the default (None).
PyObject* alias_get_value(PyObject* self, PyObject* obj, int skip_dispatch) {
    PyObject* result = nullptr;
    if (python_get_value(self, obj, skip_dispatch, result)) {
        return result;
    }
    if (obj == Py_None) {
        return root_get_value(self, obj, 1);
    }
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "the owner of a property must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    Ref getter = Ref::borrow(as_alias(self)->getter);
    if (!getter || getter.get() == Py_None) {
        raise_for(PyExc_AttributeError, obj, self, " has no getter");
        return nullptr;
    }
    return PyObject_CallOneArg(getter.get(), obj);
}

// setter(owner, value); a true result means the value changed and notifies
// the observers with the new getter(owner).
PyObject* alias_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    Ref keep_self = Ref::borrow(self);
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "the owner of a property must be an EventDispatcher, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    Ref setter = Ref::borrow(as_alias(self)->setter);
    if (!setter || setter.get() == Py_None) {
        raise_for(PyExc_AttributeError, obj, self, " is read-only (an AliasProperty without a setter)");
        return nullptr;
    }
    PyObject* args[] = {obj, value};
    Ref changed = Ref::steal(PyObject_Vectorcall(setter.get(), args, 2, nullptr));
    if (!changed) {
        return nullptr;
    }
    const int truth = PyObject_IsTrue(changed.get());
    if (truth < 0) {
        return nullptr;
    }
    return truth ? as_property(self)->vtab->dispatch(self, obj) : none_ref();
}

PyObject* alias_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = property_new_with(type, &alias_table);
    if (self) {
        as_alias(self)->getter = none_ref();
        as_alias(self)->setter = none_ref();
    }
    return self;
}

// AliasProperty(getter, setter=None, **kw): both may also be given by keyword.
int alias_init(PyObject* self, PyObject* args, PyObject* kwds) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject* getter = nargs > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    PyObject* setter = nargs > 1 ? PyTuple_GET_ITEM(args, 1) : nullptr;
    PyObject* given_getter = nullptr;
    PyObject* given_setter = nullptr;
    if (keyword(kwds, "getter", given_getter) < 0 || keyword(kwds, "setter", given_setter) < 0) {
        return -1;
    }
    if ((getter && given_getter) || (setter && given_setter)) {
        PyErr_SetString(PyExc_TypeError, "AliasProperty() got the getter or the setter twice");
        return -1;
    }
    getter = getter ? getter : given_getter;
    setter = setter ? setter : (given_setter ? given_setter : Py_None);
    if (!getter || !PyCallable_Check(getter)) {
        PyErr_SetString(PyExc_TypeError, "AliasProperty(getter, setter=None) needs a callable getter");
        return -1;
    }
    if (setter != Py_None && !PyCallable_Check(setter)) {
        PyErr_Format(PyExc_TypeError, "the setter of an AliasProperty must be callable or None, got %.200s",
                     Py_TYPE(setter)->tp_name);
        return -1;
    }
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || property_init_root(self, no_args.get(), kwds, Py_None) < 0) {
        return -1;
    }
    set_field(as_alias(self)->getter, Ref::borrow(getter));
    set_field(as_alias(self)->setter, Ref::borrow(setter));
    return 0;
}

int alias_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_alias(self)->getter);
    Py_VISIT(as_alias(self)->setter);
    return property_traverse(self, visit, arg);
}

int alias_clear(PyObject* self) {
    set_field(as_alias(self)->getter, Ref::borrow(Py_None));
    set_field(as_alias(self)->setter, Ref::borrow(Py_None));
    return property_clear(self);
}

void alias_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<alias_dealloc>(self, [self] {
        Py_CLEAR(as_alias(self)->getter);
        Py_CLEAR(as_alias(self)->setter);
        property_dealloc(self);
    });
}

PyMemberDef alias_members[] = {
    {"getter", T_OBJECT, offsetof(Alias, getter), READONLY, "getter(owner) gives the value."},
    {"setter", T_OBJECT, offsetof(Alias, setter), READONLY, "setter(owner, value) assigns it, or None."},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

void fill_reference_alias_types() {
    PyTypeObject& r = reference_list_type;
    r.tp_name = "tavo.core.properties.ReferenceListProperty";
    r.tp_basicsize = sizeof(RefList);
    r.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    r.tp_doc =
        "ReferenceListProperty(*properties, **kw): the list of the owner's values of other properties; "
        "assigning a sequence of as many items assigns each.";
    r.tp_dealloc = reference_list_dealloc;
    r.tp_traverse = reference_list_traverse;
    r.tp_clear = reference_list_clear;
    r.tp_getset = reference_list_getset;
    r.tp_init = reference_list_init;
    r.tp_new = reference_list_new;

    PyTypeObject& a = alias_type;
    a.tp_name = "tavo.core.properties.AliasProperty";
    a.tp_basicsize = sizeof(Alias);
    a.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    a.tp_doc =
        "AliasProperty(getter, setter=None, **kw): a value read as getter(owner) and assigned with "
        "setter(owner, value); a true result of the setter notifies the observers. Without a setter the "
        "property is read-only.";
    a.tp_dealloc = alias_dealloc;
    a.tp_traverse = alias_traverse;
    a.tp_clear = alias_clear;
    a.tp_members = alias_members;
    a.tp_init = alias_init;
    a.tp_new = alias_new;
}

void build_reference_alias_tables() {
    reference_list_table.base = property_table;
    reference_list_table.base.init_storage = observers_only_init_storage;
    reference_list_table.base.get_value = reference_list_get_value;
    reference_list_table.base.set_value = reference_list_set_value;
    alias_table.base = property_table;
    alias_table.base.init_storage = observers_only_init_storage;
    alias_table.base.get_value = alias_get_value;
    alias_table.base.set_value = alias_set_value;
}

}  // namespace tavo::properties
