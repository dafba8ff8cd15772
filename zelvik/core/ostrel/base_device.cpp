// BaseDeviceManager: one uiautomator2 connection.
#include "ostrel.hpp"

namespace zv::ostrel {

static py::object init(const Args &a) {
    py::handle self = a[0];
    self.attr("device_id"_n) = a[1];
    self.attr("device"_n) = py::none();
    self.attr("is_connected"_n) = false;
    return py::none();
}

static py::object connect(const Args &a) {
    py::handle self = a[0];
    try {
        self.attr("device"_n) = call_method(a.global("u2"_n), "connect"_n, self.attr("device_id"_n));
        self.attr("is_connected"_n) = true;
    } catch (py::error_already_set &e) {
        only_exception(e);
        Handling h(e);
        self.attr("is_connected"_n) = false;
        throw;
    }
    return py::none();
}

static py::object disconnect(const Args &a) {
    py::handle self = a[0];
    self.attr("is_connected"_n) = false;
    self.attr("device"_n) = py::none();
    return py::none();
}

static py::object get_device_info(const Args &a) {
    py::object device = a[0].attr("device"_n);
    if (!truthy(device)) return py::dict();
    try {
        py::object info = device.attr("info"_n);
        py::dict record;
        record["model"_n] = get(info, "model"_n, "Unknown"_n);
        record["brand"_n] = get(info, "brand"_n, "Unknown"_n);
        record["version"_n] = get(info, "version"_n, "Unknown"_n);
        record["sdk"_n] = get(info, "sdkInt"_n, "Unknown"_n);
        record["resolution"_n] = resolution(info);
        return record;
    } catch (py::error_already_set &) {
        return py::dict();
    }
}

static py::object get_current_app(const Args &a) {
    py::object device = a[0].attr("device"_n);
    if (!truthy(device)) return py::none();
    try {
        return call_method(device, "app_current"_n);
    } catch (py::error_already_set &) {
        return py::none();
    }
}

const FunctionSpec kBaseInit{
    .name = "__init__",
    .qualname = "BaseDeviceManager.__init__",
    .params = {{"self"}, {"device_id"}},
    .body = init,
};
const FunctionSpec kBaseConnect{
    .name = "connect",
    .qualname = "BaseDeviceManager.connect",
    .params = {{"self"}},
    .body = connect,
};
const FunctionSpec kBaseDisconnect{
    .name = "disconnect",
    .qualname = "BaseDeviceManager.disconnect",
    .params = {{"self"}},
    .body = disconnect,
};
const FunctionSpec kBaseGetDeviceInfo{
    .name = "get_device_info",
    .qualname = "BaseDeviceManager.get_device_info",
    .params = {{"self"}},
    .body = get_device_info,
};
const FunctionSpec kBaseGetCurrentApp{
    .name = "get_current_app",
    .qualname = "BaseDeviceManager.get_current_app",
    .params = {{"self"}},
    .body = get_current_app,
};

}  // namespace zv::ostrel
