#include "quiet_lookup.hpp"

#include "function_object.hpp"

namespace zv {

bool finds_own_method(py::handle self, py::handle name, const FunctionSpec &spec) {
    PyTypeObject *type = Py_TYPE(self.ptr());
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    // A native function first in the MRO binds without running code, and so
    // does the generic lookup that finds it or an instance attribute.
    PyObject *attr = _PyType_Lookup(type, name.ptr());
    if (!attr || Py_TYPE(attr) != &FunctionType) return false;
    py::object found;
    return own_method(self, name, spec, found);
}

}  // namespace zv
