#include "ostrel.hpp"

#include <cstring>

namespace zv::ostrel {

// The serials in `adb devices` output held in an exact str, as the generic
// steps below find them, without building the lines.
static py::list serials_in(py::handle stdout) {
    PyObject *s = stdout.ptr();
    const int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    auto space = [&](Py_ssize_t i) { return Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, i)); };
    // The first occurrence of `ch` in [from, to), or `to`.
    auto find = [&](Py_UCS4 ch, Py_ssize_t from, Py_ssize_t to) {
        if (kind == PyUnicode_1BYTE_KIND) {
            const auto *chars = (const Py_UCS1 *)data;
            const void *at = std::memchr(chars + from, (int)ch, (std::size_t)(to - from));
            return at ? (Py_ssize_t)((const Py_UCS1 *)at - chars) : to;
        }
        Py_ssize_t at = PyUnicode_FindChar(s, ch, from, to, 1);
        if (at == -2) throw py::error_already_set();
        return at < 0 ? to : at;
    };
    Py_ssize_t begin = 0, end = PyUnicode_GET_LENGTH(s);
    while (begin < end && space(begin)) ++begin;  // strip()
    while (end > begin && space(end - 1)) --end;
    py::list devices;
    for (Py_ssize_t line = find('\n', begin, end) + 1; line <= end;) {  // the header line is skipped
        Py_ssize_t eol = find('\n', line, end), tab = find('\t', line, eol), text = line;
        while (text < eol && space(text)) ++text;
        if (text < eol && line < tab && tab < eol) {
            PyObject *serial = PyUnicode_Substring(s, line, tab);
            if (!serial) throw py::error_already_set();
            devices.append(py::reinterpret_steal<py::object>(serial));
        }
        line = eol + 1;
    }
    return devices;
}

static py::object list_devices(const Args &a) {
    try {
        py::object result = run(a, {"adb"_n, "devices"_n},
                                {{"capture_output"_n, py::bool_(true)}, {"text"_n, py::bool_(true)},
                                 {"timeout"_n, py::int_(5)}});
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
