"""
UI分析器核心模块
负责UI层次结构解析和元素分析
"""
import asyncio as asyncio
import base64 as base64
import io as io
import subprocess as subprocess
import xml.etree.ElementTree as ET
from typing import Any, Dict as Dict, List as List, Optional as Optional, Tuple as Tuple

from PIL import Image as Image

class UIAnalyzer:
    """UI分析器"""

    ostrel: Any

    def __init__(self, ostrel: Any) -> None: ...
    async def capture_with_hierarchy(self, device_id: str) -> dict:
        """截图并获取UI层次结构"""
    async def _ensure_device_ready(self, ostrel: Any) -> None:
        """确保设备和uiautomator2服务准备就绪"""
    async def _get_device_resolution(self, ostrel: Any) -> dict:
        """获取设备分辨率和屏幕方向信息"""
    async def _take_screenshot(self, ostrel: Any) -> str:
        """使用ADB获取设备截图"""
    async def _adb_screenshot(self, ostrel: Any) -> str:
        """使用ADB命令直接截图"""
    def _execute_adb_screencap(self, device_id: str) -> bytes:
        """执行ADB截图命令"""
    async def _get_ui_hierarchy(self, ostrel: Any) -> dict:
        """获取UI层次结构"""
    def _parse_xml_node(self, node: ET.Element) -> dict:
        """解析XML节点"""
    def _parse_bounds(self, bounds_str: str) -> List[int]:
        """解析边界坐标字符串"""
    def find_element_at_position(self, hierarchy: dict, x: int, y: int) -> Optional[dict]:
        """在层次结构中查找指定位置的元素"""
    def get_element_path(self, hierarchy: dict, target_element: dict) -> List[dict]:
        """获取从根节点到目标元素的路径"""
