// The warning given when the running interpreter is not the version the
// module was compiled for. Header-only, so that the test-support module can
// run the same comparison with other versions than the one it runs on.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

namespace tavo::attributes {

// RuntimeWarning (stack level 1) unless `running_version` (the text of
// sys.version) begins with built_major.built_minor. -1 when the warning is
// turned into an error.
inline int warn_on_runtime_mismatch(int built_major, int built_minor, const char* running_version,
                                    const char* module_name) {
    int major = 0;
    int minor = 0;
    if (std::sscanf(running_version, "%d.%d", &major, &minor) == 2 && major == built_major &&
        minor == built_minor) {
        return 0;
    }
    char message[200];
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d", built_major,
                  built_minor, module_name, "does not match", major, minor);
    return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1);
}

}  // namespace tavo::attributes
