// tavo.core._render.Page and Update: the components of one browser page and
// the updates of their elements.
#pragma once

#include "render/state.hpp"

namespace tavo::render {

// Readies Page and makes Update; adds both to `module`. -1 with an exception.
int add_page_types(PyObject* module);

}  // namespace tavo::render
