// Module-level names (of the module namespace, then of the builtins) looked
// up at call time, as Python code finds its globals.
#pragma once

#include "attributes/state.hpp"

#include <cstdint>

namespace tavo::attributes {

// A name of the module namespace (then of the builtins), as a lookup at each
// call finds it; NameError "name '...' is not defined" when absent. New
// reference. What a lookup found is remembered with the versions of the two
// namespaces and taken again while neither has changed.
struct GlobalName {
    PyObject* const* name;  // the interned name among the constants
    std::uint64_t module_version = 0;
    std::uint64_t builtins_version = 0;
    PyObject* value = nullptr;  // borrowed: held by the namespace it was found in
};
PyObject* module_global(GlobalName& global);

// Keep the versions of the module namespace and the builtins namespace, on
// which the remembered lookups depend. -1 with an exception on failure.
int watch_module_namespaces();

}  // namespace tavo::attributes
