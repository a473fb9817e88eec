// Rules shared by every attribute class: constructor keywords, page names,
// messages, the attrvalue override dispatch and object life cycle helpers.
#include "attributes/common.hpp"

#include <climits>
#include <cstddef>

namespace tavo::attributes {

Constants k{};
State g{};

// ---- constructor keywords ------------------------------------------------

int check_text(PyObject* value) {
    if (value == Py_None || PyUnicode_CheckExact(value)) {
        return 0;
    }
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "str", Py_TYPE(value)->tp_name);
    return -1;
}

int read_text_keyword(PyObject* kw, PyObject* key, PyObject*& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, key);
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        borrowed = k.empty_str;
    }
    if (check_text(borrowed) < 0) {
        return -1;
    }
    set_field(field, Ref::borrow(borrowed));
    return 0;
}

int to_int32(PyObject* value, int& out) {
    Ref number;
    if (PyLong_Check(value)) {
        number = Ref::borrow(value);
    } else {
        PyNumberMethods* nb = Py_TYPE(value)->tp_as_number;
        if (!nb || !nb->nb_int) {
            PyErr_SetString(PyExc_TypeError, "an integer is required");
            return -1;
        }
        number = Ref::steal(nb->nb_int(value));
        if (!number) {
            return -1;
        }
        if (!PyLong_Check(number.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(number.get())->tp_name);
            return -1;
        }
    }
    int overflow = 0;
    long long wide = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (wide == -1 && PyErr_Occurred()) {
        return -1;
    }
    if (overflow != 0 || wide < INT_MIN || wide > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    out = static_cast<int>(wide);
    return 0;
}

int read_sync_keyword(PyObject* kw, int& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, k.sync);
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        field = 0;
        return 0;
    }
    Ref keep = Ref::borrow(borrowed);  // the conversion may run user code
    int value = 0;
    if (to_int32(keep.get(), value) < 0) {
        return -1;
    }
    field = value;
    return 0;
}

int read_list_keyword(PyObject* kw, PyObject* key, PyObject*& field) {
    PyObject* borrowed = PyDict_GetItemWithError(kw, key);
    Ref list;
    if (!borrowed) {
        if (PyErr_Occurred()) {
            return -1;
        }
        list = Ref::steal(PyList_New(0));
    } else {
        Ref keep = Ref::borrow(borrowed);
        list = Ref::steal(PySequence_List(keep.get()));
    }
    if (!list) {
        return -1;
    }
    set_field(field, std::move(list));
    return 0;
}

PyObject* copy_keywords(PyObject* kwds) {
    return kwds ? PyDict_Copy(kwds) : PyDict_New();
}

int parse_parameters(PyObject* args, PyObject* kwds, std::initializer_list<PyObject*> names, Ref* values,
                     Ref& kw) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const auto count = static_cast<Py_ssize_t>(names.size());
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", "__init__",
                     "at most", count, count == 1 ? "" : "s", nargs);
        return -1;
    }
    kw = Ref::steal(copy_keywords(kwds));
    if (!kw) {
        return -1;
    }
    Py_ssize_t index = 0;
    for (PyObject* name : names) {
        PyObject* given = PyDict_GetItemWithError(kw.get(), name);
        if (!given && PyErr_Occurred()) {
            return -1;
        }
        if (given && index < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", "__init__", name);
            return -1;
        }
        if (index < nargs) {
            values[index] = Ref::borrow(PyTuple_GET_ITEM(args, index));
        } else if (given) {
            values[index] = Ref::borrow(given);
            if (PyDict_DelItem(kw.get(), name) < 0) {
                return -1;
            }
        }
        ++index;
    }
    return 0;
}

int init_base(PyTypeObject* cls, PyObject* self, PyObject* args, PyObject* kw) {
    Ref proxy = Ref::steal(PyObject_CallFunctionObjArgs(g.builtin_super, reinterpret_cast<PyObject*>(cls),
                                                        self, nullptr));
    if (!proxy) {
        return -1;
    }
    Ref init = Ref::steal(PyObject_GetAttr(proxy.get(), k.dunder_init));
    if (!init) {
        return -1;
    }
    Ref keywords = Ref::steal(PyDict_Copy(kw));
    if (!keywords) {
        return -1;
    }
    Ref result = Ref::steal(PyObject_Call(init.get(), args, keywords.get()));
    return result ? 0 : -1;
}

