// zelvik.core.ostrel: imports, globals in their documented order, classes
// and functions.
#include "ostrel.hpp"

namespace zv::ostrel {

static void build(ModuleBuilder &m) {
    m.import("asyncio");
    m.import("time");
    m.import("socket");
    m.import("ipaddress");
    m.import("typing", {"Dict", "List", "Optional"});
    m.import_as("datetime", "datetime", "datetime");
    m.import("uiautomator2", "u2");
    m.import("subprocess");
    m.import("concurrent.futures");
    m.import("threading");
    m.add_class({"BaseDeviceManager", "基础设备管理器",
                 {&kBaseInit, &kBaseConnect, &kBaseDisconnect, &kBaseGetDeviceInfo, &kBaseGetCurrentApp}});
    m.add_function(kListDevices);
    m.add_class({"DeviceManager", "Zelvik专用设备管理器",
                 {&kInit, &kInitialize, &kCleanup, &kScanDevices, &kGetDeviceInfo, &kGetAllDevices, &kGetDevice,
                  &kConnectDevice, &kDisconnectDevice, &kGetDeviceStatus, &kGetTimestamp, &kShouldRefreshDevices,
                  &kDiscoverWifiDevices, &kParseIpRange, &kScanSingleIp, &kConnectWifiDevice,
                  &kDisconnectWifiDevice}});
}

}  // namespace zv::ostrel

ZV_MODULE(ostrel, "\n设备管理核心模块\n基于已有的DeviceManager进行扩展，专门用于Zelvik\n", zv::ostrel::build)
