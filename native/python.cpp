#include "python.hpp"

#include <unistd.h>

namespace zv::detail {

// While the interpreter finalises, only the thread finalising it holds the
// GIL: any other thread that reaches native destructors is one it has ended.
// Once the interpreter has torn down its GIL state, PyGILState_Check() says
// yes on every thread; the finalising thread (the process's main thread)
// runs no native code by then, but is never parked.
void park_unless_finalizing_thread() noexcept {
    const bool finalizing_thread =
        PyGILState_GetThisThreadState() ? PyGILState_Check() != 0 : gettid() == getpid();
    if (finalizing_thread) return;
    for (;;) pause();
}

}  // namespace zv::detail
