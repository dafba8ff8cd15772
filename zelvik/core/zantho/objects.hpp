// Small object operations with Python semantics, for element records (exact
// dicts) and the values read from them.
#pragma once

#include "zv.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

namespace zv::zantho {

// d.get(key) and d.get(key, fallback), `d` an exact dict.
py::object get(py::handle d, py::handle key);
py::object get(py::handle d, py::handle key, py::handle fallback);
// obj[key]
py::object item(py::handle obj, py::handle key);
// d[key] = value, `d` an exact dict.
void put(py::handle d, py::handle key, py::handle value);
// bool(value)
bool truthy(py::handle value);
// value in container
bool contains(py::handle container, py::handle value);
// The characters of `value` when it is an exact str of ASCII text only.
std::optional<std::string_view> ascii(py::handle value);
// value.strip()
py::object strip(py::handle value);
// The value of make(), made on first use and kept for the process lifetime
// (threads waiting for it do not hold the GIL meanwhile).
template <class Make>
const auto &once(Make make) {
    PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<decltype(make())> storage;
    return storage.call_once_and_store_result(make).get_stored();
}

// A dict holding `items` in order, kept for the process lifetime. Records
// with fixed keys are made as copy(template): copying is much cheaper than
// inserting the keys one by one.
using Item = std::pair<py::handle, py::handle>;
py::handle make_template(std::initializer_list<Item> items);
// A new dict with the items of the exact dict `d`, in order.
py::dict copy(py::handle d);

// Runs `work` as a call of the function `spec` would: an error leaving it
// gets that function's traceback entry.
template <class Work>
void as_call(const Args &a, const FunctionSpec &spec, Work &&work) {
    try {
        work();
    } catch (...) {
        detail::restore_error(a.globals().ptr(), module_short_name(a), spec.qualname);
        throw py::error_already_set();
    }
}

// self.name(*args), looked up on `self` like a method call in Python.
py::object call_method(py::handle self, py::handle name, std::initializer_list<py::handle> args);

}  // namespace zv::zantho
