// The default text of a number, written without the runtime's generic
// formatting: the renderings of a page format numbers more than anything.
#pragma once

#include "attributes/state.hpp"

namespace tavo::attributes {

// Writes what str() gives for an exact int or float into `buffer`; false
// (no error set) for any other value, which the caller formats instead.
bool write_number(PyObject* value, char (&buffer)[32], Py_ssize_t& length);

// format(value, "") (the same as str() for an exact int or float). New reference.
PyObject* default_text(PyObject* value);

}  // namespace tavo::attributes
