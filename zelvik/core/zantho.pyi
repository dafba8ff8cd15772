"""
代码生成器核心模块
根据UI元素信息生成uiautomator2定位代码
"""
from typing import Any, Dict, List, Literal, Optional, TypedDict, Union, final, type_check_only

from zelvik.core.pellora import ElementRecord, _ClassKey, _Element

# The record types exist for type checkers only (import them under
# `if TYPE_CHECKING:`).

@final
@type_check_only
class SelectorRecord(TypedDict):
    """One locator strategy, ranked by `priority` (1 is best)."""

    type: Literal["resource_id", "text", "text_contains", "content_desc", "class_name", "combined", "coordinate"]
    priority: int
    stability: Literal["very_high", "high", "medium", "low", "very_low"]
    code: str
    description: str
    pros: List[str]
    cons: List[str]

@final
@type_check_only
class OperationRecord(TypedDict):
    type: Literal[
        "click",
        "long_click",
        "input_text",
        "clear_text",
        "scroll_up",
        "scroll_down",
        "wait_exists",
        "wait_gone",
        "assert_exists",
        "get_info",
    ]
    code: str
    description: str
    applicable: bool  # the element's "clickable" for "click", else True

@final
@type_check_only
class ElementSummary(_ClassKey):
    text: str
    resource_id: str
    content_desc: str
    bounds: List[int]  # the element's own list
    clickable: bool
    editable: bool
    scrollable: bool

@final
@type_check_only
class ElementCodeResult(TypedDict):
    selectors: List[SelectorRecord]
    operations: List[OperationRecord]
    full_code: str
    element_info: ElementSummary

class CodeGenerator:
    """uiautomator2代码生成器"""

    def __init__(self) -> None: ...
    def generate_element_code(
        self, element: _Element, options: Optional[Dict[str, Any]] = None
    ) -> ElementCodeResult:
        """生成元素定位代码"""
        ...
    def _generate_selectors(self, element: _Element) -> List[SelectorRecord]:
        """生成元素选择器代码"""
        ...
    def _generate_operations(self, element: _Element, options: Dict[str, Any]) -> List[OperationRecord]:
        """生成元素操作代码"""
        ...
    def _build_full_code(
        self, selectors: List[SelectorRecord], operations: List[OperationRecord], element: _Element
    ) -> str:
        """构建完整的代码示例"""
        ...
    def _get_element_summary(self, element: _Element) -> ElementSummary:
        """获取元素摘要信息"""
        ...
    def generate_batch_code(
        self, elements: Union[List[ElementRecord], List[Dict[str, Any]], List[_Element]]
    ) -> str:
        """生成批量操作代码"""
        ...
