// Page: the components shown in one browser page, the start tags that put
// them there, and the updates of their elements since the last collection.
//
// Each element keeps what the browser was last sent of its synced attributes
// (style and class attributes always, element attributes whose sync is
// non-zero): the tag attribute texts by name, and the last rendering of each
// style and class attribute, so that a change of one attribute renders that
// one only and rebuilds `style` or `class` from the kept pieces. The property
// system records changes where values are stored (contract/page.hpp); a
// collection walks the page's queue of changed elements only.
//
// A collection renders everything first and changes nothing until every
// rendering has succeeded: on an error, every change stays pending. Code run
// by a rendering cannot change the page (its methods refuse while a
// collection runs); a change it makes is recorded for the next collection.
//
// The page holds its elements, each element its component, and the component
// its element (its page entry). Elements do not hold the page: their queue
// pointer is cleared by the page when it closes, which it does at the latest
// when it goes, releasing its components.
#include "render/page.hpp"

#include "contract/page.hpp"
#include "render/names.hpp"
#include "render/renderings.hpp"
#include "render/writer.hpp"
#include "support/compat.hpp"
#include "support/text.hpp"

#include <climits>
#include <cstdint>
#include <new>
#include <vector>

namespace tavo::render {

namespace {

PyTypeObject element_type = static_type_base();
PyTypeObject page_type = static_type_base();
PyTypeObject* update_type = nullptr;  // a struct sequence, made at import and kept

struct ElementObject {
    contract::PageEntryObject base;
    PyObject* component;  // held while the page is open
    PyObject* id;         // the element's identifier in the page
    PyObject* layout;     // the layout `pieces` follows (held)
    PyObject* pieces;     // list: per layout entry, the last rendering of a style or class attribute, or None
    PyObject* sent;       // dict: tag attribute name -> the text the browser was sent
    std::uint64_t taken;  // the changes the running collection took
    bool full;            // the next collection renders every synced attribute
};

struct PageObject {
    PyObject_HEAD
    contract::ChangeQueue queue;
    PyObject* id_attribute;  // the name of the identifier attribute
    ElementObject** elements;  // held; element i has the identifier str(i + 1)
    Py_ssize_t count;
    Py_ssize_t capacity;
    bool closed;
    bool collecting;
    PyObject* weakreflist;
};

ElementObject* as_element(PyObject* o) { return reinterpret_cast<ElementObject*>(o); }
PageObject* as_page(PyObject* o) { return reinterpret_cast<PageObject*>(o); }

// ---- what is sent -----------------------------------------------------------------

// The kind under which an attribute is sent, Kind::none when it is not:
// style and class attributes always, element attributes when their sync is
// non-zero. -1 with an exception.
int sent_kind(const Entry& entry, Slot& slot) {
    Kind& kind = slot.sent;
    kind = slot.kind;
    if (kind != Kind::element) {
        return 0;
    }
    int sync = 0;
    if (entry.exact) {
        sync = *reinterpret_cast<const int*>(reinterpret_cast<const char*>(slot.attr.get()) + entry.cls->sync_offset);
    } else {
        Ref value = Ref::steal(PyObject_GetAttr(slot.attr.get(), k.sync));
        sync = value ? PyObject_IsTrue(value.get()) : -1;
        if (sync < 0) {
            return -1;
        }
    }
    if (!sync) {
        kind = Kind::none;
    }
    return 0;
}

// The `style` text of the style renderings in `pieces`, as start_tag writes
// it (unescaped); null without an exception when there is none.
int compose_style(const LayoutObject* layout, Slots& slots, PyObject* pieces, Ref& out) {
    Pieces text;
    bool first = true;
    for (Py_ssize_t i = 0; i < Py_SIZE(layout); ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces, i);
        if (slots[i].sent != Kind::style || piece == Py_None) {
            continue;
        }
        if ((!first && text.add(k.semicolon_space) < 0) || text.add(slots[i].page.get()) < 0 ||
            text.add(k.colon_space) < 0 || text.add(piece) < 0) {
            return -1;
        }
        first = false;
    }
    if (first) {
        out = Ref();
        return 0;
    }
    out = Ref::steal(text.build());
    return out ? 0 : -1;
}

// The `class` text: the items of the class renderings joined by spaces;
// null without an exception when there is no item.
int compose_class(const LayoutObject* layout, Slots& slots, PyObject* pieces, Ref& out) {
    Pieces text;
    bool first = true;
    for (Py_ssize_t i = 0; i < Py_SIZE(layout); ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces, i);
        if (slots[i].sent != Kind::klass || piece == Py_None) {
            continue;
        }
        auto add_item = [&](Py_ssize_t start, Py_ssize_t end) {
            if (!first && text.add(k.space) < 0) {
                return -1;
            }
            first = false;
            return text.add(piece, start, end, false);
        };
        if (class_items(piece, add_item) < 0) {
            return -1;
        }
    }
    if (first) {
        out = Ref();
        return 0;
    }
    out = Ref::steal(text.build());
    return out ? 0 : -1;
}

