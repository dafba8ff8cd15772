// Python.h as the runtime includes it: every reference that native code and
// pybind11 drop, and every GIL that pybind11 takes, first passes
// `park_if_ended()`.
//
// Before 3.14 the interpreter ends a daemon thread that reaches for the GIL
// while it finalises with pthread_exit, which unwinds the thread's stack: the
// destructors of the native frames on it then run without the GIL, beside
// the finalising main thread, and a reference they drop can free objects
// under it (or take the GIL and be ended again, inside a destructor). Such a
// thread is parked for good instead, at its first destructor that would touch
// Python state; it ends with the process. 3.14 parks these threads itself.
#pragma once

#include <Python.h>

namespace zv {

namespace detail {
void park_unless_finalizing_thread() noexcept;
inline void python_decref(PyObject *op) noexcept { Py_DECREF(op); }
inline PyGILState_STATE python_gil_ensure() noexcept { return PyGILState_Ensure(); }
}  // namespace detail

inline bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// Parks this thread if the interpreter is ending it. Destructors that touch
// Python state call it first.
inline void park_if_ended() noexcept {
    if (interpreter_finalizing()) [[unlikely]]
        detail::park_unless_finalizing_thread();
}

inline void release(PyObject *op) noexcept {
    park_if_ended();
    detail::python_decref(op);
}

inline void release_if_any(PyObject *op) noexcept {
    if (op) release(op);
}

inline PyGILState_STATE ensure_gil() noexcept {
    park_if_ended();
    return detail::python_gil_ensure();
}

}  // namespace zv

#undef Py_DECREF
#undef Py_XDECREF
#define Py_DECREF(op) ::zv::release(_PyObject_CAST(op))
#define Py_XDECREF(op) ::zv::release_if_any(_PyObject_CAST(op))
#define PyGILState_Ensure() ::zv::ensure_gil()
