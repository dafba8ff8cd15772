// pybind11's object layer, the only way module code touches Python objects.
#pragma once

#ifndef PYBIND11_SIMPLE_GIL_MANAGEMENT
#define PYBIND11_SIMPLE_GIL_MANAGEMENT
#endif
#include "python.hpp"

#include <pybind11/pybind11.h>

#include "names.hpp"

namespace zv {
namespace py = pybind11;

namespace literals {
// "name"_n: the interned str of a literal, as a borrowed handle.
template <FixedString S>
inline py::handle operator""_n() {
    return py::handle(interned<S>());
}
}  // namespace literals

using namespace zv::literals;
using namespace pybind11::literals;
}  // namespace zv
