// _BooleanAttribute and _LogicalAttribute: flag attributes. The boolean one
// renders in the presence/absence style (its page name or nothing), the
// logical one as "true", "false" or nothing for None.
#include "attributes/common.hpp"

#include <cstddef>

namespace tavo::attributes {

namespace {

using Self = FlagAttributeObject;

Self* as_self(PyObject* o) { return reinterpret_cast<Self*>(o); }

BooleanAttributeTable boolean_table;
LogicalAttributeTable logical_table;

PyObject* flag_new(PyTypeObject* type, PyObject* args, PyObject* kwds, const void* table) {
    Ref self = Ref::steal(new_with_base(g.BooleanProperty, type, args, kwds, table));
    if (self) {
        Self* s = as_self(self.get());
        s->sync = 0;
        init_empty_text(s->attrname);
        init_empty_text(s->attrtype);
    }
    return self.release();
}

// The classes' own fields are texts and an integer: only the base part holds
// references the collector must see.
int flag_traverse(PyObject* self, visitproc visit, void* arg) {
    return traverse_base(g.BooleanProperty, self, visit, arg);
}

int flag_clear(PyObject* self) {
    clear_base(g.BooleanProperty, self);
    return 0;
}

void flag_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<flag_dealloc>(self, [self] {
        Py_CLEAR(as_self(self)->attrtype);
        Py_CLEAR(as_self(self)->attrname);
        dealloc_base(g.BooleanProperty, self);
    });
}

int flag_init(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kwds, bool force_allownone,
              const char* qualname) {
    Ref kw = Ref::steal(copy_keywords(kwds));
    Self* s = as_self(self);
    if (!kw || read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 ||
        read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 || read_sync_keyword(kw.get(), s->sync) < 0 ||
        (force_allownone && PyDict_SetItem(kw.get(), k.allownone, Py_True) < 0) ||
        init_base(cls, self, args, kw.get()) < 0) {
        ATTR_TRACE(qualname);
        return -1;
    }
    return 0;
}

PyObject* render_boolean(PyObject* self, PyObject* obj) {
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
    // By name, so a subclass that redefines attrname is honoured.
    return PyObject_GetAttr(self, k.attrname);
}

PyObject* render_logical(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    if (value.get() == Py_None) {
        return new_ref(k.empty_str);
    }
    const int truth = PyObject_IsTrue(value.get());
    if (truth < 0) {
        return nullptr;
    }
    return new_ref(truth ? k.text_true : k.text_false);
}

// ---- _BooleanAttribute ---------------------------------------------------------

const void* build_boolean_table() {
    boolean_table.base = *g.boolean_table;
    boolean_table.attrvalue = attrvalue_entry<boolean_attribute_class, render_boolean>;
    return &boolean_table;
}

PyObject* boolean_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    return flag_new(type, args, kwds, &boolean_table);
}

int boolean_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return flag_init(boolean_attribute_class.type, self, args, kwds, false,
                     "tavo.core._attributes._BooleanAttribute.__init__");
}

CommonGetters<Self> boolean_getters{GETTER_NAMES("_BooleanAttribute")};

const char boolean_doc[] =
    "_BooleanAttribute(defaultvalue=False, /, *, attrtype='', attrname='', sync=0, allownone=False)\n--\n\n"
    "Html attribute class with a boolean value.\n"
    "\n"
    "Returns `attrname` when the value is true and an empty string when it is false.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: boolean, defaults to False\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n";

PyTypeObject boolean_type = attribute_type_object({
    "tavo.core._attributes._BooleanAttribute", sizeof(Self), boolean_doc,
    boolean_new, boolean_init, flag_traverse, flag_clear, flag_dealloc, boolean_getters.table,
});

// ---- _LogicalAttribute ---------------------------------------------------------

const void* build_logical_table() {
    logical_table.base = *g.boolean_table;
    logical_table.attrvalue = attrvalue_entry<logical_attribute_class, render_logical>;
    return &logical_table;
}

PyObject* logical_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    return flag_new(type, args, kwds, &logical_table);
}

int logical_init(PyObject* self, PyObject* args, PyObject* kwds) {
    return flag_init(logical_attribute_class.type, self, args, kwds, true,
                     "tavo.core._attributes._LogicalAttribute.__init__");
}

CommonGetters<Self> logical_getters{GETTER_NAMES("_LogicalAttribute")};

const char logical_doc[] =
    "_LogicalAttribute(defaultvalue=False, /, *, attrtype='', attrname='', sync=0)\n--\n\n"
    "Html attribute class with a logical value.\n"
    "\n"
    "Returns 'true' or 'false' as text, and an empty string when the value is None.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: boolean, defaults to False\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n";

PyTypeObject logical_type = attribute_type_object({
    "tavo.core._attributes._LogicalAttribute", sizeof(Self), logical_doc,
    logical_new, logical_init, flag_traverse, flag_clear, flag_dealloc, logical_getters.table,
});

}  // namespace

AttrClass boolean_attribute_class{
    &boolean_type,
    "_BooleanAttribute",
    "tavo.core._attributes._BooleanAttribute.attrvalue",
    "tavo.core._attributes._BooleanAttribute.__reduce__",
    "tavo.core._attributes._BooleanAttribute.__setstate__",
    build_boolean_table,
    &g.BooleanProperty,
    attrvalue_entry<boolean_attribute_class, render_boolean>,
};

AttrClass logical_attribute_class{
    &logical_type,
    "_LogicalAttribute",
    "tavo.core._attributes._LogicalAttribute.attrvalue",
    "tavo.core._attributes._LogicalAttribute.__reduce__",
    "tavo.core._attributes._LogicalAttribute.__setstate__",
    build_logical_table,
    &g.BooleanProperty,
    attrvalue_entry<logical_attribute_class, render_logical>,
};

}  // namespace tavo::attributes
