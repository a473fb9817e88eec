// _Attribute: the general HTML attribute with a string value, an optional
// closed list of options (copied per owner) and the values sent for them.
#include "attributes/common.hpp"
#include "contract/record_fields.hpp"

#include <cstddef>

namespace tavo::attributes {

namespace {

using Self = AttributeObject;

constexpr const char* kInit = "tavo.core._attributes._Attribute.__init__";
constexpr const char* kInitStorage = "tavo.core._attributes._Attribute.init_storage";
constexpr const char* kCheck = "tavo.core._attributes._Attribute.check";
constexpr const char* kCompareValue = "tavo.core._attributes._Attribute.compare_value";

Self* as_self(PyObject* o) { return reinterpret_cast<Self*>(o); }

AttributeTable table;

// ---- life cycle ------------------------------------------------------------

PyObject* attribute_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    Ref self = Ref::steal(new_with_base(g.Property, type, args, kwds, &table));
    if (!self) {
        return nullptr;
    }
    Self* s = as_self(self.get());
    init_empty_text(s->attrtype);
    s->sync = 0;
    if (init_new_list(s->options) < 0 || init_new_dict(s->values) < 0) {
        return nullptr;
    }
    init_empty_text(s->attrname);
    return self.release();
}

int attribute_traverse(PyObject* self, visitproc visit, void* arg) {
    if (int status = traverse_base(g.Property, self, visit, arg)) {
        return status;
    }
    Py_VISIT(as_self(self)->options);
    Py_VISIT(as_self(self)->values);
    return 0;
}

int attribute_clear(PyObject* self) {
    clear_base(g.Property, self);
    set_field(as_self(self)->options, Ref::borrow(Py_None));
    set_field(as_self(self)->values, Ref::borrow(Py_None));
    return 0;
}

void attribute_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<attribute_dealloc>(self, [self] {
        Self* s = as_self(self);
        Py_CLEAR(s->attrtype);
        Py_CLEAR(s->options);
        Py_CLEAR(s->values);
        Py_CLEAR(s->attrname);
        dealloc_base(g.Property, self);
    });
}

// values: the i-th option maps to the i-th value; no values means each
// option is sent as itself.
int build_values(Self* s, PyObject* kw) {
    // A private copy: the object's own list is reachable from Python (the
    // options getter), and hashing an option can run code that changes it.
    Ref options = Ref::steal(PyList_GetSlice(s->options, 0, PY_SSIZE_T_MAX));
    if (!options) {
        return -1;
    }
    PyObject* given = PyDict_GetItemWithError(kw, k.values);
    if (!given && PyErr_Occurred()) {
        return -1;
    }
    Ref values = Ref::steal(given ? PySequence_List(given) : PyList_New(0));
    if (!values) {
        return -1;
    }
    if (PyList_GET_SIZE(values.get()) == 0) {
        values = Ref::steal(PyList_GetSlice(options.get(), 0, PY_SSIZE_T_MAX));
        if (!values) {
            return -1;
        }
    }
    const Py_ssize_t count = PyList_GET_SIZE(options.get());
    if (PyList_GET_SIZE(values.get()) != count) {
        PyErr_SetString(PyExc_AttributeError, "length mismatch between options and values lists");
        return -1;
    }
    Ref mapping = Ref::steal(PyDict_New());
    if (!mapping) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        // Both lists are this function's own: hashing cannot change them.
        if (PyDict_SetItem(mapping.get(), PyList_GET_ITEM(options.get(), i), PyList_GET_ITEM(values.get(), i)) <
            0) {
            return -1;
        }
    }
    set_field(s->values, std::move(mapping));
    return 0;
}

int attribute_init_steps(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref defaultvalue = Ref::borrow(k.empty_str);
    Ref kw;
    if (parse_parameters(args, kwds, {k.defaultvalue}, &defaultvalue, kw) < 0) {
        return -1;
    }
    Self* s = as_self(self);
    if (read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 ||
        read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 || read_sync_keyword(kw.get(), s->sync) < 0 ||
        read_list_keyword(kw.get(), k.options, s->options) < 0) {
        return -1;
    }
    if (PyList_GET_SIZE(s->options) > 0 && build_values(s, kw.get()) < 0) {
        return -1;
    }
    if (PyDict_SetItem(kw.get(), k.allownone, Py_True) < 0) {
        return -1;
    }
    Ref base_args = Ref::steal(PyTuple_Pack(1, defaultvalue.get()));
    if (!base_args) {
        return -1;
    }
    return init_base(attribute_class.type, self, base_args.get(), kw.get());
}

