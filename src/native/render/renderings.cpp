// Slots, names and renderings shared by start_tag and the page (see
// renderings.hpp).
#include "render/renderings.hpp"

#include "render/names.hpp"
#include "render/style_value.hpp"
#include "render/writer.hpp"
#include "support/compat.hpp"
#include "support/text.hpp"

namespace tavo::render {

namespace {

// The tag name last found valid (held, so its identity is never reused; an
// exact str, so it keeps nothing else alive).
PyObject* last_valid_tag = nullptr;

Kind kind_of(PyObject* attrtype) {
    if (attrtype == k.style) {
        return Kind::style;
    }
    if (attrtype == k.element) {
        return Kind::element;
    }
    if (attrtype == k.klass) {
        return Kind::klass;
    }
    if (!attrtype || !PyUnicode_Check(attrtype)) {
        return Kind::none;
    }
    if (text_equal(attrtype, k.style)) {
        return Kind::style;
    }
    if (text_equal(attrtype, k.element)) {
        return Kind::element;
    }
    if (text_equal(attrtype, k.klass)) {
        return Kind::klass;
    }
    return Kind::none;
}

}  // namespace

bool named(Kind kind) { return kind == Kind::style || kind == Kind::element; }

// Add a note naming the component class and the property to the exception
// being raised.
void note_property(PyObject* component, const Entry& entry) {
    Ref note;
    {
        compat::SavedError pending;
        Ref owner = Ref::steal(PyType_GetName(Py_TYPE(component)));
        if (owner) {
            note = Ref::steal(PyUnicode_FromFormat("while rendering %U.%U", owner.get(), entry.key));
        }
    }
    if (note) {
        compat::add_note_to_raised(note.get(), k.add_note);
    }
}

namespace {

// The page name of an instance of an attribute class itself, read from its
// fields as its attrname getter does; the page name derived from `name` is
// remembered in the entry. Null without an exception when the getter must
// decide (an unnamed property, a field of another type).
PyObject* page_name_from_fields(Entry& entry, PyObject* attr) {
    PyObject* attrname = field_at(attr, entry.cls->attrname_offset);
    if (attrname && PyUnicode_CheckExact(attrname) && PyUnicode_GET_LENGTH(attrname) > 0) {
        return new_ref(attrname);
    }
    if (attrname && attrname != Py_None && !PyUnicode_CheckExact(attrname)) {
        return nullptr;
    }
    PyObject* name = reinterpret_cast<contract::PropertyObject*>(attr)->name;
    if (!name || !PyUnicode_CheckExact(name)) {
        return nullptr;
    }
    if (name != entry.name_seen) {
        Ref derived = Ref::steal(PyUnicode_Replace(name, k.underscore, k.dash, -1));
        if (!derived) {
            return nullptr;
        }
        set_field(entry.derived, std::move(derived));
        set_field(entry.name_seen, Ref::borrow(name));
    }
    return new_ref(entry.derived);
}

}  // namespace

// Where the attribute goes and its page name. -1 with an exception on failure.
int describe(Entry& entry, Slot& slot) {
    PyObject* attr = slot.attr.get();
    if (entry.exact) {
        slot.kind = kind_of(field_at(attr, entry.cls->attrtype_offset));
        if (named(slot.kind)) {
            slot.page = Ref::steal(page_name_from_fields(entry, attr));
            if (!slot.page && PyErr_Occurred()) {
                return -1;
            }
        }
    } else {
        Ref attrtype = Ref::steal(PyObject_GetAttr(attr, k.attrtype));
        if (!attrtype) {
            return -1;
        }
        slot.kind = kind_of(attrtype.get());
    }
    if (named(slot.kind) && !slot.page) {
        slot.page = Ref::steal(PyObject_GetAttr(attr, k.attrname));
        if (!slot.page) {
            return -1;
        }
    }
    return 0;
}

namespace {

bool same_as_checked(const LayoutObject* layout, Slots& slots) {
    if (!layout->checked) {
        return false;
    }
    for (Py_ssize_t i = 0; i < Py_SIZE(layout); ++i) {
        const Entry& entry = layout->entries[i];
        if (slots[i].kind != entry.checked_kind || slots[i].page.get() != entry.checked_name) {
            return false;
        }
    }
    return true;
}

// The attribute of the tag an entry gives: its page name for an element
// attribute, "style" or "class" for the others.
PyObject* tag_attribute(const Slot& slot) {
    switch (slot.kind) {
        case Kind::style:
            return k.style;
        case Kind::klass:
            return k.klass;
        default:
            return slot.page.get();
    }
}

}  // namespace

// The page names must be attribute names, and no attribute of the tag may
// come from two places: element attributes of one name, or an element
// attribute named style or class beside style or class attributes.
int check_names(PyObject* component, LayoutObject* layout, Slots& slots) {
    const Py_ssize_t count = Py_SIZE(layout);
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Slot& slot = slots[i];
        if (slot.kind == Kind::none) {
            continue;
        }
        const Entry& entry = layout->entries[i];
        if (named(slot.kind) && !valid_attribute_name(slot.page.get())) {
            Ref owner = Ref::steal(PyType_GetName(Py_TYPE(component)));
            if (owner) {
                PyErr_Format(PyExc_ValueError,
                             "%U.%U has the page name %R, which is not a valid HTML attribute name", owner.get(),
                             entry.key, slot.page.get());
            }
            return -1;
        }
        PyObject* given = tag_attribute(slot);
        for (Py_ssize_t j = 0; j < i; ++j) {
            const Slot& earlier = slots[j];
            if (earlier.kind == Kind::none || !text_equal(tag_attribute(earlier), given)) {
                continue;
            }
            if (slot.kind == Kind::element || earlier.kind == Kind::element) {
                Ref owner = Ref::steal(PyType_GetName(Py_TYPE(component)));
                if (owner) {
                    PyErr_Format(PyExc_ValueError, "%U.%U and %U.%U both give the attribute %R", owner.get(),
                                 layout->entries[j].key, owner.get(), entry.key, given);
                }
                return -1;
            }
            break;  // the first to give it was accepted
        }
    }
    // Remembered only when every name is an exact str: the layouts are kept
    // for as long as their classes, unseen by the collector, and an instance
    // of a str subclass could refer back to the class through its namespace.
    bool exact = true;
    for (Py_ssize_t i = 0; i < count; ++i) {
        Entry& entry = layout->entries[i];
        PyObject* page = slots[i].page.get();
        exact = exact && (!page || PyUnicode_CheckExact(page));
        set_field(entry.checked_name, exact ? Ref::borrow(page) : Ref());
        entry.checked_kind = slots[i].kind;
    }
    layout->checked = exact;
    return 0;
}

