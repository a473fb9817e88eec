// _ColorAttribute: a colour as a list of three or four components, parsed
// from colour texts, rendered as CSS rgb()/rgba() or as a plain list whose
// channels are scaled to 0..1.
#include "attributes/common.hpp"
#include "attributes/number_text.hpp"
#include "support/text.hpp"

#include <array>
#include <cstddef>

namespace tavo::attributes {

namespace {

using Self = ColorAttributeObject;
constexpr const char* kInit = "tavo.core._attributes._ColorAttribute.__init__";
constexpr const char* kConvert = "tavo.core._attributes._ColorAttribute.convert";
constexpr const char* kParseStr = "tavo.core._attributes._ColorAttribute.parse_str";

Self* as_self(PyObject* o) { return reinterpret_cast<Self*>(o); }

ColorAttributeTable table;
GlobalName hex_parser_name{&k.get_color_from_hex_255};

PyObject* color_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    Ref self = Ref::steal(new_with_base(g.Property, type, args, kwds, &table));
    if (!self) {
        return nullptr;
    }
    Self* s = as_self(self.get());
    if (init_new_list(s->options) < 0) {
        return nullptr;
    }
    s->sync = 0;
    init_empty_text(s->attrname);
    init_empty_text(s->format);
    init_empty_text(s->attrtype);
    return self.release();
}

int color_traverse(PyObject* self, visitproc visit, void* arg) {
    if (int status = traverse_base(g.Property, self, visit, arg)) {
        return status;
    }
    Py_VISIT(as_self(self)->options);
    return 0;
}

int color_clear(PyObject* self) {
    clear_base(g.Property, self);
    set_field(as_self(self)->options, Ref::borrow(Py_None));
    return 0;
}

void color_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<color_dealloc>(self, [self] {
        Self* s = as_self(self);
        Py_CLEAR(s->attrtype);
        Py_CLEAR(s->attrname);
        Py_CLEAR(s->format);
        Py_CLEAR(s->options);
        dealloc_base(g.Property, self);
    });
}

int init_steps(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref defaultvalue = Ref::borrow(Py_None);
    Ref kw;
    if (parse_parameters(args, kwds, {k.defaultvalue}, &defaultvalue, kw) < 0) {
        return -1;
    }
    Self* s = as_self(self);
    if (read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 ||
        read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 ||
        read_text_keyword(kw.get(), k.format, s->format) < 0 || read_sync_keyword(kw.get(), s->sync) < 0 ||
        read_list_keyword(kw.get(), k.options, s->options) < 0 ||
        PyDict_SetItem(kw.get(), k.allownone, Py_True) < 0) {
        return -1;
    }
    Ref base_args = Ref::steal(PyTuple_Pack(1, defaultvalue.get()));
    if (!base_args) {
        return -1;
    }
    return init_base(color_attribute_class.type, self, base_args.get(), kw.get());
}

int color_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (init_steps(self, args, kwds) < 0) {
        ATTR_TRACE(kInit);
        return -1;
    }
    return 0;
}

// ---- table entries ---------------------------------------------------------

PyObject* convert_steps(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None) {
        return none_ref();
    }
    PyObject* options = as_self(self)->options;
    const int option = options && options != Py_None ? contains(options, value) : 0;
    if (option < 0) {
        return nullptr;
    }
    if (option) {
        return new_ref(value);
    }
    if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(value);
        if (n == 3 || n == 4) {
            // A new list of the same items; slicing copies them directly.
            return PyList_CheckExact(value) ? PyList_GetSlice(value, 0, n) : PySequence_List(value);
        }
        raise_composed(obj, self, {text(" must have 3 or 4 components (got "), repr(value), text(")")});
        return nullptr;
    }
    if (PyUnicode_Check(value)) {
        // Through the object's own table, so a native subclass's parser is used.
        const auto* own = reinterpret_cast<const ColorAttributeTable*>(
            reinterpret_cast<contract::PropertyObject*>(self)->vtab);
        return own->parse_str(self, obj, value);
    }
    raise_composed(obj, self, {text(" has an invalid format (got "), repr(value), text(")")});
    return nullptr;
}

PyObject* color_convert(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = convert_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kConvert);
    }
    return result;
}

PyObject* parse_str(PyObject*, PyObject*, PyObject* text_value) {
    Ref parser = Ref::steal(module_global(hex_parser_name));
    Ref result;
    if (parser) {
        result = Ref::steal(PyObject_CallOneArg(parser.get(), text_value));
    }
    if (result && result.get() != Py_None && !PyList_CheckExact(result.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "list", Py_TYPE(result.get())->tp_name);
        result.reset();
    }
    if (!result) {
        ATTR_TRACE(kParseStr);
    }
    return result.release();
}

