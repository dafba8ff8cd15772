// Recursion guard for native recursion (function calls and tree walks).
#pragma once

#include "pyobj.hpp"

namespace zv {

namespace detail {
// Native frames are larger than the interpreter's, so our own depth is also
// capped: at the Python recursion limit, and at a depth the C stack of any
// thread holds whatever that limit is raised to. The counter is read on
// every call and tree level: initial-exec keeps that a plain load instead of
// a call into the dynamic linker.
[[gnu::tls_model("initial-exec")]] extern thread_local int native_depth;
constexpr int kStackSafeDepth = 2000;
// Sets the RecursionError of a call past either cap; returns false.
bool too_deep(const char *where);
}  // namespace detail

// Counts one level of recursion for its lifetime; raises RecursionError
// (thrown as py::error_already_set) past the interpreter's recursion limit,
// so that a deep tree or call chain cannot overflow the C stack.
class RecursionGuard {
public:
    explicit RecursionGuard(const char *where = " while calling a Python object") {
        if (!enter(where)) throw py::error_already_set();
    }
    ~RecursionGuard() { leave(); }
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    // The non-throwing form used by entry points: false with the error set.
    static bool enter(const char *where) {
#if PY_VERSION_HEX >= 0x030C0000
        // From 3.12 on, Py_EnterRecursiveCall counts C levels against a limit of its own.
        if (detail::native_depth >= Py_GetRecursionLimit()) return detail::too_deep(where);
#endif
        if (detail::native_depth >= detail::kStackSafeDepth) return detail::too_deep(where);
        if (Py_EnterRecursiveCall(where)) return false;
        ++detail::native_depth;
        return true;
    }
    static void leave() {
        --detail::native_depth;
        Py_LeaveRecursiveCall();
    }
};

}  // namespace zv
