// Native coroutines: the bodies of `async` functions.
//
//   zv::Task scan(const zv::Args &a) {
//       py::object info = co_await a[0].attr("_get_device_info")(serial, dev);
//       co_return info;
//   }
//
// Calling an async function object returns a coroutine object that asyncio
// drives like any coroutine. `co_await` on a Python awaitable delegates to
// its iterator like `yield from`: what it yields goes out through send(),
// its return value comes back as the result of the co_await, and throw() and
// close() reach it. An error comes back as py::error_already_set thrown at
// the co_await.
//
// Notes for bodies:
// - co_await may not appear inside a catch block (C++ rule): catch, keep the
//   error, and await after the block.
// - Python objects held across a co_await in locals are invisible to the
//   garbage collector; keep long-lived objects in the arguments. This holds
//   for temporaries of the co_await expression too: await the result of a
//   function call (`co_await call(...)`), not of `obj.attr("m")(...)`,
//   whose accessor keeps the bound method (and so `obj`) until resumption.
#pragma once

#include "errors.hpp"
#include "function.hpp"

#include <coroutine>
#include <exception>
#include <optional>

namespace zv {

struct FunctionObject;
struct CoroutineObject;

class Task {
public:
    struct promise_type;
    using Handle = std::coroutine_handle<promise_type>;

    // Suspends the body on one Python awaitable.
    struct Awaiter {
        promise_type *promise;
        py::object iterator;  // handed to the coroutine object on suspension
        py::object value;
        std::optional<py::error_already_set> error;

        bool await_ready() const noexcept { return false; }
        void await_suspend(Handle h) noexcept;
        py::object await_resume();
    };

    struct promise_type {
        CoroutineObject *owner = nullptr;
        Awaiter *awaiting = nullptr;
        py::object result;
        std::exception_ptr error;

        Task get_return_object() { return Task{Handle::from_promise(*this)}; }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_value(py::object v) { result = std::move(v); }
        void unhandled_exception() {
            if (foreign_exception()) throw;
            error = std::current_exception();
        }
        // Obtains the awaitable's iterator at the await, as Python does.
        Awaiter await_transform(py::handle awaitable);
        // A temporary awaitable is taken over: C++ temporaries live across
        // the suspension, where the garbage collector cannot see them.
        Awaiter await_transform(py::object &&awaitable) {
            py::object owned = std::move(awaitable);
            return await_transform(py::handle(owned));
        }
    };

    explicit Task(Handle h) : handle_(h) {}
    Task(Task &&o) noexcept : handle_(o.handle_) { o.handle_ = {}; }
    Task(const Task &) = delete;
    ~Task() {
        if (handle_) handle_.destroy();
    }
    Handle release() {
        Handle h = handle_;
        handle_ = {};
        return h;
    }

private:
    Handle handle_;
};

// A new coroutine object running `f`'s async body on the arguments `args`
// (taken over from the caller).
py::object make_coroutine(FunctionObject *f, Args &args);

}  // namespace zv
