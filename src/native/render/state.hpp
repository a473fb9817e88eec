// tavo.core._render: a component's start tag from the attributes its class
// declares. One concern a file:
//   state.hpp      the module's process-wide state: constants, the attribute
//                  classes with their tables and field offsets
//   names.hpp      the HTML rules for tag and attribute names
//   writer.hpp     the tag's text: pieces measured, escaped and written once
//   layout.hpp     what each component class declares, kept per class
//   renderings.hpp slots, names and renderings start_tag and the page share
//   start_tag.cpp  the function
//   page.cpp       Page: the components of one browser page and their updates
//   module.cpp     import, the create and exec steps
#pragma once

#include "attributes/tables.hpp"
#include "support/ref.hpp"
#include "support/traceback.hpp"

#include <cstddef>

namespace tavo::render {

inline constexpr const char* kSourceFile = "tavo/core/_render";

// Add the traceback entry of the failing operation `qualname`.
#define RENDER_TRACE(qualname) ::tavo::add_traceback((qualname), __LINE__, ::tavo::render::kSourceFile)

// Where an attribute's rendering goes, from its attrtype.
enum class Kind : unsigned char { none, style, klass, element };

// One of the attribute classes of tavo.core._attributes: its type, its
// table's attrvalue entry and where its instances keep attrtype and attrname.
struct AttributeClass {
    const char* name;
    std::size_t basicsize;
    std::size_t attrtype_offset;
    std::size_t attrname_offset;
    std::size_t attrvalue_offset;  // of the attrvalue entry in the class's table
    std::size_t sync_offset;       // of the int field sync
    bool boolean;                  // _BooleanAttribute: a bare name in the tag
    PyTypeObject* type;            // set at import, kept for good
    attributes::AttrvalueEntry attrvalue;
};

inline constexpr int kAttributeClasses = 9;
extern AttributeClass attribute_classes[kAttributeClasses];

// Strings made once at import and kept for the life of the process.
struct Constants {
    PyObject* style;    // interned, also the name of the tag's style attribute
    PyObject* klass;    // "class", interned
    PyObject* element;  // interned
    PyObject* attrtype;
    PyObject* attrname;
    PyObject* add_note;
    PyObject* dunder_init;
    PyObject* underscore;
    PyObject* dash;
    // pieces of the tag
    PyObject* open;         // "<"
    PyObject* close;        // ">"
    PyObject* space;        // " "
    PyObject* equals_quote; // '="'
    PyObject* quote;        // '"'
    PyObject* style_open;   // ' style="'
    PyObject* class_open;   // ' class="'
    PyObject* colon_space;  // ": "
    PyObject* semicolon_space;  // "; "
    PyObject* sync;                  // interned
    PyObject* empty;                 // ""
    PyObject* default_id_attribute;  // "data-tavo-id"
};

extern Constants k;
extern PyTypeObject* event_dispatcher;

// The object field at `offset` (borrowed; may be null only before __init__).
inline PyObject* field_at(PyObject* object, std::size_t offset) noexcept {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + offset);
}

}  // namespace tavo::render
