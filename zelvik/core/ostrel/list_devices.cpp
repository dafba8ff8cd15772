#include "ostrel.hpp"

namespace zv::ostrel {

// The serials in `adb devices` output held in an exact str, as the generic
// steps below find them, without building the lines.
static py::list serials_in(py::handle stdout) {
    PyObject *s = stdout.ptr();
    const int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    auto at = [&](Py_ssize_t i) { return PyUnicode_READ(kind, data, i); };
    Py_ssize_t begin = 0, end = PyUnicode_GET_LENGTH(s);
    while (begin < end && Py_UNICODE_ISSPACE(at(begin))) ++begin;  // strip()
    while (end > begin && Py_UNICODE_ISSPACE(at(end - 1))) --end;
    while (begin < end && at(begin) != '\n') ++begin;  // the header line
    py::list devices;
    for (Py_ssize_t line = begin + 1; line <= end;) {
        Py_ssize_t tab = -1, i = line;
        bool has_text = false;
        for (; i < end && at(i) != '\n'; ++i) {
            if (tab < 0 && at(i) == '\t') tab = i;
            if (!Py_UNICODE_ISSPACE(at(i))) has_text = true;
        }
        if (has_text && tab > line) {
            PyObject *serial = PyUnicode_Substring(s, line, tab);
            if (!serial) throw py::error_already_set();
            devices.append(py::reinterpret_steal<py::object>(serial));
        }
        line = i + 1;
    }
    return devices;
}

static py::object list_devices(const Args &a) {
    try {
        py::object result = a.global("subprocess"_n).attr("run"_n)(list_of({"adb"_n, "devices"_n}),
                                                                     "capture_output"_a = true, "text"_a = true,
                                                                     "timeout"_a = 5);
        if (py::object(result.attr("returncode"_n)).not_equal(py::int_(0))) return py::list();
        py::object stdout = result.attr("stdout"_n);
        if (PyUnicode_CheckExact(stdout.ptr())) return serials_in(stdout);
        py::object lines = call_method(call_method(stdout, "strip"_n), "split"_n, "\n"_n);
        py::list devices;
        for (py::handle line : lines[py::slice(py::int_(1), py::none(), py::none())]) {
            if (truthy(call_method(line, "strip"_n)) && contains(line, "\t"_n)) {
                py::object device_id = call_method(line, "split"_n, "\t"_n)[py::int_(0)];
                if (truthy(device_id)) devices.append(device_id);
            }
        }
        return devices;
    } catch (py::error_already_set &e) {
        only_exception(e);
        return py::list();
    }
}

const FunctionSpec kListDevices{
    .name = "list_devices",
    .qualname = "list_devices",
    .doc = "获取设备列表",
    .body = list_devices,
};

}  // namespace zv::ostrel
