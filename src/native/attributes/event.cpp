// _GenericEventAttribute: an HTML event attribute such as onclick. It
// registers its client event on every owner and, while its value is true,
// renders the handler code: a fixed text or what a renderer returns.
#include "attributes/common.hpp"

#include <cstddef>

namespace tavo::attributes {

namespace {

using Self = GenericEventAttributeObject;
constexpr const char* kCinit = "tavo.core._attributes._GenericEventAttribute.__cinit__";
constexpr const char* kInit = "tavo.core._attributes._GenericEventAttribute.__init__";
constexpr const char* kInitStorage = "tavo.core._attributes._GenericEventAttribute.init_storage";

Self* as_self(PyObject* o) { return reinterpret_cast<Self*>(o); }

GenericEventAttributeTable table;

PyObject* event_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    Ref self = Ref::steal(new_with_base(g.BooleanProperty, type, args, kwds, &table));
    if (!self) {
        return nullptr;
    }
    Self* s = as_self(self.get());
    init_empty_text(s->attrtype);
    s->sync = 0;
    s->dispatch = new_ref(Py_True);
    s->eventhandler = none_ref();
    s->prevent_default = none_ref();
    if (init_new_dict(s->eventargs) < 0) {
        ATTR_TRACE(kCinit);
        return nullptr;
    }
    init_empty_text(s->eventjs);
    init_empty_text(s->attrname);
    return self.release();
}

int event_traverse(PyObject* self, visitproc visit, void* arg) {
    if (int status = traverse_base(g.BooleanProperty, self, visit, arg)) {
        return status;
    }
    Self* s = as_self(self);
    Py_VISIT(s->eventhandler);
    Py_VISIT(s->prevent_default);
    Py_VISIT(s->dispatch);
    Py_VISIT(s->eventargs);
    return 0;
}

int event_clear(PyObject* self) {
    clear_base(g.BooleanProperty, self);
    Self* s = as_self(self);
    set_field(s->eventhandler, Ref::borrow(Py_None));
    set_field(s->prevent_default, Ref::borrow(Py_None));
    set_field(s->dispatch, Ref::borrow(Py_None));
    set_field(s->eventargs, Ref::borrow(Py_None));
    return 0;
}

void event_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<event_dealloc>(self, [self] {
        Self* s = as_self(self);
        Py_CLEAR(s->attrtype);
        Py_CLEAR(s->attrname);
        Py_CLEAR(s->eventhandler);
        Py_CLEAR(s->prevent_default);
        Py_CLEAR(s->dispatch);
        Py_CLEAR(s->eventargs);
        Py_CLEAR(s->eventjs);
        dealloc_base(g.BooleanProperty, self);
    });
}

// True or False by the truth of `value`.
int store_truth(PyObject*& field, PyObject* value) {
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) {
        return -1;
    }
    set_field(field, Ref::borrow(truth ? Py_True : Py_False));
    return 0;
}

