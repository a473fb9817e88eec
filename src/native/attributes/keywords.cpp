// Constructor arguments and keywords of the attribute classes: the texts,
// the 32-bit sync flag, list keywords, and the call of the base constructor.
#include "attributes/keywords.hpp"

#include <climits>

namespace tavo::attributes {

int check_text(PyObject* value) {
    if (value == Py_None || PyUnicode_CheckExact(value)) {
        return 0;
    }
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "str", Py_TYPE(value)->tp_name);
    return -1;
}

int read_text_keyword(PyObject* kw, PyObject* key, PyObject*& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, key);
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        borrowed = k.empty_str;
    }
    if (check_text(borrowed) < 0) {
        return -1;
    }
    set_field(field, Ref::borrow(borrowed));
    return 0;
}

int to_int32(PyObject* value, int& out) {
    Ref number;
    if (PyLong_Check(value)) {
        number = Ref::borrow(value);
    } else {
        PyNumberMethods* nb = Py_TYPE(value)->tp_as_number;
        if (!nb || !nb->nb_int) {
            PyErr_SetString(PyExc_TypeError, "an integer is required");
            return -1;
        }
        number = Ref::steal(nb->nb_int(value));
        if (!number) {
            return -1;
        }
        if (!PyLong_Check(number.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(number.get())->tp_name);
            return -1;
        }
    }
    int overflow = 0;
    long long wide = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (wide == -1 && PyErr_Occurred()) {
        return -1;
    }
    if (overflow != 0 || wide < INT_MIN || wide > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    out = static_cast<int>(wide);
    return 0;
}

int read_sync_keyword(PyObject* kw, int& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, k.sync);
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        field = 0;
        return 0;
    }
    Ref keep = Ref::borrow(borrowed);  // the conversion may run user code
    int value = 0;
    if (to_int32(keep.get(), value) < 0) {
        return -1;
    }
    field = value;
    return 0;
}

int read_list_keyword(PyObject* kw, PyObject* key, PyObject*& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, key);
    Ref list;
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        list = Ref::steal(PyList_New(0));
    } else {
        Ref keep = Ref::borrow(borrowed);
        list = Ref::steal(PySequence_List(keep.get()));
    }
    if (!list) {
        return -1;
    }
    set_field(field, std::move(list));
    return 0;
}

PyObject* copy_keywords(PyObject* kwds) {
    return kwds ? PyDict_Copy(kwds) : PyDict_New();
}

int parse_parameters(PyObject* args, PyObject* kwds, std::initializer_list<PyObject*> names, Ref* values,
                     Ref& kw) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const auto count = static_cast<Py_ssize_t>(names.size());
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", "__init__",
                     "at most", count, count == 1 ? "" : "s", nargs);
        return -1;
    }
    kw = Ref::steal(copy_keywords(kwds));
    if (!kw) {
        return -1;
    }
    Py_ssize_t index = 0;
    for (PyObject* name : names) {
        PyObject* given = PyDict_GetItemWithError(kw.get(), name);
        if (!given && PyErr_Occurred()) {
            return -1;
        }
        if (given && index < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", "__init__", name);
            return -1;
        }
        if (index < nargs) {
            values[index] = Ref::borrow(PyTuple_GET_ITEM(args, index));
        } else if (given) {
            values[index] = Ref::borrow(given);
            if (PyDict_DelItem(kw.get(), name) < 0) {
                return -1;
            }
        }
        ++index;
    }
    return 0;
}

int init_base(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kw) {
    Ref proxy = Ref::steal(PyObject_CallFunctionObjArgs(g.builtin_super, reinterpret_cast<PyObject*>(cls),
                                                        self, nullptr));
    if (!proxy) {
        return -1;
    }
    Ref init = Ref::steal(PyObject_GetAttr(proxy.get(), k.dunder_init));
    if (!init) {
        return -1;
    }
    Ref keywords = Ref::steal(PyDict_Copy(kw));
    if (!keywords) {
        return -1;
    }
    Ref result = Ref::steal(PyObject_Call(init.get(), args, keywords.get()));
    return result ? 0 : -1;
}

}  // namespace tavo::attributes
