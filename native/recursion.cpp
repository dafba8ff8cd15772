#include "recursion.hpp"

namespace zv {

// Native frames are larger than the interpreter's, so our own depth is also
// capped: at the Python recursion limit, and at a depth the C stack of any
// thread holds whatever that limit is raised to.
static thread_local int native_depth = 0;
constexpr int kStackSafeDepth = 2000;

bool RecursionGuard::enter(const char *where) {
    if (native_depth >= Py_GetRecursionLimit() || native_depth >= kStackSafeDepth) {
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
