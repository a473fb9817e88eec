// start_tag(component, tag, /): the start tag of a component, from the
// attribute objects its class declares.
//
// Three passes over the class's layout: where each attribute goes and under
// which page name (attrtype and attrname); the check of those names, skipped
// while every name and kind is the one last checked; the renderings. The tag
// is then written in one go.
#include "render/start_tag.hpp"

#include "render/renderings.hpp"

namespace tavo::render {

namespace {

constexpr const char* kQualname = "tavo.core._render.start_tag";

PyObject* start_tag_of(PyObject* component, PyObject* tag) {
    if (check_arguments(component, tag) < 0) {
        return nullptr;
    }
    Ref held;
    Ref layout_ref = Ref::steal(reinterpret_cast<PyObject*>(layout_of(Py_TYPE(component), held)));
    if (!layout_ref) {
        return nullptr;
    }
    auto* layout = reinterpret_cast<LayoutObject*>(layout_ref.get());
    const Py_ssize_t count = Py_SIZE(layout);
    Slots slots(count);
    if (!slots.ok()) {
        return PyErr_NoMemory();
    }
    if (fill_slots(component, layout, held, slots) < 0) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (slots[i].kind != Kind::none && render(layout->entries[i], component, slots[i]) < 0) {
            note_property(component, layout->entries[i]);
            return nullptr;
        }
    }
    return write_tag(tag, layout, slots);
}

}  // namespace

PyObject* start_tag(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "start_tag() takes exactly 2 positional arguments (%zd given)", nargs);
        RENDER_TRACE(kQualname);
        return nullptr;
    }
    PyObject* result = start_tag_of(args[0], args[1]);
    if (!result) {
        RENDER_TRACE(kQualname);
    }
    return result;
}

}  // namespace tavo::render
