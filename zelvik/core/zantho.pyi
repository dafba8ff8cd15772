"""
代码生成器核心模块
根据UI元素信息生成uiautomator2定位代码
"""
from typing import Dict, List, Optional, Tuple

class CodeGenerator:
    """uiautomator2代码生成器"""

    def __init__(self) -> None: ...
    def generate_element_code(self, element: dict, options: Optional[dict] = None) -> dict:
        """生成元素定位代码"""
        ...
    def _generate_selectors(self, element: dict) -> List[dict]:
        """生成元素选择器代码"""
        ...
    def _generate_operations(self, element: dict, options: dict) -> List[dict]:
        """生成元素操作代码"""
        ...
    def _build_full_code(self, selectors: List[dict], operations: List[dict], element: dict) -> str:
        """构建完整的代码示例"""
        ...
    def _get_element_summary(self, element: dict) -> dict:
        """获取元素摘要信息"""
        ...
    def generate_batch_code(self, elements: List[dict]) -> str:
        """生成批量操作代码"""
        ...
