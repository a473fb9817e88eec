// The page name of an attribute and the read-only getters the classes share.
#pragma once

#include "attributes/state.hpp"

#include <cstddef>

namespace tavo::attributes {

// The page name: `attrname` when it is a non-empty str, else `name` with
// every "_" replaced by "-".
PyObject* resolved_attrname(PyObject* attrname, PyObject* name);

// Getter closures: the field's offset and the getter's traceback name.
struct FieldGetter {
    std::size_t offset;
    const char* qualname;
};
PyObject* get_attrname(PyObject* self, void* closure);
PyObject* get_object_field(PyObject* self, void* closure);
PyObject* get_int_field(PyObject* self, void* closure);

// The getters and attribute table most classes share, in the order sync,
// attrname, attrtype, then options for the classes that show that field.
template <typename Object, bool kOptions = false>
struct CommonGetters {
    FieldGetter sync;
    FieldGetter attrname;
    FieldGetter attrtype;
    FieldGetter options;
    PyGetSetDef table[5];

    CommonGetters(const char* sync_name, const char* attrname_name, const char* attrtype_name,
                  const char* options_name)
        : sync{offsetof(Object, sync), sync_name},
          attrname{offsetof(Object, attrname), attrname_name},
          attrtype{offsetof(Object, attrtype), attrtype_name},
          options{options_offset(), options_name},
          table{
              {"sync", get_int_field, nullptr, nullptr, &sync},
              {"attrname", get_attrname, nullptr, nullptr, &attrname},
              {"attrtype", get_object_field, nullptr, nullptr, &attrtype},
              kOptions ? PyGetSetDef{"options", get_object_field, nullptr, nullptr, &options} : PyGetSetDef{},
              PyGetSetDef{},
          } {}

    static constexpr std::size_t options_offset() {
        if constexpr (kOptions) {
            return offsetof(Object, options);
        } else {
            return 0;
        }
    }
};

// The traceback names of those getters, for the class named Class.
#define GETTER_NAMES(Class)                                                                            \
    "tavo.core._attributes." Class ".sync.__get__", "tavo.core._attributes." Class ".attrname.__get__", \
        "tavo.core._attributes." Class ".attrtype.__get__", "tavo.core._attributes." Class ".options.__get__"

}  // namespace tavo::attributes
