"""
UI分析器核心模块
负责UI层次结构解析和元素分析
"""
from typing import Any, Dict, List, Literal, Optional, Protocol, TypedDict, TypeVar, Union, final, type_check_only
from xml.etree.ElementTree import Element

# The record and protocol types exist for type checkers only (import them
# under `if TYPE_CHECKING:`).

# "class" is a keyword, so the first key needs the functional form.
_ClassKey = TypedDict("_ClassKey", {"class": str})

@final
@type_check_only
class ElementRecord(_ClassKey):
    """One node of the UI hierarchy, its child nodes nested."""

    text: str
    resource_id: str
    content_desc: str
    package: str
    bounds: List[int]
    checkable: bool
    checked: bool
    clickable: bool
    enabled: bool
    focusable: bool
    focused: bool
    scrollable: bool
    long_clickable: bool
    password: bool
    selected: bool
    displayed: bool
    index: int
    children: List[ElementRecord]

@final
@type_check_only
class ScreenGeometry(TypedDict):
    width: int
    height: int
    ui_width: int
    ui_height: int
    orientation: Literal["portrait", "landscape"]
    rotation: int
    rotation_name: Literal["natural", "left", "inverted", "right", "unknown"]
    coordinate_system: Literal["rotated", "normal"]
    aspect_ratio: float

@final
@type_check_only
class CaptureSuccess(TypedDict):
    success: Literal[True]
    screenshot: str
    hierarchy: ElementRecord
    device_info: ScreenGeometry
    device_id: str

@final
@type_check_only
class CaptureFailure(TypedDict):
    success: Literal[False]
    error: str
    device_id: str

@type_check_only
class DeviceConnection(Protocol):
    """What the analyzer uses of a per-device connection object."""

    @property
    def device_id(self) -> str: ...
    @property
    def device(self) -> Any: ...  # the uiautomator2 device
    @property
    def is_connected(self) -> bool: ...
    def connect(self) -> object: ...
    def disconnect(self) -> object: ...

@type_check_only
class DeviceSource(Protocol):
    """What the analyzer uses of the device manager (ostrel.DeviceManager)."""

    def get_device(self, device_id: str) -> Optional[DeviceConnection]: ...

# An element record, or any dict with some of its keys.
_Element = Union[ElementRecord, Dict[str, Any]]
# A tree of element records, or of plain dicts with "bounds" and "children".
_Tree = TypeVar("_Tree", ElementRecord, Dict[str, Any])

class UIAnalyzer:
    """UI分析器"""

    ostrel: DeviceSource

    def __init__(self, ostrel: DeviceSource) -> None: ...
    async def capture_with_hierarchy(self, device_id: str) -> Union[CaptureSuccess, CaptureFailure]:
        """截图并获取UI层次结构"""
    async def _ensure_device_ready(self, ostrel: DeviceConnection) -> None:
        """确保设备和uiautomator2服务准备就绪"""
    async def _get_device_resolution(self, ostrel: DeviceConnection) -> ScreenGeometry:
        """获取设备分辨率和屏幕方向信息"""
    async def _take_screenshot(self, ostrel: DeviceConnection) -> str:
        """使用ADB获取设备截图"""
    async def _adb_screenshot(self, ostrel: DeviceConnection) -> str:
        """使用ADB命令直接截图"""
    def _execute_adb_screencap(self, device_id: str) -> bytes:
        """执行ADB截图命令"""
    async def _get_ui_hierarchy(self, ostrel: DeviceConnection) -> ElementRecord:
        """获取UI层次结构"""
    def _parse_xml_node(self, node: Element) -> ElementRecord:
        """解析XML节点"""
    def _parse_bounds(self, bounds_str: str) -> List[int]:
        """解析边界坐标字符串"""
    def find_element_at_position(self, hierarchy: _Tree, x: int, y: int) -> Optional[_Tree]:
        """在层次结构中查找指定位置的元素"""
    def get_element_path(self, hierarchy: _Tree, target_element: _Element) -> List[_Tree]:
        """获取从根节点到目标元素的路径"""
