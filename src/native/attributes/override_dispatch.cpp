// Which attrvalue runs: the class's own rendering, or a Python-level
// override found on the instance; and whether an argument is an owner.
#include "attributes/override_dispatch.hpp"

namespace tavo::attributes {

SubtypeMemo owner_test;

namespace {

// Whether the instance's own dict holds an `attrvalue`, which a lookup would
// find before the class's function. -1 with an exception on failure.
int instance_defines_attrvalue(PyObject* self) {
    if (Py_TYPE(self)->tp_dictoffset == 0) {
        return 0;
    }
    Ref dict = Ref::steal(PyObject_GenericGetDict(self, nullptr));
    if (!dict) {
        return -1;
    }
    return PyDict_Contains(dict.get(), k.attrvalue);
}

}  // namespace

bool dispatch_attrvalue_override(PyObject* self, PyObject* obj, AttrClass& cls, Ref& result) {
    PyTypeObject* type = Py_TYPE(self);
    // Instances of the attribute classes themselves: no lookup at all.
    if (type->tp_dictoffset == 0 && !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        return false;
    }
    // A class whose lookup found the built-in function finds it again while
    // its version tag holds, unless the instance shadows it.
    const unsigned int tag = compat::type_version(type);
    if (tag != 0 && tag == cls.memo_type_tag) {
        const int shadowed = instance_defines_attrvalue(self);
        if (shadowed < 0) {
            return true;  // result stays null: the dict's error is the failure
        }
        if (!shadowed) {
            return false;
        }
    }
    Ref method = Ref::steal(PyObject_GetAttr(self, k.attrvalue));
    if (!method) {
        return true;  // result stays null: the lookup's error is the failure
    }
    PyObject* function = method.get();
    if (PyMethod_Check(function) && PyMethod_GET_SELF(function) == self) {
        function = PyMethod_GET_FUNCTION(function);
    }
    if (function == cls.attrvalue_function) {
        // Remembered only where the tag decides the lookup: the class's own
        // attribute lookup, finding the function itself in a class namespace
        // (a __getattribute__ or a descriptor under the name may answer
        // otherwise next time, with no change of any namespace).
        const unsigned int found_tag = compat::type_version(type);
        if (found_tag != 0 && type->tp_getattro == PyObject_GenericGetAttr &&
            compat::type_lookup(type, k.attrvalue) == cls.attrvalue_function) {
            cls.memo_type_tag = found_tag;
        }
        return false;
    }
    result = Ref::steal(PyObject_CallOneArg(method.get(), obj));
    return true;
}

}  // namespace tavo::attributes
