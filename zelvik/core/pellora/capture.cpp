#include "pellora.hpp"

namespace zv::pellora {

static py::object init(const Args &a) {
    a[0].attr("ostrel"_n) = a[1];
    return py::none();
}

static Task capture_with_hierarchy(const Args &a) {
    py::handle self = a[0], device_id = a[1];
    py::object ostrel = self.attr("ostrel"_n).attr("get_device"_n)(device_id);
    if (!truthy(ostrel)) raise(PyExc_ValueError, py::str("设备 ") + device_id + py::str(" 不存在"));
    if (!truthy(ostrel.attr("is_connected"_n))) ostrel.attr("connect"_n)();
    py::dict failure;  // filled by the handler
    try {
        co_await self.attr("_ensure_device_ready"_n)(ostrel);
        py::object device_info = co_await self.attr("_get_device_resolution"_n)(ostrel);
        py::object screenshot_data = co_await self.attr("_take_screenshot"_n)(ostrel);
        py::object hierarchy_data = co_await self.attr("_get_ui_hierarchy"_n)(ostrel);
        py::dict result;
        result["success"_n] = py::bool_(true);
        result["screenshot"_n] = screenshot_data;
        result["hierarchy"_n] = hierarchy_data;
        result["device_info"_n] = device_info;
        result["device_id"_n] = device_id;
        co_return result;
    } catch (py::error_already_set &e) {
        only_exception(e);
        Handling h(e);
        failure["success"_n] = py::bool_(false);
        failure["error"_n] = exception_text(e);
        failure["device_id"_n] = device_id;
    }
    co_return failure;
}

const FunctionSpec kInit{.name = "__init__", .qualname = "UIAnalyzer.__init__", .params = {{"self"}, {"ostrel"}}, .body = init};

const FunctionSpec kCaptureWithHierarchy{
    .name = "capture_with_hierarchy",
    .qualname = "UIAnalyzer.capture_with_hierarchy",
    .doc = "截图并获取UI层次结构",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .result = {Check::Dict, "dict"},
    .async_body = capture_with_hierarchy,
};

}  // namespace zv::pellora