int init_steps(PyObject* self, PyObject* args, PyObject* kwds) {
    enum { Default, Handler, PreventDefault, EventArgs, EventJs, Dispatch, Count };
    Ref params[Count] = {
        Ref::borrow(Py_False), Ref::borrow(Py_None), Ref::borrow(Py_False),
        Ref::borrow(Py_None),  Ref::borrow(k.empty_str), Ref::borrow(Py_True),
    };
    Ref kw;
    if (parse_parameters(args, kwds,
                         {k.defaultvalue, k.eventhandler, k.prevent_default, k.eventargs, k.eventjs, k.dispatch},
                         params, kw) < 0) {
        return -1;
    }
    Self* s = as_self(self);
    if (read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 ||
        read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 || read_sync_keyword(kw.get(), s->sync) < 0 ||
        store_truth(s->prevent_default, params[PreventDefault].get()) < 0 ||
        store_truth(s->dispatch, params[Dispatch].get()) < 0) {
        return -1;
    }
    set_field(s->eventhandler, params[Handler]);
    const int has_args = PyObject_IsTrue(params[EventArgs].get());
    if (has_args < 0) {
        return -1;
    }
    Ref eventargs = has_args ? params[EventArgs] : Ref::steal(PyDict_New());
    if (!eventargs) {
        return -1;
    }
    set_field(s->eventargs, std::move(eventargs));
    // Kept as an exact str: the field is not visited by the collector, and
    // an instance of a str subclass could close a cycle through its namespace.
    PyObject* js = params[EventJs].get();
    Ref eventjs = PyUnicode_CheckExact(js) ? params[EventJs] : Ref::steal(PyObject_Str(js));
    if (eventjs && !PyUnicode_CheckExact(eventjs.get())) {
        eventjs = Ref::steal(PyUnicode_FromObject(eventjs.get()));
    }
    if (!eventjs) {
        return -1;
    }
    set_field(s->eventjs, std::move(eventjs));
    if (PyDict_SetItem(kw.get(), k.allownone, Py_True) < 0) {
        return -1;
    }
    Ref base_args = Ref::steal(PyTuple_Pack(1, params[Default].get()));
    if (!base_args) {
        return -1;
    }
    return init_base(generic_event_attribute_class.type, self, base_args.get(), kw.get());
}

int event_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (init_steps(self, args, kwds) < 0) {
        ATTR_TRACE(kInit);
        return -1;
    }
    return 0;
}

// The page name of an instance of this class itself (no subclass can
// replace its attrname), read from the fields as the getter reads them; null
// without an error where the getter must decide (a field of another type).
PyObject* own_page_name(PyObject* self) {
    if (Py_TYPE(self) != generic_event_attribute_class.type) {
        return nullptr;
    }
    PyObject* attrname = as_self(self)->attrname;
    PyObject* name = reinterpret_cast<contract::PropertyObject*>(self)->name;
    if (attrname && PyUnicode_CheckExact(attrname) && PyUnicode_GET_LENGTH(attrname) > 0) {
        return new_ref(attrname);
    }
    if ((attrname && attrname != Py_None && !PyUnicode_CheckExact(attrname)) || !name ||
        !PyUnicode_CheckExact(name)) {
        return nullptr;
    }
    return resolved_attrname(Py_None, name);
}

// "on_" followed by the page name from its third character on.
PyObject* event_name(PyObject* self) {
    Ref page_name = Ref::steal(own_page_name(self));
    if (!page_name) {
        if (PyErr_Occurred()) {
            return nullptr;
        }
        page_name = Ref::steal(PyObject_GetAttr(self, k.attrname));
    }
    if (!page_name) {
        return nullptr;
    }
    Ref tail;
    if (PyUnicode_CheckExact(page_name.get())) {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(page_name.get());
        tail = Ref::steal(PyUnicode_Substring(page_name.get(), length < 2 ? length : 2, length));
    } else if (Py_TYPE(page_name.get())->tp_as_mapping && Py_TYPE(page_name.get())->tp_as_mapping->mp_subscript) {
        tail = Ref::steal(PyObject_GetItem(page_name.get(), k.slice_from_2));
    } else {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is unsliceable", Py_TYPE(page_name.get())->tp_name);
        return nullptr;
    }
    if (!tail) {
        return nullptr;
    }
    Ref tail_text = Ref::steal(PyObject_Format(tail.get(), k.empty_str));
    if (!tail_text) {
        return nullptr;
    }
    return PyUnicode_Concat(k.on_prefix, tail_text.get());
}

PyObject* init_storage_steps(PyObject* self, PyObject* obj, PyObject* storage) {
    Ref base = Ref::steal(g.boolean_table->base.init_storage(self, obj, storage));
    if (!base) {
        return nullptr;
    }
    Ref name = Ref::steal(event_name(self));
    if (!name) {
        return nullptr;
    }
    PyObject* call_args[] = {obj, name.get(), Py_True};
    Ref registered = Ref::steal(PyObject_VectorcallMethod(
        k.register_event, call_args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, k.kwnames_client));
    if (!registered) {
        return nullptr;
    }
    return none_ref();
}

