// Membership of a value in an option list, as `value in options` decides it.
#pragma once

#include "attributes/state.hpp"

namespace tavo::attributes {

// Membership test holding its own reference to the container while the
// items' __eq__ run.
int contains(PyObject* container, PyObject* value);

}  // namespace tavo::attributes
