// ListProperty (with ObservableList) and VariableListProperty: properties
// whose values are lists.
#include "properties/common.hpp"

#include <structmember.h>

#include <cmath>
#include <cstddef>

namespace tavo::properties {

contract::ListPropertyVTable list_table;
contract::VariableListPropertyVTable variable_list_table;

PyTypeObject list_type = static_type_base();
PyTypeObject variable_list_type = static_type_base();

// A list that tells its property's observers when it changes in place. The
// module executes this source in its own namespace at import.
const char* const observable_list_source = R"PY(
class ObservableList(list):
    """ObservableList(iterable=(), *, owner=None, prop=None)

    A list tied to an owner and one of its properties: changing it in place
    calls the property's dispatch for the owner, so the property's observers
    get (owner, the list). Copies and pickles are plain lists.
    """

    __slots__ = ("owner", "prop")

    def __init__(self, *args, owner=None, prop=None):
        list.__init__(self, *args)
        self.owner = owner
        self.prop = prop

    def _dispatch(self):
        prop = self.prop
        if prop is not None and self.owner is not None:
            prop.dispatch(self.owner)

    def __setitem__(self, index, value):
        list.__setitem__(self, index, value)
        self._dispatch()

    def __delitem__(self, index):
        list.__delitem__(self, index)
        self._dispatch()

    def __iadd__(self, other):
        list.__iadd__(self, other)
        self._dispatch()
        return self

    def __imul__(self, count):
        list.__imul__(self, count)
        self._dispatch()
        return self

    def append(self, item):
        list.append(self, item)
        self._dispatch()

    def extend(self, iterable):
        list.extend(self, iterable)
        self._dispatch()

    def insert(self, index, item):
        list.insert(self, index, item)
        self._dispatch()

    def pop(self, index=-1):
        item = list.pop(self, index)
        self._dispatch()
        return item

    def remove(self, item):
        list.remove(self, item)
        self._dispatch()

    def clear(self):
        list.clear(self)
        self._dispatch()

    def sort(self, *, key=None, reverse=False):
        list.sort(self, key=key, reverse=reverse)
        self._dispatch()

    def reverse(self):
        list.reverse(self)
        self._dispatch()

    def __reduce_ex__(self, protocol):
        return (list, (list(self),))
)PY";

namespace {

// ---- ListProperty ---------------------------------------------------------------

// An exact list or tuple becomes an ObservableList copy tied to the owner and
// this property; other values are passed on for the check to judge.
PyObject* list_convert(PyObject* self, PyObject* obj, PyObject* value) {
    if (!PyList_CheckExact(value) && !PyTuple_CheckExact(value)) {
        return new_ref(value);
    }
    if (!observable_list_type || !observable_list_kwnames) {
        PyErr_SetString(PyExc_RuntimeError, "ObservableList is not defined yet");
        return nullptr;
    }
    PyObject* args[] = {value, obj, self};
    return PyObject_Vectorcall(observable_list_type, args, 1, observable_list_kwnames);
}

PyObject* list_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
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

// Without a default, each property gets its own empty list.
int list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref empty = Ref::steal(PyList_New(0));
    return empty ? property_init_root(self, args, kwds, empty.get()) : -1;
}

// ---- VariableListProperty --------------------------------------------------------

using VarList = contract::VariableListPropertyObject;

int target_length(PyObject* self) { return reinterpret_cast<VarList*>(self)->target_length; }

// [items...] repeated to `length` items (items has 1 or 2 items, length 2 or 4).
PyObject* repeated(PyObject* items, int length) {
    return PySequence_Repeat(items, length / PyList_GET_SIZE(items));
}

// Expands numbers like a CSS margin: v -> [v]*length; [v] -> [v]*length;
// [a, b] -> [a, b] or [a, b, a, b]; a list or tuple of `length` items -> a
// list of them. Other lengths and other values are passed on for the check.
PyObject* variable_list_convert(PyObject* self, PyObject*, PyObject* value) {
    const int length = target_length(self);
    if (is_number(value)) {
        Ref one = Ref::steal(PyList_New(1));
        if (!one) {
            return nullptr;
        }
        PyList_SET_ITEM(one.get(), 0, new_ref(value));
        return repeated(one.get(), length);
    }
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        return new_ref(value);
    }
    Ref items = Ref::steal(PySequence_List(value));
    if (!items) {
        return nullptr;
    }
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    if (n == 1 || (n == 2 && length == 4)) {
        return repeated(items.get(), length);
    }
    return items.release();
}

