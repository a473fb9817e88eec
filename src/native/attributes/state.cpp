// The module's process-wide state, filled by the exec step (module.cpp).
#include "attributes/state.hpp"

namespace tavo::attributes {

Constants k{};
State g{};

}  // namespace tavo::attributes
