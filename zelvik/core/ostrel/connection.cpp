// DeviceManager: connecting, disconnecting and the status of one device.
#include "ostrel.hpp"

namespace zv::ostrel {

// ValueError "设备 <serial> 不存在"
[[noreturn]] static void raise_unknown(py::handle device_id) {
    raise(PyExc_ValueError, py::str("设备 {} 不存在").format(device_id));
}

py::object connect_and_read(py::handle self, py::handle device_id, const char *failure) {
    py::object ostrel = self.attr("_devices"_n)[device_id];
    call_method(ostrel, "connect"_n);
    if (!truthy(ostrel.attr("is_connected"_n))) raise(PyExc_Exception, failure);
    return call_method(ostrel, "get_device_info"_n);
}

void mark_disconnected(py::handle self, py::handle device_id) {
    if (contains(self.attr("_device_info_cache"_n), device_id)) {
        self.attr("_device_info_cache"_n)[device_id]["status"_n] = "disconnected"_n;
        self.attr("_device_info_cache"_n)[device_id]["connected"_n] = false;
    }
}

static Task connect_device(const Args &a) {
    py::handle self = a[0], device_id = a[1], auto_screenshot = a[2];
    if (!contains(self.attr("_devices"_n), device_id)) co_await call_method(self, "scan_devices"_n);
    if (!contains(self.attr("_devices"_n), device_id)) raise_unknown(device_id);
    try {
        py::object device_info = connect_and_read(self, device_id, "连接失败");
        device_info["status"_n] = "connected"_n;
        device_info["connected"_n] = true;
        device_info["_cache_time"_n] = now(a);
        device_info["auto_screenshot"_n] = auto_screenshot;
        self.attr("_device_info_cache"_n)[device_id] = device_info;
        co_return device_info;
    } catch (py::error_already_set &e) {
        only_exception(e);
        raise_wrapped(e, "连接设备失败: ");
    }
}

static Task disconnect_device(const Args &a) {
    py::handle self = a[0], device_id = a[1];
    if (!contains(self.attr("_devices"_n), device_id)) co_return py::none();
    try {
        call_method(self.attr("_devices"_n)[device_id], "disconnect"_n);
        mark_disconnected(self, device_id);
    } catch (py::error_already_set &e) {
        only_exception(e);
        raise_wrapped(e, "断开设备失败: ");
    }
    co_return py::none();
}

static Task get_device_status(const Args &a) {
    py::handle self = a[0], device_id = a[1];
    if (!contains(self.attr("_devices"_n), device_id)) raise_unknown(device_id);
    py::object ostrel = self.attr("_devices"_n)[device_id];
    py::dict status;
    status["device_id"_n] = device_id;
    status["connected"_n] = ostrel.attr("is_connected"_n);
    status["status"_n] = status_text(ostrel.attr("is_connected"_n));
    status["last_check"_n] = call_method(call_method(a.global("datetime"_n), "now"_n), "isoformat"_n);
    co_return status;
}

const FunctionSpec kConnectDevice{
    .name = "connect_device",
    .qualname = "DeviceManager.connect_device",
    .doc = "连接指定设备",
    .params = {{"self"}, {"device_id", Check::Str, "str"}, {"auto_screenshot", Check::Bool, "bool", Default::of(true)}},
    .result = {Check::Dict, "dict"},
    .async_body = connect_device,
};
const FunctionSpec kDisconnectDevice{
    .name = "disconnect_device",
    .qualname = "DeviceManager.disconnect_device",
    .doc = "断开指定设备",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .async_body = disconnect_device,
};
const FunctionSpec kGetDeviceStatus{
    .name = "get_device_status",
    .qualname = "DeviceManager.get_device_status",
    .doc = "获取设备状态",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .result = {Check::Dict, "dict"},
    .async_body = get_device_status,
};

}  // namespace zv::ostrel