// "rgb(a, b, c)" / "rgba(a, b, c, d)" with the stored items as they are.
PyObject* render_css(PyObject* value, Py_ssize_t fields) {
    Ref items = Ref::steal(PySequence_Tuple(value));
    if (!items) {
        return nullptr;
    }
    if (PyTuple_GET_SIZE(items.get()) < fields) {
        PyErr_Format(PyExc_IndexError, "Replacement index %zd out of range for positional args tuple",
                     PyTuple_GET_SIZE(items.get()));
        return nullptr;
    }
    std::array<Ref, 9> pieces;
    pieces[0] = Ref::borrow(fields == 3 ? k.rgb_open : k.rgba_open);
    Py_ssize_t count = 1;
    for (Py_ssize_t i = 0; i < fields; ++i) {
        if (i > 0) {
            pieces[count++] = Ref::borrow(k.comma_space);
        }
        pieces[count] = Ref::steal(default_text(PyTuple_GET_ITEM(items.get(), i)));
        if (!pieces[count++]) {
            return nullptr;
        }
    }
    pieces[count++] = Ref::borrow(k.close_paren);
    std::array<PyObject*, 9> raw{};
    for (Py_ssize_t i = 0; i < count; ++i) {
        raw[i] = pieces[i].get();
    }
    return join_texts(k.empty_str, raw.data(), count);
}

// "r, g, b" or "r, g, b, a": the channels divided by 255, alpha as it is.
// Every item is read, and each channel divided, before any is formatted, as
// when the items are the arguments of a format call: a later item that is
// missing or cannot be divided is reported before an earlier quotient whose
// formatting fails.
PyObject* render_plain(PyObject* value, Py_ssize_t fields) {
    std::array<Ref, 4> parts;
    for (Py_ssize_t i = 0; i < fields; ++i) {
        parts[i] = Ref::steal(item_at(value, i));
        if (!parts[i]) {
            return nullptr;
        }
        if (i < 3) {
            parts[i] = Ref::steal(PyNumber_TrueDivide(parts[i].get(), k.int_255));
            if (!parts[i]) {
                return nullptr;
            }
        }
    }
    std::array<PyObject*, 4> raw{};
    for (Py_ssize_t i = 0; i < fields; ++i) {
        parts[i] = Ref::steal(default_text(parts[i].get()));
        if (!parts[i]) {
            return nullptr;
        }
        raw[i] = parts[i].get();
    }
    return join_texts(k.comma_space, raw.data(), fields);
}

PyObject* render(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    if (value.get() == Py_None) {
        return new_ref(k.empty_str);
    }
    if (PyUnicode_Check(value.get())) {
        return value.release();
    }
    const Py_ssize_t n = PyObject_Length(value.get());
    if (n < 0) {
        return nullptr;
    }
    Ref format = Ref::borrow(as_self(self)->format);
    const int css = format ? PyObject_RichCompareBool(format.get(), k.css, Py_EQ) : 0;
    if (css < 0) {
        return nullptr;
    }
    const Py_ssize_t fields = n == 3 ? 3 : 4;
    return css ? render_css(value.get(), fields) : render_plain(value.get(), fields);
}

const void* build_table() {
    table.base = *g.property_table;
    table.base.convert = color_convert;
    table.attrvalue = attrvalue_entry<color_attribute_class, render>;
    table.parse_str = parse_str;
    return &table;
}

// ---- the class -------------------------------------------------------------

CommonGetters<Self> getters{GETTER_NAMES("_ColorAttribute")};

const char color_doc[] =
    "_ColorAttribute(defaultvalue=None, *, attrtype='', attrname='', format='', sync=0, options=[])\n--\n\n"
    "A ListAttribute with 3 or 4 elements with RGB or RGBA color values.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: list, defaults to None\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `options`: list of strings\n"
    "        The other possible values which are accepted by the attribute instance, e.g. 'inherit'.\n"
    "    `format`: 'css' or empty string (the default)\n"
    "        With 'css' the value is rendered as a css color with the `rgb` or `rgba` prefix.\n";

PyTypeObject color_type = attribute_type_object({
    "tavo.core._attributes._ColorAttribute", sizeof(Self), color_doc,
    color_new, color_init, color_traverse, color_clear, color_dealloc, getters.table,
});

}  // namespace

AttrClass color_attribute_class{
    &color_type,
    "_ColorAttribute",
    "tavo.core._attributes._ColorAttribute.attrvalue",
    "tavo.core._attributes._ColorAttribute.__reduce__",
    "tavo.core._attributes._ColorAttribute.__setstate__",
    build_table,
    &g.Property,
    attrvalue_entry<color_attribute_class, render>,
};

}  // namespace tavo::attributes
