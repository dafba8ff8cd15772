#include "objects.hpp"

#include <stdexcept>

namespace zv::zantho {

py::object get(py::handle d, py::handle key) { return get(d, key, py::none()); }

py::object get(py::handle d, py::handle key, py::handle fallback) {
    PyObject *v = PyDict_GetItemWithError(d.ptr(), key.ptr());
    if (v) return py::reinterpret_borrow<py::object>(v);
    if (PyErr_Occurred()) throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(fallback);
}

py::object item(py::handle obj, py::handle key) {
    PyObject *v = PyObject_GetItem(obj.ptr(), key.ptr());
    if (!v) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(v);
}

void put(py::handle d, py::handle key, py::handle value) {
    if (PyDict_SetItem(d.ptr(), key.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

bool truthy(py::handle value) {
    const int r = PyObject_IsTrue(value.ptr());
    if (r < 0) throw py::error_already_set();
    return r;
}

bool contains(py::handle container, py::handle value) {
    const int r = PySequence_Contains(container.ptr(), value.ptr());
    if (r < 0) throw py::error_already_set();
    return r;
}

// An exact str, ready for the PyUnicode_* access macros.
static bool exact_str(PyObject *s) {
    if (!PyUnicode_CheckExact(s)) return false;
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) throw py::error_already_set();
#endif
    return true;
}

std::optional<std::string_view> ascii(py::handle value) {
    PyObject *s = value.ptr();
    if (!exact_str(s) || !PyUnicode_IS_ASCII(s)) return std::nullopt;
    return std::string_view((const char *)PyUnicode_DATA(s), (std::size_t)PyUnicode_GET_LENGTH(s));
}

// str.strip() on an exact str is done here, without a method call.
py::object strip(py::handle value) {
    PyObject *s = value.ptr();
    if (!exact_str(s)) return value.attr("strip"_n)();
    Py_ssize_t start = 0, end = PyUnicode_GET_LENGTH(s);
    while (start < end && Py_UNICODE_ISSPACE(PyUnicode_READ_CHAR(s, start))) ++start;
    while (end > start && Py_UNICODE_ISSPACE(PyUnicode_READ_CHAR(s, end - 1))) --end;
    PyObject *r = PyUnicode_Substring(s, start, end);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

py::handle make_template(std::initializer_list<Item> items) {
    py::dict d;
    for (const Item &i : items) put(d, i.first, i.second);
    return d.release();
}

py::dict copy(py::handle d) {
    PyObject *r = PyDict_Copy(d.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::dict>(r);
}

py::object call_method(py::handle self, py::handle name, std::initializer_list<py::handle> args) {
    // stack[0] is free for the callee (PY_VECTORCALL_ARGUMENTS_OFFSET).
    if (args.size() >= kMaxParams) throw std::length_error("too many arguments");
    PyObject *stack[kMaxParams + 1] = {};
    std::size_t n = 0;
    stack[1 + n++] = self.ptr();
    for (py::handle h : args) stack[1 + n++] = h.ptr();
    PyObject *r = PyObject_VectorcallMethod(name.ptr(), stack + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

}  // namespace zv::zantho