// What one element's collection gives, applied only once every element's
// collection has succeeded.
struct Outcome {
    Ref element;
    Ref layout;
    Ref pieces;
    Ref keys;  // null: unchanged
    std::uint64_t sent_bits = 0;  // with keys
    Ref sent;  // null: unchanged
    Ref set;   // dict: attribute -> text, for the update
    Ref remove;  // list of attribute names, for the update
};

// Compare (name, text) with what the browser was sent; a null text: the
// attribute is absent. Adds to the update's `set` or `remove`.
int compare_sent(PyObject* sent, PyObject* name, PyObject* text, Outcome& out) {
    PyObject* old = PyDict_GetItemWithError(sent, name);
    if (!old && PyErr_Occurred()) {
        return -1;
    }
    if (!text) {
        return old ? PyList_Append(out.remove.get(), name) : 0;
    }
    if (old && text_equal(old, text)) {
        return 0;
    }
    return PyDict_SetItem(out.set.get(), name, text);
}

// The element's state after its renderings, compared with `sent` (held by
// the caller): the slots marked fresh hold a new rendering (the others keep
// their last piece); `full` compares every attribute the element
// sends now, and every one it was sent.
int compose(ElementObject* el, PyObject* sent, LayoutObject* layout, Slots& slots, bool full, Outcome& out) {
    const Py_ssize_t count = Py_SIZE(layout);
    out.set = Ref::steal(PyDict_New());
    out.remove = Ref::steal(PyList_New(0));
    out.pieces = Ref::steal(PyList_New(count));
    if (!out.set || !out.remove || !out.pieces) {
        return -1;
    }
    const bool same_layout = el->layout == reinterpret_cast<PyObject*>(layout) && el->pieces;
    bool style_changed = full;
    bool class_changed = full;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* piece = Py_None;
        const Kind kind = slots[i].sent;
        if (kind == Kind::style || kind == Kind::klass) {
            if (slots[i].fresh) {
                piece = slots[i].text ? slots[i].text.get() : Py_None;
                (kind == Kind::style ? style_changed : class_changed) = true;
            } else if (same_layout) {
                piece = PyList_GET_ITEM(el->pieces, i);
            }
        }
        PyList_SET_ITEM(out.pieces.get(), i, new_ref(piece));
    }
    Ref names;  // the attributes the element sends now (full only)
    if (full && !(names = Ref::steal(PySet_New(nullptr)))) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (slots[i].sent != Kind::element || !slots[i].fresh) {
            continue;
        }
        PyObject* text = slots[i].text.get();
        if (text && layout->entries[i].cls->boolean) {
            text = k.empty;  // set as its bare name
        }
        if (compare_sent(sent, slots[i].page.get(), text, out) < 0 ||
            (names && PySet_Add(names.get(), slots[i].page.get()) < 0)) {
            return -1;
        }
    }
    if (style_changed) {
        Ref style;
        if (compose_style(layout, slots, out.pieces.get(), style) < 0 ||
            compare_sent(sent, k.style, style.get(), out) < 0 || (names && PySet_Add(names.get(), k.style) < 0)) {
            return -1;
        }
    }
    if (class_changed) {
        Ref klass;
        if (compose_class(layout, slots, out.pieces.get(), klass) < 0 ||
            compare_sent(sent, k.klass, klass.get(), out) < 0 || (names && PySet_Add(names.get(), k.klass) < 0)) {
            return -1;
        }
    }
    if (names) {
        // Sent before and given by no attribute the element sends now.
        PyObject* name = nullptr;
        PyObject* text = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(sent, &pos, &name, &text)) {
            const int given = PySet_Contains(names.get(), name);
            if (given < 0 || (!given && PyList_Append(out.remove.get(), name) < 0)) {
                return -1;
            }
        }
    }
    if (PyDict_GET_SIZE(out.set.get()) > 0 || PyList_GET_SIZE(out.remove.get()) > 0) {
        out.sent = Ref::steal(PyDict_Copy(sent));
        if (!out.sent) {
            return -1;
        }
        PyObject* name = nullptr;
        PyObject* text = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(out.set.get(), &pos, &name, &text)) {
            if (PyDict_SetItem(out.sent.get(), name, text) < 0) {
                return -1;
            }
        }
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(out.remove.get()); ++i) {
            if (PyDict_DelItem(out.sent.get(), PyList_GET_ITEM(out.remove.get(), i)) < 0) {
                return -1;
            }
        }
    }
    out.layout = Ref::borrow(reinterpret_cast<PyObject*>(layout));
    if (full) {
        // The keys whose changes are recorded, and which of them are sent.
        out.keys = Ref::steal(PyTuple_New(count));
        if (!out.keys) {
            return -1;
        }
        out.sent_bits = 0;
        for (Py_ssize_t i = 0; i < count; ++i) {
            auto* property = reinterpret_cast<contract::PropertyObject*>(slots[i].attr.get());
            PyTuple_SET_ITEM(out.keys.get(), i, new_ref(property->storage_key ? property->storage_key : Py_None));
            property->page_index = static_cast<int>(i < INT_MAX ? i : 0);
            if (slots[i].sent != Kind::none) {
                out.sent_bits |= contract::change_bit(i);
            }
        }
    }
    return 0;
}