int attribute_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (attribute_init_steps(self, args, kwds) < 0) {
        ATTR_TRACE(kInit);
        return -1;
    }
    return 0;
}

// ---- table entries ---------------------------------------------------------

// The owner's storage record of this property (None allowed), checked to be
// a PropertyStorage before its fields are read.
PyObject* owner_storage_record(PyObject* self, PyObject* obj) {
    if (!is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(obj)->tp_name,
                     g.EventDispatcher->tp_name);
        return nullptr;
    }
    Ref map = Ref::borrow(reinterpret_cast<contract::EventDispatcherObject*>(obj)->property_storage);
    if (!map || map.get() == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return nullptr;
    }
    PyObject* key = reinterpret_cast<contract::PropertyObject*>(self)->storage_key;
    if (!key) {
        key = Py_None;
    }
    Ref record;
    if (PyDict_CheckExact(map.get())) {
        // The plain dict the owners keep: its lookup without the subscript protocol.
        record = Ref::borrow(PyDict_GetItemWithError(map.get(), key));
        if (!record && !PyErr_Occurred()) {
            // KeyError(key) made first, so a tuple key is not taken for its arguments.
            Ref error = Ref::steal(PyObject_CallOneArg(PyExc_KeyError, key));
            if (error) {
                PyErr_SetObject(PyExc_KeyError, error.get());
            }
        }
    } else {
        record = Ref::steal(PyObject_GetItem(map.get(), key));
    }
    if (!record) {
        return nullptr;
    }
    if (record.get() != Py_None && !PyObject_TypeCheck(record.get(), g.PropertyStorage)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(record.get())->tp_name,
                     g.PropertyStorage->tp_name);
        return nullptr;
    }
    return record.release();
}

PyObject* attribute_init_storage(PyObject* self, PyObject* obj, PyObject* storage) {
    Ref result = Ref::steal(g.property_table->init_storage(self, obj, storage));
    if (result && !PyObject_TypeCheck(storage, g.PropertyStorage)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(storage)->tp_name,
                     g.PropertyStorage->tp_name);
        result.reset();
    }
    if (result) {
        // The owner's own copy; an empty one is made when first read (see
        // the storage record's layout), a slice copies an exact list without
        // the general sequence protocol.
        PyObject* options = as_self(self)->options;
        Ref copy;
        if (PyList_CheckExact(options) && PyList_GET_SIZE(options) == 0) {
            copy = Ref::steal(PyTuple_New(0));
        } else {
            copy = Ref::steal(PyList_CheckExact(options) ? PyList_GetSlice(options, 0, PyList_GET_SIZE(options))
                                                         : PySequence_List(options));
        }
        if (copy) {
            auto* record = reinterpret_cast<contract::PropertyStorageObject*>(storage);
            contract::set_record_field(record, record->options, std::move(copy));
            return none_ref();
        }
    }
    ATTR_TRACE(kInitStorage);
    return nullptr;
}

PyObject* check_steps(PyObject* self, PyObject* obj, PyObject* value) {
    Ref base = Ref::steal(g.property_table->check(self, obj, value));
    if (!base) {
        return nullptr;
    }
    const int accepted = PyObject_IsTrue(base.get());
    if (accepted < 0) {
        return nullptr;
    }
    if (accepted) {
        return new_ref(Py_True);
    }
    if (!PyUnicode_Check(value)) {
        raise_composed(obj, self, {text(" accept only str")});
        return nullptr;
    }
    Ref record = Ref::steal(owner_storage_record(self, obj));
    if (!record) {
        return nullptr;
    }
    if (record.get() == Py_None) {
        return none_ref();  // no record yet: nothing to restrict the value to
    }
    Ref options = Ref::borrow(reinterpret_cast<contract::PropertyStorageObject*>(record.get())->options);
    if (!options || options.get() == Py_None || contract::is_unmade_empty_list(options.get())) {
        return none_ref();  // nothing to restrict the value to
    }
    const int restricted = PyList_CheckExact(options.get()) ? PyList_GET_SIZE(options.get()) > 0
                                                            : PyObject_IsTrue(options.get());
    if (restricted < 0) {
        return nullptr;
    }
    if (restricted) {
        const int found = contains(options.get(), value);
        if (found < 0) {
            return nullptr;
        }
        if (!found) {
            raise_composed(obj, self,
                           {text(" is set to an invalid option "), repr(value), text(". Must be one of: "),
                            plain(options.get())});
            return nullptr;
        }
    }
    return none_ref();
}

