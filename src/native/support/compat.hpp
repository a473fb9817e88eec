// The one place where the native modules depend on the runtime's version or
// on a function the runtime does not publish. Everything else in the package
// uses the public C API of CPython 3.11, 3.12 and 3.13 alike.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace tavo::compat {

// The runtime the module was compiled for.
inline constexpr int kBuiltMajor = PY_MAJOR_VERSION;
inline constexpr int kBuiltMinor = PY_MINOR_VERSION;

// ---- the exception being raised --------------------------------------------

// Takes the current exception out of the thread state and puts it back when
// destroyed, so that code in between runs as if none were set.
class SavedError {
public:
    SavedError() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        raised_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &value_, &traceback_);
#endif
    }
    SavedError(const SavedError&) = delete;
    SavedError& operator=(const SavedError&) = delete;
    // The saved exception object (borrowed), null when none was being raised.
    PyObject* exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        return raised_;
#else
        if (type_) {
            PyErr_NormalizeException(&type_, &value_, &traceback_);
            if (traceback_ && value_) {
                PyException_SetTraceback(value_, traceback_);
            }
        }
        return value_;
#endif
    }
    // Whatever the code in between raised is dropped in favour of the saved one.
    ~SavedError() {
        PyErr_Clear();
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(raised_);
#else
        PyErr_Restore(type_, value_, traceback_);
#endif
    }

private:
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* raised_ = nullptr;
#else
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
};

// ---- attribute lookup through a type's MRO -----------------------------------

// `name` as the type's MRO finds it, without the metatype and without raising
// (borrowed, null when absent). No public function does this on every version:
// the public way walks the MRO's dicts (PyType_GetDict from 3.12, as the
// static builtin types keep theirs elsewhere). The runtime's own lookup answers
// from its method cache instead; measured on 3.11 (timeit, best of 7), reading
// a property whose class is a Python subclass (its get_value override is
// looked up on every read) took 51 ns with it against 94 to 121 ns with the
// MRO walk, and owner.bind(x=f) 130 against 171 to 178 ns.
inline PyObject* type_lookup(PyTypeObject* type, PyObject* name) noexcept {
    return _PyType_Lookup(type, name);
}

// ---- type version tags -------------------------------------------------------
//
// The caches of the hot paths are keyed by these tags (owner creation's
// property lists, start_tag's layouts, the attrvalue override memo, the owner
// tests). The rules every such cache keeps:
// - A tag covers the class namespaces along the MRO, nothing else: not an
//   instance's __getattribute__, not what a descriptor answers. A cache
//   decides only what its key covers.
// - A pointer a cache borrows is good only until Python code can run: on 3.11
//   any allocation of a collected object (the collector runs finalizers),
//   on every version comparisons, hashing of other than exact str, attribute
//   lookups, __str__, releases. References are taken before such a call, or
//   the cache is checked again after it.
// - What a cache holds for good is visible to the collector or refers to
//   nothing that can reach a user class (exact str), and goes with its class.
// - A tag may be unavailable (0): the slow path runs, with the same result.

// The type's current version tag, 0 when it has none. A tag is never given to
// another type or to another state of the same type, so an unchanged tag means
// an unchanged class namespace along the MRO. 3.13 no longer maintains the
// flag that marked a valid tag and zeroes the tag instead.
inline unsigned int type_version(const PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return type->tp_version_tag;
#else
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#endif
}

// The type's version tag, given one first when it has none (0 when the
// runtime has none left to give). 3.11 gives tags only through its method
// cache, so a lookup through that cache stands in for the 3.12 function.
inline unsigned int assign_type_version(PyTypeObject* type, PyObject* any_name) noexcept {
    if (const unsigned int tag = type_version(type)) {
        return tag;
    }
#if PY_VERSION_HEX >= 0x030C0000
    (void)any_name;
    PyUnstable_Type_AssignVersionTag(type);
#else
    (void)_PyType_Lookup(type, any_name);
#endif
    return type_version(type);
}

// ---- notes on exceptions ---------------------------------------------------

// Add `note` (a str) to the exception being raised, through its add_note
// method (`add_note` is the interned method name). When the note cannot be
// added, the exception stays as it was.
inline void add_note_to_raised(PyObject* note, PyObject* add_note) noexcept {
    SavedError raised;
    if (PyObject* exception = raised.exception()) {
        PyObject* done = PyObject_CallMethodOneArg(exception, add_note, note);
        Py_XDECREF(done);  // a note that cannot be added is left out
    }
}

// ---- versions of namespaces ------------------------------------------------

