#include "state.hpp"

namespace zv {

namespace {

struct StateObject {
    PyObject_HEAD
    State *state;
};

int state_traverse(PyObject *o, visitproc visit, void *arg) {
    State *s = ((StateObject *)o)->state;
    return s ? s->traverse(visit, arg) : 0;
}

int state_clear(PyObject *o) {
    if (State *s = ((StateObject *)o)->state) s->clear();
    return 0;
}

void state_dealloc(PyObject *o) {
    PyObject_GC_UnTrack(o);
    delete ((StateObject *)o)->state;
    PyObject_GC_Del(o);
}

PyTypeObject StateType = [] {
    PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
    t.tp_name = "native_state";
    t.tp_basicsize = sizeof(StateObject);
    t.tp_dealloc = state_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = state_traverse;
    t.tp_clear = state_clear;
    return t;
}();

}  // namespace

py::object make_state(std::unique_ptr<State> state) {
    if (!(StateType.tp_flags & Py_TPFLAGS_READY) && PyType_Ready(&StateType) < 0) throw py::error_already_set();
    auto *o = PyObject_GC_New(StateObject, &StateType);
    if (!o) throw py::error_already_set();
    o->state = state.release();
    PyObject_GC_Track((PyObject *)o);
    return py::reinterpret_steal<py::object>((PyObject *)o);
}

State *state_of(py::handle obj) {
    if (Py_TYPE(obj.ptr()) != &StateType) return nullptr;
    return ((StateObject *)obj.ptr())->state;
}

}  // namespace zv
