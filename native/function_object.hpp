// The layout of native function objects (runtime-internal).
#pragma once

#include "function.hpp"

namespace zv {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionSpec *spec;
    PyObject *globals;      // module namespace
    PyObject *module_name;  // short module name ("zantho"), for tracebacks
    PyObject *module;       // __module__
    PyObject *name;         // __name__
    PyObject *qualname;     // __qualname__
    PyObject *doc;          // __doc__
    PyObject *annotations;  // __annotations__
    PyObject *dict;         // __dict__
    PyObject *weakreflist;
    PyObject *defaults[kMaxParams];
    Py_ssize_t required;  // parameters without a default

    // Binds the call's arguments into `out`; false with a Python error set.
    bool bind(Args &out, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
    // Converts the active C++ exception into a Python error with a traceback
    // entry for this function.
    void restore_error();
};

extern PyTypeObject FunctionType;

}  // namespace zv