namespace {

// A style rendering that would leave its declaration (`fault` says how): a
// ValueError naming the component class and the property.
void refuse_style_value(const Entry& entry, PyObject* component, PyObject* text, const char* fault) {
    Ref owner = Ref::steal(PyType_GetName(Py_TYPE(component)));
    if (owner) {
        PyErr_Format(PyExc_ValueError,
                     "%U.%U gives the style value %R, which holds %s: a style value holds ;, { and } only inside "
                     "quotes or brackets, closes its quotes and brackets, and holds no comment",
                     owner.get(), entry.key, text, fault);
    }
}

}  // namespace

// The rendering's text, null when it is None or empty. -1 with an exception.
int render(const Entry& entry, PyObject* component, Slot& slot) {
    Ref value = Ref::steal(entry.cls->attrvalue(slot.attr.get(), component, entry.exact));
    if (!value) {
        return -1;
    }
    if (value.get() == Py_None) {
        return 0;
    }
    if (!PyUnicode_Check(value.get())) {
        value = Ref::steal(PyObject_Str(value.get()));
        if (!value) {
            return -1;
        }
    }
    if (PyUnicode_GET_LENGTH(value.get()) > 0) {
        if (slot.kind == Kind::style) {
            if (const char* fault = style_value_fault(value.get())) {
                refuse_style_value(entry, component, value.get(), fault);
                return -1;
            }
        }
        slot.text = std::move(value);
    }
    return 0;
}


