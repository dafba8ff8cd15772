#include "recursion.hpp"

#include <pthread.h>

#include <algorithm>

namespace zv::detail {

thread_local std::uintptr_t stack_limit = UINTPTR_MAX;
#if PY_VERSION_HEX >= 0x030C0000
thread_local int native_depth = 0;
#endif

// What a level may still use below the bound: its own frame, the
// interpreter's work it calls (a Python method, a comparison) and the
// raising of the RecursionError. A quarter of a small stack, 64 KiB of a
// large one.
static std::size_t reserve(std::size_t stack_size) { return std::min<std::size_t>(stack_size / 4, 64 * 1024); }

// The lowest address our recursion may reach on this thread; 0 (no bound)
// when the thread's stack cannot be found.
static std::uintptr_t find_stack_limit() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void *low = nullptr;
    std::size_t size = 0;
    const int r = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (r != 0 || size == 0) return 0;
    return reinterpret_cast<std::uintptr_t>(low) + reserve(size);
}

bool too_deep(const char *where) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
    return false;
}

bool stack_left(std::uintptr_t here, const char *where) {
    if (stack_limit == UINTPTR_MAX) {
        stack_limit = find_stack_limit();
        if (here >= stack_limit) return true;
    }
    return too_deep(where);
}

}  // namespace zv::detail
