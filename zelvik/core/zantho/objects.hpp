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


}  // namespace zv::zantho
