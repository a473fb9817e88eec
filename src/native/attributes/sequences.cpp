// The texts of a sequence's items, joined.
#include "attributes/sequences.hpp"

#include "attributes/number_text.hpp"
#include "support/text.hpp"

namespace tavo::attributes {

namespace {

// The texts to join: owned references, kept inline up to a small count.
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() {
        for (Py_ssize_t i = 0; i < size_; ++i) {
            Py_DECREF(items_[i]);
        }
        if (items_ != inline_) {
            PyMem_Free(items_);
        }
    }

    // Take over `text` (a new reference, or null after a failure).
    bool push(PyObject* text) {
        if (!text) {
            return false;
        }
        if (size_ == capacity_ && !grow()) {
            Py_DECREF(text);
            return false;
        }
        items_[size_++] = text;
        return true;
    }

    PyObject* join(PyObject* separator) const { return join_texts(separator, items_, size_); }

private:
    bool grow() {
        const Py_ssize_t capacity = capacity_ * 2;
        auto* items = static_cast<PyObject**>(PyMem_Malloc(sizeof(PyObject*) * static_cast<std::size_t>(capacity)));
        if (!items) {
            PyErr_NoMemory();
            return false;
        }
        for (Py_ssize_t i = 0; i < size_; ++i) {
            items[i] = items_[i];
        }
        if (items_ != inline_) {
            PyMem_Free(items_);
        }
        items_ = items;
        capacity_ = capacity;
        return true;
    }

    PyObject* inline_[8] = {};
    PyObject** items_ = inline_;
    Py_ssize_t size_ = 0;
    Py_ssize_t capacity_ = 8;
};

// A str item as it is, any other through str() (a number written directly).
// New reference.
PyObject* item_text(PyObject* item) {
    if (PyUnicode_CheckExact(item)) {
        return new_ref(item);
    }
    return PyLong_CheckExact(item) || PyFloat_CheckExact(item) ? default_text(item) : PyObject_Str(item);
}

}  // namespace

PyObject* join_item_texts(PyObject* iterable, PyObject* separator) {
    TextBuffer texts;
    PyTypeObject* type = Py_TYPE(iterable);
    if ((PyList_Check(iterable) && type->tp_iter == PyList_Type.tp_iter) ||
        (PyTuple_Check(iterable) && type->tp_iter == PyTuple_Type.tp_iter)) {
        // The items in the order and number the list's or tuple's own iterator
        // gives them: the length is read again after each item (str() of an
        // item may change the list).
        Ref keep = Ref::borrow(iterable);
        const bool is_list = PyList_Check(iterable);
        for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(iterable) : PyTuple_GET_SIZE(iterable)); ++i) {
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(iterable, i) : PyTuple_GET_ITEM(iterable, i));
            if (!texts.push(item_text(item.get()))) {
                return nullptr;
            }
        }
        return texts.join(separator);
    }
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return nullptr;
    }
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!texts.push(item_text(item.get()))) {
            return nullptr;
        }
    }
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return texts.join(separator);
}

}  // namespace tavo::attributes
