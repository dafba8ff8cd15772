"""Benchmark of zelvik.core.mirvane against the same steps in plain Python.

Builds one 10,000-action session of realistic actions (element records of 19
keys, Chinese texts, irregular pauses), then times, side by side and
interleaved, ActionRecorder.generate_script and export_session_data plus
import_session_data next to a plain-Python ActionRecorder written below
(same steps, same escaping). Times are CPU times, the best of several rounds.
Then calls each recorder method 100,000 times on a small session and reports
the growth of traced memory after a warm-up.

    python3 bench/bench_mirvane.py
"""
import gc
import os
import random
import sys
import time
import tracemalloc
from dataclasses import asdict, dataclass
from datetime import datetime
from typing import Any, Dict, List, Optional

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zelvik.core import mirvane  # noqa: E402

ACTIONS = 10_000
CALLS = 100_000
WARM_UP = 2_000


# ---------------------------------------------------------------- plain Python

_SPECIAL = frozenset(map(chr, range(0x20))) | {"\x7f", "\\", '"'}
_CONTROL = {c: "\\x%02x" % c for c in [*range(0x20), 0x7F]}
_CONTROL.update({0x0A: "\\n", 0x0D: "\\r", 0x09: "\\t"})
_LITERAL = {**_CONTROL, ord("\\"): "\\\\", ord('"'): '\\"'}


def literal(value):
    """The value's text escaped for a double-quoted string literal."""
    text = str(value)
    return text if _SPECIAL.isdisjoint(text) else text.translate(_LITERAL)


def comment(value):
    """The value's text escaped for a # comment."""
    text = str(value)
    return text if _SPECIAL.isdisjoint(text) else text.translate(_CONTROL)


def number(value):
    """A value in a numeric position of generated code."""
    if value is None or isinstance(value, (int, float)):
        return format(value, "")
    return repr(value)


@dataclass
class RecordedAction:
    """录制的操作数据结构"""
    action_type: str
    timestamp: float
    params: Dict[str, Any]
    element_info: Optional[Dict[str, Any]] = None
    coordinates: Optional[Dict[str, int]] = None
    screenshot_before: Optional[str] = None


class PyActionRecorder:
    """The same steps in plain Python."""

    def __init__(self):
        self.is_recording = False
        self.actions = []
        self.start_time = None
        self.current_session_id = None
        self.device_info = {}

    def generate_script(self, script_type: str = "uiautomator2") -> str:
        if not self.actions:
            return "# 没有录制的操作"
        if script_type == "uiautomator2":
            return self._generate_uiautomator2_script()
        return f"# 不支持的脚本类型: {script_type}"

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
        text = literal(action.params.get("text", ""))
        element_info = action.element_info
        locator = self._generate_element_locator(element_info) if element_info else None
        if element_info and locator:
            return [f"{locator}.click()  # 点击输入框获得焦点", f'{locator}.set_text("{text}")',
                    f'print("输入文本: {text}")']
        return [f'd.send_keys("{text}")', f'print("发送文本: {text}")']

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
        try:
            session_id = session_data.get("session_id")
            device_info = session_data.get("device_info", {})
            start_time = session_data.get("start_time")
            actions = [RecordedAction(**action_data) for action_data in session_data.get("actions", [])]
            self.current_session_id, self.device_info, self.start_time = session_id, device_info, start_time
            self.actions, self.is_recording = actions, False
            return True
        except Exception:
            return False


# ---------------------------------------------------------------- the session

ELEMENTS = [
    ("android.widget.EditText", "搜索商品、品牌或店铺", "com.taobao.taobao:id/search_edit_text", ""),
    ("android.widget.Button", "搜索", "com.taobao.taobao:id/search_button", ""),
    ("android.widget.TextView", "加入购物车", "com.taobao.taobao:id/detail_add_cart", ""),
    ("android.widget.ImageView", "", "com.taobao.taobao:id/iv_back", "返回"),
    ("android.widget.TextView", "立即购买", "", ""),
    ("android.view.View", "", "", "商品图片"),
    ("android.widget.LinearLayout", "", "", ""),
    ("android.widget.CheckBox", "同意《用户服务协议》和《隐私政策》", "com.taobao.taobao:id/cb_agree", ""),
]
TEXTS = ["蓝牙耳机 降噪", "iPhone 15 Pro 手机壳", "13800138000", "北京市朝阳区建国路88号"]


def element(i):
    cls, text, resource_id, desc = ELEMENTS[i % len(ELEMENTS)]
    flags = dict.fromkeys(["checkable", "checked", "clickable", "enabled", "focusable", "focused", "scrollable",
                           "long_clickable", "password", "selected", "displayed"], False)
    flags.update(clickable=True, enabled=True, displayed=True)
    return {"class": cls, "text": text, "resource_id": resource_id, "content_desc": desc,
            "package": "com.taobao.taobao", "bounds": [48, 200 + i % 900, 1032, 320 + i % 900], **flags,
            "index": i % 7, "children": []}


