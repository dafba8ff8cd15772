#include "coroutine.hpp"

#include "errors.hpp"
#include "function_object.hpp"
#include "recursion.hpp"

#include <new>

namespace zv {

enum class State : unsigned char { Created, Suspended, Running, Closed };
enum class Step { Next, Return, Error };

struct CoroutineObject {
    PyObject_HEAD
    FunctionObject *function;
    PyObject *name;
    PyObject *qualname;
    PyObject *yf;  // iterator the body is awaiting
    PyObject *weakreflist;
    Task::Handle handle;
    State state;
    Args args;
};

extern PyTypeObject CoroutineType;

// ---------------------------------------------------------------- awaiting

// The iterator behind an awaitable, as the interpreter's `await` obtains it.
static PyObject *awaitable_iter(PyObject *o) {
    if (PyCoro_CheckExact(o) || Py_TYPE(o) == &CoroutineType) {
        Py_INCREF(o);
        return o;
    }
    if (PyGen_CheckExact(o)) {
        // A generator-based coroutine (types.coroutine) is its own iterator.
        long flags = 0;
        if (PyObject *code = PyObject_GetAttrString(o, "gi_code")) {
            if (PyObject *f = PyObject_GetAttrString(code, "co_flags")) {
                flags = PyLong_AsLong(f);
                Py_DECREF(f);
            }
            Py_DECREF(code);
        }
        if (flags == -1 || PyErr_Occurred()) {
            PyErr_Clear();
            flags = 0;
        }
        if (flags & CO_ITERABLE_COROUTINE) {
            Py_INCREF(o);
            return o;
        }
    }
    unaryfunc getter = Py_TYPE(o)->tp_as_async ? Py_TYPE(o)->tp_as_async->am_await : nullptr;
    if (!getter) {
        PyErr_Format(PyExc_TypeError, "object %.100s can't be used in 'await' expression", Py_TYPE(o)->tp_name);
        return nullptr;
    }
    PyObject *res = getter(o);
    if (!res) return nullptr;
    if (PyCoro_CheckExact(res)) {
        Py_DECREF(res);
        PyErr_SetString(PyExc_TypeError, "__await__() returned a coroutine");
        return nullptr;
    }
    if (!PyIter_Check(res)) {
        PyErr_Format(PyExc_TypeError, "__await__() returned non-iterator of type '%.100s'", Py_TYPE(res)->tp_name);
        Py_DECREF(res);
        return nullptr;
    }
    return res;
}

Task::Awaiter Task::promise_type::await_transform(py::handle awaitable) {
    PyObject *it = awaitable_iter(awaitable.ptr());
    if (!it) throw py::error_already_set();
    return Awaiter{this, py::reinterpret_steal<py::object>(it), {}, {}};
}

void Task::Awaiter::await_suspend(Handle) noexcept {
    promise->awaiting = this;
    CoroutineObject *c = promise->owner;
    Py_XSETREF(c->yf, iterator.release().ptr());
}

py::object Task::Awaiter::await_resume() {
    promise->awaiting = nullptr;
    if (error) {
        py::error_already_set e = std::move(*error);
        error.reset();
        throw e;
    }
    return std::move(value);
}

// ---------------------------------------------------------------- driving

// The value of a StopIteration being raised (None when absent); clears it.
static PyObject *fetch_stop_value() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyObject *result = value ? PyObject_GetAttrString(value, "value") : nullptr;
    if (!result) {
        PyErr_Clear();
        result = Py_None;
        Py_INCREF(result);
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
    return result;
}

// Classifies the outcome of a call on the delegated iterator.
static Step outcome(PyObject *ret, PyObject **out) {
    if (ret) {
        *out = ret;
        return Step::Next;
    }
    if (!PyErr_Occurred()) {
        Py_INCREF(Py_None);
        *out = Py_None;
        return Step::Return;
    }
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
        *out = fetch_stop_value();
        return Step::Return;
    }
    *out = nullptr;
    return Step::Error;
}