// Render what changed on the element (everything it sends when `full`, or
// when its class changed) and compare with what it was sent.
int collect_element(ElementObject* el, bool full, std::uint64_t changed, Outcome& out) {
    PyObject* component = el->component;
    if (!component) {  // released: not while its page holds it
        PyErr_SetString(PyExc_RuntimeError, "an element of the page lost its component");
        return -1;
    }
    Ref keep = Ref::borrow(component);
    Ref held;
    Ref layout_ref = Ref::steal(reinterpret_cast<PyObject*>(layout_of(Py_TYPE(component), held)));
    if (!layout_ref) {
        return -1;
    }
    auto* layout = reinterpret_cast<LayoutObject*>(layout_ref.get());
    const Py_ssize_t count = Py_SIZE(layout);
    full = full || el->layout != layout_ref.get();
    Slots slots(count);
    if (!slots.ok()) {
        PyErr_NoMemory();
        return -1;
    }
    if (fill_slots(component, layout, held, slots) < 0) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (sent_kind(layout->entries[i], slots[i]) < 0) {
            note_property(component, layout->entries[i]);
            return -1;
        }
        if (slots[i].sent == Kind::none || !(full || (changed & contract::change_bit(i)))) {
            continue;
        }
        if (render(layout->entries[i], component, slots[i]) < 0) {
            note_property(component, layout->entries[i]);
            return -1;
        }
        slots[i].fresh = true;
    }
    Ref sent = Ref::borrow(el->sent);
    return compose(el, sent.get(), layout, slots, full, out);
}

void apply(ElementObject* el, Outcome& out) {
    set_field(el->layout, std::move(out.layout));
    set_field(el->pieces, std::move(out.pieces));
    if (out.keys) {
        el->base.sent = out.sent_bits;
        set_field(el->base.keys, std::move(out.keys));
    }
    if (out.sent) {
        set_field(el->sent, std::move(out.sent));
    }
}

// ---- the element type ---------------------------------------------------------------

int element_traverse(PyObject* self, visitproc visit, void* arg) {
    ElementObject* el = as_element(self);
    Py_VISIT(el->component);
    Py_VISIT(el->id);
    Py_VISIT(el->layout);
    Py_VISIT(el->pieces);
    Py_VISIT(el->sent);
    Py_VISIT(el->base.keys);
    return 0;
}

int element_clear(PyObject* self) {
    ElementObject* el = as_element(self);
    Py_CLEAR(el->component);
    Py_CLEAR(el->layout);
    Py_CLEAR(el->pieces);
    Py_CLEAR(el->sent);
    return 0;
}

void element_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    element_clear(self);
    ElementObject* el = as_element(self);
    Py_CLEAR(el->id);
    Py_CLEAR(el->base.keys);
    Py_TYPE(self)->tp_free(self);
}

