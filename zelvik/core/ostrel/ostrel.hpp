// zelvik.core.ostrel: device listing, the per-device connection object and
// the device manager. The function declarations live in the file of their
// concern; module.cpp puts them together.
#pragma once

#include "zv.hpp"

#include <initializer_list>
#include <stdexcept>
#include <utility>

namespace zv::ostrel {

// list_devices.cpp
extern const FunctionSpec kListDevices;

// base_device.cpp: BaseDeviceManager
extern const FunctionSpec kBaseInit, kBaseConnect, kBaseDisconnect, kBaseGetDeviceInfo, kBaseGetCurrentApp;

// device_table.cpp: DeviceManager's table, cache and accessors
extern const FunctionSpec kInit, kInitialize, kCleanup, kScanDevices, kGetDeviceInfo, kGetAllDevices, kGetDevice,
    kGetTimestamp, kShouldRefreshDevices;

// connection.cpp: DeviceManager's connect / disconnect / status
extern const FunctionSpec kConnectDevice, kDisconnectDevice, kGetDeviceStatus;
// ostrel = self._devices[device_id]; ostrel.connect(); then
// ostrel.get_device_info() if ostrel.is_connected, else raise Exception(failure).
py::object connect_and_read(py::handle self, py::handle device_id, const char *failure);
// The cached record of `device_id`, if any, gets "status" "disconnected" and
// "connected" False.
void mark_disconnected(py::handle self, py::handle device_id);

// wifi.cpp: DeviceManager's WiFi discovery and connection
extern const FunctionSpec kDiscoverWifiDevices, kParseIpRange, kScanSingleIp, kConnectWifiDevice,
    kDisconnectWifiDevice;

// ---------------------------------------------------------------- helpers

// A new list of `items`, such as the argument list of a command.
inline py::list list_of(std::initializer_list<py::handle> items) {
    py::list l;
    for (py::handle item : items) l.append(item);
    return l;
}



// subprocess.run(command, **kwargs), the module global `subprocess` read now.
inline py::object run(const Args &a, std::initializer_list<py::handle> command,
                      std::initializer_list<std::pair<py::handle, py::handle>> kwargs) {
    py::object run = a.global("subprocess"_n).attr("run"_n);
    py::list args = list_of(command);
    py::tuple names(kwargs.size());
    PyObject *argv[8] = {args.ptr()};
    if (kwargs.size() >= 8) throw std::length_error("too many keyword arguments");
    std::size_t i = 0;
    for (const auto &[name, value] : kwargs) {
        names[i] = name;
        argv[++i] = value.ptr();
    }
    PyObject *r = PyObject_Vectorcall(run.ptr(), argv, 1, names.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}


// `mapping[key] if key in mapping else <null>`; an exact dict with a str key
// answers with one lookup.
inline py::object lookup(py::handle mapping, py::handle key) {
    if (PyDict_CheckExact(mapping.ptr()) && PyUnicode_CheckExact(key.ptr())) {
        PyObject *v = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
        if (!v && PyErr_Occurred()) throw py::error_already_set();
        return py::reinterpret_borrow<py::object>(v);
    }
    if (!contains(mapping, key)) return py::object();
    return mapping[key];
}

// `a > b`, the comparison's own result.
inline py::object greater(py::handle a, py::handle b) {
    PyObject *r = PyObject_RichCompare(a.ptr(), b.ptr(), Py_GT);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// f"{value}"
inline py::object text(py::handle value) {
    PyObject *r = PyObject_Format(value.ptr(), ""_n.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// time.time(), the module global `time` read now. Of a plain module the
// function is read from its dict, as module attribute lookup finds it
// (the module type defines no `time`).
inline py::object now(const Args &a) {
    py::object time = a.global("time"_n);
    if (PyModule_CheckExact(time.ptr())) {
        PyObject *fn = PyDict_GetItemWithError(PyModule_GetDict(time.ptr()), "time"_n.ptr());
        if (fn) return call(fn);
        if (PyErr_Occurred()) throw py::error_already_set();
    }
    return call_method(time, "time"_n);
}

// now - then < limit; two exact floats are subtracted and compared here
// (exactly as Python does, a small int being exact as a double).
inline bool age_below(py::handle now, py::handle then, int limit) {
    if (PyFloat_CheckExact(now.ptr()) && PyFloat_CheckExact(then.ptr()))
        return PyFloat_AS_DOUBLE(now.ptr()) - PyFloat_AS_DOUBLE(then.ptr()) < limit;
    return py::reinterpret_borrow<py::object>(now) - then < py::int_(limit);
}

// "connected" or "disconnected" for a connection flag.
inline py::handle status_text(py::handle connected) { return truthy(connected) ? "connected"_n : "disconnected"_n; }

// f"{width}x{height}" of the display keys of a uiautomator2 `info` mapping.
inline py::object resolution(py::handle info) {
    py::object zero = py::int_(0);
    py::object width = get(info, "displayWidth"_n, zero);
    py::object height = get(info, "displayHeight"_n, zero);
    return text(width) + "x"_n + text(height);
}

// Inside the handler of `e`: raise Exception(prefix + str(e)).
[[noreturn]] inline void raise_wrapped(py::error_already_set &e, const char *prefix) {
    Handling h(e);
    raise(PyExc_Exception, py::str(prefix) + exception_text(e));
}

}  // namespace zv::ostrel