namespace {

// The tag's text from the slots, written by `pieces` (a Pieces or an AsciiTag).
template <typename Writer>
PyObject* write_tag_into(Writer& pieces, PyObject* tag, const LayoutObject* layout, Slots& slots, PyObject* id_name,
                         PyObject* id_value) {
    const Py_ssize_t count = Py_SIZE(layout);
    bool style_done = false;
    bool class_done = false;
    if (pieces.add(k.open) < 0 || pieces.add(tag) < 0) {
        return nullptr;
    }
    if (id_name && (pieces.add(k.space) < 0 || pieces.add(id_name) < 0 || pieces.add(k.equals_quote) < 0 ||
                    pieces.add(id_value, true) < 0 || pieces.add(k.quote) < 0)) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        Slot& slot = slots[i];
        if (!slot.text) {
            continue;
        }
        if (slot.kind == Kind::element) {
            if (pieces.add(k.space) < 0 || pieces.add(slot.page.get()) < 0) {
                return nullptr;
            }
            if (!layout->entries[i].cls->boolean &&
                (pieces.add(k.equals_quote) < 0 || pieces.add(slot.text.get(), true) < 0 ||
                 pieces.add(k.quote) < 0)) {
                return nullptr;
            }
        } else if (slot.kind == Kind::style && !style_done) {
            style_done = true;
            if (pieces.add(k.style_open) < 0) {
                return nullptr;
            }
            for (Py_ssize_t j = i; j < count; ++j) {
                const Slot& other = slots[j];
                if (other.kind != Kind::style || !other.text) {
                    continue;
                }
                if ((j > i && pieces.add(k.semicolon_space) < 0) || pieces.add(other.page.get(), true) < 0 ||
                    pieces.add(k.colon_space) < 0 || pieces.add(other.text.get(), true) < 0) {
                    return nullptr;
                }
            }
            if (pieces.add(k.quote) < 0) {
                return nullptr;
            }
        } else if (slot.kind == Kind::klass && !class_done) {
            // The first class rendering that holds an item places the attribute.
            if (class_items(slot.text.get(), [](Py_ssize_t, Py_ssize_t) { return 0; }) == 0) {
                continue;
            }
            class_done = true;
            if (pieces.add(k.class_open) < 0) {
                return nullptr;
            }
            bool first = true;
            for (Py_ssize_t j = i; j < count; ++j) {
                const Slot& other = slots[j];
                if (other.kind != Kind::klass || !other.text) {
                    continue;
                }
                PyObject* text = other.text.get();
                auto add_item = [&](Py_ssize_t start, Py_ssize_t end) {
                    if (!first && pieces.add(k.space) < 0) {
                        return -1;
                    }
                    first = false;
                    return pieces.add(text, start, end, true);
                };
                if (class_items(text, add_item) < 0) {
                    return nullptr;
                }
            }
            if (pieces.add(k.quote) < 0) {
                return nullptr;
            }
        }
    }
    if (pieces.add(k.close) < 0) {
        return nullptr;
    }
    return pieces.build();
}

}  // namespace

// In one pass while every text is ASCII; else measured first, then written.
PyObject* write_tag(PyObject* tag, const LayoutObject* layout, Slots& slots, PyObject* id_name, PyObject* id_value) {
    {
        AsciiTag ascii;
        PyObject* result = write_tag_into(ascii, tag, layout, slots, id_name, id_value);
        if (result || !ascii.not_ascii()) {
            return result;
        }
    }
    Pieces pieces;
    return write_tag_into(pieces, tag, layout, slots, id_name, id_value);
}

int check_arguments(PyObject* component, PyObject* tag) {
    if (!PyObject_TypeCheck(component, event_dispatcher)) {
        PyErr_Format(PyExc_TypeError, "start_tag() argument 1 must be an EventDispatcher, not %.200s",
                     Py_TYPE(component)->tp_name);
        return -1;
    }
    if (!PyUnicode_Check(tag)) {
        PyErr_Format(PyExc_TypeError, "start_tag() argument 2 must be str, not %.200s", Py_TYPE(tag)->tp_name);
        return -1;
    }
    if (tag != last_valid_tag) {
        if (!valid_tag_name(tag)) {
            PyErr_Format(PyExc_ValueError, "not a valid tag name: %R", tag);
            return -1;
        }
        // Kept for good: only an exact str, which refers to nothing.
        if (PyUnicode_CheckExact(tag)) {
            set_field(last_valid_tag, Ref::borrow(tag));
        }
    }
    return 0;
}

int fill_slots(PyObject* component, LayoutObject* layout, const Ref& held, Slots& slots) {
    const Py_ssize_t count = Py_SIZE(layout);
    // No code has run since the layout was found current: its borrowed
    // attribute objects are alive. Held from here on.
    for (Py_ssize_t i = 0; i < count; ++i) {
        slots[i].attr = Ref::borrow(held ? PyList_GET_ITEM(held.get(), i) : layout->entries[i].attr);
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (describe(layout->entries[i], slots[i]) < 0) {
            note_property(component, layout->entries[i]);
            return -1;
        }
    }
    if (!same_as_checked(layout, slots) && check_names(component, layout, slots) < 0) {
        return -1;
    }
    return 0;
}

}  // namespace tavo::render