// A new element of `component` with identifier `id`, nothing sent yet.
ElementObject* new_element(PyObject* component, PyObject* id) {
    auto* el = PyObject_GC_New(ElementObject, &element_type);
    if (!el) {
        return nullptr;
    }
    el->base.queue = nullptr;
    el->base.next = nullptr;
    el->base.keys = PyTuple_New(0);
    el->base.sent = 0;
    el->base.changed = 0;
    el->base.queued = false;
    el->component = new_ref(component);
    el->id = new_ref(id);
    el->layout = nullptr;
    el->pieces = nullptr;
    el->sent = PyDict_New();
    el->taken = 0;
    el->full = false;
    PyObject_GC_Track(reinterpret_cast<PyObject*>(el));
    if (!el->base.keys || !el->sent) {
        Py_DECREF(reinterpret_cast<PyObject*>(el));
        return nullptr;
    }
    return el;
}

// ---- the page -----------------------------------------------------------------------

int check_open(PageObject* page) {
    if (page->closed) {
        PyErr_SetString(PyExc_ValueError, "the page is closed");
        return -1;
    }
    return 0;
}

// Open and not collecting its updates (a rendering's code cannot change it).
int check_changeable(PageObject* page) {
    if (check_open(page) < 0) {
        return -1;
    }
    if (page->collecting) {
        PyErr_SetString(PyExc_RuntimeError, "the page is collecting its updates");
        return -1;
    }
    return 0;
}

// The element of `component` on this page (borrowed), or null: with a
// ValueError when `must` is set.
ElementObject* element_of(PageObject* page, PyObject* component, bool must) {
    ElementObject* el = nullptr;
    if (PyObject_TypeCheck(component, event_dispatcher)) {
        PyObject* entry = reinterpret_cast<contract::EventDispatcherObject*>(component)->page_entry;
        if (entry && Py_IS_TYPE(entry, &element_type) && as_element(entry)->base.queue == &page->queue) {
            el = as_element(entry);
        }
    }
    if (!el && must) {
        if (!PyObject_TypeCheck(component, event_dispatcher)) {
            PyErr_Format(PyExc_TypeError, "a page shows EventDispatcher objects, not %.200s",
                         Py_TYPE(component)->tp_name);
        } else {
            PyErr_Format(PyExc_ValueError, "this %.200s is not on the page", short_type_name(Py_TYPE(component)));
        }
    }
    return el;
}

// Release every element and its component; the queue is emptied.
void close_page(PageObject* page) {
    page->closed = true;
    ElementObject** elements = page->elements;
    const Py_ssize_t count = page->count;
    page->elements = nullptr;
    page->count = page->capacity = 0;
    page->queue.first = page->queue.last = nullptr;
    // First every element is detached, then released: the releases may run
    // code, which finds no element of this page anywhere.
    for (Py_ssize_t i = 0; i < count; ++i) {
        ElementObject* el = elements[i];
        el->base.queue = nullptr;
        el->base.queued = false;
        el->base.next = nullptr;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        ElementObject* el = elements[i];
        Ref component = Ref::steal(el->component);
        el->component = nullptr;
        if (component) {
            auto* owner = reinterpret_cast<contract::EventDispatcherObject*>(component.get());
            if (owner->page_entry == reinterpret_cast<PyObject*>(el)) {
                Py_CLEAR(owner->page_entry);
            }
        }
        component = Ref();
        Py_DECREF(reinterpret_cast<PyObject*>(el));
    }
    PyMem_Free(elements);
}

int add_element(PageObject* page, ElementObject* el) {
    if (page->count == page->capacity) {
        const Py_ssize_t capacity = page->capacity ? page->capacity * 2 : 8;
        auto* grown = static_cast<ElementObject**>(
            PyMem_Realloc(page->elements, static_cast<std::size_t>(capacity) * sizeof(ElementObject*)));
        if (!grown) {
            PyErr_NoMemory();
            return -1;
        }
        page->elements = grown;
        page->capacity = capacity;
    }
    Py_INCREF(reinterpret_cast<PyObject*>(el));
    page->elements[page->count++] = el;
    return 0;
}

