#include "recursion.hpp"

namespace zv::detail {

thread_local int native_depth = 0;

bool too_deep(const char *where) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
    return false;
}

}  // namespace zv::detail