PyObject* attribute_check(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = check_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kCheck);
    }
    return result;
}

PyObject* attribute_compare_value(PyObject*, PyObject* a, PyObject* b) {
    PyObject* result = PyObject_RichCompare(a, b, Py_EQ);
    if (!result) {
        ATTR_TRACE(kCompareValue);
    }
    return result;
}

PyObject* attribute_render(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    if (value.get() == Py_None) {
        return new_ref(k.empty_str);
    }
    Ref values = Ref::borrow(as_self(self)->values);
    if (values && PyDict_Check(values.get()) && PyDict_GET_SIZE(values.get()) > 0) {
        PyObject* sent = PyDict_GetItemWithError(values.get(), value.get());
        if (!sent) {
            if (!PyErr_Occurred()) {
                Ref key = Ref::steal(PyTuple_Pack(1, value.get()));
                if (key) {
                    PyErr_SetObject(PyExc_KeyError, key.get());
                }
            }
            return nullptr;
        }
        return new_ref(sent);
    }
    return value.release();
}

const void* build_table() {
    table.base = *g.property_table;
    table.base.init_storage = attribute_init_storage;
    table.base.compare_value = attribute_compare_value;
    table.base.check = attribute_check;
    table.attrvalue = attrvalue_entry<attribute_class, attribute_render>;
    return &table;
}

// ---- the class -------------------------------------------------------------

FieldGetter attrname_getter{offsetof(Self, attrname), "tavo.core._attributes._Attribute.attrname.__get__"};
FieldGetter attrtype_getter{offsetof(Self, attrtype), "tavo.core._attributes._Attribute.attrtype.__get__"};
FieldGetter sync_getter{offsetof(Self, sync), "tavo.core._attributes._Attribute.sync.__get__"};
FieldGetter options_getter{offsetof(Self, options), "tavo.core._attributes._Attribute.options.__get__"};
FieldGetter values_getter{offsetof(Self, values), "tavo.core._attributes._Attribute.values.__get__"};

PyGetSetDef attribute_getset[] = {
    {"attrname", get_attrname, nullptr, nullptr, &attrname_getter},
    {"attrtype", get_object_field, nullptr, nullptr, &attrtype_getter},
    {"sync", get_int_field, nullptr, nullptr, &sync_getter},
    {"options", get_object_field, nullptr, nullptr, &options_getter},
    {"values", get_object_field, nullptr, nullptr, &values_getter},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char attribute_doc[] =
    "_Attribute(defaultvalue='', *, attrtype='', attrname='', sync=0, options=[], values=[])\n--\n\n"
    "General Html attribute class with a string value.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: string, defaults to ''\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `options`: list\n"
    "        The other possible values which are accepted by the attribute instance.\n"
    "    `values`: list\n"
    "        The values sent to the front end when the property value is set to one of the options.\n"
    "        When not given, equal to `options`.\n";

PyTypeObject attribute_type = attribute_type_object({
    "tavo.core._attributes._Attribute", sizeof(Self), attribute_doc,
    attribute_new, attribute_init, attribute_traverse, attribute_clear, attribute_dealloc, attribute_getset,
});

}  // namespace

AttrClass attribute_class{
    &attribute_type,
    "_Attribute",
    "tavo.core._attributes._Attribute.attrvalue",
    "tavo.core._attributes._Attribute.__reduce__",
    "tavo.core._attributes._Attribute.__setstate__",
    build_table,
    &g.Property,
    attrvalue_entry<attribute_class, attribute_render>,
};

}  // namespace tavo::attributes