static Step iter_send(PyObject *it, PyObject *value, PyObject **out) {
#if PY_VERSION_HEX >= 0x030A0000
    switch (PyIter_Send(it, value, out)) {
        case PYGEN_NEXT: return Step::Next;
        case PYGEN_RETURN: return Step::Return;
        default: return Step::Error;
    }
#else
    PyObject *ret;
    if (value == Py_None && Py_TYPE(it)->tp_iternext && Py_TYPE(it)->tp_iternext != &_PyObject_NextNotImplemented)
        ret = Py_TYPE(it)->tp_iternext(it);
    else
        ret = PyObject_CallMethod(it, "send", "O", value);
    return outcome(ret, out);
#endif
}

// Throws the exception instance `exc` into the iterator, as `yield from` does.
static Step iter_throw(PyObject *it, PyObject *exc, PyObject **out, bool *has_throw) {
    PyObject *meth = PyObject_GetAttrString(it, "throw");
    if (!meth) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return outcome(nullptr, out);
        PyErr_Clear();
        *has_throw = false;
        return Step::Error;
    }
    *has_throw = true;
    PyObject *ret = PyObject_CallFunctionObjArgs(meth, exc, nullptr);
    Py_DECREF(meth);
    return outcome(ret, out);
}

// Closes the iterator if it has close(); false with an error set if that raised.
static bool iter_close(PyObject *it) {
    PyObject *meth = PyObject_GetAttrString(it, "close");
    if (!meth) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return true;
        }
        return false;
    }
    PyObject *r = PyObject_CallNoArgs(meth);
    Py_DECREF(meth);
    Py_XDECREF(r);
    return r != nullptr;
}

static void destroy_frame(CoroutineObject *c) {
    if (c->handle) {
        Task::Handle h = c->handle;
        c->handle = {};
        h.destroy();
    }
}

// The body has ended: its result or its error.
static Step finish(CoroutineObject *c, PyObject **out) {
    c->state = State::Closed;
    Task::promise_type &p = c->handle.promise();
    std::exception_ptr error = std::move(p.error);
    py::object result = std::move(p.result);
    destroy_frame(c);
    if (!error) {
        try {
            check_result(*c->function->spec, result ? result : py::none());
            *out = (result ? result : py::none()).release().ptr();
            return Step::Return;
        } catch (...) {
            if (foreign_exception()) throw;
            error = std::current_exception();
        }
    }
    try {
        std::rethrow_exception(error);
    } catch (...) {
        c->function->restore_error();
    }
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        if (tb) PyException_SetTraceback(value, tb);
        PyErr_SetString(PyExc_RuntimeError, "coroutine raised StopIteration");
        PyObject *t2, *v2, *tb2;
        PyErr_Fetch(&t2, &v2, &tb2);
        PyErr_NormalizeException(&t2, &v2, &tb2);
        Py_INCREF(value);
        PyException_SetCause(v2, value);
        PyException_SetContext(v2, value);
        PyErr_Restore(t2, v2, tb2);
        Py_XDECREF(type);
        Py_XDECREF(tb);
    }
    *out = nullptr;
    return Step::Error;
}

// Hands `r` (with *v, or the current error) to the awaiting body, then runs
// the body until it yields through a new awaitable or ends.
static Step resume_body(CoroutineObject *c, Step r, PyObject *v, PyObject **out) {
    for (;;) {
        if (r == Step::Next) {
            *out = v;
            return Step::Next;
        }
        Py_CLEAR(c->yf);
        Task::promise_type &p = c->handle.promise();
        if (Task::Awaiter *aw = p.awaiting) {
            if (r == Step::Return)
                aw->value = py::reinterpret_steal<py::object>(v);
            else
                aw->error.emplace();  // takes the current error
        }
        c->handle.resume();
        if (c->handle.done()) return finish(c, out);
        r = iter_send(c->yf, Py_None, &v);
    }
}

