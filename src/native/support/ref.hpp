// Owned references for the CPython C API.
//
// Ref owns exactly one strong reference (or nothing). Functions returning a
// "new reference" are wrapped with Ref::steal; borrowed pointers stay plain
// `PyObject*` and are named `borrowed_...` where that is not obvious.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavo {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : ptr_(other.ptr_) { Py_XINCREF(ptr_); }
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~Ref() { Py_XDECREF(ptr_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    // Take over a new reference (may be null: a failed call).
    static Ref steal(PyObject* p) noexcept {
        Ref r;
        r.ptr_ = p;
        return r;
    }
    // Take a new reference to a borrowed pointer.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return steal(p);
    }

    PyObject* get() const noexcept { return ptr_; }
    // Hand the reference to the caller (a function returning a new reference).
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    void reset() noexcept { Py_CLEAR(ptr_); }

private:
    PyObject* ptr_ = nullptr;
};

// Replace the reference held in an object field, releasing the old one only
// after the field holds the new one (the release may run arbitrary code).
inline void set_field(PyObject*& field, Ref value) noexcept {
    PyObject* old = field;
    field = value.release();
    Py_XDECREF(old);
}

inline PyObject* new_ref(PyObject* p) noexcept {
    Py_INCREF(p);
    return p;
}

inline PyObject* none_ref() noexcept { return new_ref(Py_None); }

// A zeroed type object for a statically defined class, holding the one
// reference that keeps it alive for good; the caller fills in its slots.
inline PyTypeObject static_type_base() noexcept {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    return type;
}

}  // namespace tavo
