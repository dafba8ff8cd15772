#include "pellora.hpp"

#include <optional>

namespace zv::pellora {

static Task ensure_device_ready(const Args &a) {
    py::handle ostrel = a[1];
    try {
        if (!truthy(ostrel.attr("is_connected"_n))) ostrel.attr("connect"_n)();
        py::object loop = a.global("asyncio"_n).attr("get_event_loop"_n)();
        std::optional<py::object> probe_error;
        try {
            py::object device_info = co_await read_device_info(a, kReadyInfoLambda, loop, ostrel);
            if (!truthy(device_info) || !contains(device_info, "display"_n)) raise(PyExc_Exception, "R1");
        } catch (py::error_already_set &e) {
            if (!is_timeout(a, e)) only_exception(e);
            probe_error = exception_value(e);
        }
        if (probe_error) {
            // The reconnect cycle runs inside the probe's handler.
            {
                Handling h(*probe_error);
                ostrel.attr("disconnect"_n)();
            }
            co_await a.global("asyncio"_n).attr("sleep"_n)(2);
            {
                Handling h(*probe_error);
                ostrel.attr("connect"_n)();
            }
        }
    } catch (py::error_already_set &e) {
        only_exception(e);
        raise_handling_text(e, "E1: ");
    }
    co_return py::none();
}

const FunctionSpec kEnsureDeviceReady{
    .name = "_ensure_device_ready",
    .qualname = "UIAnalyzer._ensure_device_ready",
    .doc = "确保设备和uiautomator2服务准备就绪",
    .params = {{"self"}, {"ostrel"}},
    .async_body = ensure_device_ready,
};

}  // namespace zv::pellora
