// Instance tests against one base class, with the outcome for the last class
// that passed remembered by its version tag: tags are never reused, and a
// change of a class's bases gives it a new one. An owner test runs at every
// read and write of a property, mostly on the same few component classes.
#pragma once

#include "support/compat.hpp"

namespace tavo {

class SubtypeMemo {
public:
    // Whether obj is an instance of `base` or of a subclass of it.
    bool check(PyObject* obj, PyTypeObject* base) noexcept {
        const unsigned int tag = compat::type_version(Py_TYPE(obj));
        if (tag != 0 && tag == passed_tag_) {
            return true;
        }
        if (!base || !PyObject_TypeCheck(obj, base)) {
            return false;
        }
        if (tag != 0) {
            passed_tag_ = tag;
        }
        return true;
    }

private:
    unsigned int passed_tag_ = 0;
};

}  // namespace tavo