// ---- names and messages --------------------------------------------------

PyObject* resolved_attrname(PyObject* attrname, PyObject* name) {
    if (attrname != Py_None && PyUnicode_GET_LENGTH(attrname) > 0) {
        return new_ref(attrname);
    }
    if (name == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "replace");
        ATTR_TRACE("tavo.core._attributes._resolved_attrname");
        return nullptr;
    }
    PyObject* result = PyUnicode_Replace(name, k.underscore, k.dash, -1);
    if (!result) {
        ATTR_TRACE("tavo.core._attributes._resolved_attrname");
    }
    return result;
}

static PyObject*& object_field(PyObject* self, std::size_t offset) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + offset);
}

PyObject* get_attrname(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    // The field may be replaced while `name` is looked up (user code).
    Ref attrname = Ref::borrow(object_field(self, getter->offset));
    Ref name = Ref::steal(PyObject_GetAttr(self, k.name));
    Ref result;
    if (name && check_text(name.get()) == 0) {
        result = Ref::steal(resolved_attrname(attrname.get(), name.get()));
    }
    if (!result) {
        ATTR_TRACE(getter->qualname);
    }
    return result.release();
}

PyObject* get_object_field(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    PyObject* value = object_field(self, getter->offset);
    return new_ref(value ? value : Py_None);
}

PyObject* get_int_field(PyObject* self, void* closure) {
    const auto* getter = static_cast<const FieldGetter*>(closure);
    int value = *reinterpret_cast<int*>(reinterpret_cast<char*>(self) + getter->offset);
    PyObject* result = PyLong_FromLong(value);
    if (!result) {
        ATTR_TRACE(getter->qualname);
    }
    return result;
}

PyObject* plain_text(PyObject* value) {
    if (PyUnicode_CheckExact(value)) {
        return new_ref(value);
    }
    return PyObject_Format(value, k.empty_str);
}

void raise_composed(PyObject* owner, PyObject* prop, std::initializer_list<Piece> pieces) {
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) {
        return;
    }
    auto append = [&](Ref piece) -> bool {
        return piece && PyList_Append(parts.get(), piece.get()) == 0;
    };
    Ref owner_class = Ref::steal(PyObject_GetAttr(owner, k.dunder_class));
    if (!owner_class) {
        return;
    }
    Ref owner_name = Ref::steal(PyObject_GetAttr(owner_class.get(), k.dunder_name));
    if (!owner_name || !append(Ref::steal(plain_text(owner_name.get())))) {
        return;
    }
    if (!append(Ref::steal(PyUnicode_FromString(".")))) {
        return;
    }
    Ref prop_name = Ref::steal(PyObject_GetAttr(prop, k.name));
    if (!prop_name || !append(Ref::steal(plain_text(prop_name.get())))) {
        return;
    }
    for (const Piece& piece : pieces) {
        Ref part;
        switch (piece.kind) {
            case Piece::Text: part = Ref::steal(PyUnicode_FromString(piece.text)); break;
            case Piece::Repr: part = Ref::steal(PyObject_Repr(piece.object)); break;
            case Piece::Plain: part = Ref::steal(plain_text(piece.object)); break;
        }
        if (!append(std::move(part))) {
            return;
        }
    }
    Ref message = Ref::steal(PyUnicode_Join(k.empty_str, parts.get()));
    if (message) {
        PyErr_SetObject(PyExc_ValueError, message.get());
    }
}

// ---- small helpers -------------------------------------------------------

static std::uint64_t dict_version(PyObject* dict) {
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
}

PyObject* module_global(GlobalName& global) {
    PyObject* builtins = PyModule_GetDict(g.builtins);
    // A dict's version changes with every change of its entries and is never
    // given to another state, so an unchanged pair of versions finds the same object.
    if (global.value && dict_version(g.module_dict) == global.module_version &&
        dict_version(builtins) == global.builtins_version) {
        return new_ref(global.value);
    }
    global.value = nullptr;
    PyObject* name = *global.name;
    PyObject* found = PyDict_GetItemWithError(g.module_dict, name);
    if (!found && !PyErr_Occurred()) {
        found = PyDict_GetItemWithError(builtins, name);
        if (!found && !PyErr_Occurred()) {
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        }
    }
    if (!found) {
        return nullptr;
    }
    global.module_version = dict_version(g.module_dict);
    global.builtins_version = dict_version(builtins);
    global.value = found;
    return new_ref(found);
}

