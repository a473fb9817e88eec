// _ListAttribute: a list value, optionally of a required length, that must be
// an ObservableList and renders comma-separated.
#include "attributes/common.hpp"

#include <cstddef>

namespace tavo::attributes {

namespace {

using Self = ListAttributeObject;
constexpr const char* kInit = "tavo.core._attributes._ListAttribute.__init__";
constexpr const char* kCheck = "tavo.core._attributes._ListAttribute.check";

Self* as_self(PyObject* o) { return reinterpret_cast<Self*>(o); }

ListAttributeTable table;
GlobalName observable_list_name{&k.ObservableList};

PyObject* list_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    Ref self = Ref::steal(new_with_base(g.ListProperty, type, args, kwds, &table));
    if (self) {
        Self* s = as_self(self.get());
        s->sync = 0;
        s->length = none_ref();
        init_empty_text(s->attrname);
        init_empty_text(s->attrtype);
    }
    return self.release();
}

int list_traverse(PyObject* self, visitproc visit, void* arg) {
    if (int status = traverse_base(g.ListProperty, self, visit, arg)) {
        return status;
    }
    Py_VISIT(as_self(self)->length);
    return 0;
}

int list_clear(PyObject* self) {
    clear_base(g.ListProperty, self);
    set_field(as_self(self)->length, Ref::borrow(Py_None));
    return 0;
}

void list_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<list_dealloc>(self, [self] {
        Self* s = as_self(self);
        Py_CLEAR(s->attrtype);
        Py_CLEAR(s->length);
        Py_CLEAR(s->attrname);
        dealloc_base(g.ListProperty, self);
    });
}

int list_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref kw = Ref::steal(copy_keywords(kwds));
    Self* s = as_self(self);
    bool failed = !kw || read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 ||
                  read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 ||
                  read_sync_keyword(kw.get(), s->sync) < 0;
    if (!failed) {
        PyObject* length = PyDict_GetItemWithError(kw.get(), k.length);
        failed = !length && PyErr_Occurred();
        if (!failed) {
            set_field(s->length, Ref::borrow(length ? length : Py_None));
            failed = init_base(list_attribute_class.type, self, args, kw.get()) < 0;
        }
    }
    if (failed) {
        ATTR_TRACE(kInit);
        return -1;
    }
    return 0;
}

PyObject* check_steps(PyObject* self, PyObject* obj, PyObject* value) {
    Ref root = Ref::steal(g.property_table->check(self, obj, value));
    if (!root) {
        return nullptr;
    }
    const int accepted = PyObject_IsTrue(root.get());
    if (accepted < 0) {
        return nullptr;
    }
    if (accepted) {
        return new_ref(Py_True);
    }
    Ref length = Ref::borrow(as_self(self)->length);
    if (length && length.get() != Py_None) {
        const Py_ssize_t count = PyObject_Length(value);
        if (count < 0) {
            return nullptr;
        }
        Ref count_obj = Ref::steal(PyLong_FromSsize_t(count));
        if (!count_obj) {
            return nullptr;
        }
        const int differs = PyObject_RichCompareBool(count_obj.get(), length.get(), Py_NE);
        if (differs < 0) {
            return nullptr;
        }
        if (differs) {
            Ref length_text = Ref::steal(plain_text(length.get()));
            if (length_text) {
                PyErr_Format(PyExc_ValueError, "Length of input array is wrong, must be %U", length_text.get());
            }
            return nullptr;
        }
    }
    Ref observable_list = Ref::steal(module_global(observable_list_name));
    if (!observable_list) {
        return nullptr;
    }
    if (reinterpret_cast<PyObject*>(Py_TYPE(value)) == observable_list.get()) {
        return none_ref();
    }
    raise_composed(obj, self, {text(" accept only ObservableList")});
    return nullptr;
}

PyObject* list_check(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = check_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kCheck);
    }
    return result;
}

PyObject* render(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    const int truth = PyObject_IsTrue(value.get());
    if (truth < 0) {
        return nullptr;
    }
    if (!truth) {
        return new_ref(k.empty_str);
    }
    return join_item_texts(value.get(), k.comma_space);
}

const void* build_table() {
    table.base = *g.list_table;
    table.base.base.check = list_check;
    table.attrvalue = attrvalue_entry<list_attribute_class, render>;
    return &table;
}

CommonGetters<Self> getters{GETTER_NAMES("_ListAttribute")};

const char list_doc[] =
    "_ListAttribute(defaultvalue=[], /, *, length=None, attrtype='', attrname='', sync=0, "
    "allownone=False)\n--\n\n"
    "Html attribute class which returns a comma separated list of values as strings.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: list, defaults to []\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n";

PyTypeObject list_type = attribute_type_object({
    "tavo.core._attributes._ListAttribute", sizeof(Self), list_doc,
    list_new, list_init, list_traverse, list_clear, list_dealloc, getters.table,
});

}  // namespace

AttrClass list_attribute_class{
    &list_type,
    "_ListAttribute",
    "tavo.core._attributes._ListAttribute.attrvalue",
    "tavo.core._attributes._ListAttribute.__reduce__",
    "tavo.core._attributes._ListAttribute.__setstate__",
    build_table,
    &g.ListProperty,
    attrvalue_entry<list_attribute_class, render>,
};

}  // namespace tavo::attributes
