"""
设备管理核心模块
基于已有的DeviceManager进行扩展，专门用于Zelvik
"""
from datetime import datetime
from typing import Any, Dict, List, Literal, Optional, TypedDict, Union, final, type_check_only

from typing_extensions import NotRequired

# The record types exist for type checkers only (import them under
# `if TYPE_CHECKING:`). Values read from the device's `info` mapping are
# typed as uiautomator2 reports them: a key present with null gives None.

# The five keys of the base device record: all present, or none. Where they
# are always present (with "id" first) they are _DeviceKeys below.
@type_check_only
class _BaseDeviceKeys(TypedDict, total=False):
    model: Optional[str]
    brand: Optional[str]
    version: Optional[str]
    sdk: Union[int, str, None]
    resolution: str

@final
@type_check_only
class BaseDeviceRecord(_BaseDeviceKeys):
    """`BaseDeviceManager.get_device_info()`: all five keys, or none (`{}`)."""

@type_check_only
class _DeviceKeys(TypedDict):
    id: str
    model: Optional[str]
    brand: Optional[str]
    version: Optional[str]
    sdk: Union[int, str, None]
    resolution: str

@final
@type_check_only
class DeviceInfoRecord(_DeviceKeys):
    """A device-information record; "current_app" only when the app was read."""

    status: Literal["connected", "disconnected"]
    connected: bool
    _cache_time: float
    current_app: NotRequired[Dict[str, Any]]

@type_check_only
class _ErrorKeys(TypedDict):
    id: str
    model: str
    brand: str
    status: Literal["error"]
    error: str

@final
@type_check_only
class DeviceInfoError(_ErrorKeys):
    """`_get_device_info` when the device could not be reached."""

    connected: bool
    _cache_time: float

@final
@type_check_only
class ScanErrorEntry(_ErrorKeys):
    """`scan_devices` entry for a device whose handling raised."""

@final
@type_check_only
class ConnectedDeviceRecord(_BaseDeviceKeys):
    """`connect_device`: the base record and four keys; no "id"."""

    status: Literal["connected", "disconnected"]
    connected: bool
    _cache_time: float
    auto_screenshot: bool

@final
@type_check_only
class DeviceStatusRecord(TypedDict):
    device_id: str
    connected: bool
    status: Literal["connected", "disconnected"]
    last_check: str

@final
@type_check_only
class WifiDeviceRecord(_DeviceKeys):
    """A WiFi probe that reached uiautomator2 ("model" is its productName)."""

    status: Literal["wifi_available"]
    connected: bool
    connection_type: Literal["wifi"]
    ip_address: str
    _cache_time: float

@final
@type_check_only
class WifiDetectionRecord(TypedDict):
    """A WiFi probe that found the port open but no device information."""

    id: str
    model: str
    brand: str
    status: Literal["wifi_detected"]
    connected: bool
    connection_type: Literal["wifi"]
    ip_address: str
    error: str
    _cache_time: float

@final
@type_check_only
class WifiConnectedRecord(_BaseDeviceKeys):
    """`connect_wifi_device`: the base record (or none of it) and six keys."""

    id: str
    status: Literal["connected", "disconnected"]
    connected: bool
    connection_type: Literal["wifi"]
    ip_address: str
    _cache_time: float

# What the device-information cache holds, and so what get_all_devices lists.
_CachedDeviceRecord = Union[DeviceInfoRecord, ConnectedDeviceRecord, WifiConnectedRecord]

class BaseDeviceManager:
    """基础设备管理器"""

    device_id: Any
    # The uiautomator2 device (it ships no type information), or None.
    device: Any
    is_connected: bool
    def __init__(self, device_id: Any) -> None: ...
    def connect(self) -> None: ...
    def disconnect(self) -> None: ...
    def get_device_info(self) -> BaseDeviceRecord: ...
    def get_current_app(self) -> Optional[Dict[str, Any]]: ...

def list_devices() -> List[str]:
    """获取设备列表"""
    ...

class DeviceManager:
    """Zelvik专用设备管理器"""

    _devices: Dict[str, BaseDeviceManager]
    _device_info_cache: Dict[str, _CachedDeviceRecord]
    _last_scan_time: Optional[datetime]
    _scan_interval: float
    def __init__(self) -> None: ...
    async def initialize(self) -> None:
        """初始化设备管理器"""
        ...
    async def cleanup(self) -> None:
        """清理资源"""
        ...
    async def scan_devices(self) -> List[Union[_CachedDeviceRecord, DeviceInfoError, ScanErrorEntry]]:
        """扫描可用设备"""
        ...
    async def _get_device_info(
        self, device_id: str, ostrel: BaseDeviceManager
    ) -> Union[_CachedDeviceRecord, DeviceInfoError]:
        """获取设备详细信息"""
        ...
    def get_all_devices(self) -> List[_CachedDeviceRecord]:
        """获取所有设备（从缓存）"""
        ...
    def get_device(self, device_id: str) -> Optional[BaseDeviceManager]:
        """获取指定设备的管理器"""
        ...
    async def connect_device(self, device_id: str, auto_screenshot: bool = True) -> ConnectedDeviceRecord:
        """连接指定设备"""
        ...
    async def disconnect_device(self, device_id: str) -> None:
        """断开指定设备"""
        ...
    async def get_device_status(self, device_id: str) -> DeviceStatusRecord:
        """获取设备状态"""
        ...
    def get_timestamp(self) -> str:
        """获取当前时间戳"""
        ...
    def should_refresh_devices(self) -> bool:
        """判断是否需要刷新设备列表"""
        ...
    async def discover_wifi_devices(
        self, ip_range: str, port: int = 5555
    ) -> List[Union[WifiDeviceRecord, WifiDetectionRecord]]:
        """扫描WiFi设备"""
        ...
    def _parse_ip_range(self, ip_range: str) -> List[str]:
        """解析IP范围"""
        ...
    def _scan_single_ip(
        self, ip: str, port: int, timeout: float = 2.0
    ) -> Union[WifiDeviceRecord, WifiDetectionRecord, None]:
        """扫描单个IP地址"""
        ...
    async def connect_wifi_device(self, ip_address: str, port: int = 5555) -> WifiConnectedRecord:
        """连接WiFi设备"""
        ...
    async def disconnect_wifi_device(self, device_id: str) -> None:
        """断开WiFi设备连接"""
        ...
