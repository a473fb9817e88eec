// The Python-visible `attrvalue` of each attribute class.
//
// A small function type: it binds as a method (so `Class.attrvalue` is the
// function and `attr.attrvalue` a bound method), carries `__qualname__` and
// `__module__`, and is flagged as a method descriptor, so that
// `attr.attrvalue(owner)` is called through vectorcall without a bound-method
// object being made.
#include "attributes/common.hpp"

#include <structmember.h>

#include <cstddef>

namespace tavo::attributes {

namespace {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    AttrClass* cls;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
};

int raise_argument_count(Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 "attrvalue", "exactly", static_cast<Py_ssize_t>(1), "", given);
    return -1;
}

// The one argument `obj`, by position or by keyword. Borrowed result.
PyObject* parse_obj_argument(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject* obj = nargs == 1 ? args[0] : nullptr;
    if (nargs > 1) {
        raise_argument_count(nargs);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, i);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", "attrvalue");
            return nullptr;
        }
        int same = PyUnicode_Compare(key, k.obj) == 0;
        if (!same) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", "attrvalue", key);
            return nullptr;
        }
        if (obj) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", "attrvalue",
                         key);
            return nullptr;
        }
        obj = args[nargs + i];
    }
    if (!obj) {
        raise_argument_count(nargs);
    }
    return obj;
}

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf,
                              PyObject* kwnames) {
    auto* function = reinterpret_cast<FunctionObject*>(callable);
    AttrClass& cls = *function->cls;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "unbound method %U() needs an argument", function->qualname);
        ATTR_TRACE(cls.attrvalue_qualname);
        return nullptr;
    }
    PyObject* self = args[0];
    if (!PyObject_TypeCheck(self, cls.type)) {
        PyErr_Format(PyExc_TypeError, "descriptor '%U' for '%.100s' objects doesn't apply to a '%.100s' object",
                     function->name, cls.name, Py_TYPE(self)->tp_name);
        ATTR_TRACE(cls.attrvalue_qualname);
        return nullptr;
    }
    PyObject* obj = parse_obj_argument(args + 1, nargs - 1, kwnames);
    if (!obj) {
        ATTR_TRACE(cls.attrvalue_qualname);
        return nullptr;
    }
    if (obj != Py_None && !is_owner(obj)) {
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%U",
                     "obj", g.EventDispatcher->tp_name, Py_TYPE(obj)->tp_name, "", k.empty_str);
        ATTR_TRACE(cls.attrvalue_qualname);
        return nullptr;
    }
    return cls.attrvalue(self, obj, 1);
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject* /*type*/) {
    if (obj == nullptr || obj == Py_None) {
        return new_ref(self);
    }
    return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<native method %U>", reinterpret_cast<FunctionObject*>(self)->qualname);
}

void function_dealloc(PyObject* self) {
    auto* function = reinterpret_cast<FunctionObject*>(self);
    Py_CLEAR(function->name);
    Py_CLEAR(function->qualname);
    Py_CLEAR(function->module);
    Py_TYPE(self)->tp_free(self);
}

PyObject* function_get_doc(PyObject* self, void*) {
    auto* function = reinterpret_cast<FunctionObject*>(self);
    return PyUnicode_FromFormat("%s.attrvalue(self, obj)\nThe value of this attribute for the owner `obj`, "
                                "rendered as it is sent to the front end.",
                                function->cls->name);
}

PyObject* function_get_text_signature(PyObject*, void*) {
    return PyUnicode_FromString("($self, /, obj)");
}

PyObject* function_get_objclass(PyObject* self, void*) {
    return new_ref(reinterpret_cast<PyObject*>(reinterpret_cast<FunctionObject*>(self)->cls->type));
}

PyMemberDef function_members[] = {
    {"__name__", T_OBJECT, offsetof(FunctionObject, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(FunctionObject, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__doc__", function_get_doc, nullptr, nullptr, nullptr},
    {"__text_signature__", function_get_text_signature, nullptr, nullptr, nullptr},
    {"__objclass__", function_get_objclass, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject function_type = [] {
    PyTypeObject t = static_type_base();
    t.tp_name = "tavo.core._attributes.native_method";
    t.tp_basicsize = sizeof(FunctionObject);
    t.tp_dealloc = function_dealloc;
    t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    t.tp_repr = function_repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
                 Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;
    t.tp_members = function_members;
    t.tp_getset = function_getset;
    t.tp_descr_get = function_descr_get;
    return t;
}();

}  // namespace

int ready_function_type() {
    return PyType_Ready(&function_type);
}

PyObject* new_attrvalue_function(AttrClass& cls) {
    Ref self = Ref::steal(PyType_GenericAlloc(&function_type, 0));
    if (!self) {
        return nullptr;
    }
    auto* function = reinterpret_cast<FunctionObject*>(self.get());
    function->vectorcall = function_vectorcall;
    function->cls = &cls;
    function->name = new_ref(k.attrvalue);
    function->qualname = PyUnicode_FromFormat("%s.attrvalue", cls.name);
    function->module = new_ref(k.module_name);
    if (!function->qualname) {
        return nullptr;
    }
    return self.release();
}

}  // namespace tavo::attributes
