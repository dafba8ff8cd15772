#include "pellora.hpp"

#include <string_view>

namespace zv::pellora {

static Task take_screenshot(const Args &a) {
    py::object screenshot = co_await a[0].attr("_adb_screenshot"_n)(a[1]);
    co_return screenshot;
}

static Task adb_screenshot(const Args &a) {
    py::handle self = a[0], ostrel = a[1];
    try {
        py::object device_id = ostrel.attr("device_id"_n);
        py::object loop = a.global("asyncio"_n).attr("get_event_loop"_n)();
        Executor executor(a, loop);
        py::object result = co_await executor(8.0, self.attr("_execute_adb_screencap"_n), device_id);
        if (truthy(result) && py::len(result) > 0) {
            py::object base64_str = a.global("base64"_n).attr("b64encode"_n)(result).attr("decode"_n)("utf-8");
            co_return base64_str;
        }
        raise(PyExc_Exception, "S1");
    } catch (py::error_already_set &e) {
        if (is_timeout(a, e)) raise_handling(e, "S2");
        only_exception(e);
        raise_handling_text(e, "S3: ");
    }
}

// `exec-out` merges the device's error text into the stream and exits 0, so
// bytes that do not open with the PNG signature are a failed capture.
static bool holds_no_png(py::handle stdout_value) {
    static constexpr std::string_view kSignature{"\x89PNG\r\n\x1a\n", 8};
    if (!PyBytes_CheckExact(stdout_value.ptr())) return false;
    std::string_view data{PyBytes_AS_STRING(stdout_value.ptr()),
                          static_cast<size_t>(PyBytes_GET_SIZE(stdout_value.ptr()))};
    return !data.starts_with(kSignature);
}

static py::object execute_adb_screencap(const Args &a) {
    py::handle device_id = a[1];
    try {
        py::list command(py::make_tuple("adb", "-s", device_id, "exec-out", "screencap", "-p"));
        py::object result =
            a.global("subprocess"_n).attr("run"_n)(command, "capture_output"_a = true, "timeout"_a = 6);
        if (equals(result.attr("returncode"_n), py::int_(0))) {
            py::object output = result.attr("stdout"_n);
            if (truthy(output) && !holds_no_png(output)) return output;
        }
        raise(PyExc_Exception, "S4");
    } catch (py::error_already_set &e) {
        if (matches(e, a.global("subprocess"_n).attr("TimeoutExpired"_n).ptr())) raise_handling(e, "S5");
        only_exception(e);
        raise_handling_text(e, "S6: ");
    }
}

const FunctionSpec kTakeScreenshot{
    .name = "_take_screenshot",
    .qualname = "UIAnalyzer._take_screenshot",
    .doc = "使用ADB获取设备截图",
    .params = {{"self"}, {"ostrel"}},
    .result = {Check::Str, "str"},
    .async_body = take_screenshot,
};

const FunctionSpec kAdbScreenshot{
    .name = "_adb_screenshot",
    .qualname = "UIAnalyzer._adb_screenshot",
    .doc = "使用ADB命令直接截图",
    .params = {{"self"}, {"ostrel"}},
    .result = {Check::Str, "str"},
    .async_body = adb_screenshot,
};

const FunctionSpec kExecuteAdbScreencap{
    .name = "_execute_adb_screencap",
    .qualname = "UIAnalyzer._execute_adb_screencap",
    .doc = "执行ADB截图命令",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .result = {Check::Bytes, "bytes"},
    .body = execute_adb_screencap,
};

}  // namespace zv::pellora
