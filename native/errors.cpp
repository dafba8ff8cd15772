#include "errors.hpp"

#include <frameobject.h>

#include <new>
#include <string>

namespace zv {

namespace detail {
PyObject *intern_or_die(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (!s) Py_FatalError("zelvik: cannot intern a name");
    return s;
}
}  // namespace detail

std::string type_name(PyObject *v) { return std::string(Py_TYPE(v)->tp_name).substr(0, 200); }

void only_exception(py::error_already_set &e) {
    if (!e.matches(PyExc_Exception)) throw;
}

bool matches(py::error_already_set &e, PyObject *type) { return e.matches(type); }

// The exception object of `e` carrying its traceback, as `except ... as e` sees it.
static py::handle attach_traceback(py::error_already_set &e) {
    if (e.trace() && PyExceptionInstance_Check(e.value().ptr())) PyException_SetTraceback(e.value().ptr(), e.trace().ptr());
    return e.value();
}

[[noreturn]] static void throw_current() { throw py::error_already_set(); }

void raise(PyObject *type, std::string_view message) {
    PyObject *text = PyUnicode_FromStringAndSize(message.data(), (Py_ssize_t)message.size());
    if (!text) throw_current();
    PyErr_SetObject(type, text);
    Py_DECREF(text);
    throw_current();
}

void raise(PyObject *type, py::handle message) {
    PyErr_SetObject(type, message.ptr());
    throw_current();
}

void raise_object(py::handle exc) {
    PyObject *o = exc.ptr();
    if (PyExceptionInstance_Check(o))
        PyErr_SetObject((PyObject *)Py_TYPE(o), o);
    else if (PyExceptionClass_Check(o))
        PyErr_SetNone(o);
    else
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    throw_current();
}

Handling::Handling(py::error_already_set &e) : Handling(attach_traceback(e)) {}

Handling::Handling(py::handle exc_value) {
    PyErr_GetExcInfo(&saved_type_, &saved_value_, &saved_tb_);
    PyObject *v = exc_value.ptr();
    PyObject *t = (PyObject *)Py_TYPE(v);
    PyObject *tb = PyExceptionInstance_Check(v) ? PyException_GetTraceback(v) : nullptr;
    Py_INCREF(t);
    Py_INCREF(v);
    PyErr_SetExcInfo(t, v, tb);  // steals all three
}

Handling::~Handling() {
    park_if_ended();
    PyErr_SetExcInfo(saved_type_, saved_value_, saved_tb_);
}

py::object exception_value(py::error_already_set &e) { return py::reinterpret_borrow<py::object>(attach_traceback(e)); }

py::str exception_text(py::error_already_set &e) {
    PyObject *s = PyObject_Str(e.value().ptr());
    if (!s) throw_current();
    return py::reinterpret_steal<py::str>(s);
}

namespace detail {

// A traceback entry "zelvik/core/<module>", function "zelvik.core.<module>.<qualname>".
static void add_traceback(PyObject *globals, const char *module, const char *qualname) {
    std::string file = std::string("zelvik/core/") + module;
    std::string func = std::string("zelvik.core.") + module + "." + qualname;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyCodeObject *code = PyCode_NewEmpty(file.c_str(), func.c_str(), 1);
    PyFrameObject *frame = nullptr;
    if (code && globals) frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    if (!frame) PyErr_Clear();
    PyErr_Restore(type, value, tb);
    if (frame) PyTraceBack_Here(frame);
    Py_XDECREF(frame);
    Py_XDECREF(code);
}

void restore_error(PyObject *globals, const char *module, const char *qualname) {
    if (foreign_exception()) throw;
    try {
        throw;
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (py::builtin_exception &e) {
        e.set_error();
    } catch (std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (std::exception &e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
    add_traceback(globals, module, qualname);
}

}  // namespace detail
}  // namespace zv
