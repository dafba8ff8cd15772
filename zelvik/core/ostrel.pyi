"""
设备管理核心模块
基于已有的DeviceManager进行扩展，专门用于Zelvik
"""
import asyncio as asyncio
import concurrent as concurrent
import concurrent.futures
import ipaddress as ipaddress
import socket as socket
import subprocess as subprocess
import threading as threading
import time as time
from datetime import datetime as datetime
from typing import Any, Dict as Dict, List as List, Optional as Optional

import uiautomator2 as u2

class BaseDeviceManager:
    """基础设备管理器"""

    device_id: Any
    device: Optional[u2.Device]
    is_connected: bool
    def __init__(self, device_id: Any) -> None: ...
    def connect(self) -> None: ...
    def disconnect(self) -> None: ...
    def get_device_info(self) -> Dict[str, Any]: ...
    def get_current_app(self) -> Any: ...

def list_devices() -> List[str]:
    """获取设备列表"""
    ...

class DeviceManager:
    """Zelvik专用设备管理器"""

    _devices: Dict[str, BaseDeviceManager]
    _device_info_cache: Dict[str, Dict[str, Any]]
    _last_scan_time: Optional[datetime]
    _scan_interval: float
    def __init__(self) -> None: ...
    async def initialize(self) -> None:
        """初始化设备管理器"""
        ...
    async def cleanup(self) -> None:
        """清理资源"""
        ...
    async def scan_devices(self) -> List[dict]:
        """扫描可用设备"""
        ...
    async def _get_device_info(self, device_id: str, ostrel: BaseDeviceManager) -> dict:
        """获取设备详细信息"""
        ...
    def get_all_devices(self) -> List[dict]:
        """获取所有设备（从缓存）"""
        ...
    def get_device(self, device_id: str) -> Optional[BaseDeviceManager]:
        """获取指定设备的管理器"""
        ...
    async def connect_device(self, device_id: str, auto_screenshot: bool = True) -> dict:
        """连接指定设备"""
        ...
    async def disconnect_device(self, device_id: str) -> None:
        """断开指定设备"""
        ...
    async def get_device_status(self, device_id: str) -> dict:
        """获取设备状态"""
        ...
    def get_timestamp(self) -> str:
        """获取当前时间戳"""
        ...
    def should_refresh_devices(self) -> bool:
        """判断是否需要刷新设备列表"""
        ...
    async def discover_wifi_devices(self, ip_range: str, port: int = 5555) -> List[dict]:
        """扫描WiFi设备"""
        ...
    def _parse_ip_range(self, ip_range: str) -> List[str]:
        """解析IP范围"""
        ...
    def _scan_single_ip(self, ip: str, port: int, timeout: float = 2.0) -> Optional[dict]:
        """扫描单个IP地址"""
        ...
    async def connect_wifi_device(self, ip_address: str, port: int = 5555) -> dict:
        """连接WiFi设备"""
        ...
    async def disconnect_wifi_device(self, device_id: str) -> None:
        """断开WiFi设备连接"""
        ...
