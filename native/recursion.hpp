// Recursion guard for native recursion (function calls and tree walks).
#pragma once

#include "pyobj.hpp"

namespace zv {

// Counts one level of recursion for its lifetime; raises RecursionError
// (thrown as py::error_already_set) past the interpreter's recursion limit,
// so that a deep tree or call chain cannot overflow the C stack.
class RecursionGuard {
public:
    explicit RecursionGuard(const char *where = " while calling a Python object");
    ~RecursionGuard();
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    // The non-throwing form used by entry points: false with the error set.
    static bool enter(const char *where);
    static void leave();
};

}  // namespace zv
