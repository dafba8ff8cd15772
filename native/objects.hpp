// Small object operations with Python semantics, shared by the modules.
//
// Exact dicts (element records, device records) are read and written
// directly, which is the same behaviour as the method call it stands for.
#pragma once

#include "errors.hpp"
#include "function.hpp"

#include <cstring>
#include <optional>
#include <string_view>

namespace zv {

// An exact str, ready for the PyUnicode_* access macros (before 3.12 a str
// made by the legacy API is readied first).
inline bool exact_str(PyObject *s) {
    if (!PyUnicode_CheckExact(s)) return false;
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) throw py::error_already_set();
#endif
    return true;
}

// bool(value); the constants and exact strs, lists and dicts answered here.
inline bool truthy(py::handle value) {
    PyObject *v = value.ptr();
    if (v == Py_True) return true;
    if (v == Py_False || v == Py_None) return false;
    if (exact_str(v)) return PyUnicode_GET_LENGTH(v) != 0;
    if (PyList_CheckExact(v)) return PyList_GET_SIZE(v) != 0;
    if (PyDict_CheckExact(v)) return PyDict_GET_SIZE(v) != 0;
    const int r = PyObject_IsTrue(v);
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

// The characters of `value` when it is an exact str of ASCII text only.
inline std::optional<std::string_view> ascii(py::handle value) {
    PyObject *s = value.ptr();
    if (!exact_str(s) || !PyUnicode_IS_ASCII(s)) return std::nullopt;
    return std::string_view((const char *)PyUnicode_DATA(s), (std::size_t)PyUnicode_GET_LENGTH(s));
}

// item in container; a key in an exact dict and ASCII text in ASCII text are
// looked for here.
inline bool contains(py::handle container, py::handle item) {
    int r;
    if (PyDict_CheckExact(container.ptr())) {
        r = PyDict_Contains(container.ptr(), item.ptr());
    } else if (auto text = ascii(container)) {
        if (auto part = ascii(item)) return text->find(*part) != std::string_view::npos;
        r = PySequence_Contains(container.ptr(), item.ptr());
    } else {
        r = PySequence_Contains(container.ptr(), item.ptr());
    }
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

// bool(a == b), as an `if` tests it; two exact strs are compared here.
inline bool equals(py::handle a, py::handle b) {
    PyObject *x = a.ptr(), *y = b.ptr();
    if (x == y) return true;  // as PyObject_RichCompareBool answers
    if (exact_str(x) && exact_str(y)) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(x);
        return n == PyUnicode_GET_LENGTH(y) && PyUnicode_KIND(x) == PyUnicode_KIND(y) &&
               std::memcmp(PyUnicode_DATA(x), PyUnicode_DATA(y), (std::size_t)n * PyUnicode_KIND(x)) == 0;
    }
    const int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

// fn(*args)
template <class... A>
py::object call(py::handle fn, const A &...args) {
    PyObject *argv[] = {nullptr, py::handle(args).ptr()...};
    PyObject *r = PyObject_Vectorcall(fn.ptr(), argv + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// obj.name(*args), looked up and called as the interpreter calls a method.
// Also the form to await: no accessor or bound method outlives the call.
template <class... A>
py::object call_method(py::handle obj, py::handle name, const A &...args) {
    PyObject *argv[] = {obj.ptr(), py::handle(args).ptr()...};
    PyObject *r = PyObject_VectorcallMethod(name.ptr(), argv, 1 + sizeof...(A), nullptr);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// mapping.get(key, fallback), or mapping.get(key) without a fallback.
inline py::object get(py::handle mapping, py::handle key, py::handle fallback = py::handle()) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject *v = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
        if (!v && PyErr_Occurred()) throw py::error_already_set();
        return py::reinterpret_borrow<py::object>(v ? v : fallback ? fallback.ptr() : Py_None);
    }
    return fallback ? call_method(mapping, "get"_n, key, fallback) : call_method(mapping, "get"_n, key);
}

// obj.name, read without a pybind11 accessor (for loops over many items).
inline py::object attr(py::handle obj, py::handle name) {
    PyObject *v = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (!v) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(v);
}

// obj[key]
inline py::object item(py::handle obj, py::handle key) {
    if (PyDict_CheckExact(obj.ptr())) {
        if (PyObject *v = PyDict_GetItemWithError(obj.ptr(), key.ptr())) return py::reinterpret_borrow<py::object>(v);
        if (!PyErr_Occurred()) {
            // KeyError(key), as the dict raises it: the key is packed so that a
            // tuple stays one argument.
            py::object args = py::reinterpret_steal<py::object>(PyTuple_Pack(1, key.ptr()));
            if (args) PyErr_SetObject(PyExc_KeyError, args.ptr());
        }
        throw py::error_already_set();
    }
    PyObject *v = PyObject_GetItem(obj.ptr(), key.ptr());
    if (!v) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(v);
}

// obj[key] = value
inline void put(py::handle obj, py::handle key, py::handle value) {
    const int r = PyDict_CheckExact(obj.ptr()) ? PyDict_SetItem(obj.ptr(), key.ptr(), value.ptr())
                                                : PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr());
    if (r < 0) throw py::error_already_set();
}

// del obj[key]
inline void del_item(py::handle obj, py::handle key) {
    if (PyObject_DelItem(obj.ptr(), key.ptr()) < 0) throw py::error_already_set();
}

// Runs `work` as a call of the function `spec` would run: an error leaving it
// gets that function's traceback entry. For a module running its own method
// directly instead of calling it through `self`.
template <class Work>
void as_call(const Args &a, const FunctionSpec &spec, Work &&work) {
    try {
        work();
    } catch (...) {
        if (foreign_exception()) throw;
        detail::restore_error(a.globals().ptr(), module_short_name(a), spec.qualname);
        throw py::error_already_set();
    }
}

}  // namespace zv