// A namespace's version: a number that changes whenever the entries of the
// dict change and never comes back, so a value found under one version is
// still there while the version holds. 3.11 keeps one in every dict; from
// 3.12 on that field is deprecated and dicts are watched instead: the
// versions of all watched dicts are then one counter, advanced on any change
// of any of them (and on their release, so a new dict at the same address
// never shows an old version). Only watched dicts have a version. The
// interpreter has few watcher slots: when other code has taken them all, no
// dict has a version (0), and whatever depends on one is looked up anew.
#if PY_VERSION_HEX >= 0x030C0000
namespace detail {
inline std::uint64_t watched_namespaces_version = 1;
inline int namespace_watcher = -1;
inline bool no_watcher_free = false;
inline int on_namespace_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) noexcept {
    ++watched_namespaces_version;
    return 0;
}
}  // namespace detail
#endif

// Start keeping the version of `dict`. -1 with an exception on failure;
// no free watcher is not a failure (the dict then has no version).
inline int watch_namespace(PyObject* dict) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (detail::namespace_watcher < 0) {
        detail::namespace_watcher = PyDict_AddWatcher(detail::on_namespace_change);
        if (detail::namespace_watcher < 0) {
            PyErr_Clear();
            detail::no_watcher_free = true;
            return 0;
        }
        detail::no_watcher_free = false;
    }
    ++detail::watched_namespaces_version;
    return PyDict_Watch(detail::namespace_watcher, dict);
#else
    (void)dict;
    return 0;
#endif
}

// A stamp of a dict's entries taken before an allocation, to tell after it
// whether code the allocation ran changed them. On 3.11 an allocation may run
// the collector and its finalizers at once, and the dict's own version tells;
// from 3.12 on an allocation only schedules a collection, which runs at the
// interpreter's next check, so the stamp is always 0.
inline std::uint64_t stamp_across_allocation(PyObject* dict) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    (void)dict;
    return 0;
#else
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#endif
}

// Take a free dict watcher slot of the interpreter for good, as other code
// may (tests of the case where none is left). False when none is free or the
// runtime has no dict watchers.
inline bool take_dict_watcher() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    const int id = PyDict_AddWatcher([](PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) noexcept { return 0; });
    if (id < 0) {
        PyErr_Clear();
    }
    return id >= 0;
#else
    return false;
#endif
}

// The version of a namespace given to watch_namespace, 0 when it has none.
inline std::uint64_t namespace_version(PyObject* dict) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    (void)dict;
    return detail::no_watcher_free ? 0 : detail::watched_namespaces_version;
#else
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#endif
}

// ---- readying a statically defined class ------------------------------------

// A failed PyType_Ready leaves its work in the type: the dict, bases and MRO
// it made (a later readying takes tp_bases as given, so the failed attempt's
// base would stay) and slots inherited from that base. The snapshot taken
// before readying puts the type back as it was, releasing what readying made;
// the references others took to the type meanwhile stay counted. For a static
// type that is not one of the runtime's own, 3.11 to 3.13 keep all of this in
// the type object itself.
class StaticTypeSnapshot {
public:
    explicit StaticTypeSnapshot(const PyTypeObject* type) noexcept : saved_(*type) {}

    void restore_after_failed_ready(PyTypeObject* type) noexcept {
        PyObject* made[] = {type->tp_dict, type->tp_bases, type->tp_mro, type->tp_cache};
        const Py_ssize_t references = Py_REFCNT(type);
        *type = saved_;
        Py_SET_REFCNT(reinterpret_cast<PyObject*>(type), references);
        for (PyObject* object : made) {
            Py_XDECREF(object);
        }
    }

private:
    PyTypeObject saved_;
};

// ---- releasing deep chains of objects ----------------------------------------
//
// An object that holds the last reference to another releases it from its
// own tp_dealloc, so a chain of a million objects recurses a million times and
// exhausts the C stack. The runtime's trashcan puts an object aside once the
// nesting is deep and releases the ones put aside when the outer releases
// return. Its macros are not the same across versions (3.11 and 3.12 count
// the nesting in _PyTrash_begin/_PyTrash_end; 3.13 spends the thread's C
// recursion budget and checks the type itself), and their body must not
// `return` past the closing macro: they are used here only.

// The tp_dealloc `Dealloc` of a GC type: untracks `op` and runs `release`
// (which frees op's fields and then op itself) under the trashcan. The
// trashcan is entered only when Dealloc is op's type's own tp_dealloc: when a
// subclass's release (native, or the runtime's for a Python subclass) calls
// this as its base's, it already entered the trashcan for the same object,
// and entering again would put the object aside a second time.
template <destructor Dealloc, typename Release>
inline void dealloc_in_trashcan(PyObject* op, Release&& release) noexcept {
    // An object put aside must no longer be tracked by the collector.
    PyObject_GC_UnTrack(op);
    Py_TRASHCAN_BEGIN(op, Dealloc)
    release();
    Py_TRASHCAN_END
}

}  // namespace tavo::compat
