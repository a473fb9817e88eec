// ListProperty (with ObservableList), VariableListProperty and
// ReferenceListProperty: properties whose values are sequences.
#include "properties/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::properties {

contract::ListPropertyVTable list_table;
contract::VariableListPropertyVTable variable_list_table;
contract::ReferenceListPropertyVTable reference_list_table;

PyTypeObject list_type = static_type_base();
PyTypeObject variable_list_type = static_type_base();
PyTypeObject reference_list_type = static_type_base();

// A list that tells its property's observers when it changes.
const char* const observable_list_source = R"PY(
class ObservableList(list):
    """A list tied to an owner and a property: changing it in place notifies
    the property's observers of that owner."""

    __slots__ = ("owner", "prop")

    def __init__(self, *args, owner=None, prop=None):
        list.__init__(self, *args)
        self.owner = owner
        self.prop = prop

    def _notify(self):
        if self.prop is not None and self.owner is not None:
            self.prop.dispatch(self.owner)

    def _changing(name):
        method = getattr(list, name)

        def change(self, *args):
            result = method(self, *args)
            self._notify()
            return result

        change.__name__ = name
        change.__qualname__ = "ObservableList." + name
        change.__doc__ = method.__doc__
        return change

    for _name in ("__setitem__", "__delitem__", "append", "extend", "insert", "pop", "remove",
                  "clear", "reverse"):
        locals()[_name] = _changing(_name)

    def __iadd__(self, other):
        list.__iadd__(self, other)
        self._notify()
        return self

    def __imul__(self, count):
        list.__imul__(self, count)
        self._notify()
        return self

    def sort(self, *, key=None, reverse=False):
        list.sort(self, key=key, reverse=reverse)
        self._notify()

    def __reduce_ex__(self, protocol):
        return (list, (list(self),))

    del _changing, _name
)PY";

namespace {

// ---- ListProperty ---------------------------------------------------------------

PyObject* list_convert(PyObject* self, PyObject* obj, PyObject* value) {
    if (!PyList_CheckExact(value)) {
        return new_ref(value);
    }
    Ref kwnames = Ref::steal(Py_BuildValue("(ss)", "owner", "prop"));
    if (!kwnames) {
        return nullptr;
    }
    PyObject* args[] = {value, obj, self};
    return PyObject_Vectorcall(observable_list_type, args, 1, kwnames.get());
}

PyObject* list_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return accepted > 0 ? new_ref(Py_True) : nullptr;
    }
    if (!PyList_Check(value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only list (got %R)", value);
        return nullptr;
    }
    return none_ref();
}

PyObject* list_new(PyTypeObject* type, PyObject*, PyObject*) {
    return property_new_with(type, &list_table);
}

int list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyList_New(0));
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// ---- VariableListProperty --------------------------------------------------------

using VarList = contract::VariableListPropertyObject;

PyObject* repeat(PyObject* items, int length) {
    return PySequence_Repeat(items, length / static_cast<int>(PyList_GET_SIZE(items)));
}

PyObject* variable_list_convert(PyObject* self, PyObject* obj, PyObject* value) {
    const int length = reinterpret_cast<VarList*>(self)->target_length;
    if (value == Py_None) {
        return none_ref();
    }
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        if (PyLong_Check(value) || PyFloat_Check(value) || PyUnicode_Check(value)) {
            Ref one = Ref::steal(PyList_New(1));
            if (!one) {
                return nullptr;
            }
            PyList_SET_ITEM(one.get(), 0, new_ref(value));
            return repeat(one.get(), length);
        }
        raise_for(PyExc_ValueError, obj, self, " has an invalid format (got %R)", value);
        return nullptr;
    }
    Ref items = Ref::steal(PySequence_List(value));
    if (!items) {
        return nullptr;
    }
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    if (n == 1 || (n == 2 && length == 4)) {
        return repeat(items.get(), length);
    }
    if (n == length) {
        return items.release();
    }
    raise_for(PyExc_ValueError, obj, self, " must have 1, 2 or %d components (got %R)", length, value);
    return nullptr;
}

PyObject* variable_list_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return accepted > 0 ? new_ref(Py_True) : nullptr;
    }
    const int length = reinterpret_cast<VarList*>(self)->target_length;
    if ((PyList_Check(value) || PyTuple_Check(value)) && PySequence_Fast_GET_SIZE(value) != length) {
        raise_for(PyExc_ValueError, obj, self, " must have %d components (got %R)", length, value);
        return nullptr;
    }
    return none_ref();
}

PyObject* variable_list_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &variable_list_table));
    if (self) {
        reinterpret_cast<VarList*>(self.get())->target_length = 4;
    }
    return self.release();
}

int variable_list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    int length = 4;
    if (PyObject* given = keyword(kwds, "length")) {
        const long value = PyLong_Check(given) && !PyBool_Check(given) ? PyLong_AsLong(given) : -1;
        if (value != 2 && value != 4) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "VariableListProperty length must be 2 or 4, got %R", given);
            return -1;
        }
        length = static_cast<int>(value);
    }
    Ref zeros = Ref::steal(PyList_New(length));
    if (!zeros) {
        return -1;
    }
    for (int i = 0; i < length; ++i) {
        PyList_SET_ITEM(zeros.get(), i, PyLong_FromLong(0));
    }
    if (property_init_root(self, args, kwds, zeros.get()) < 0) {
        return -1;
    }
    reinterpret_cast<VarList*>(self)->target_length = length;
    return 0;
}