// Whether an item can be rendered as a length: not None (what a text without
// a unit ending becomes) and not NaN or an infinity. The exact types come
// first: the subclass test walks the item type's MRO.
bool is_length_item(PyObject* item) {
    const PyTypeObject* type = Py_TYPE(item);
    if (type == &PyLong_Type || type == &PyUnicode_Type) {
        return true;
    }
    if (type == &PyFloat_Type) {
        return std::isfinite(PyFloat_AS_DOUBLE(item));
    }
    return item != Py_None && !(PyFloat_Check(item) && !std::isfinite(PyFloat_AS_DOUBLE(item)));
}

// Refuses a list or tuple whose length is not the target length or that holds
// an item that is not a length; anything else is accepted, an option text
// such as "inherit".
PyObject* variable_list_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        return none_ref();
    }
    const int length = target_length(self);
    if (PySequence_Fast_GET_SIZE(value) != length) {
        raise_for(PyExc_ValueError, obj, self, " must have %d components (got %R)", length, value);
        return nullptr;
    }
    // The item tests run no Python code, so the items stay in place meanwhile.
    PyObject** items = PySequence_Fast_ITEMS(value);
    for (Py_ssize_t i = 0; i < length; ++i) {
        if (!is_length_item(items[i])) {
            raise_for(PyExc_ValueError, obj, self,
                      " has items that are not lengths (got %R): give numbers, texts ending in a CSS unit or %%, "
                      "or declare the text among the options",
                      value);
            return nullptr;
        }
    }
    return none_ref();
}

PyObject* variable_list_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = property_new_with(type, &variable_list_table);
    if (self) {
        reinterpret_cast<VarList*>(self)->target_length = 4;
    }
    return self;
}

int variable_list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    int length = 4;
    PyObject* given = nullptr;
    if (keyword(kwds, "length", given) < 0) {
        return -1;
    }
    if (given) {
        int overflow = 0;
        const long value = PyLong_Check(given) && !PyBool_Check(given) ? PyLong_AsLongAndOverflow(given, &overflow) : 0;
        if (value == -1 && PyErr_Occurred()) {
            return -1;
        }
        if (overflow || (value != 2 && value != 4)) {
            PyErr_Format(PyExc_ValueError, "the length of a VariableListProperty must be 2 or 4, got %R", given);
            return -1;
        }
        length = static_cast<int>(value);
    }
    Ref zero = Ref::steal(PyLong_FromLong(0));
    Ref zeros = Ref::steal(zero ? PyList_New(1) : nullptr);
    if (!zeros) {
        return -1;
    }
    PyList_SET_ITEM(zeros.get(), 0, zero.release());
    Ref fallback = Ref::steal(PySequence_Repeat(zeros.get(), length));
    if (!fallback || property_init_root(self, args, kwds, fallback.get()) < 0) {
        return -1;
    }
    reinterpret_cast<VarList*>(self)->target_length = length;
    return 0;
}

PyMemberDef variable_list_members[] = {
    {"length", T_INT, offsetof(VarList, target_length), READONLY, "The number of values stored: 2 or 4."},
    {nullptr, 0, 0, 0, nullptr},
};

void fill_common(PyTypeObject& t, const char* name, Py_ssize_t size, const char* doc) {
    t.tp_name = name;
    t.tp_basicsize = size;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = doc;
    t.tp_dealloc = property_dealloc;
    t.tp_traverse = property_traverse;
    t.tp_clear = property_clear;
}

}  // namespace

void fill_list_types() {
    fill_common(list_type, "tavo.core.properties.ListProperty", sizeof(contract::ListPropertyObject),
                "ListProperty(defaultvalue=[], **kw): a list, kept per owner as an ObservableList whose "
                "changes notify the property's observers.");
    list_type.tp_init = list_init;
    list_type.tp_new = list_new;

    fill_common(variable_list_type, "tavo.core.properties.VariableListProperty", sizeof(VarList),
                "VariableListProperty(defaultvalue=[0]*length, *, length=4, **kw): 1, 2 or `length` numbers "
                "expanded to `length` (2 or 4) like a CSS margin.");
    variable_list_type.tp_members = variable_list_members;
    variable_list_type.tp_init = variable_list_init;
    variable_list_type.tp_new = variable_list_new;
}

void build_list_tables() {
    list_table.base = property_table;
    list_table.base.convert = list_convert;
    list_table.base.check = list_check;
    variable_list_table.base = property_table;
    variable_list_table.base.convert = variable_list_convert;
    variable_list_table.base.check = variable_list_check;
}

}  // namespace tavo::properties
