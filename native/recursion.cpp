#include "recursion.hpp"

namespace zv {

// Native frames are larger than the interpreter's, so our own depth is also
// capped at the Python recursion limit, whatever the C limit of the version.
static thread_local int native_depth = 0;

bool RecursionGuard::enter(const char *where) {
    if (native_depth >= Py_GetRecursionLimit()) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        return false;
    }
    if (Py_EnterRecursiveCall(where)) return false;
    ++native_depth;
    return true;
}

void RecursionGuard::leave() {
    --native_depth;
    Py_LeaveRecursiveCall();
}

RecursionGuard::RecursionGuard(const char *where) {
    if (!enter(where)) throw py::error_already_set();
}

RecursionGuard::~RecursionGuard() { leave(); }

}  // namespace zv