// One send() or throw() (exc != nullptr: the current error is thrown in).
static Step step(CoroutineObject *c, PyObject *value, bool throwing, PyObject **out) {
    *out = nullptr;
    switch (c->state) {
        case State::Running:
            if (throwing) PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "coroutine already executing");
            return Step::Error;
        case State::Closed:
            if (!throwing) PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
            return Step::Error;
        case State::Created:
            if (throwing) {
                c->state = State::Closed;
                destroy_frame(c);
                return Step::Error;
            }
            if (value != Py_None) {
                PyErr_SetString(PyExc_TypeError, "can't send non-None value to a just-started coroutine");
                return Step::Error;
            }
            break;
        case State::Suspended: break;
    }
    if (!RecursionGuard::enter(" in coroutine")) return Step::Error;
    const bool started = c->state == State::Suspended;
    c->state = State::Running;
    Step r;
    PyObject *v = nullptr;
    if (!started) {
        r = Step::Return;  // first resume: nothing is awaited yet
        Py_INCREF(Py_None);
        v = Py_None;
    } else if (throwing) {
        PyObject *type, *exc, *tb;
        PyErr_Fetch(&type, &exc, &tb);
        PyErr_NormalizeException(&type, &exc, &tb);
        if (tb) PyException_SetTraceback(exc, tb);
        bool forward = !PyErr_GivenExceptionMatches(exc, PyExc_GeneratorExit);
        r = Step::Error;
        if (forward) {
            r = iter_throw(c->yf, exc, &v, &forward);
        } else if (!iter_close(c->yf)) {
            forward = true;  // the body gets the error of closing the awaited one
        }
        if (!forward) {
            PyErr_Restore(type, exc, tb);  // raised in the body at its await
        } else {
            Py_XDECREF(type);
            Py_XDECREF(exc);
            Py_XDECREF(tb);
        }
    } else {
        r = iter_send(c->yf, value, &v);
    }
    Step result = resume_body(c, r, v, out);
    if (c->state == State::Running) c->state = State::Suspended;
    RecursionGuard::leave();
    return result;
}

// ---------------------------------------------------------------- Python API

static PyObject *return_step(Step s, PyObject *v, bool raise_stop) {
    if (s == Step::Return) {
        if (!raise_stop) return v;
        if (v == Py_None) {
            PyErr_SetNone(PyExc_StopIteration);
        } else {
            PyObject *stop = PyObject_CallOneArg(PyExc_StopIteration, v);
            if (stop) {
                PyErr_SetObject(PyExc_StopIteration, stop);
                Py_DECREF(stop);
            }
        }
        Py_DECREF(v);
        return nullptr;
    }
    return v;  // yielded value, or nullptr with the error set
}

static PyObject *coro_send(PyObject *self, PyObject *value) {
    PyObject *v;
    Step s = step((CoroutineObject *)self, value, false, &v);
    return return_step(s, v, true);
}

static PyObject *coro_iternext(PyObject *self) {
    PyObject *v;
    Step s = step((CoroutineObject *)self, Py_None, false, &v);
    if (s == Step::Return && v == Py_None) {
        Py_DECREF(v);
        return nullptr;
    }
    return return_step(s, v, true);
}

#if PY_VERSION_HEX >= 0x030A0000
static PySendResult coro_am_send(PyObject *self, PyObject *arg, PyObject **result) {
    switch (step((CoroutineObject *)self, arg, false, result)) {
        case Step::Next: return PYGEN_NEXT;
        case Step::Return: return PYGEN_RETURN;
        default: return PYGEN_ERROR;
    }
}
#endif

// throw(value), throw(type[, value[, traceback]])
static PyObject *coro_throw(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 3) {
        PyErr_Format(PyExc_TypeError, "throw expected at least 1 argument, got %zd", nargs);
        if (nargs > 3) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "throw expected at most 3 arguments, got %zd", nargs);
        }
        return nullptr;
    }
    PyObject *typ = args[0];
    PyObject *val = nargs > 1 ? args[1] : Py_None;
    PyObject *tb = nargs > 2 ? args[2] : Py_None;
    if (tb != Py_None && !PyTraceBack_Check(tb)) {
        PyErr_SetString(PyExc_TypeError, "throw() third argument must be a traceback object");
        return nullptr;
    }
    if (PyExceptionClass_Check(typ)) {
        PyObject *t = typ, *v = val, *b = tb == Py_None ? nullptr : tb;
        Py_INCREF(t);
        Py_INCREF(v);
        Py_XINCREF(b);
        PyErr_NormalizeException(&t, &v, &b);
        PyErr_Restore(t, v, b);
    } else if (PyExceptionInstance_Check(typ)) {
        if (val != Py_None) {
            PyErr_SetString(PyExc_TypeError, "instance exception may not have a separate value");
            return nullptr;
        }
        PyObject *b = tb != Py_None ? tb : PyException_GetTraceback(typ);
        if (tb != Py_None) Py_INCREF(b);
        Py_INCREF(Py_TYPE(typ));
        Py_INCREF(typ);
        PyErr_Restore((PyObject *)Py_TYPE(typ), typ, b);
    } else {
        PyErr_Format(PyExc_TypeError, "exceptions must be classes or instances deriving from BaseException, not %s",
                     Py_TYPE(typ)->tp_name);
        return nullptr;
    }
    PyObject *v;
    Step s = step((CoroutineObject *)self, nullptr, true, &v);
    return return_step(s, v, true);
}

