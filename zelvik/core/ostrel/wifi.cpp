// DeviceManager: WiFi discovery and connection.
#include "ostrel.hpp"

#include <algorithm>

namespace zv::ostrel {

// f"{ip}:{port}"
static py::object wifi_serial(py::handle ip, py::handle port) { return text(ip) + ":"_n + text(port); }

static Task discover_wifi_devices(const Args &a) {
    py::handle self = a[0], port = a[2];
    py::object ip_list = self.attr("_parse_ip_range"_n)(a[1]);
    py::list discovered_devices;
    const py::ssize_t max_workers = std::min<py::ssize_t>(py::len(ip_list), 50);
    py::object futures = a.global("concurrent"_n).attr("futures"_n);
    // with concurrent.futures.ThreadPoolExecutor(max_workers=max_workers) as executor:
    py::object pool = futures.attr("ThreadPoolExecutor"_n)("max_workers"_a = max_workers);
    py::object enter = py::type::handle_of(pool).attr("__enter__"_n);
    py::object exit = py::type::handle_of(pool).attr("__exit__"_n);
    py::object executor = enter(pool);
    bool interrupted = false;
    try {
        py::dict future_to_ip;
        try {
            for (py::handle ip : ip_list)
                future_to_ip[executor.attr("submit"_n)(self.attr("_scan_single_ip"_n), ip, port)] = ip;
            for (py::handle future : futures.attr("as_completed"_n)(future_to_ip, "timeout"_a = 30)) {
                try {
                    py::object result = future.attr("result"_n)();
                    if (truthy(result)) discovered_devices.append(result);
                } catch (py::error_already_set &e) {
                    only_exception(e);
                }
            }
        } catch (py::error_already_set &e) {
            // Past the time limit the probes not yet started are dropped;
            // those running finish when the block is left. An interrupt
            // (KeyboardInterrupt and the like) drops them too and leaves at
            // once: the running probes end on their own.
            interrupted = !matches(e, PyExc_Exception);
            if (!interrupted && !e.matches(futures.attr("TimeoutError"_n))) throw;
            Handling h(e);
            executor.attr("shutdown"_n)("wait"_a = false, "cancel_futures"_a = true);
            throw;
        }
    } catch (py::error_already_set &e) {
        if (interrupted) throw;
        Handling h(e);
        py::object value = exception_value(e);
        if (!truthy(exit(pool, py::type::handle_of(value), value, value.attr("__traceback__"_n)))) throw;
        co_return discovered_devices;
    }
    exit(pool, py::none(), py::none(), py::none());
    co_return discovered_devices;
}

static py::object parse_ip_range(const Args &a) {
    py::handle ip_range = a[1];
    try {
        if (contains(ip_range, "-"_n)) {
            py::list ends = ip_range.attr("split"_n)("-"_n);
            if (ends.size() != 2) return py::list();  // the unpacking fails
            py::object address = a.global("ipaddress"_n).attr("IPv4Address"_n);
            py::object start = address(ends[0].attr("strip"_n)());
            py::object end = address(ends[1].attr("strip"_n)());
            py::list ip_list;
            py::object current = start;
            py::object one = py::int_(1);
            while (current <= end) {
                ip_list.append(py::str(current));
                current += one;
                if (ip_list.size() > 254) break;
            }
            return ip_list;
        }
        if (contains(ip_range, "/"_n)) {
            py::object network = a.global("ipaddress"_n).attr("IPv4Network"_n)(ip_range, "strict"_a = false);
            py::list hosts;
            for (py::handle ip : network.attr("hosts"_n)()) hosts.append(py::str(ip));
            return hosts;
        }
        return list_of({ip_range.attr("strip"_n)()});
    } catch (py::error_already_set &e) {
        only_exception(e);
        return py::list();
    }
}

static py::object scan_single_ip(const Args &a) {
    py::handle ip = a[1], port = a[2], timeout = a[3];
    try {
        py::object socket = a.global("socket"_n);
        py::object sock = socket.attr("socket"_n)(socket.attr("AF_INET"_n), socket.attr("SOCK_STREAM"_n));
        sock.attr("settimeout"_n)(timeout);
        py::object result = sock.attr("connect_ex"_n)(py::make_tuple(ip, port));
        sock.attr("close"_n)();
        if (result.not_equal(py::int_(0))) return py::none();
        py::object device_id = wifi_serial(ip, port);
        try {
            run(a, {"adb"_n, "connect"_n, device_id},
                {{"capture_output"_n, py::bool_(true)}, {"timeout"_n, timeout}, {"check"_n, py::bool_(true)}});
        } catch (py::error_already_set &) {
        }
        try {
            py::object info = call_method(a.global("u2"_n), "connect"_n, device_id).attr("info"_n);
            py::dict record;
            record["id"_n] = device_id;
            record["model"_n] = get(info, "productName"_n, "Unknown"_n);
            record["brand"_n] = get(info, "brand"_n, "Unknown"_n);
            record["version"_n] = get(info, "version"_n, "Unknown"_n);
            record["sdk"_n] = get(info, "sdkInt"_n, "Unknown"_n);
            record["resolution"_n] = resolution(info);
            record["status"_n] = "wifi_available"_n;
            record["connected"_n] = false;
            record["connection_type"_n] = "wifi"_n;
            record["ip_address"_n] = ip;
            record["_cache_time"_n] = now(a);
            return record;
        } catch (py::error_already_set &) {
            py::dict record;
            record["id"_n] = device_id;
            record["model"_n] = "Unknown Device"_n;
            record["brand"_n] = "Unknown"_n;
            record["status"_n] = "wifi_detected"_n;
            record["connected"_n] = false;
            record["connection_type"_n] = "wifi"_n;
            record["ip_address"_n] = ip;
            record["error"_n] = "Unable to retrieve device info"_n;
            record["_cache_time"_n] = now(a);
            return record;
        }
    } catch (py::error_already_set &e) {
        only_exception(e);
        return py::none();
    }
}

static Task connect_wifi_device(const Args &a) {
    py::handle self = a[0], ip_address = a[1];
    py::object device_id = wifi_serial(ip_address, a[2]);
    try {
        py::object result = run(a, {"adb"_n, "connect"_n, device_id},
                                {{"capture_output"_n, py::bool_(true)}, {"text"_n, py::bool_(true)},
                                 {"timeout"_n, py::int_(10)}});
        if (py::object(result.attr("returncode"_n)).not_equal(py::int_(0)))
            raise(PyExc_Exception, py::str("ADB连接失败: ") + text(result.attr("stderr"_n)));
        call_method(a.global("time"_n), "sleep"_n, py::int_(1));
        if (!contains(self.attr("_devices"_n), device_id))
            self.attr("_devices"_n)[device_id] = a.global("BaseDeviceManager"_n)(device_id);
        py::object device_info = connect_and_read(self, device_id, "设备管理器连接失败");
        py::dict update;
        update["id"_n] = device_id;
        update["status"_n] = "connected"_n;
        update["connected"_n] = true;
        update["connection_type"_n] = "wifi"_n;
        update["ip_address"_n] = ip_address;
        update["_cache_time"_n] = now(a);
        device_info.attr("update"_n)(update);
        self.attr("_device_info_cache"_n)[device_id] = device_info;
        co_return device_info;
    } catch (py::error_already_set &e) {
        only_exception(e);
        raise_wrapped(e, "连接WiFi设备失败: ");
    }
}

static Task disconnect_wifi_device(const Args &a) {
    py::handle self = a[0], device_id = a[1];
    try {
        if (contains(self.attr("_devices"_n), device_id)) {
            call_method(self.attr("_devices"_n)[device_id], "disconnect"_n);
            del_item(self.attr("_devices"_n), device_id);
        }
        run(a, {"adb"_n, "disconnect"_n, device_id}, {{"capture_output"_n, py::bool_(true)}, {"timeout"_n, py::int_(5)}});
        mark_disconnected(self, device_id);
    } catch (py::error_already_set &e) {
        only_exception(e);
        raise_wrapped(e, "断开WiFi设备失败: ");
    }
    co_return py::none();
}

const FunctionSpec kDiscoverWifiDevices{
    .name = "discover_wifi_devices",
    .qualname = "DeviceManager.discover_wifi_devices",
    .doc = "扫描WiFi设备",
    .params = {{"self"}, {"ip_range", Check::Str, "str"}, {"port", Check::Int, "int", Default::of(5555)}},
    .result = {Check::List, "List[dict]"},
    .async_body = discover_wifi_devices,
};
const FunctionSpec kParseIpRange{
    .name = "_parse_ip_range",
    .qualname = "DeviceManager._parse_ip_range",
    .doc = "解析IP范围",
    .params = {{"self"}, {"ip_range", Check::Str, "str"}},
    .result = {Check::List, "List[str]"},
    .body = parse_ip_range,
};
const FunctionSpec kScanSingleIp{
    .name = "_scan_single_ip",
    .qualname = "DeviceManager._scan_single_ip",
    .doc = "扫描单个IP地址",
    .params = {{"self"}, {"ip", Check::Str, "str"}, {"port", Check::Int, "int"},
               {"timeout", Check::Float, "float", Default::of(2.0)}},
    .result = {Check::Dict, "Optional[dict]"},
    .body = scan_single_ip,
};
const FunctionSpec kConnectWifiDevice{
    .name = "connect_wifi_device",
    .qualname = "DeviceManager.connect_wifi_device",
    .doc = "连接WiFi设备",
    .params = {{"self"}, {"ip_address", Check::Str, "str"}, {"port", Check::Int, "int", Default::of(5555)}},
    .result = {Check::Dict, "dict"},
    .async_body = connect_wifi_device,
};
const FunctionSpec kDisconnectWifiDevice{
    .name = "disconnect_wifi_device",
    .qualname = "DeviceManager.disconnect_wifi_device",
    .doc = "断开WiFi设备连接",
    .params = {{"self"}, {"device_id", Check::Str, "str"}},
    .async_body = disconnect_wifi_device,
};

}  // namespace zv::ostrel
