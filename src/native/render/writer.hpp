// The text of a start tag: a list of pieces of str objects, some to be
// escaped for a double-quoted attribute value, measured as they are added
// and written into one new str.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstring>

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

// The text of a start tag whose every piece is ASCII, the usual case,
// escaped and copied as the pieces come in one pass. A piece that is not
// ASCII stops it: the caller writes the tag with Pieces instead.
class AsciiTag {
public:
    AsciiTag() noexcept = default;
    AsciiTag(const AsciiTag&) = delete;
    AsciiTag& operator=(const AsciiTag&) = delete;
    ~AsciiTag();

    // As Pieces::add; -1 also when the text is not ASCII, with no exception
    // set then (not_ascii() tells).
    inline int add(PyObject* text, Py_ssize_t start, Py_ssize_t end, bool escape) noexcept;
    int add(PyObject* text, bool escape = false) noexcept {
        return add(text, 0, PyUnicode_GET_LENGTH(text), escape);
    }
    bool not_ascii() const noexcept { return not_ascii_; }
    PyObject* build() const noexcept;

private:
    static constexpr std::size_t kInline = 1024;

    bool reserve(std::size_t more) noexcept;
    void put_escaped(const unsigned char* text, std::size_t length) noexcept;

    unsigned char inline_[kInline];
    unsigned char* data_ = inline_;
    std::size_t length_ = 0;
    std::size_t capacity_ = kInline;
    bool not_ascii_ = false;
};

inline int AsciiTag::add(PyObject* text, Py_ssize_t start, Py_ssize_t end, bool escape) noexcept {
    if (!PyUnicode_IS_ASCII(text)) {
        not_ascii_ = true;
        return -1;
    }
    if (start >= end) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(end - start);
    // Escaping makes a character at most six: &quot; (the product is bounded
    // first, so that it cannot wrap around)
    constexpr std::size_t kMostEscaped = static_cast<std::size_t>(PY_SSIZE_T_MAX) / 6;
    if (escape && count > kMostEscaped) {
        PyErr_SetString(PyExc_OverflowError, "the start tag is too long for a Python string");
        return -1;
    }
    if (!reserve(escape ? count * 6 : count)) {
        return -1;
    }
    const unsigned char* from = PyUnicode_1BYTE_DATA(text) + start;
    if (escape) {
        put_escaped(from, count);
    } else {
        std::memcpy(data_ + length_, from, count);
        length_ += count;
    }
    return 0;
}

}  // namespace tavo::render