static PyObject *coro_close(PyObject *self, PyObject *) {
    auto *c = (CoroutineObject *)self;
    switch (c->state) {
        case State::Created:
            c->state = State::Closed;
            destroy_frame(c);
            Py_RETURN_NONE;
        case State::Closed: Py_RETURN_NONE;
        case State::Running: PyErr_SetString(PyExc_ValueError, "coroutine already executing"); return nullptr;
        case State::Suspended: break;
    }
    PyObject *yf = c->yf;
    c->yf = nullptr;
    c->state = State::Running;
    bool closed = iter_close(yf);
    Py_DECREF(yf);
    c->state = State::Suspended;
    if (closed) PyErr_SetNone(PyExc_GeneratorExit);
    // The body sees GeneratorExit (or the error of closing the awaited one).
    PyObject *v;
    if (!RecursionGuard::enter(" in coroutine")) return nullptr;
    c->state = State::Running;
    Step s = resume_body(c, Step::Error, nullptr, &v);
    if (c->state == State::Running) c->state = State::Suspended;
    RecursionGuard::leave();
    if (s == Step::Next) {
        Py_DECREF(v);
        PyErr_SetString(PyExc_RuntimeError, "coroutine ignored GeneratorExit");
        return nullptr;
    }
    if (s == Step::Return) {
        Py_DECREF(v);
        Py_RETURN_NONE;
    }
    if (PyErr_ExceptionMatches(PyExc_GeneratorExit) || PyErr_ExceptionMatches(PyExc_StopIteration)) {
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    return nullptr;
}

static PyObject *coro_await(PyObject *self) {
    Py_INCREF(self);
    return self;
}

static void coro_finalize(PyObject *self) {
    auto *c = (CoroutineObject *)self;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (c->state == State::Created) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%U' was never awaited", c->qualname) < 0)
            PyErr_WriteUnraisable(self);
    } else if (c->state == State::Suspended) {
        PyObject *r = coro_close(self, nullptr);
        if (r) Py_DECREF(r);
        else PyErr_WriteUnraisable(self);
    }
    PyErr_Restore(type, value, tb);
}

static int coro_traverse(PyObject *self, visitproc visit, void *arg) {
    auto *c = (CoroutineObject *)self;
    Py_VISIT(c->function);
    Py_VISIT(c->yf);
    return c->args.traverse(visit, arg);
}

static int coro_clear(PyObject *self) {
    auto *c = (CoroutineObject *)self;
    c->state = State::Closed;
    destroy_frame(c);
    Py_CLEAR(c->yf);
    c->args.clear();
    return 0;
}

static void coro_dealloc(PyObject *self) {
    auto *c = (CoroutineObject *)self;
    if (PyObject_CallFinalizerFromDealloc(self) < 0) return;  // resurrected
    PyObject_GC_UnTrack(self);
    if (c->weakreflist) PyObject_ClearWeakRefs(self);
    coro_clear(self);
    c->args.~Args();
    Py_CLEAR(c->function);
    Py_CLEAR(c->name);
    Py_CLEAR(c->qualname);
    PyObject_GC_Del(self);
}

static PyObject *coro_repr(PyObject *self) {
    return PyUnicode_FromFormat("<coroutine object %U at %p>", ((CoroutineObject *)self)->qualname, self);
}