// Takes an element's pending changes for the time of its rendering: given
// back unless sent() is called.
class Pending {
public:
    explicit Pending(ElementObject* el) : el_(el) {
        if (el_) {
            Py_INCREF(reinterpret_cast<PyObject*>(el_));
            changed_ = el_->base.changed;
            full_ = el_->full;
            el_->base.changed = 0;
            el_->full = false;
        }
    }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() {
        if (el_) {
            if (!sent_) {
                el_->base.changed |= changed_;
                el_->full = el_->full || full_;
            }
            Py_DECREF(reinterpret_cast<PyObject*>(el_));
        }
    }
    void sent() { sent_ = true; }

private:
    ElementObject* el_;
    std::uint64_t changed_ = 0;
    bool full_ = false;
    bool sent_ = false;
};

// The identifier attribute may come from no attribute of the tag.
int check_identifier(PageObject* page, PyObject* component, LayoutObject* layout, Slots& slots) {
    for (Py_ssize_t i = 0; i < Py_SIZE(layout); ++i) {
        if (slots[i].kind == Kind::element && text_equal(slots[i].page.get(), page->id_attribute)) {
            Ref owner = Ref::steal(PyType_GetName(Py_TYPE(component)));
            if (owner) {
                PyErr_Format(PyExc_ValueError,
                             "%U.%U has the page name %R, which the page gives to its elements' identifiers",
                             owner.get(), layout->entries[i].key, page->id_attribute);
            }
            return -1;
        }
    }
    return 0;
}

PyObject* page_start_tag(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    PageObject* page = as_page(self);
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "start_tag() takes exactly 2 positional arguments (%zd given)", nargs);
        return nullptr;
    }
    PyObject* component = args[0];
    PyObject* tag = args[1];
    if (check_changeable(page) < 0 || check_arguments(component, tag) < 0) {
        return nullptr;
    }
    auto* owner = reinterpret_cast<contract::EventDispatcherObject*>(component);
    Ref el_ref = Ref::borrow(reinterpret_cast<PyObject*>(element_of(page, component, false)));
    if (!el_ref && owner->page_entry) {
        PyErr_Format(PyExc_ValueError, "this %.200s is shown on another page", short_type_name(Py_TYPE(component)));
        return nullptr;
    }
    // The changes pending for the element are in the tag about to be
    // rendered, unless it fails; changes made while it is rendered stay
    // pending (an attribute may be changed after it was rendered).
    Pending pending(el_ref ? as_element(el_ref.get()) : nullptr);
    Ref held;
    Ref layout_ref = Ref::steal(reinterpret_cast<PyObject*>(layout_of(Py_TYPE(component), held)));
    if (!layout_ref) {
        return nullptr;
    }
    auto* layout = reinterpret_cast<LayoutObject*>(layout_ref.get());
    const Py_ssize_t count = Py_SIZE(layout);
    Slots slots(count);
    if (!slots.ok()) {
        return PyErr_NoMemory();
    }
    if (fill_slots(component, layout, held, slots) < 0 || check_identifier(page, component, layout, slots) < 0) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (slots[i].kind == Kind::none) {
            continue;
        }
        if (render(layout->entries[i], component, slots[i]) < 0 || sent_kind(layout->entries[i], slots[i]) < 0) {
            note_property(component, layout->entries[i]);
            return nullptr;
        }
        slots[i].fresh = true;
    }
    // What the browser gets is the whole tag: compared with nothing sent.
    const Py_ssize_t position = page->count;  // a new element's place
    Ref id;
    if (el_ref) {
        id = Ref::borrow(as_element(el_ref.get())->id);
    } else {
        id = Ref::steal(PyUnicode_FromFormat("%zd", position + 1));
        if (!id) {
            return nullptr;
        }
        el_ref = Ref::steal(reinterpret_cast<PyObject*>(new_element(component, id.get())));
        if (!el_ref) {
            return nullptr;
        }
    }
    ElementObject* el = as_element(el_ref.get());
    Ref nothing_sent = Ref::steal(PyDict_New());
    if (!nothing_sent) {
        return nullptr;
    }
    Outcome out;
    if (compose(el, nothing_sent.get(), layout, slots, true, out) < 0) {
        return nullptr;
    }
    Ref text = Ref::steal(write_tag(tag, layout, slots, page->id_attribute, id.get()));
    if (!text) {
        return nullptr;
    }
    if (!out.sent) {
        out.sent = std::move(nothing_sent);
    }
    // Code run by the renderings (or by the allocations since) may have closed
    // the page, or put this component or others on a page; from here on no
    // code runs.
    if (check_changeable(page) < 0) {
        return nullptr;
    }
    const bool registered = el->base.queue == &page->queue;
    if (!registered && (owner->page_entry || page->count != position)) {
        PyErr_Format(PyExc_RuntimeError, "the page changed while the start tag of this %.200s was rendered",
                     short_type_name(Py_TYPE(component)));
        return nullptr;
    }
    if (!registered) {
        if (add_element(page, el) < 0) {
            return nullptr;
        }
        el->base.queue = &page->queue;
        owner->page_entry = new_ref(el_ref.get());
    }
    apply(el, out);
    pending.sent();
    return text.release();
}

