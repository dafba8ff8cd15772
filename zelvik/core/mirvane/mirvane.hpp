// zelvik.core.mirvane: the methods of ActionRecorder (one file per concern)
// and the small object helpers they share.
#pragma once

#include "zv.hpp"

namespace zv::mirvane {

// recorder.cpp: the recording session and the shared recorder.
extern const FunctionSpec kInit, kStartRecording, kStopRecording, kRecordAction, kGetCurrentSessionInfo,
    kGetMirvane;
// script.cpp: the replay script.
extern const FunctionSpec kGenerateScript, kGenerateUiautomator2Script, kGenerateActionCode, kGenerateClickCode,
    kGenerateLongClickCode, kGenerateInputCode, kGenerateKeyCode, kGenerateSwipeCode, kGenerateElementLocator;
// session_data.cpp: export and import.
extern const FunctionSpec kExportSessionData, kImportSessionData;

// `bool(value)`
inline bool truthy(py::handle value) {
    const int r = PyObject_IsTrue(value.ptr());
    if (r < 0) throw py::error_already_set();
    return r != 0;
}

// `obj.name(args...)`, looked up and called as the interpreter calls a method.
template <class... A>
py::object call(py::handle obj, py::handle name, const A &...args) {
    PyObject *argv[] = {obj.ptr(), py::handle(args).ptr()...};
    PyObject *r = PyObject_VectorcallMethod(name.ptr(), argv, sizeof...(A) + 1, nullptr);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// `callable(**kwargs)`, `kwargs` a dict, called as the interpreter calls it.
inline py::object call_kw(py::handle callable, py::handle kwargs) {
    PyObject *r = PyObject_Call(callable.ptr(), py::tuple().ptr(), kwargs.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// `mapping.get(key, fallback)`; an exact dict is read directly.
inline py::object get(py::handle mapping, py::handle key, py::handle fallback) {
    if (!PyDict_CheckExact(mapping.ptr())) return call(mapping, "get"_n, key, fallback);
    PyObject *v = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
    if (!v && PyErr_Occurred()) throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(v ? v : fallback.ptr());
}

}  // namespace zv::mirvane
