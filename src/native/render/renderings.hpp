// What start_tag and the page share: where each declared attribute goes,
// under which page name and with which rendering (one slot per attribute of
// the class's layout), the check of the page names, and the tag written from
// the slots.
#pragma once

#include "render/layout.hpp"

#include <memory>
#include <new>

namespace tavo::render {

// What one declared attribute gives this call.
struct Slot {
    Ref attr;
    Ref page;  // page name, for style and element attributes
    Ref text;  // the rendering's non-empty text, or null
    Kind kind = Kind::none;
    // For a page: the kind under which the attribute is sent (none: not sent),
    // and whether `text` was rendered for this collection.
    Kind sent = Kind::none;
    bool fresh = false;
};

// Slots on the stack for a class with few attributes, else on the heap;
// only as many as the class declares are made.
class Slots {
public:
    explicit Slots(Py_ssize_t count) : count_(count) {
        if (count > kInline) {
            heap_.reset(new (std::nothrow) Slot[static_cast<std::size_t>(count)]);
            return;
        }
        for (Py_ssize_t i = 0; i < count; ++i) {
            new (inline_slot(i)) Slot();
        }
    }
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;
    ~Slots() {
        if (count_ <= kInline) {
            for (Py_ssize_t i = 0; i < count_; ++i) {
                inline_slot(i)->~Slot();
            }
        }
    }
    bool ok() const { return count_ <= kInline || heap_; }
    Slot& operator[](Py_ssize_t i) { return count_ <= kInline ? *inline_slot(i) : heap_[i]; }

private:
    static constexpr Py_ssize_t kInline = 32;
    Slot* inline_slot(Py_ssize_t i) { return reinterpret_cast<Slot*>(inline_) + i; }

    Py_ssize_t count_;
    alignas(Slot) unsigned char inline_[kInline * sizeof(Slot)];
    std::unique_ptr<Slot[]> heap_;
};

bool named(Kind kind);

// Add a note naming the component class and the property to the exception
// being raised.
void note_property(PyObject* component, const Entry& entry);

// The slots of `component` from the current layout of its class (`held` as
// layout_of gives it): the attribute objects held, each one's place and page
// name found, the names checked. -1 with an exception.
int fill_slots(PyObject* component, LayoutObject* layout, const Ref& held, Slots& slots);

// Where the attribute goes and its page name. -1 with an exception on failure.
int describe(Entry& entry, Slot& slot);

// Page names must be attribute names, each attribute of the tag from one place.
int check_names(PyObject* component, LayoutObject* layout, Slots& slots);

// The rendering's text into slot.text, null when it is None or empty; a style
// text is checked. -1 with an exception (no note).
int render(const Entry& entry, PyObject* component, Slot& slot);

// Calls `item(start, end)` for each non-empty item of a class rendering:
// the text split at ", ". Returns the number of items, -1 when `item` fails.
template <typename Item>
Py_ssize_t class_items(PyObject* text, Item item) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    Py_ssize_t count = 0;
    Py_ssize_t start = 0;
    for (Py_ssize_t i = 0; i <= length; ++i) {
        const bool at_separator =
            i + 1 < length && PyUnicode_READ(kind, data, i) == ',' && PyUnicode_READ(kind, data, i + 1) == ' ';
        if (i < length && !at_separator) {
            continue;
        }
        if (i > start) {
            if (item(start, i) < 0) {
                return -1;
            }
            ++count;
        }
        start = i + 2;
        ++i;
    }
    return count;
}

// The start tag from the slots; `id_name="id_value"` right after the tag name
// when given.
PyObject* write_tag(PyObject* tag, const LayoutObject* layout, Slots& slots, PyObject* id_name = nullptr,
                    PyObject* id_value = nullptr);

// The arguments of start_tag: an EventDispatcher and a valid tag name.
int check_arguments(PyObject* component, PyObject* tag);

}  // namespace tavo::render
