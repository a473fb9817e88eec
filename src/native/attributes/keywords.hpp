// Constructor arguments and keywords of the attribute classes.
#pragma once

#include "attributes/state.hpp"

#include <initializer_list>

namespace tavo::attributes {

// Read keyword `key` of `kw` (default ""): exactly a str or None; stored into
// `field` at once. -1 with TypeError "Expected str, got <type>" otherwise.
int read_text_keyword(PyObject* kw, PyObject* key, PyObject*& field);
// Read `sync` (default 0) as a 32-bit signed integer.
int read_sync_keyword(PyObject* kw, int& field);
// Read keyword `key` (default an empty list) as a new list built from any iterable.
int read_list_keyword(PyObject* kw, PyObject* key, PyObject*& field);
// The runtime's integer conversion to a 32-bit signed integer.
int to_int32(PyObject* value, int& out);
// Check that a text field value is exactly a str or None.
int check_text(PyObject* value);
// super(cls, self).__init__(*args, **kw) with a copy of kw.
int init_base(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kw);
// kwds of tp_init as a new dict (empty when none were given).
PyObject* copy_keywords(PyObject* kwds);
// Parse a constructor's named parameters, each given by position or by
// keyword; `values` holds their defaults on entry. Every other keyword goes
// into `kw`, a new dict. The runtime's TypeErrors for a wrong count or a
// repeated argument.
int parse_parameters(PyObject* args, PyObject* kwds, std::initializer_list<PyObject*> names, Ref* values,
                     Ref& kw);

}  // namespace tavo::attributes