PyObject* page_updates(PyObject* self, PyObject*) {
    PageObject* page = as_page(self);
    if (check_changeable(page) < 0) {
        return nullptr;
    }
    // The elements queued now, with the changes they have now.
    Ref taken = Ref::steal(PyList_New(0));
    if (!taken) {
        return nullptr;
    }
    for (contract::PageEntryObject* e = page->queue.first; e; e = e->next) {
        if (PyList_Append(taken.get(), reinterpret_cast<PyObject*>(e)) < 0) {
            return nullptr;
        }
    }
    const Py_ssize_t count = PyList_GET_SIZE(taken.get());
    std::vector<Outcome> outcomes;
    try {
        outcomes.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    std::vector<bool> full;
    try {
        full.assign(static_cast<std::size_t>(count), false);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        ElementObject* el = as_element(PyList_GET_ITEM(taken.get(), i));
        el->taken = el->base.changed;
        el->base.changed = 0;
        full[static_cast<std::size_t>(i)] = el->full;
        el->full = false;
    }
    page->collecting = true;
    Py_ssize_t done = 0;
    for (; done < count; ++done) {
        ElementObject* el = as_element(PyList_GET_ITEM(taken.get(), done));
        Outcome& out = outcomes[static_cast<std::size_t>(done)];
        if (collect_element(el, full[static_cast<std::size_t>(done)], el->taken, out) < 0) {
            break;
        }
    }
    Ref result;
    if (done == count) {
        result = Ref::steal(PyList_New(0));
        for (Py_ssize_t i = 0; result && i < count; ++i) {
            Outcome& out = outcomes[static_cast<std::size_t>(i)];
            if (PyDict_GET_SIZE(out.set.get()) == 0 && PyList_GET_SIZE(out.remove.get()) == 0) {
                continue;
            }
            Ref update = Ref::steal(PyStructSequence_New(update_type));
            Ref removed = Ref::steal(PyList_AsTuple(out.remove.get()));
            if (!update || !removed) {
                result = Ref();
                break;
            }
            PyStructSequence_SetItem(update.get(), 0, new_ref(as_element(PyList_GET_ITEM(taken.get(), i))->id));
            PyStructSequence_SetItem(update.get(), 1, new_ref(out.set.get()));
            PyStructSequence_SetItem(update.get(), 2, removed.release());
            if (PyList_Append(result.get(), update.get()) < 0) {
                result = Ref();
            }
        }
    }
    page->collecting = false;
    if (!result) {
        // Nothing was sent: every change taken stays pending.
        for (Py_ssize_t i = 0; i < count; ++i) {
            ElementObject* el = as_element(PyList_GET_ITEM(taken.get(), i));
            el->base.changed |= el->taken;
            el->full = el->full || full[static_cast<std::size_t>(i)];
            el->taken = 0;
        }
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        ElementObject* el = as_element(PyList_GET_ITEM(taken.get(), i));
        el->taken = 0;
        apply(el, outcomes[static_cast<std::size_t>(i)]);
    }
    // Kept in the queue: the elements changed again meanwhile.
    contract::PageEntryObject* e = page->queue.first;
    page->queue.first = page->queue.last = nullptr;
    while (e) {
        contract::PageEntryObject* next = e->next;
        e->queued = false;
        e->next = nullptr;
        if (e->changed || as_element(reinterpret_cast<PyObject*>(e))->full) {
            contract::enqueue(e);
        }
        e = next;
    }
    return result.release();
}

PyObject* page_refresh(PyObject* self, PyObject* component) {
    PageObject* page = as_page(self);
    if (check_changeable(page) < 0) {
        return nullptr;
    }
    ElementObject* el = element_of(page, component, true);
    if (!el) {
        return nullptr;
    }
    el->full = true;
    contract::enqueue(&el->base);
    Py_RETURN_NONE;
}

PyObject* page_element_id(PyObject* self, PyObject* component) {
    PageObject* page = as_page(self);
    if (check_open(page) < 0) {
        return nullptr;
    }
    ElementObject* el = element_of(page, component, true);
    return el ? new_ref(el->id) : nullptr;
}

PyObject* page_component(PyObject* self, PyObject* id) {
    PageObject* page = as_page(self);
    if (check_open(page) < 0) {
        return nullptr;
    }
    // Identifiers are the decimal numbers 1 to count, written without a sign
    // or leading zero.
    Py_ssize_t index = 0;
    bool valid = PyUnicode_Check(id) && PyUnicode_GET_LENGTH(id) > 0 && PyUnicode_GET_LENGTH(id) <= 18 &&
                 PyUnicode_READ_CHAR(id, 0) != '0';
    for (Py_ssize_t i = 0; valid && i < PyUnicode_GET_LENGTH(id); ++i) {
        const Py_UCS4 c = PyUnicode_READ_CHAR(id, i);
        valid = c >= '0' && c <= '9';
        index = index * 10 + static_cast<Py_ssize_t>(c - '0');
    }
    if (!valid || index > page->count) {
        PyErr_Format(PyExc_KeyError, "no element %R on the page", id);
        return nullptr;
    }
    return new_ref(page->elements[index - 1]->component);
}

PyObject* page_components(PyObject* self, PyObject*) {
    PageObject* page = as_page(self);
    if (check_open(page) < 0) {
        return nullptr;
    }
    PyObject* list = PyList_New(page->count);
    for (Py_ssize_t i = 0; list && i < page->count; ++i) {
        PyList_SET_ITEM(list, i, new_ref(page->elements[i]->component));
    }
    return list;
}

PyObject* page_close(PyObject* self, PyObject*) {
    PageObject* page = as_page(self);
    if (page->collecting) {
        PyErr_SetString(PyExc_RuntimeError, "the page is collecting its updates");
        return nullptr;
    }
    if (!page->closed) {
        close_page(page);
    }
    Py_RETURN_NONE;
}

PyObject* page_enter(PyObject* self, PyObject*) {
    if (check_open(as_page(self)) < 0) {
        return nullptr;
    }
    return new_ref(self);
}

PyObject* page_exit(PyObject* self, PyObject* const*, Py_ssize_t) { return page_close(self, nullptr); }

Py_ssize_t page_length(PyObject* self) { return as_page(self)->count; }

int page_contains(PyObject* self, PyObject* component) {
    return element_of(as_page(self), component, false) != nullptr;
}

PyObject* page_get_closed(PyObject* self, void*) { return PyBool_FromLong(as_page(self)->closed); }

PyObject* page_get_id_attribute(PyObject* self, void*) { return new_ref(as_page(self)->id_attribute); }

PyObject* page_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    static const char* keywords[] = {"id_attribute", nullptr};
    PyObject* id_attribute = k.default_id_attribute;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|$U:Page", const_cast<char**>(keywords), &id_attribute)) {
        return nullptr;
    }
    if (!valid_attribute_name(id_attribute) || text_equal(id_attribute, k.style) ||
        text_equal(id_attribute, k.klass)) {
        PyErr_Format(PyExc_ValueError, "not a valid name for the identifier attribute: %R", id_attribute);
        return nullptr;
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    PageObject* page = as_page(self.get());
    page->id_attribute = PyUnicode_CheckExact(id_attribute) ? new_ref(id_attribute)
                                                            : PyUnicode_FromObject(id_attribute);
    return page->id_attribute ? self.release() : nullptr;
}

