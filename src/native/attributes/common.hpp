// The rules the attribute classes share, one concern a file:
//   state.hpp              process-wide state, constants, the class records
//   keywords.hpp           constructor arguments and keywords
//   getters.hpp            page names and the common read-only getters
//   messages.hpp           validation messages naming owner and property
//   module_names.hpp       module-level names looked up at call time
//   option_membership.hpp  `value in options`
//   sequences.hpp          items of stored sequences, their joined texts
//   type_objects.hpp       type objects, creation, collector support, release
//   override_dispatch.hpp  attrvalue overrides and the owner check
#pragma once

#include "attributes/getters.hpp"
#include "attributes/keywords.hpp"
#include "attributes/messages.hpp"
#include "attributes/module_names.hpp"
#include "attributes/option_membership.hpp"
#include "attributes/override_dispatch.hpp"
#include "attributes/sequences.hpp"
#include "attributes/state.hpp"
#include "attributes/type_objects.hpp"