def session_data(n, seed=1):
    """An export record of n recorded actions."""
    rnd = random.Random(seed)
    actions, t = [], 0.0
    for i in range(n):
        t += rnd.choice([0.05, 0.3, 0.8, 1.2, 2.5])
        kind = rnd.randrange(10)
        point = {"x": rnd.randrange(1080), "y": rnd.randrange(2340)}
        if kind < 4:
            action = ("click", point, element(i) if kind < 3 else None)
        elif kind == 4:
            action = ("long_click", point, element(i))
        elif kind < 7:
            action = ("input", {"text": rnd.choice(TEXTS)}, element(i) if kind == 5 else None)
        elif kind == 7:
            action = ("key", {"key": rnd.choice(["back", "home", "enter"])}, None)
        else:
            action = ("swipe", {"fx": 540, "fy": 1800, "tx": 540, "ty": rnd.randrange(300, 900),
                                "duration": rnd.choice([0.3, 0.5, 0.8])}, None)
        kind, params, info = action
        actions.append({"action_type": kind, "timestamp": t, "params": params, "element_info": info,
                        "coordinates": point if info else None, "screenshot_before": None})
    return {"session_id": "session_1700000000", "device_info": {"device_id": "192.168.1.5:5555"},
            "start_time": 1_700_000_000.5, "actions": actions, "generated_at": 1_700_000_100.0}


def best(rounds, *calls):
    """The best CPU time of each call over interleaved rounds, each call
    started after a full collection."""
    times = [[] for _ in calls]
    for _ in range(rounds):
        for spent, call in zip(times, calls):
            gc.collect()
            start = time.process_time()
            call()
            spent.append(time.process_time() - start)
    return [min(t) for t in times]


def compare(data):
    native, plain = mirvane.ActionRecorder(), PyActionRecorder()
    assert native.import_session_data(data) and plain.import_session_data(data)
    assert native.generate_script() == plain.generate_script()
    exported = native.export_session_data()
    assert exported["actions"] == plain.export_session_data()["actions"] == data["actions"]

    print(f"session of {len(data['actions'])} actions, script of {len(native.generate_script()):,} characters")
    tn, tp = best(15, native.generate_script, plain.generate_script)
    print(f"generate_script      native {tn * 1e3:8.2f} ms   plain Python {tp * 1e3:8.2f} ms   {tp / tn:5.2f}x")
    target_n, target_p = mirvane.ActionRecorder(), PyActionRecorder()
    tn_e, tp_e = best(9, native.export_session_data, plain.export_session_data)
    tn_i, tp_i = best(15, lambda: target_n.import_session_data(exported),
                      lambda: target_p.import_session_data(exported))
    print(f"export_session_data  native {tn_e * 1e3:8.2f} ms   plain Python {tp_e * 1e3:8.2f} ms   {tp_e / tn_e:5.2f}x")
    print(f"import_session_data  native {tn_i * 1e3:8.2f} ms   plain Python {tp_i * 1e3:8.2f} ms   {tp_i / tn_i:5.2f}x")
    both_n, both_p = tn_e + tn_i, tp_e + tp_i
    print(f"export + import      native {both_n * 1e3:8.2f} ms   plain Python {both_p * 1e3:8.2f} ms   "
          f"{both_p / both_n:5.2f}x")


def memory():
    """Traced memory growth over CALLS calls of each method, after a warm-up."""
    data = session_data(6)
    r = mirvane.ActionRecorder()
    r.import_session_data(data)
    sink = mirvane.ActionRecorder()
    action = r.actions[0]

    def record():
        if len(sink.actions) >= 1000:
            sink.actions.clear()
        sink.record_action("click", {"x": 1, "y": 2}, action.element_info, {"x": 1, "y": 2})

    def refused():
        try:
            r.record_action("click", None)
        except TypeError:
            pass

    calls = {
        "start_recording": lambda: (sink.start_recording("d"), sink.stop_recording()),
        "record_action": record,
        "record_action (refused)": refused,
        "get_current_session_info": r.get_current_session_info,
        "generate_script": r.generate_script,
        "generate_script (other type)": lambda: r.generate_script("appium"),
        "_generate_action_code": lambda: r._generate_action_code(action, 1),
        "_generate_click_code": lambda: r._generate_click_code(action),
        "_generate_long_click_code": lambda: r._generate_long_click_code(action),
        "_generate_input_code": lambda: r._generate_input_code(action),
        "_generate_key_code": lambda: r._generate_key_code(action),
        "_generate_swipe_code": lambda: r._generate_swipe_code(action),
        "_generate_element_locator": lambda: r._generate_element_locator(action.element_info or {"text": "t"}),
        "export_session_data": r.export_session_data,
        "import_session_data": lambda: sink.import_session_data(data),
        "import_session_data (failing)": lambda: sink.import_session_data({"actions": [data["actions"][0], None]}),
        "get_mirvane": mirvane.get_mirvane,
    }
    print(f"\ntraced memory growth over {CALLS:,} calls (after {WARM_UP:,} warm-up calls):")
    for name, call in calls.items():
        if name == "record_action":
            sink.start_recording("d")
        tracemalloc.start()
        for _ in range(WARM_UP):
            call()
        sink.actions.clear()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(CALLS):
            call()
        sink.actions.clear()  # what the last calls recorded or imported (allocated while tracing)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - before
        tracemalloc.stop()
        print(f"  {name:32s} {grown:+8d} bytes")


if __name__ == "__main__":
    print(f"Python {sys.version.split()[0]}")
    compare(session_data(ACTIONS))
    memory()
