"""ActionRecorder of zelvik.core.mirvane in plain Python: scripts, export and import."""
import time
from dataclasses import asdict, dataclass
from datetime import datetime
from typing import Any, Dict, List, Optional

from .codetext import check, comment, literal, number, to_int


@dataclass
class RecordedAction:
    """录制的操作数据结构"""
    action_type: str
    timestamp: float
    params: Dict[str, Any]
    element_info: Optional[Dict[str, Any]] = None
    coordinates: Optional[Dict[str, int]] = None
    screenshot_before: Optional[str] = None


class PlainActionRecorder:
    """The same steps in plain Python."""

    def __init__(self):
        self.is_recording = False
        self.actions = []
        self.start_time = None
        self.current_session_id = None
        self.device_info = {}

    def generate_script(self, script_type: str = "uiautomator2") -> str:
        check("script_type", str, script_type)
        if not self.actions:
            return "# 没有录制的操作"
        if script_type == "uiautomator2":
            return self._generate_uiautomator2_script()
        return f"# 不支持的脚本类型: {comment(script_type)}"

    def _generate_uiautomator2_script(self) -> str:
        lines = ['"""', "自动生成的uiautomator2脚本"]
        time_text = (datetime.fromtimestamp(self.start_time).strftime("%Y-%m-%d %H:%M:%S")
                     if self.start_time else "Unknown")
        lines.append(f"录制时间: {literal(time_text)}")
        lines.append(f"操作数量: {len(self.actions)}")
        lines.append(f"会话ID: {literal(self.current_session_id)}")
        lines += ['"""', "", "import uiautomator2 as u2", "import time", "", "def main():",
                  '    """执行录制的操作序列"""']
        device_id = self.device_info.get("device_id", "")
        if device_id and ":" in device_id:
            lines += [f"    # 连接WiFi设备: {comment(device_id)}", f'    d = u2.connect("{literal(device_id)}")']
        elif device_id:
            lines += [f"    # 连接USB设备: {comment(device_id)}", f'    d = u2.connect("{literal(device_id)}")']
        else:
            lines += ["    # 连接默认设备", "    d = u2.connect()"]
        lines += ["", '    print("开始执行录制的操作...")', ""]
        last_timestamp = 0
        for i, action in enumerate(self.actions):
            delay = action.timestamp - last_timestamp
            if delay > 0.1:
                lines.append(f"    time.sleep({delay:.2f})  # 等待 {delay:.2f} 秒")
            for line in self._generate_action_code(action, i + 1):
                lines.append("    " + line if line.strip() else "")
            last_timestamp = action.timestamp
        lines += ["", '    print("所有操作执行完成!")', "", "", 'if __name__ == "__main__":', "    main()"]
        return "\n".join(lines)

    def _generate_action_code(self, action: RecordedAction, step_num: int) -> List[str]:
        step_num = to_int("step_num", step_num)
        code = [f"# 步骤 {step_num}: {comment(action.action_type)}"]
        if action.action_type == "click":
            code.extend(self._generate_click_code(action))
        elif action.action_type == "long_click":
            code.extend(self._generate_long_click_code(action))
        elif action.action_type == "input":
            code.extend(self._generate_input_code(action))
        elif action.action_type == "key":
            code.extend(self._generate_key_code(action))
        elif action.action_type == "swipe":
            code.extend(self._generate_swipe_code(action))
        else:
            code.append(f"# 未支持的操作类型: {comment(action.action_type)}")
        code.append("")
        return code

    def _tap_code(self, action, method, verb):
        params = action.params
        element_info = action.element_info
        locator = self._generate_element_locator(element_info) if element_info else None
        if element_info and locator:
            label = element_info.get("text", element_info.get("resource_id", "未知元素"))
            return [f"{locator}.{method}()", f'print("{verb}元素: {literal(label)}")']
        x, y = number(params.get("x", 0)), number(params.get("y", 0))
        return [f"d.{method}({x}, {y})", f'print("{verb}坐标: ({literal(x)}, {literal(y)})")']

    def _generate_click_code(self, action: RecordedAction) -> List[str]:
        return self._tap_code(action, "click", "点击")

    def _generate_long_click_code(self, action: RecordedAction) -> List[str]:
        return self._tap_code(action, "long_click", "长按")

    def _generate_input_code(self, action: RecordedAction) -> List[str]:
        text = action.params.get("text", "")
        element_info = action.element_info
        locator = self._generate_element_locator(element_info) if element_info else None
        if element_info and locator:
            return [f"{locator}.click()  # 点击输入框获得焦点", f'{locator}.set_text("{literal(text)}")',
                    f'print("输入文本: {literal(text)}")']
        return [f'd.send_keys("{literal(text)}")', f'print("发送文本: {literal(text)}")']

    def _generate_key_code(self, action: RecordedAction) -> List[str]:
        key = literal(action.params.get("key", ""))
        return [f'd.press("{key}")', f'print("按键: {key}")']

    def _generate_swipe_code(self, action: RecordedAction) -> List[str]:
        params = action.params
        fx, fy, tx, ty = (number(params.get(k, 0)) for k in ("fx", "fy", "tx", "ty"))
        duration = number(params.get("duration", 0.5))
        return [f"d.swipe({fx}, {fy}, {tx}, {ty}, {duration})",
                f'print("滑动: ({literal(fx)}, {literal(fy)}) -> ({literal(tx)}, {literal(ty)}), '
                f'耗时{literal(duration)}秒")']

    def _generate_element_locator(self, element_info: Dict[str, Any]) -> Optional[str]:
        check("element_info", dict, element_info)
        if not element_info:
            return None
        for key, form in (("resource_id", "resourceId"), ("text", "text"), ("content_desc", "description"),
                          ("class", "className")):
            value = element_info.get(key)
            if value:
                return f'd({form}="{literal(value)}")'
        return None

    def export_session_data(self) -> Dict[str, Any]:
        return {"session_id": self.current_session_id, "device_info": self.device_info,
                "start_time": self.start_time, "actions": [asdict(action) for action in self.actions],
                "generated_at": time.time()}

    def import_session_data(self, session_data: Dict[str, Any]) -> bool:
        check("session_data", dict, session_data)
        # All or nothing: a failed import leaves the recorder as it was.
        try:
            session_id = session_data.get("session_id")
            device_info = session_data.get("device_info", {})
            start_time = session_data.get("start_time")
            actions = [RecordedAction(**dict(action_data)) for action_data in session_data.get("actions", [])]
            self.current_session_id, self.device_info, self.start_time = session_id, device_info, start_time
            self.actions, self.is_recording = actions, False
            return True
        except Exception:
            return False
