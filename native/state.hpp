// Native state of an instance of a module's plain class.
//
// The classes stay plain type() classes; an instance keeps its C++ state as
// one object in its __dict__, which the garbage collector sees through:
//
//   struct Index : zv::State { py::object tree; ... };
//   put(instance_dict, "_index"_n, zv::make_state(std::make_unique<Index>()));
//   Index &index = zv::state<Index>(attr(self, "_index"_n), "_index");
#pragma once

#include "errors.hpp"

#include <memory>
#include <string>

namespace zv {

class State {
public:
    virtual ~State() = default;
    // Visits the Python objects the state holds.
    virtual int traverse(visitproc visit, void *arg) const = 0;
    // Drops them (the collector breaking a cycle); later use must raise.
    virtual void clear() = 0;
};

// A new object owning `state`.
py::object make_state(std::unique_ptr<State> state);

// The state held by `obj`, or nullptr when `obj` holds none.
State *state_of(py::handle obj);

// The state of type T held by `obj` (read from attribute `name`); TypeError
// when it holds none of that type.
template <class T>
T &state(py::handle obj, const char *name) {
    if (auto *s = dynamic_cast<T *>(state_of(obj))) return *s;
    raise(PyExc_TypeError, std::string("'") + name + "' does not hold the native state it should");
}

}  // namespace zv
