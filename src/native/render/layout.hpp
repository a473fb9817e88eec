// What a component class declares, kept per class.
//
// A layout lists the attribute objects of a component class in declaration
// order: the class bodies along the reversed MRO (base classes first), each
// name at the place of its first definition, holding what the class finds
// under that name now (so a subclass's redefinition stands at the base's
// place, and a name redefined as something else is left out).
//
// A layout is kept per class, with the class's version tag: while the tag is
// unchanged no namespace along the MRO has changed, so the attribute objects
// are still held by the class namespaces and the layout borrows them. The
// class is held weakly; its layout goes when it goes. Besides, each entry
// remembers page names it derived and the names last checked, each by the
// identity of the str objects they came from (held, so never reused; exact
// str only, so a kept layout keeps no user object alive).
//
// The layout is found current before any code runs; start_tag takes its
// references to the attribute objects at once, and a layout being replaced
// is held by whoever is still reading it (see compat.hpp's rules for
// tag-keyed caches).
#pragma once

#include "render/state.hpp"

namespace tavo::render {

struct Entry {
    PyObject* key;                // the class attribute's name (held)
    PyObject* attr;               // the attribute object (borrowed, see above)
    const AttributeClass* cls;    // its class among the attribute classes
    bool exact;                   // an instance of that class itself, not of a Python subclass
    PyObject* name_seen;          // `name` the page name was last derived from (held)
    PyObject* derived;            // that page name (held)
    PyObject* checked_name;       // page name at the last successful check (held)
    Kind checked_kind;            // kind at that check
};

struct LayoutObject {
    PyObject_VAR_HEAD
    PyObject* class_ref;  // weak reference to the class; its callback forgets the layout
    unsigned int tag;     // version tag of the class when the layout was made; 0: not kept
    bool checked;         // the entries' checked names and kinds are a valid set of names
    Entry entries[1];     // ob_size of them
};

int ready_layout_type();

// The current layout of `type` (an EventDispatcher subclass), made or
// remade as needed: a new reference, null with an exception on failure.
// A layout made by this call also gives `held`, a list holding its
// attribute objects, which the caller uses instead of the borrowed ones
// (code run while it was made may have changed the class).
LayoutObject* layout_of(PyTypeObject* type, Ref& held);

}  // namespace tavo::render
