// Python errors in C++ code.
//
// Module code reports Python errors by throwing: py::error_already_set for an
// error raised by the interpreter, or zv::raise(...) for a new one. The entry
// points of function and coroutine objects turn them back into the error
// indicator (see restore_error).
//
// A Python `except Exception as e:` block is written as
//
//   try { ... } catch (py::error_already_set &e) {
//       zv::only_exception(e);            // anything else passes through
//       zv::Handling h(e);                // `e` is now the handled exception
//       zv::raise(PyExc_Exception, ...);  // chained: __context__ is `e`
//   }
#pragma once

#include "pyobj.hpp"

#include <exception>
#include <string>
#include <string_view>

namespace zv {

// A thread ended by pthread_exit (the interpreter ends threads that reach for
// the GIL during finalisation) unwinds with abi::__forced_unwind, a foreign
// exception to C++ code, which must leave every handler untouched (the
// thread may hold no GIL then). Every catch-all rethrows it first:
// restore_error does, and any other starts with
//   if (foreign_exception()) throw;
// (catching abi::__forced_unwind & by name binds a reference to no object).

// Inside a catch block: whether the exception handled is not a C++ one.
inline bool foreign_exception() { return !std::current_exception(); }

// Rethrows `e` unless it belongs to the Exception family.
void only_exception(py::error_already_set &e);

// True when `e` is an instance of `type` (or a subclass).
bool matches(py::error_already_set &e, PyObject *type);

// Raises `type(message)` as Python's `raise` statement would: the exception
// being handled, if any, becomes its __context__.
[[noreturn]] void raise(PyObject *type, std::string_view message);
[[noreturn]] void raise(PyObject *type, py::handle message);

// The name of `v`'s type as the interpreter's messages give it (at most 200
// bytes, as "%.200s").
std::string type_name(PyObject *v);

// Raises the exception instance or class `exc` as a `raise exc` statement.
[[noreturn]] void raise_object(py::handle exc);

// While alive, `e` is the exception being handled (sys.exc_info()), as inside
// a Python `except` block; the previous state comes back afterwards.
class Handling {
public:
    explicit Handling(py::error_already_set &e);
    explicit Handling(py::handle exc_value);
    ~Handling();
    Handling(const Handling &) = delete;
    Handling &operator=(const Handling &) = delete;

private:
    PyObject *saved_type_ = nullptr, *saved_value_ = nullptr, *saved_tb_ = nullptr;
};

// The exception object held by `e`.
py::object exception_value(py::error_already_set &e);

// str(e) of the held exception.
py::str exception_text(py::error_already_set &e);

namespace detail {
// Converts the active C++ exception into the Python error indicator and adds
// a traceback entry for `module`/`qualname`. Call only inside a catch block.
void restore_error(PyObject *globals, const char *module, const char *qualname);
}  // namespace detail

}  // namespace zv
