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

// `callable(**kwargs)`, `kwargs` a dict, called as the interpreter calls it.
inline py::object call_kw(py::handle callable, py::handle kwargs) {
    PyObject *r = PyObject_Call(callable.ptr(), py::tuple().ptr(), kwargs.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

}  // namespace zv::mirvane
