#include "ostrel.hpp"

namespace zv::ostrel {

// `line.strip()` is not empty.
static bool has_text(py::handle line) {
    if (!PyUnicode_CheckExact(line.ptr())) return truthy(line.attr("strip"_n)());
    const Py_ssize_t n = PyUnicode_GET_LENGTH(line.ptr());
    const int kind = PyUnicode_KIND(line.ptr());
    const void *data = PyUnicode_DATA(line.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, i))) return true;
    }
    return false;
}

// `line.split("\t")[0]`
static py::object first_column(py::handle line) {
    if (!PyUnicode_CheckExact(line.ptr())) return line.attr("split"_n)("\t")[py::int_(0)];
    const Py_ssize_t n = PyUnicode_GET_LENGTH(line.ptr());
    Py_ssize_t tab = PyUnicode_FindChar(line.ptr(), '\t', 0, n, 1);
    if (tab == -2) throw py::error_already_set();
    PyObject *s = PyUnicode_Substring(line.ptr(), 0, tab < 0 ? n : tab);
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

static py::object list_devices(const Args &a) {
    try {
        py::object result = a.global("subprocess"_n).attr("run"_n)(list_of({"adb"_n, "devices"_n}),
                                                                     "capture_output"_a = true, "text"_a = true,
                                                                     "timeout"_a = 5);
        if (py::object(result.attr("returncode"_n)).not_equal(py::int_(0))) return py::list();
        py::object lines = result.attr("stdout"_n).attr("strip"_n)().attr("split"_n)("\n")[py::slice(py::int_(1), py::none(), py::none())];
        py::list devices;
        for (py::handle line : lines) {
            if (has_text(line) && contains(line, "\t"_n)) {
                py::object device_id = first_column(line);
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
