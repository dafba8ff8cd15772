// Recursion guard for native recursion (function calls and tree walks).
#pragma once

#include "pyobj.hpp"

#include <cstdint>

namespace zv {

namespace detail {
// Native frames are larger than the interpreter's and threads may have small
// stacks, so our recursion is bounded by the C stack actually left: below
// `stack_limit` (the lowest address of this thread's stack plus a reserve)
// no further level is entered. It starts at the highest address, so the
// first guard of each thread finds the real bound. The variables are read on
// every call and tree level: initial-exec keeps that a plain load instead of
// a call into the dynamic linker.
[[gnu::tls_model("initial-exec")]] extern thread_local std::uintptr_t stack_limit;
// Whether the frame at `here` may recurse further; sets the RecursionError
// and returns false when it may not. Finds the bound on first use.
bool stack_left(std::uintptr_t here, const char *where);
#if PY_VERSION_HEX >= 0x030C0000
// From 3.12 on, Py_EnterRecursiveCall counts C levels against a limit of its
// own: our depth is also held to the Python recursion limit.
[[gnu::tls_model("initial-exec")]] extern thread_local int native_depth;
#endif
// Sets the RecursionError of a call too deep; returns false.
bool too_deep(const char *where);
}  // namespace detail

// Counts one level of recursion for its lifetime; raises RecursionError
// (thrown as py::error_already_set) past the interpreter's recursion limit
// or near the end of the thread's stack, so that a deep tree or call chain
// cannot overflow the C stack.
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
        const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        if (here < detail::stack_limit && !detail::stack_left(here, where)) return false;
#if PY_VERSION_HEX >= 0x030C0000
        if (detail::native_depth >= Py_GetRecursionLimit()) return detail::too_deep(where);
#endif
        if (Py_EnterRecursiveCall(where)) return false;
#if PY_VERSION_HEX >= 0x030C0000
        ++detail::native_depth;
#endif
        return true;
    }
    static void leave() {
        park_if_ended();
#if PY_VERSION_HEX >= 0x030C0000
        --detail::native_depth;
#endif
        Py_LeaveRecursiveCall();
    }
};

}  // namespace zv
