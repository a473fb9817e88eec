// The text of a start tag, measured as its pieces are added and written once.
#include "render/writer.hpp"

#include <cstdint>
#include <cstring>

namespace tavo::render {

namespace {

// What escaping adds for character c.
constexpr Py_ssize_t growth_of(Py_UCS4 c) noexcept {
    switch (c) {
        case '&':
            return 4;  // &amp;
        case '<':
        case '>':
            return 3;  // &lt; &gt;
        case '"':
        case '\'':
            return 5;  // &quot; &#x27;
        default:
            return 0;
    }
}

// growth_of for the characters below 128.
struct GrowthTable {
    unsigned char growth[128];
    constexpr GrowthTable() : growth{} {
        for (unsigned c = 0; c < 128; ++c) {
            growth[c] = static_cast<unsigned char>(growth_of(c));
        }
    }
};
constexpr GrowthTable kGrowth;

template <typename In>
Py_ssize_t growth_in(const In* data, Py_ssize_t start, Py_ssize_t end) noexcept {
    Py_ssize_t growth = 0;
    for (Py_ssize_t i = start; i < end; ++i) {
        const Py_UCS4 c = data[i];
        growth += c < 128 ? kGrowth.growth[c] : 0;
    }
    return growth;
}

template <typename Out>
Out* put_ascii(Out* out, const char* text, std::size_t length) noexcept {
    for (std::size_t i = 0; i < length; ++i) {
        *out++ = static_cast<Out>(static_cast<unsigned char>(text[i]));
    }
    return out;
}

// Character c as it stands in a double-quoted attribute value.
template <typename Out>
Out* put_escaped_char(Out* out, Py_UCS4 c) noexcept {
    switch (c) {
        case '&':
            return put_ascii(out, "&amp;", 5);
        case '<':
            return put_ascii(out, "&lt;", 4);
        case '>':
            return put_ascii(out, "&gt;", 4);
        case '"':
            return put_ascii(out, "&quot;", 6);
        case '\'':
            return put_ascii(out, "&#x27;", 6);
        default:
            *out = static_cast<Out>(c);
            return out + 1;
    }
}

template <typename In, typename Out>
Out* copy_piece(Out* out, const In* data, Py_ssize_t start, Py_ssize_t end, bool escape) noexcept {
    if (!escape) {
        if constexpr (sizeof(In) == sizeof(Out)) {
            const auto count = static_cast<std::size_t>(end - start);
            std::memcpy(out, data + start, count * sizeof(Out));
            return out + count;
        }
        for (Py_ssize_t i = start; i < end; ++i) {
            *out++ = static_cast<Out>(data[i]);
        }
        return out;
    }
    for (Py_ssize_t i = start; i < end; ++i) {
        out = put_escaped_char(out, data[i]);
    }
    return out;
}

}  // namespace

Py_ssize_t escape_growth(PyObject* text, Py_ssize_t start, Py_ssize_t end) noexcept {
    const void* data = PyUnicode_DATA(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return growth_in(static_cast<const Py_UCS1*>(data), start, end);
        case PyUnicode_2BYTE_KIND:
            return growth_in(static_cast<const Py_UCS2*>(data), start, end);
        default:
            return growth_in(static_cast<const Py_UCS4*>(data), start, end);
    }
}

Pieces::~Pieces() {
    if (pieces_ != inline_) {
        PyMem_Free(pieces_);
    }
}

int Pieces::grow() noexcept {
    const Py_ssize_t capacity = capacity_ * 2;
    if (static_cast<std::size_t>(capacity) > SIZE_MAX / sizeof(Piece)) {
        PyErr_NoMemory();
        return -1;
    }
    auto* grown = static_cast<Piece*>(PyMem_Malloc(static_cast<std::size_t>(capacity) * sizeof(Piece)));
    if (!grown) {
        PyErr_NoMemory();
        return -1;
    }
    std::memcpy(grown, pieces_, static_cast<std::size_t>(count_) * sizeof(Piece));
    if (pieces_ != inline_) {
        PyMem_Free(pieces_);
    }
    pieces_ = grown;
    capacity_ = capacity;
    return 0;
}

template <typename Out>
void Pieces::write(Out* out) const noexcept {
    for (Py_ssize_t i = 0; i < count_; ++i) {
        const Piece& piece = pieces_[i];
        const void* data = PyUnicode_DATA(piece.text);
        const bool escape = piece.growth != 0;
        switch (PyUnicode_KIND(piece.text)) {
            case PyUnicode_1BYTE_KIND:
                out = copy_piece(out, static_cast<const Py_UCS1*>(data), piece.start, piece.end, escape);
                break;
            case PyUnicode_2BYTE_KIND:
                out = copy_piece(out, static_cast<const Py_UCS2*>(data), piece.start, piece.end, escape);
                break;
            default:
                out = copy_piece(out, static_cast<const Py_UCS4*>(data), piece.start, piece.end, escape);
        }
    }
}

PyObject* Pieces::build() const noexcept {
    PyObject* result = PyUnicode_New(length_, max_char_);
    if (!result) {
        return nullptr;
    }
    void* data = PyUnicode_DATA(result);
    switch (PyUnicode_KIND(result)) {
        case PyUnicode_1BYTE_KIND:
            write(static_cast<Py_UCS1*>(data));
            break;
        case PyUnicode_2BYTE_KIND:
            write(static_cast<Py_UCS2*>(data));
            break;
        default:
            write(static_cast<Py_UCS4*>(data));
    }
    return result;
}

AsciiTag::~AsciiTag() {
    if (data_ != inline_) {
        PyMem_Free(data_);
    }
}

bool AsciiTag::reserve(std::size_t more) noexcept {
    if (more <= capacity_ - length_) {
        return true;
    }
    if (more > static_cast<std::size_t>(PY_SSIZE_T_MAX) - length_) {
        PyErr_SetString(PyExc_OverflowError, "the start tag is too long for a Python string");
        return false;
    }
    std::size_t capacity = capacity_ * 2;
    if (capacity < length_ + more) {
        capacity = length_ + more;
    }
    auto* grown = static_cast<unsigned char*>(PyMem_Malloc(capacity));
    if (!grown) {
        PyErr_NoMemory();
        return false;
    }
    std::memcpy(grown, data_, length_);
    if (data_ != inline_) {
        PyMem_Free(data_);
    }
    data_ = grown;
    capacity_ = capacity;
    return true;
}

void AsciiTag::put_escaped(const unsigned char* text, std::size_t length) noexcept {
    unsigned char* out = data_ + length_;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (kGrowth.growth[c] == 0) {
            *out++ = c;  // the usual character, without the switch
        } else {
            out = put_escaped_char(out, c);
        }
    }
    length_ = static_cast<std::size_t>(out - data_);
}

PyObject* AsciiTag::build() const noexcept {
    PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(length_), 0x7F);
    if (result) {
        std::memcpy(PyUnicode_1BYTE_DATA(result), data_, length_);
    }
    return result;
}

}  // namespace tavo::render