namespace {

// The texts to join: owned references, kept inline up to a small count.
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() {
        for (Py_ssize_t i = 0; i < size_; ++i) {
            Py_DECREF(items_[i]);
        }
        if (items_ != inline_) {
            PyMem_Free(items_);
        }
    }

    // Take over `text` (a new reference, or null after a failure).
    bool push(PyObject* text) {
        if (!text) {
            return false;
        }
        if (size_ == capacity_ && !grow()) {
            Py_DECREF(text);
            return false;
        }
        items_[size_++] = text;
        return true;
    }

    PyObject* join(PyObject* separator) const { return _PyUnicode_JoinArray(separator, items_, size_); }

private:
    bool grow() {
        const Py_ssize_t capacity = capacity_ * 2;
        auto* items = static_cast<PyObject**>(PyMem_Malloc(sizeof(PyObject*) * static_cast<std::size_t>(capacity)));
        if (!items) {
            PyErr_NoMemory();
            return false;
        }
        for (Py_ssize_t i = 0; i < size_; ++i) {
            items[i] = items_[i];
        }
        if (items_ != inline_) {
            PyMem_Free(items_);
        }
        items_ = items;
        capacity_ = capacity;
        return true;
    }

    PyObject* inline_[8] = {};
    PyObject** items_ = inline_;
    Py_ssize_t size_ = 0;
    Py_ssize_t capacity_ = 8;
};

// A str item as it is, any other through str(). New reference.
PyObject* item_text(PyObject* item) {
    return PyUnicode_CheckExact(item) ? new_ref(item) : PyObject_Str(item);
}

}  // namespace

PyObject* join_item_texts(PyObject* iterable, PyObject* separator) {
    TextBuffer texts;
    PyTypeObject* type = Py_TYPE(iterable);
    if ((PyList_Check(iterable) && type->tp_iter == PyList_Type.tp_iter) ||
        (PyTuple_Check(iterable) && type->tp_iter == PyTuple_Type.tp_iter)) {
        // The items in the order and number the list's or tuple's own iterator
        // gives them: the length is read again after each item (str() of an
        // item may change the list).
        Ref keep = Ref::borrow(iterable);
        const bool is_list = PyList_Check(iterable);
        for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(iterable) : PyTuple_GET_SIZE(iterable)); ++i) {
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(iterable, i) : PyTuple_GET_ITEM(iterable, i));
            if (!texts.push(item_text(item.get()))) {
                return nullptr;
            }
        }
        return texts.join(separator);
    }
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return nullptr;
    }
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!texts.push(item_text(item.get()))) {
            return nullptr;
        }
    }
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return texts.join(separator);
}

unsigned int owner_type_tag = 0;

bool is_owner_slow(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (!PyObject_TypeCheck(obj, g.EventDispatcher)) {
        return false;
    }
    if (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) {
        owner_type_tag = type->tp_version_tag;
    }
    return true;
}

namespace {

enum class Kind { Text, Number, None, List, Tuple, Dict, Other };

Kind kind_of(PyObject* o) {
    if (PyUnicode_CheckExact(o)) {
        return Kind::Text;
    }
    if (PyLong_CheckExact(o) || PyFloat_CheckExact(o)) {
        return Kind::Number;
    }
    if (o == Py_None) {
        return Kind::None;
    }
    if (PyList_CheckExact(o)) {
        return Kind::List;
    }
    if (PyTuple_CheckExact(o)) {
        return Kind::Tuple;
    }
    return PyDict_CheckExact(o) ? Kind::Dict : Kind::Other;
}

// The outcome of `a == b` when the built-in types decide it without running
// any code: texts with texts by content; texts, numbers, None, lists, tuples
// and dicts each with another of these kinds as different (both sides'
// comparisons decline, and the objects are not the same). -1 when the
// runtime's comparison must run.
int known_equality(PyObject* a, Kind ka, PyObject* b, Kind kb) {
    if (a == b) {
        return 1;
    }
    if (ka == Kind::Other || kb == Kind::Other) {
        return -1;
    }
    if (ka != kb) {
        return 0;
    }
    return ka == Kind::Text ? _PyUnicode_EQ(a, b) : -1;
}

// The list's membership test from item `first` on, once a comparison has to
// run code: that code may change or release the list, the value and the item.
int contains_from(PyObject* list, PyObject* value, Kind value_kind, Py_ssize_t first) {
    Ref keep_list = Ref::borrow(list);
    Ref keep_value = Ref::borrow(value);
    for (Py_ssize_t i = first; i < PyList_GET_SIZE(list); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        int found = known_equality(item.get(), kind_of(item.get()), value, value_kind);
        if (found < 0) {
            found = PyObject_RichCompareBool(item.get(), value, Py_EQ);
        }
        if (found != 0) {
            return found;
        }
    }
    return 0;
}

}  // namespace

