#include "objects.hpp"

#include <stdexcept>

namespace zv::zantho {

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

py::list new_list(std::size_t n) {
    PyObject *r = PyList_New((Py_ssize_t)n);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::list>(r);
}

PyObject *Reads::lookup(PyObject *key) {
    if (reuse_)
        for (std::size_t i = 0; i < size_; ++i)
            if (keys_[i] == key) return values_[i];
    PyObject *v = PyDict_GetItemWithError(record_, key);
    if (!v && PyErr_Occurred()) throw py::error_already_set();
    if (v && !inert(v))
        stop();
    else if (reuse_ && size_ < kSeen) {
        Py_XINCREF(v);
        keys_[size_] = key;
        values_[size_++] = v;
    }
    return v;
}

}  // namespace zv::zantho
