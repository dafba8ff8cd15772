// Method lookups that are known to run no Python code.
#pragma once

#include "function.hpp"

namespace zv {

// True when self.<name> finds the function declared by `spec` (as
// own_method), decided without running any Python code: false also when the
// lookup might run some (a __getattribute__, or a descriptor of another kind
// first in the MRO, such as a property), so that the caller's own lookup
// later stays the only one.
bool finds_own_method(py::handle self, py::handle name, const FunctionSpec &spec);

}  // namespace zv
