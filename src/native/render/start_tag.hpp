// start_tag(component, tag, /), the module's one function.
#pragma once

#include "render/state.hpp"

namespace tavo::render {

PyObject* start_tag(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace tavo::render
