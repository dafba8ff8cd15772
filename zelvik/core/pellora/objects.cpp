#include "pellora.hpp"

namespace zv::pellora {

py::object get(py::handle m, py::handle key, py::handle fallback) {
    if (!PyDict_CheckExact(m.ptr())) return m.attr("get"_n)(key, fallback);
    PyObject *v = PyDict_GetItemWithError(m.ptr(), key.ptr());
    if (v) return py::reinterpret_borrow<py::object>(v);
    if (PyErr_Occurred()) throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(fallback);
}

void put(py::handle d, py::handle key, py::handle value) {
    if (PyDict_SetItem(d.ptr(), key.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

bool truthy(py::handle value) {
    const int r = PyObject_IsTrue(value.ptr());
    if (r < 0) throw py::error_already_set();
    return r;
}

bool contains(py::handle container, py::handle item) {
    const int r = PySequence_Contains(container.ptr(), item.ptr());
    if (r < 0) throw py::error_already_set();
    return r;
}

bool equals(py::handle a, py::handle b) {
    PyObject *r = PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ);
    if (!r) throw py::error_already_set();
    return truthy(py::reinterpret_steal<py::object>(r));
}

py::object call_method(py::handle self, py::handle name, py::handle arg) {
    PyObject *args[3] = {nullptr, self.ptr(), arg.ptr()};
    PyObject *r = PyObject_VectorcallMethod(name.ptr(), args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

}  // namespace zv::pellora