PyObject* event_init_storage(PyObject* self, PyObject* obj, PyObject* storage) {
    PyObject* result = init_storage_steps(self, obj, storage);
    if (!result) {
        ATTR_TRACE(kInitStorage);
    }
    return result;
}

PyObject* render(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    const int active = PyObject_IsTrue(value.get());
    if (active < 0) {
        return nullptr;
    }
    if (!active) {
        return new_ref(k.empty_str);
    }
    Self* s = as_self(self);
    Ref handler = Ref::borrow(s->eventhandler);
    if (!handler || handler.get() == Py_None) {
        return new_ref(k.empty_str);
    }
    if (PyUnicode_Check(handler.get())) {
        return handler.release();
    }
    if (PyCallable_Check(handler.get())) {
        Ref name = Ref::steal(event_name(self));
        if (!name) {
            return nullptr;
        }
        // Own references: the renderer may run code that re-initialises the attribute.
        Ref prevent_default = Ref::borrow(s->prevent_default);
        Ref eventargs = Ref::borrow(s->eventargs);
        Ref eventjs = Ref::borrow(s->eventjs);
        Ref dispatch = Ref::borrow(s->dispatch);
        PyObject* call_args[] = {obj, name.get(), prevent_default.get(), eventargs.get(), eventjs.get(),
                                 dispatch.get()};
        return PyObject_Vectorcall(handler.get(), call_args, 2, k.kwnames_renderer);
    }
    Ref type_text = Ref::steal(PyObject_Format(reinterpret_cast<PyObject*>(Py_TYPE(handler.get())), k.empty_str));
    if (type_text) {
        PyErr_Format(PyExc_AttributeError, "renderer must be of callable type or string, got %U", type_text.get());
    }
    return nullptr;
}

const void* build_table() {
    table.base = *g.boolean_table;
    table.base.base.init_storage = event_init_storage;
    table.attrvalue = attrvalue_entry<generic_event_attribute_class, render>;
    return &table;
}

// ---- the class -------------------------------------------------------------

CommonGetters<Self> getters{GETTER_NAMES("_GenericEventAttribute")};

const char event_doc[] =
    "_GenericEventAttribute(defaultvalue=False, eventhandler=None, prevent_default=False, "
    "eventargs=None, eventjs='', dispatch=True, *, attrtype='', attrname='', sync=0)\n--\n\n"
    "An event attribute class like `onclick` for the button input element.\n"
    "Event attributes can be activated/deactivated  by setting them to True/False.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: string, defaults to ''\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `remdispatch`: boolean\n"
    "        If True, prevents dispatching of the client event.\n"
    "    `event_handler`: callable\n"
    "        Callable which returns the handler script code.\n"
    "    `event_args`: dict\n"
    "        Dictionary with event arguments.\n"
    "    'event_js': string\n"
    "        Script code to be called when the event is activated.\n";

PyTypeObject event_type = attribute_type_object({
    "tavo.core._attributes._GenericEventAttribute", sizeof(Self), event_doc,
    event_new, event_init, event_traverse, event_clear, event_dealloc, getters.table,
});

}  // namespace

AttrClass generic_event_attribute_class{
    &event_type,
    "_GenericEventAttribute",
    "tavo.core._attributes._GenericEventAttribute.attrvalue",
    "tavo.core._attributes._GenericEventAttribute.__reduce__",
    "tavo.core._attributes._GenericEventAttribute.__setstate__",
    build_table,
    &g.BooleanProperty,
    attrvalue_entry<generic_event_attribute_class, render>,
};

}  // namespace tavo::attributes
