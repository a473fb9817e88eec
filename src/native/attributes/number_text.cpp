#include "attributes/number_text.hpp"

#include <cstring>

namespace tavo::attributes {

bool write_number(PyObject* value, char (&buffer)[32], Py_ssize_t& length) {
    if (PyFloat_CheckExact(value)) {
        // The digits float's repr gives, ".0" kept.
        char* digits = PyOS_double_to_string(PyFloat_AS_DOUBLE(value), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (!digits) {
            PyErr_Clear();
            return false;
        }
        length = static_cast<Py_ssize_t>(std::strlen(digits));
        const bool fits = length < static_cast<Py_ssize_t>(sizeof buffer);
        if (fits) {
            std::memcpy(buffer, digits, static_cast<size_t>(length));
        }
        PyMem_Free(digits);
        return fits;
    }
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow || (number == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return false;
        }
        // Digits from the last; the magnitude as unsigned, so the lowest
        // number has one too.
        unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number)
                                                  : static_cast<unsigned long long>(number);
        char reversed[24];
        int count = 0;
        do {
            reversed[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        length = 0;
        if (number < 0) {
            buffer[length++] = '-';
        }
        while (count > 0) {
            buffer[length++] = reversed[--count];
        }
        return true;
    }
    return false;
}

PyObject* default_text(PyObject* value) {
    char digits[32];
    Py_ssize_t length = 0;
    if (write_number(value, digits, length)) {
        return PyUnicode_FromStringAndSize(digits, length);
    }
    return PyObject_Format(value, k.empty_str);
}

}  // namespace tavo::attributes