int page_traverse(PyObject* self, visitproc visit, void* arg) {
    PageObject* page = as_page(self);
    for (Py_ssize_t i = 0; i < page->count; ++i) {
        Py_VISIT(reinterpret_cast<PyObject*>(page->elements[i]));
    }
    return 0;
}

int page_clear(PyObject* self) {
    if (!as_page(self)->closed) {
        close_page(as_page(self));
    }
    return 0;
}

void page_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    PageObject* page = as_page(self);
    if (page->weakreflist) {
        PyObject_ClearWeakRefs(self);
    }
    page_clear(self);
    Py_CLEAR(page->id_attribute);
    Py_TYPE(self)->tp_free(self);
}

PyMethodDef page_methods[] = {
    {"start_tag", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(page_start_tag)), METH_FASTCALL,
     "start_tag($self, component, tag, /)\n--\n\n"
     "The start tag of component as tavo.html.start_tag renders it, with the element's identifier\n"
     "attribute first. The first call puts the component on the page; what it returns counts as\n"
     "sent to the browser."},
    {"updates", page_updates, METH_NOARGS,
     "updates($self, /)\n--\n\n"
     "The updates since the last call: an Update for each element whose synced attributes\n"
     "render otherwise than they were last sent."},
    {"refresh", page_refresh, METH_O,
     "refresh($self, component, /)\n--\n\n"
     "Have the next updates() render every synced attribute of component and send what differs\n"
     "(for changes the page cannot see: a plain list changed in place, an attribute re-initialised)."},
    {"element_id", page_element_id, METH_O,
     "element_id($self, component, /)\n--\n\nThe identifier of component's element on the page."},
    {"component", page_component, METH_O,
     "component($self, element_id, /)\n--\n\nThe component of the element with this identifier."},
    {"components", page_components, METH_NOARGS,
     "components($self, /)\n--\n\nThe components on the page, in the order of their identifiers (1, 2, ...)."},
    {"close", page_close, METH_NOARGS,
     "close($self, /)\n--\n\nRelease the page's components; the page can no longer be used."},
    {"__enter__", page_enter, METH_NOARGS, nullptr},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(page_exit)), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef page_getset[] = {
    {"closed", page_get_closed, nullptr, "Whether the page was closed.", nullptr},
    {"id_attribute", page_get_id_attribute, nullptr, "The name of the identifier attribute.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PySequenceMethods page_sequence = {};

PyStructSequence_Field update_fields[] = {
    {"element", "the element's identifier"},
    {"set", "dict: the attributes to set, each to its text"},
    {"remove", "tuple: the attributes to remove"},
    {nullptr, nullptr},
};

PyStructSequence_Desc update_desc = {
    "tavo.core._render.Update",
    "Update(element, set, remove): what to change on one element of a page.",
    update_fields,
    3,
};

}  // namespace

int add_page_types(PyObject* module) {
    if (!(element_type.tp_flags & Py_TPFLAGS_READY)) {
        PyTypeObject& e = element_type;
        e.tp_name = "tavo.core._render._Element";
        e.tp_doc = "An element of a page: its component and what its browser was sent (internal).";
        e.tp_basicsize = sizeof(ElementObject);
        e.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
        e.tp_dealloc = element_dealloc;
        e.tp_traverse = element_traverse;
        e.tp_clear = element_clear;
        if (PyType_Ready(&e) < 0) {
            return -1;
        }
    }
    if (!(page_type.tp_flags & Py_TPFLAGS_READY)) {
        PyTypeObject& p = page_type;
        page_sequence.sq_length = page_length;
        page_sequence.sq_contains = page_contains;
        p.tp_name = "tavo.core._render.Page";
        p.tp_doc =
            "Page(*, id_attribute='data-tavo-id')\n--\n\n"
            "The components shown in one browser page. start_tag() renders a component's start tag\n"
            "with an identifier attribute of the page's own and puts the component on the page;\n"
            "updates() returns what changed since, element by element.";
        p.tp_basicsize = sizeof(PageObject);
        p.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
        p.tp_new = page_new;
        p.tp_dealloc = page_dealloc;
        p.tp_traverse = page_traverse;
        p.tp_clear = page_clear;
        p.tp_methods = page_methods;
        p.tp_getset = page_getset;
        p.tp_as_sequence = &page_sequence;
        p.tp_weaklistoffset = offsetof(PageObject, weakreflist);
        if (PyType_Ready(&p) < 0) {
            return -1;
        }
    }
    if (!update_type) {
        update_type = PyStructSequence_NewType(&update_desc);
        if (!update_type) {
            return -1;
        }
    }
    if (PyModule_AddObjectRef(module, "Page", reinterpret_cast<PyObject*>(&page_type)) < 0 ||
        PyModule_AddObjectRef(module, "Update", reinterpret_cast<PyObject*>(update_type)) < 0) {
        return -1;
    }
    return 0;
}

}  // namespace tavo::render
