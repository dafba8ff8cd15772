"""
操作录制核心模块
记录用户操作序列并生成uiautomator2脚本
"""
from dataclasses import dataclass
from typing import Any, Dict, List, Literal, Optional, TypedDict, Union, final, type_check_only

from zelvik.core.pellora import _Element

# The record types exist for type checkers only (import them under
# `if TYPE_CHECKING:`).

@dataclass
class RecordedAction:
    """录制的操作数据结构"""

    action_type: str
    timestamp: float
    params: Dict[str, Any]
    element_info: Optional[_Element] = None
    coordinates: Optional[Dict[str, int]] = None
    screenshot_before: Optional[str] = None

@final
@type_check_only
class RecordedActionDict(TypedDict):
    """A `RecordedAction` as `dataclasses.asdict` gives it."""

    action_type: str
    timestamp: float
    params: Dict[str, Any]
    element_info: Optional[_Element]
    coordinates: Optional[Dict[str, int]]
    screenshot_before: Optional[str]

@final
@type_check_only
class SessionExport(TypedDict):
    session_id: Optional[str]
    device_info: Dict[str, Any]  # the recorder's own dict, normally {"device_id": ...}
    start_time: Optional[float]  # epoch seconds
    actions: List[RecordedActionDict]
    generated_at: float

@final
@type_check_only
class RecordingRefused(TypedDict):
    """Start while recording, or stop while not."""

    success: Literal[False]
    message: str

@final
@type_check_only
class RecordingStarted(TypedDict):
    success: Literal[True]
    message: str
    session_id: str
    start_time: str  # ISO text

@final
@type_check_only
class RecordingStopped(TypedDict):
    success: Literal[True]
    message: str
    session_id: Optional[str]
    action_count: int
    duration: float

@final
@type_check_only
class SessionInfo(TypedDict):
    is_recording: bool
    session_id: Optional[str]
    action_count: int
    start_time: Optional[str]  # ISO text
    device_info: Dict[str, Any]

class ActionRecorder:
    """操作录制器"""

    is_recording: bool
    actions: List[RecordedAction]
    start_time: Optional[float]
    current_session_id: Optional[str]
    device_info: Dict[str, Any]

    def __init__(self) -> None: ...
    def start_recording(self, device_id: Optional[str] = None) -> Union[RecordingRefused, RecordingStarted]:
        """开始录制操作"""
    def stop_recording(self) -> Union[RecordingRefused, RecordingStopped]:
        """停止录制操作"""
    def record_action(
        self,
        action_type: str,
        params: Dict[str, Any],
        element_info: Optional[_Element] = None,
        coordinates: Optional[Dict[str, int]] = None,
    ) -> bool:
        """记录一个操作"""
    def get_current_session_info(self) -> SessionInfo:
        """获取当前录制会话信息"""
    def generate_script(self, script_type: str = "uiautomator2") -> str:
        """生成自动化脚本"""
    def _generate_uiautomator2_script(self) -> str:
        """生成uiautomator2脚本"""
    def _generate_action_code(self, action: RecordedAction, step_num: int) -> List[str]:
        """为单个操作生成代码"""
    def _generate_click_code(self, action: RecordedAction) -> List[str]:
        """生成点击操作代码"""
    def _generate_long_click_code(self, action: RecordedAction) -> List[str]:
        """生成长按操作代码"""
    def _generate_input_code(self, action: RecordedAction) -> List[str]:
        """生成输入操作代码"""
    def _generate_key_code(self, action: RecordedAction) -> List[str]:
        """生成按键操作代码"""
    def _generate_swipe_code(self, action: RecordedAction) -> List[str]:
        """生成滑动操作代码"""
    def _generate_element_locator(self, element_info: _Element) -> Optional[str]:
        """生成元素定位器代码"""
    def export_session_data(self) -> SessionExport:
        """导出录制会话数据"""
    def import_session_data(self, session_data: Union[SessionExport, Dict[str, Any]]) -> bool:
        """导入录制会话数据"""

mirvane: ActionRecorder

def get_mirvane() -> ActionRecorder:
    """获取全局录制器实例"""
