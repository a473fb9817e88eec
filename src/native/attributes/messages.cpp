// Validation messages: "<owner class>.<property><details>".
#include "attributes/messages.hpp"

namespace tavo::attributes {

PyObject* plain_text(PyObject* value) {
    if (PyUnicode_CheckExact(value)) {
        return new_ref(value);
    }
    return PyObject_Format(value, k.empty_str);
}

void raise_composed(PyObject* owner, PyObject* prop, std::initializer_list<Piece> pieces) {
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) {
        return;
    }
    auto append = [&](Ref piece) -> bool {
        return piece && PyList_Append(parts.get(), piece.get()) == 0;
    };
    Ref owner_class = Ref::steal(PyObject_GetAttr(owner, k.dunder_class));
    if (!owner_class) {
        return;
    }
    Ref owner_name = Ref::steal(PyObject_GetAttr(owner_class.get(), k.dunder_name));
    if (!owner_name || !append(Ref::steal(plain_text(owner_name.get())))) {
        return;
    }
    if (!append(Ref::steal(PyUnicode_FromString(".")))) {
        return;
    }
    Ref prop_name = Ref::steal(PyObject_GetAttr(prop, k.name));
    if (!prop_name || !append(Ref::steal(plain_text(prop_name.get())))) {
        return;
    }
    for (const Piece& piece : pieces) {
        Ref part;
        switch (piece.kind) {
            case Piece::Text: part = Ref::steal(PyUnicode_FromString(piece.text)); break;
            case Piece::Repr: part = Ref::steal(PyObject_Repr(piece.object)); break;
            case Piece::Plain: part = Ref::steal(plain_text(piece.object)); break;
        }
        if (!append(std::move(part))) {
            return;
        }
    }
    Ref message = Ref::steal(PyUnicode_Join(k.empty_str, parts.get()));
    if (message) {
        PyErr_SetObject(PyExc_ValueError, message.get());
    }
}

}  // namespace tavo::attributes