PyMemberDef variable_list_members[] = {
    {"length", T_INT, offsetof(VarList, target_length), READONLY, "The number of values stored: 2 or 4."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- ReferenceListProperty ----------------------------------------------------------

using RefList = contract::ReferenceListPropertyObject;

PyObject* reference_list_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &reference_list_table));
    if (self) {
        reinterpret_cast<RefList*>(self.get())->properties = PyTuple_New(0);
        if (!reinterpret_cast<RefList*>(self.get())->properties) {
            return nullptr;
        }
    }
    return self.release();
}

int reference_list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        if (!PyObject_TypeCheck(PyTuple_GET_ITEM(args, i), &property_type)) {
            PyErr_Format(PyExc_TypeError, "ReferenceListProperty takes properties, got %.200s",
                         Py_TYPE(PyTuple_GET_ITEM(args, i))->tp_name);
            return -1;
        }
    }
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || property_init_root(self, no_args.get(), kwds, Py_None) < 0) {
        return -1;
    }
    set_field(reinterpret_cast<RefList*>(self)->properties, Ref::borrow(args));
    return 0;
}

int reference_list_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<RefList*>(self)->properties);
    return property_traverse(self, visit, arg);
}

int reference_list_clear(PyObject* self) {
    set_field(reinterpret_cast<RefList*>(self)->properties, Ref::steal(PyTuple_New(0)));
    return property_clear(self);
}

void reference_list_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(reinterpret_cast<RefList*>(self)->properties);
    property_dealloc(self);
}

PyObject* reference_list_init_storage(PyObject*, PyObject*, PyObject*) {
    return none_ref();
}

PyObject* reference_list_get_value(PyObject* self, PyObject* obj, int) {
    Ref props = Ref::borrow(reinterpret_cast<RefList*>(self)->properties);
    if (!props || !PyTuple_Check(props.get())) {
        return PyList_New(0);
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(props.get());
    Ref values = Ref::steal(PyList_New(n));
    for (Py_ssize_t i = 0; values && i < n; ++i) {
        PyObject* prop = PyTuple_GET_ITEM(props.get(), i);
        PyObject* value = as_property(prop)->vtab->get_value(prop, obj, 0);
        if (!value) {
            return nullptr;
        }
        PyList_SET_ITEM(values.get(), i, value);
    }
    return values.release();
}

PyObject* reference_list_set_value(PyObject* self, PyObject* obj, PyObject* value) {
    Ref props = Ref::borrow(reinterpret_cast<RefList*>(self)->properties);
    Ref items = Ref::steal(PySequence_Tuple(value));
    if (!items) {
        return nullptr;
    }
    if (PyTuple_GET_SIZE(items.get()) != PyTuple_GET_SIZE(props.get())) {
        raise_for(PyExc_ValueError, obj, self, " must have %zd components (got %R)", PyTuple_GET_SIZE(props.get()),
                  value);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(props.get()); ++i) {
        PyObject* prop = PyTuple_GET_ITEM(props.get(), i);
        Ref done = Ref::steal(as_property(prop)->vtab->set_value(prop, obj, PyTuple_GET_ITEM(items.get(), i)));
        if (!done) {
            return nullptr;
        }
    }
    return none_ref();
}

PyMemberDef reference_list_members[] = {
    {"properties", T_OBJECT, offsetof(RefList, properties), READONLY, "The referenced properties."},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

void fill_collection_types() {
    PyTypeObject& l = list_type;
    l.tp_name = "tavo.core.properties.ListProperty";
    l.tp_basicsize = sizeof(contract::ListPropertyObject);
    l.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    l.tp_doc = "ListProperty(defaultvalue=[], **kw): a list, kept as an ObservableList.";
    l.tp_dealloc = property_dealloc;
    l.tp_traverse = property_traverse;
    l.tp_clear = property_clear;
    l.tp_init = list_init;
    l.tp_new = list_new;

    PyTypeObject& v = variable_list_type;
    v.tp_name = "tavo.core.properties.VariableListProperty";
    v.tp_basicsize = sizeof(VarList);
    v.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    v.tp_doc = "VariableListProperty(defaultvalue=[0]*length, length=4, **kw): 1, 2 or 4 values expanded to length.";
    v.tp_dealloc = property_dealloc;
    v.tp_traverse = property_traverse;
    v.tp_clear = property_clear;
    v.tp_members = variable_list_members;
    v.tp_init = variable_list_init;
    v.tp_new = variable_list_new;

    PyTypeObject& r = reference_list_type;
    r.tp_name = "tavo.core.properties.ReferenceListProperty";
    r.tp_basicsize = sizeof(RefList);
    r.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    r.tp_doc = "ReferenceListProperty(*properties): the list of the values of other properties.";
    r.tp_dealloc = reference_list_dealloc;
    r.tp_traverse = reference_list_traverse;
    r.tp_clear = reference_list_clear;
    r.tp_members = reference_list_members;
    r.tp_init = reference_list_init;
    r.tp_new = reference_list_new;
}

void build_collection_tables() {
    list_table.base = property_table;
    list_table.base.convert = list_convert;
    list_table.base.check = list_check;
    variable_list_table.base = property_table;
    variable_list_table.base.convert = variable_list_convert;
    variable_list_table.base.check = variable_list_check;
    reference_list_table.base = property_table;
    reference_list_table.base.init_storage = reference_list_init_storage;
    reference_list_table.base.get_value = reference_list_get_value;
    reference_list_table.base.set_value = reference_list_set_value;
}

}  // namespace tavo::properties
