// DeviceManager: the device table, the information cache, scans and the
// small accessors.
#include "ostrel.hpp"

namespace zv::ostrel {

static py::object init(const Args &a) {
    py::handle self = a[0];
    self.attr("_devices"_n) = py::dict();
    self.attr("_device_info_cache"_n) = py::dict();
    self.attr("_last_scan_time"_n) = py::none();
    self.attr("_scan_interval"_n) = py::float_(5.0);
    return py::none();
}

static Task initialize(const Args &a) {
    co_await call_method(a[0], "scan_devices"_n);
    co_return py::none();
}

static Task cleanup(const Args &a) {
    py::handle self = a[0];
    for (py::handle item : self.attr("_devices"_n).attr("items"_n)()) {
        try {
            call_method(item[py::int_(1)], "disconnect"_n);
        } catch (py::error_already_set &e) {
            only_exception(e);
        }
    }
    self.attr("_devices"_n).attr("clear"_n)();
    self.attr("_device_info_cache"_n).attr("clear"_n)();
    co_return py::none();
}

// The entry of a serial whose handling failed during a scan (also the first
// keys of _get_device_info's error form).
static py::dict error_entry(py::handle device_id, py::error_already_set &e) {
    py::dict entry;
    entry["id"_n] = device_id;
    entry["model"_n] = "Unknown"_n;
    entry["brand"_n] = "Unknown"_n;
    entry["status"_n] = "error"_n;
    entry["error"_n] = exception_text(e);
    return entry;
}

// _get_device_info's steps; its coroutine never suspends, so a scan runs
// them directly unless the method is overridden.
static py::object device_info(const Args &a, py::handle self, py::handle device_id, py::handle ostrel) {
    py::object cached = lookup(attr(self, "_device_info_cache"_n), device_id);
    if (cached) {
        py::object cache_time = get(cached, "_cache_time"_n);
        if (truthy(cache_time) && age_below(now(a), cache_time, 30)) return cached;
    }
    try {
        call_method(ostrel, "connect"_n);
        py::object base_info = call_method(ostrel, "get_device_info"_n);
        py::dict extended_info;
        extended_info["id"_n] = device_id;
        for (py::handle key : {"model"_n, "brand"_n, "version"_n, "sdk"_n, "resolution"_n})
            extended_info[key] = get(base_info, key, "Unknown"_n);
        extended_info["status"_n] = status_text(ostrel.attr("is_connected"_n));
        extended_info["connected"_n] = ostrel.attr("is_connected"_n);
        extended_info["_cache_time"_n] = now(a);
        try {
            py::object current_app = call_method(ostrel, "get_current_app"_n);
            if (truthy(current_app)) extended_info["current_app"_n] = current_app;
        } catch (py::error_already_set &e) {
            only_exception(e);
        }
        self.attr("_device_info_cache"_n)[device_id] = extended_info;
        return extended_info;
    } catch (py::error_already_set &e) {
        only_exception(e);
        py::dict error = error_entry(device_id, e);
        error["connected"_n] = false;
        error["_cache_time"_n] = now(a);
        return error;
    }
}

static Task get_device_info(const Args &a) { co_return device_info(a, a[0], a[1], a[2]); }

// Calls self._get_device_info(device_id, ostrel). This module's own method
// never suspends, so its steps run directly and `done` is set; otherwise the
// awaitable the call returns.
static py::object start_device_info(const Args &a, py::handle self, py::handle device_id, py::handle ostrel,
                                    bool &done) {
    py::object method;
    const bool own = own_method(self, "_get_device_info"_n, kGetDeviceInfo, method);
    done = own && PyUnicode_CheckExact(device_id.ptr());
    if (!done) return method ? call(method, device_id, ostrel) : call_method(self, "_get_device_info"_n, device_id, ostrel);
    py::object info = device_info(a, self, device_id, ostrel);
    check_result(kGetDeviceInfo, info);
    return info;
}

// Every key of the exact dict `devices` is an item of the exact list `ids`
// of exact strs, in the dict's order: a scan that found the same devices.
static bool listed_in_order(py::handle devices, py::handle ids) {
    if (!PyDict_CheckExact(devices.ptr()) || !PyList_CheckExact(ids.ptr())) return false;
    const Py_ssize_t n = PyList_GET_SIZE(ids.ptr());
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyUnicode_CheckExact(PyList_GET_ITEM(ids.ptr(), i))) return false;
    Py_ssize_t pos = 0, i = 0;
    PyObject *key, *value;
    while (PyDict_Next(devices.ptr(), &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return false;
        while (i < n && !equals(PyList_GET_ITEM(ids.ptr(), i), key)) ++i;
        if (i++ == n) return false;
    }
    return true;
}

// set(devices.keys()) - set(ids); without building the sets when nothing can
// be in it.
static py::object removed(py::handle devices, py::handle ids) {
    if (listed_in_order(devices, ids)) return py::tuple();
    return py::set(call_method(devices, "keys"_n)) - py::set(py::reinterpret_borrow<py::object>(ids));
}

static Task scan_devices(const Args &a) {
    py::handle self = a[0];
    try {
        py::object device_ids = call(a.global("list_devices"_n));
        py::dict current_devices;
        py::list device_list;
        for (py::handle device_id : device_ids) {
            try {
                py::object ostrel = lookup(attr(self, "_devices"_n), device_id);
                if (!ostrel) {
                    self.attr("_devices"_n)[device_id] = call(a.global("BaseDeviceManager"_n), device_id);
                    ostrel = self.attr("_devices"_n)[device_id];
                }
                put(current_devices, device_id, ostrel);
                bool done;
                py::object device_info = start_device_info(a, self, device_id, ostrel, done);
                if (!done) device_info = co_await std::move(device_info);
                device_list.append(device_info);
            } catch (py::error_already_set &e) {
                only_exception(e);
                device_list.append(error_entry(device_id, e));
            }
        }
        py::object removed_devices = removed(self.attr("_devices"_n), device_ids);
        for (py::handle device_id : removed_devices) {
            if (contains(self.attr("_devices"_n), device_id)) {
                try {
                    call_method(self.attr("_devices"_n)[device_id], "disconnect"_n);
                } catch (py::error_already_set &e) {
                    only_exception(e);
                }
                del_item(self.attr("_devices"_n), device_id);
            }
            if (contains(self.attr("_device_info_cache"_n), device_id))
                del_item(self.attr("_device_info_cache"_n), device_id);
        }
        self.attr("_devices"_n) = current_devices;
        self.attr("_last_scan_time"_n) = call_method(a.global("datetime"_n), "now"_n);
        co_return device_list;
    } catch (py::error_already_set &e) {
        only_exception(e);
    }
    co_return py::list();
}

static py::object get_all_devices(const Args &a) {
    return py::list(a[0].attr("_device_info_cache"_n).attr("values"_n)());
}

static py::object get_device(const Args &a) { return get(a[0].attr("_devices"_n), a[1]); }

static py::object get_timestamp(const Args &a) {
    return call_method(call_method(a.global("datetime"_n), "now"_n), "isoformat"_n);
}

static py::object should_refresh_devices(const Args &a) {
    py::handle self = a[0];
    if (!truthy(self.attr("_last_scan_time"_n))) return py::bool_(true);
    py::object current = call_method(a.global("datetime"_n), "now"_n);
    py::object elapsed = call_method(current - self.attr("_last_scan_time"_n), "total_seconds"_n);
    return greater(elapsed, self.attr("_scan_interval"_n));
}

const FunctionSpec kInit{
    .name = "__init__",
    .qualname = "DeviceManager.__init__",
    .params = {{"self"}},
    .body = init,
};
const FunctionSpec kInitialize{
    .name = "initialize",
    .qualname = "DeviceManager.initialize",
    .doc = "初始化设备管理器",
    .params = {{"self"}},
    .async_body = initialize,
};
const FunctionSpec kCleanup{
    .name = "cleanup",
    .qualname = "DeviceManager.cleanup",
    .doc = "清理资源",
    .params = {{"self"}},
    .async_body = cleanup,
};
const FunctionSpec kScanDevices{
    .name = "scan_devices",
    .qualname = "DeviceManager.scan_devices",
    .doc = "扫描可用设备",
    .params = {{"self"}},
    .result = {Check::List, "List[dict]"},
    .async_body = scan_devices,
};
const FunctionSpec kGetDeviceInfo{
    .name = "_get_device_info",
    .qualname = "DeviceManager._get_device_info",
    .doc = "获取设备详细信息",
    .params = {{"self"}, {"device_id", Check::Str, "str"}, {"ostrel", Check::Any, "BaseDeviceManager"}},
    .result = {Check::Dict, "dict"},
    .async_body = get_device_info,
};
const FunctionSpec kGetAllDevices{
    .name = "get_all_devices",
    .qualname = "DeviceManager.get_all_devices",
    .doc = "获取所有设备（从缓存）",
    .params = {{"self"}},
    .result = {Check::List, "List[dict]"},
    .body = get_all_devices,
};
const FunctionSpec kGetDevice{
    .name = "get_device",
    .qualname = "DeviceManager.get_device",
    .doc = "获取指定设备的管理器",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .result = {Check::Any, "Optional[BaseDeviceManager]"},
    .body = get_device,
};
const FunctionSpec kGetTimestamp{
    .name = "get_timestamp",
    .qualname = "DeviceManager.get_timestamp",
    .doc = "获取当前时间戳",
    .params = {{"self"}},
    .result = {Check::Str, "str"},
    .body = get_timestamp,
};
const FunctionSpec kShouldRefreshDevices{
    .name = "should_refresh_devices",
    .qualname = "DeviceManager.should_refresh_devices",
    .doc = "判断是否需要刷新设备列表",
    .params = {{"self"}},
    .result = {Check::Any, "bool"},
    .body = should_refresh_devices,
};

}  // namespace zv::ostrel
