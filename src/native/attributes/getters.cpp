// The page name of an attribute and the read-only getters the classes share.
#include "attributes/getters.hpp"

#include "attributes/keywords.hpp"

namespace tavo::attributes {

PyObject* resolved_attrname(PyObject* attrname, PyObject* name) {
    if (attrname != Py_None && PyUnicode_GET_LENGTH(attrname) > 0) {
        return new_ref(attrname);
    }
    if (name == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "replace");
        ATTR_TRACE("tavo.core._attributes._resolved_attrname");
        return nullptr;
    }
    PyObject* result = PyUnicode_Replace(name, k.underscore, k.dash, -1);
    if (!result) {
        ATTR_TRACE("tavo.core._attributes._resolved_attrname");
    }
    return result;
}

static PyObject*& object_field(PyObject* self, std::size_t offset) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + offset);
}

PyObject* get_attrname(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    // The field may be replaced while `name` is looked up (user code).
    Ref attrname = Ref::borrow(object_field(self, getter->offset));
    Ref name = Ref::steal(PyObject_GetAttr(self, k.name));
    Ref result;
    if (name && check_text(name.get()) == 0) {
        result = Ref::steal(resolved_attrname(attrname.get(), name.get()));
    }
    if (!result) {
        ATTR_TRACE(getter->qualname);
    }
    return result.release();
}

PyObject* get_object_field(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    PyObject* value = object_field(self, getter->offset);
    return new_ref(value ? value : Py_None);
}

PyObject* get_int_field(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    int value = *reinterpret_cast<int*>(reinterpret_cast<char*>(self) + getter->offset);
    PyObject* result = PyLong_FromLong(value);
    if (!result) {
        ATTR_TRACE(getter->qualname);
    }
    return result;
}

}  // namespace tavo::attributes
