// The text of a start tag: a list of pieces of str objects, some to be
// escaped for a double-quoted attribute value, measured as they are added
// and written into one new str.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::render {

// Characters added by escaping `text[start:end)` as html.escape(quote=True)
// does: & < > " ' become &amp; &lt; &gt; &quot; &#x27;.
Py_ssize_t escape_growth(PyObject* text, Py_ssize_t start, Py_ssize_t end) noexcept;

class Pieces {
public:
    Pieces() noexcept = default;
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;
    ~Pieces();

    // Add text[start:end) (a str the caller keeps alive until build()).
    // -1 with an exception on failure.
    inline int add(PyObject* text, Py_ssize_t start, Py_ssize_t end, bool escape) noexcept;
    int add(PyObject* text, bool escape = false) noexcept {
        return add(text, 0, PyUnicode_GET_LENGTH(text), escape);
    }
    // The pieces written one after the other: a new str.
    PyObject* build() const noexcept;

private:
    struct Piece {
        PyObject* text;
        Py_ssize_t start;
        Py_ssize_t end;
        Py_ssize_t growth;  // what escaping adds; 0: copied as it is
    };
    static constexpr Py_ssize_t kInline = 96;

    int grow() noexcept;
    template <typename Out>
    void write(Out* out) const noexcept;

    Piece inline_[kInline];
    Piece* pieces_ = inline_;
    Py_ssize_t count_ = 0;
    Py_ssize_t capacity_ = kInline;
    Py_ssize_t length_ = 0;
    Py_UCS4 max_char_ = 0x7F;
};

inline int Pieces::add(PyObject* text, Py_ssize_t start, Py_ssize_t end, bool escape) noexcept {
    if (start >= end) {
        return 0;
    }
    if (count_ == capacity_ && grow() < 0) {
        return -1;
    }
    const Py_ssize_t growth = escape ? escape_growth(text, start, end) : 0;
    const Py_ssize_t added = end - start + growth;
    if (added > PY_SSIZE_T_MAX - length_) {
        PyErr_SetString(PyExc_OverflowError, "the start tag is too long for a Python string");
        return -1;
    }
    length_ += added;
    // Every character of a piece's str outside the pieces taken from it is
    // ASCII (separators), so the widest str added bounds the text exactly.
    const Py_UCS4 max_char = PyUnicode_MAX_CHAR_VALUE(text);
    if (max_char > max_char_) {
        max_char_ = max_char;
    }
    pieces_[count_++] = Piece{text, start, end, growth};
    return 0;
}

}  // namespace tavo::render
