// Changes recorded for a component shown on a page.
//
// An owner shown on a page holds its page entry (EventDispatcherObject's
// page_entry; null on no page). Where a value is stored, and where a
// property's dispatch is called for an owner (an ObservableList changed in
// place), the property system records the change in that entry: one bit per
// synced attribute of the owner's class, found by the identity of the
// property's storage key among the keys of the owner's class, and the entry
// joins its page's queue of changed elements. Recording allocates nothing, runs no Python code and cannot
// fail; an owner on no page pays one test of a pointer.
//
// The render module makes the entries and reads them back when the page's
// updates are collected (tavo.core._render.Page); the entry's layout past
// these fields is its own.
#pragma once

#include "contract/event.hpp"
#include "contract/properties.hpp"

#include <cstdint>

namespace tavo::contract {

struct PageEntryObject;

// A page's queue of entries with changes not yet collected, in the order of
// their first change. The page holds every entry, so the links are borrowed.
struct ChangeQueue {
    PageEntryObject* first;
    PageEntryObject* last;
};

// Bits of `changed`: bit i for keys[i]; the last bit for every key from it on.
inline constexpr Py_ssize_t kChangeBits = 64;

struct PageEntryObject {
    PyObject_HEAD
    ChangeQueue* queue;     // the queue of the page showing the owner; null once it is closed
    PageEntryObject* next;  // the next entry in that queue
    PyObject* keys;         // tuple: the storage keys of the owner's attributes, in the class's order
    std::uint64_t sent;     // the bits of the attributes the page sends
    std::uint64_t changed;  // the changes recorded since the last collection
    bool queued;            // in the queue (it may be queued with no bit set)
};

inline std::uint64_t change_bit(Py_ssize_t index) noexcept {
    return std::uint64_t{1} << (index < kChangeBits - 1 ? index : kChangeBits - 1);
}

inline void enqueue(PageEntryObject* entry) noexcept {
    ChangeQueue* queue = entry->queue;
    if (entry->queued || !queue) {
        return;
    }
    entry->queued = true;
    entry->next = nullptr;
    if (queue->last) {
        queue->last->next = entry;
    } else {
        queue->first = entry;
    }
    queue->last = entry;
}

inline void record_bit(PageEntryObject* entry, Py_ssize_t index) noexcept {
    const std::uint64_t bit = change_bit(index) & entry->sent;
    if (bit) {
        entry->changed |= bit;
        enqueue(entry);
    }
}

// Record that `property` changed on `owner`, which is on a page
// (owner->page_entry is set). The property's page_index, where its key was
// last found, is tried first; it is only a hint (a property may be declared
// by several classes), checked before it is used.
inline void record_change(EventDispatcherObject* owner, PropertyObject* property) noexcept {
    auto* entry = reinterpret_cast<PageEntryObject*>(owner->page_entry);
    PyObject* keys = entry->keys;
    PyObject* key = property->storage_key;
    const Py_ssize_t count = PyTuple_GET_SIZE(keys);
    const Py_ssize_t hint = property->page_index;
    if (hint < count && PyTuple_GET_ITEM(keys, hint) == key) {
        record_bit(entry, hint);
        return;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (PyTuple_GET_ITEM(keys, i) == key) {
            property->page_index = static_cast<int>(i);
            record_bit(entry, i);
            return;
        }
    }
}

}  // namespace tavo::contract
