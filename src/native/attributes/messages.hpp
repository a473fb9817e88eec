// Validation messages: "<owner class>.<property><details>".
#pragma once

#include "attributes/state.hpp"

#include <initializer_list>

namespace tavo::attributes {

// The plain text form of a message piece: a str as it is, anything else
// formatted as format(value, "") does.
PyObject* plain_text(PyObject* value);

// One piece of a composed message: fixed text, the repr of an object, or the
// plain text form of an object.
struct Piece {
    enum Kind { Text, Repr, Plain } kind;
    const char* text;
    PyObject* object;
};
inline Piece text(const char* s) { return {Piece::Text, s, nullptr}; }
inline Piece repr(PyObject* o) { return {Piece::Repr, nullptr, o}; }
inline Piece plain(PyObject* o) { return {Piece::Plain, nullptr, o}; }

// Raise ValueError "<owner class name>.<property name><pieces...>". Errors
// met while composing the message are raised instead.
void raise_composed(PyObject* owner, PyObject* prop, std::initializer_list<Piece> pieces);

}  // namespace tavo::attributes
