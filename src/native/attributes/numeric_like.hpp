// What _NumericAttribute, _BoundedNumericAttribute and _VariableListAttribute
// share: the same four fields after their base's part, the same constructor,
// the same getters and the same collector support.
#pragma once

#include "attributes/common.hpp"

#include <cstddef>

namespace tavo::attributes {

template <typename Object>
struct NumericLike {
    static Object* of(PyObject* o) { return reinterpret_cast<Object*>(o); }

    // Base creation, the class's table, then options, sync, attrname, attrtype.
    static PyObject* create(PyTypeObject* base, PyTypeObject* type, PyObject* args, PyObject* kwds,
                            const void* table) {
        Ref self = Ref::steal(new_with_base(base, type, args, kwds, table));
        if (!self) {
            return nullptr;
        }
        Object* s = of(self.get());
        if (init_new_list(s->options) < 0) {
            return nullptr;
        }
        s->sync = 0;
        init_empty_text(s->attrname);
        init_empty_text(s->attrtype);
        return self.release();
    }

    // attrtype, attrname, sync, options; allownone forced; every positional
    // argument and a copy of the keywords go to the base constructor.
    static int init(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kwds, const char* qualname) {
        Ref kw = Ref::steal(copy_keywords(kwds));
        Object* s = of(self);
        if (!kw || read_text_keyword(kw.get(), k.attrtype, s->attrtype) < 0 ||
            read_text_keyword(kw.get(), k.attrname, s->attrname) < 0 || read_sync_keyword(kw.get(), s->sync) < 0 ||
            read_list_keyword(kw.get(), k.options, s->options) < 0 ||
            PyDict_SetItem(kw.get(), k.allownone, Py_True) < 0 || init_base(cls, self, args, kw.get()) < 0) {
            ATTR_TRACE(qualname);
            return -1;
        }
        return 0;
    }

    static int traverse(PyTypeObject* base, PyObject* self, visitproc visit, void* arg) {
        if (int status = traverse_base(base, self, visit, arg)) {
            return status;
        }
        Py_VISIT(of(self)->options);
        return 0;
    }

    static void clear(PyTypeObject* base, PyObject* self) {
        clear_base(base, self);
        set_field(of(self)->options, Ref::borrow(Py_None));
    }

    // Called from the class's tp_dealloc, which untracked the object.
    static void dealloc(PyTypeObject* base, PyObject* self) {
        Object* s = of(self);
        Py_CLEAR(s->attrtype);
        Py_CLEAR(s->attrname);
        Py_CLEAR(s->options);
        dealloc_base(base, self);
    }

    // Whether value is one of the attribute's options (1), not (0), or an error (-1).
    static int is_option(PyObject* self, PyObject* value) {
        PyObject* options = of(self)->options;
        if (!options || options == Py_None) {
            return 0;
        }
        return contains(options, value);
    }
};

// The type slots of one of the three classes: Base is where its imported base
// class is kept, Cls its class record, Table its method table and InitName
// the traceback name of its __init__.
template <typename Object, PyTypeObject* State::*Base, AttrClass& Cls, auto* Table, const char* InitName>
struct NumericLikeSlots {
    using Impl = NumericLike<Object>;

    static PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwds) {
        return Impl::create(g.*Base, type, args, kwds, Table);
    }
    static int init(PyObject* self, PyObject* args, PyObject* kwds) {
        return Impl::init(Cls.type, self, args, kwds, InitName);
    }
    static int traverse(PyObject* self, visitproc visit, void* arg) {
        return Impl::traverse(g.*Base, self, visit, arg);
    }
    static int clear(PyObject* self) {
        Impl::clear(g.*Base, self);
        return 0;
    }
    static void dealloc(PyObject* self) {
        compat::dealloc_in_trashcan<dealloc>(self, [self] { Impl::dealloc(g.*Base, self); });
    }
};

// The rendering of a number and its unit (_NumericAttribute and
// _BoundedNumericAttribute): None as "", a text as it is, otherwise the
// number's text followed by the unit get_units gives, if any.
PyObject* render_number_with_units(PyObject* self, PyObject* obj);

// Raise the ValueError of a value that is neither a number, a text nor an option.
void raise_invalid_numeric_option(PyObject* self, PyObject* obj, PyObject* value, PyObject* options);

}  // namespace tavo::attributes