int contains(PyObject* container, PyObject* value) {
    if (!PyList_CheckExact(container)) {
        Ref keep_container = Ref::borrow(container);
        Ref keep_value = Ref::borrow(value);
        return PySequence_Contains(container, value);
    }
    // The list's own membership test, item by item; the comparisons the
    // built-in types decide run no code, so nothing can change under them.
    const Kind value_kind = kind_of(value);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(container); ++i) {
        PyObject* item = PyList_GET_ITEM(container, i);
        const int found = known_equality(item, kind_of(item), value, value_kind);
        if (found < 0) {
            return contains_from(container, value, value_kind, i);
        }
        if (found) {
            return 1;
        }
    }
    return 0;
}

int init_new_list(PyObject*& field) {
    field = PyList_New(0);
    return field ? 0 : -1;
}

int init_new_dict(PyObject*& field) {
    field = PyDict_New();
    return field ? 0 : -1;
}

PyTypeObject attribute_type_object(const AttributeTypeSlots& slots) {
    PyTypeObject t = static_type_base();
    t.tp_name = slots.name;
    t.tp_basicsize = slots.basicsize;
    t.tp_dealloc = slots.dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = slots.doc;
    t.tp_traverse = slots.traverse;
    t.tp_clear = slots.clear;
    t.tp_getset = slots.getset;
    t.tp_init = slots.init;
    t.tp_new = slots.create;
    return t;
}

PyObject* new_with_base(PyTypeObject* base, PyTypeObject* type, PyObject* args, PyObject* kwds,
                        const void* table) {
    PyObject* self = base->tp_new(type, args, kwds);
    if (self) {
        reinterpret_cast<contract::PropertyObject*>(self)->vtab =
            static_cast<const contract::PropertyVTable*>(table);
    }
    return self;
}

void dealloc_base(PyTypeObject* base, PyObject* self) {
    // The base's release expects a tracked object when its type is collected.
    if (PyType_IS_GC(base)) {
        PyObject_GC_Track(self);
    }
    base->tp_dealloc(self);
}

// ---- attrvalue override dispatch -----------------------------------------

static std::uint64_t instance_dict_version(PyObject* self) {
    PyObject** dictptr = _PyObject_GetDictPtr(self);
    if (!dictptr || !*dictptr) {
        return 0;
    }
    return reinterpret_cast<PyDictObject*>(*dictptr)->ma_version_tag;
}

bool dispatch_attrvalue_override(PyObject* self, PyObject* obj, AttrClass& cls, Ref& result) {
    PyTypeObject* type = Py_TYPE(self);
    // Instances of the attribute classes themselves: no lookup at all.
    if (type->tp_dictoffset == 0 && !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        return false;
    }
    const bool tag_valid = (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) != 0;
    if (tag_valid && type->tp_version_tag == cls.memo_type_tag &&
        instance_dict_version(self) == cls.memo_dict_version) {
        return false;
    }
    Ref method = Ref::steal(PyObject_GetAttr(self, k.attrvalue));
    if (!method) {
        return true;  // result stays null: the lookup's error is the failure
    }
    PyObject* function = method.get();
    if (PyMethod_Check(function) && PyMethod_GET_SELF(function) == self) {
        function = PyMethod_GET_FUNCTION(function);
    }
    if (function == cls.attrvalue_function) {
        // The version tag is valid after a successful lookup through the type.
        if (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) {
            cls.memo_type_tag = type->tp_version_tag;
            cls.memo_dict_version = instance_dict_version(self);
        }
        return false;
    }
    result = Ref::steal(PyObject_CallOneArg(method.get(), obj));
    return true;
}

}  // namespace tavo::attributes