static PyObject *get_name(PyObject *self, void *) {
    PyObject *v = ((CoroutineObject *)self)->name;
    Py_INCREF(v);
    return v;
}
static PyObject *get_qualname(PyObject *self, void *) {
    PyObject *v = ((CoroutineObject *)self)->qualname;
    Py_INCREF(v);
    return v;
}
static int set_text(PyObject **slot, PyObject *v, const char *what) {
    if (!v || !PyUnicode_Check(v)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_INCREF(v);
    Py_SETREF(*slot, v);
    return 0;
}
static int set_name(PyObject *self, PyObject *v, void *) {
    return set_text(&((CoroutineObject *)self)->name, v, "__name__");
}
static int set_qualname(PyObject *self, PyObject *v, void *) {
    return set_text(&((CoroutineObject *)self)->qualname, v, "__qualname__");
}
static PyObject *get_await(PyObject *self, void *) {
    PyObject *v = ((CoroutineObject *)self)->yf;
    if (!v) v = Py_None;
    Py_INCREF(v);
    return v;
}
static PyObject *get_running(PyObject *self, void *) {
    return PyBool_FromLong(((CoroutineObject *)self)->state == State::Running);
}

static PyGetSetDef coro_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"cr_await", get_await, nullptr, nullptr, nullptr},
    {"cr_running", get_running, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef coro_methods[] = {
    {"send", coro_send, METH_O, "send(arg) -> send 'arg' into coroutine,\nreturn next iterated value or raise StopIteration."},
    {"throw", (PyCFunction)(void (*)(void))coro_throw, METH_FASTCALL,
     "throw(value)\nthrow(type[,value[,traceback]])\n\nRaise exception in coroutine, return next iterated value or raise\nStopIteration."},
    {"close", coro_close, METH_NOARGS, "close() -> raise GeneratorExit inside coroutine."},
    {nullptr, nullptr, 0, nullptr},
};

static PyAsyncMethods coro_async = [] {
    PyAsyncMethods m{};
    m.am_await = coro_await;
#if PY_VERSION_HEX >= 0x030A0000
    m.am_send = coro_am_send;
#endif
    return m;
}();

PyTypeObject CoroutineType = [] {
    PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
    t.tp_name = "coroutine";
    t.tp_basicsize = sizeof(CoroutineObject);
    t.tp_dealloc = coro_dealloc;
    t.tp_as_async = &coro_async;
    t.tp_repr = coro_repr;
    t.tp_getattro = PyObject_GenericGetAttr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = coro_traverse;
    t.tp_clear = coro_clear;
    t.tp_weaklistoffset = offsetof(CoroutineObject, weakreflist);
    t.tp_iter = PyObject_SelfIter;
    t.tp_iternext = coro_iternext;
    t.tp_methods = coro_methods;
    t.tp_getset = coro_getset;
    t.tp_finalize = coro_finalize;
    return t;
}();

static void ready_coroutine_type() {
    if (CoroutineType.tp_flags & Py_TPFLAGS_READY) return;
    if (PyType_Ready(&CoroutineType) < 0) throw py::error_already_set();
    py::module_::import("collections.abc").attr("Coroutine").attr("register")(py::handle((PyObject *)&CoroutineType));
}

py::object make_coroutine(FunctionObject *f, Args &args) {
    ready_coroutine_type();
    auto *c = PyObject_GC_New(CoroutineObject, &CoroutineType);
    if (!c) throw py::error_already_set();
    Py_INCREF(f);
    c->function = f;
    Py_INCREF(f->name);
    c->name = f->name;
    Py_INCREF(f->qualname);
    c->qualname = f->qualname;
    c->yf = nullptr;
    c->weakreflist = nullptr;
    c->state = State::Closed;
    new (&c->handle) Task::Handle();
    new (&c->args) Args();
    auto coro = py::reinterpret_steal<py::object>((PyObject *)c);
    c->args.take(args);
    Task task = f->spec->async_body(c->args);
    c->handle = task.release();
    c->handle.promise().owner = c;
    c->state = State::Created;
    PyObject_GC_Track((PyObject *)c);
    return coro;
}

}  // namespace zv
