"""Benchmark of zelvik.core.zantho against the same steps in plain Python.

Times CodeGenerator.generate_element_code over 1,000 element records and
generate_batch_code on the whole list, next to a plain-Python CodeGenerator
written below, prints the speed ratio, then calls each native function
100,000 times and reports the growth of traced memory after a warm-up.

    python3 bench/bench_zantho.py
"""
import gc
import os
import random
import sys
import time
import tracemalloc
from typing import List

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zelvik.core.zantho import CodeGenerator  # noqa: E402

RECORDS = 1000
CALLS = 100_000
WARM_UP = 5_000


# ---------------------------------------------------------------- plain Python

def _escape(value, quotes):
    out = []
    for ch in str(value):
        code = ord(ch)
        if quotes and ch in '\\"':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif code < 0x20 or code == 0x7F:
            out.append("\\x%02x" % code)
        else:
            out.append(ch)
    return "".join(out)


_SPECIAL = frozenset(chr(c) for c in range(0x20)) | {"\x7f", "\\", '"'}


def literal(value):
    """The value's text escaped for a double-quoted string literal."""
    text = str(value)
    return _escape(text, True) if not _SPECIAL.isdisjoint(text) else text


def comment(value):
    """The value's text escaped for a # comment."""
    text = str(value)
    return _escape(text, False) if not _SPECIAL.isdisjoint(text) else text


def number(value):
    """A value in a numeric position of generated code."""
    if value is None or isinstance(value, (int, float)):
        return format(value, "")
    return repr(value)


class PyCodeGenerator:
    """The same steps in plain Python."""

    def __init__(self):
        pass

    def generate_element_code(self, element: dict, options: dict = None) -> dict:
        if not element:
            raise ValueError("元素信息不能为空")
        options = options or {}
        selectors = self._generate_selectors(element)
        operations = self._generate_operations(element, options)
        full_code = self._build_full_code(selectors, operations, element)
        return {
            "selectors": selectors,
            "operations": operations,
            "full_code": full_code,
            "element_info": self._get_element_summary(element),
        }

    def _generate_selectors(self, element: dict) -> List[dict]:
        selectors = []
        if element.get("resource_id"):
            selectors.append({
                "type": "resource_id", "priority": 1, "stability": "high",
                "code": f'd(resourceId="{literal(element["resource_id"])}")',
                "description": "资源ID定位 - 最稳定的定位方式",
                "pros": ["稳定性高", "执行速度快", "不受文本变化影响"],
                "cons": ["需要开发者设置ID"],
            })
        if element.get("text") and element["text"].strip():
            text = element["text"].strip()
            selectors.append({
                "type": "text", "priority": 2, "stability": "medium",
                "code": f'd(text="{literal(text)}")',
                "description": f"文本定位 - 基于显示文本 '{text}'",
                "pros": ["直观易懂", "适合文本固定的场景"],
                "cons": ["文本变化时会失效", "多语言环境不稳定"],
            })
            if len(text) > 10:
                short_text = text[:8] + "..."
                selectors.append({
                    "type": "text_contains", "priority": 3, "stability": "medium",
                    "code": f'd(textContains="{literal(text[:8])}")',
                    "description": f"文本包含定位 - 包含 '{short_text}'",
                    "pros": ["对文本变化容错性更强"],
                    "cons": ["可能匹配到多个元素"],
                })
        if element.get("content_desc"):
            selectors.append({
                "type": "content_desc", "priority": 2, "stability": "high",
                "code": f'd(description="{literal(element["content_desc"])}")',
                "description": "内容描述定位 - 基于无障碍描述",
                "pros": ["稳定性高", "语义化好"],
                "cons": ["不是所有元素都有描述"],
            })
        if element.get("class"):
            class_name = element["class"]
            selectors.append({
                "type": "class_name", "priority": 4, "stability": "low",
                "code": f'd(className="{literal(class_name)}")',
                "description": "类名定位 - 基于UI组件类型",
                "pros": ["适合组件类型固定的场景"],
                "cons": ["通常会匹配多个元素", "需要结合其他条件"],
            })
        if len(selectors) > 1:
            combo_conditions = []
            if element.get("resource_id"):
                combo_conditions.append(f'resourceId="{literal(element["resource_id"])}"')
            elif element.get("text") and element["text"].strip():
                combo_conditions.append(f'text="{literal(element["text"].strip())}"')
            if element.get("class") and len(combo_conditions) == 1:
                combo_conditions.append(f'className="{literal(element["class"])}"')
            if len(combo_conditions) >= 2:
                selectors.append({
                    "type": "combined", "priority": 1, "stability": "very_high",
                    "code": f"d({', '.join(combo_conditions)})",
                    "description": "组合定位 - 多条件组合",
                    "pros": ["准确性最高", "误匹配概率极低"],
                    "cons": ["条件过多时维护复杂"],
                })
        if element.get("bounds"):
            bounds = element["bounds"]
            center_x = (bounds[0] + bounds[2]) // 2
            center_y = (bounds[1] + bounds[3]) // 2
            selectors.append({
                "type": "coordinate", "priority": 5, "stability": "very_low",
                "code": f"d.click({number(center_x)}, {number(center_y)})",
                "description": f"坐标点击 - 点击位置 ({center_x}, {center_y})",
                "pros": ["总是可用的兜底方案"],
                "cons": ["屏幕分辨率变化时失效", "界面布局变化时失效", "不具备通用性"],
            })
        selectors.sort(key=lambda x: x["priority"])
        return selectors

    def _generate_operations(self, element: dict, options: dict) -> List[dict]:
        operations = [{
            "type": "click", "code": "element.click()", "description": "点击元素",
            "applicable": element.get("clickable", False),
        }]
        if element.get("long_clickable", False):
            operations.append({"type": "long_click", "code": "element.long_click()",
                               "description": "长按元素", "applicable": True})
        class_name = element.get("class", "")
        if class_name.endswith("EditText") or "edit" in class_name.lower():
            operations.append({"type": "input_text", "code": 'element.set_text("输入内容")',
                               "description": "输入文本", "applicable": True})
            operations.append({"type": "clear_text", "code": "element.clear_text()",
                               "description": "清空文本", "applicable": True})
        if element.get("scrollable", False):
            operations.append({"type": "scroll_up", "code": "element.scroll.up()",
                               "description": "向上滚动", "applicable": True})
            operations.append({"type": "scroll_down", "code": "element.scroll.down()",
                               "description": "向下滚动", "applicable": True})
        operations.append({"type": "wait_exists", "code": "element.wait(timeout=10)",
                           "description": "等待元素出现", "applicable": True})
        operations.append({"type": "wait_gone", "code": "element.wait_gone(timeout=10)",
                           "description": "等待元素消失", "applicable": True})
        operations.append({"type": "assert_exists", "code": "assert element.exists()",
                           "description": "断言元素存在", "applicable": True})
        operations.append({"type": "get_info", "code": "info = element.info",
                           "description": "获取元素信息", "applicable": True})
        return operations

    def _build_full_code(self, selectors: List[dict], operations: List[dict], element: dict) -> str:
        if not selectors:
            return "# 无法生成定位代码：元素缺少必要的定位属性"
        code_lines = [
            "# uiautomator2 自动化代码",
            "# 此代码由 Android Zelvik 自动生成",
            "",
            "import uiautomator2 as u2",
            "",
            "# 连接设备",
            "d = u2.connect()  # 默认连接第一个设备",
            "# d = u2.connect('设备序列号')  # 连接指定设备",
            "",
            "# 等待应用启动完成",
            'd.app_start("应用包名")',
            "",
            "# 元素定位（按推荐程度排序）:",
        ]
        icons = {"very_high": "🟢", "high": "🟢", "medium": "🟡", "low": "🟠", "very_low": "🔴"}
        for i, selector in enumerate(selectors[:3], 1):
            code_lines.append("")
            code_lines.append(f"# 方式 {i}: {comment(selector['description'])} "
                              f"{icons.get(selector['stability'], '⚪')}")
            code_lines.append(f"element = {selector['code']}")
            code_lines.append("if element.exists():")
            if element.get("clickable", False):
                code_lines.append("    element.click()  # 点击操作")
            if "EditText" in element.get("class", ""):
                code_lines.append('    element.set_text("输入内容")  # 文本输入')
            code_lines.append("    print(f'操作成功: {element.info}')")
            code_lines.append("else:")
            code_lines.append("    print('元素不存在')")
        best = selectors[0]["code"]
        code_lines.extend([
            "",
            "# 带错误处理的完整示例:",
            "try:",
            f"    element = {best}",
            "    ",
            "    # 等待元素出现",
            "    if element.wait(timeout=10):",
            "        element.click()",
            "        print('操作执行成功')",
            "    else:",
            "        print('元素等待超时')",
            "",
            "except Exception as e:",
            "    print(f'操作失败: {e}')",
            "",
            "# 获取元素详细信息:",
            f"element = {best}",
            "if element.exists():",
            "    info = element.info",
            "    print(f'元素信息: {info}')",
        ])
        return "\n".join(code_lines)

    def _get_element_summary(self, element: dict) -> dict:
        return {
            "class": element.get("class", ""),
            "text": element.get("text", ""),
            "resource_id": element.get("resource_id", ""),
            "content_desc": element.get("content_desc", ""),
            "bounds": element.get("bounds", []),
            "clickable": element.get("clickable", False),
            "editable": "EditText" in element.get("class", ""),
            "scrollable": element.get("scrollable", False),
        }

    def generate_batch_code(self, elements: List[dict]) -> str:
        if not elements:
            return "# 没有选中的元素"
        code_lines = [
            "# 批量操作代码",
            "import uiautomator2 as u2",
            "",
            "d = u2.connect()",
            "",
            "# 定义所有目标元素",
            "elements = [",
        ]
        for i, element in enumerate(elements):
            selectors = self._generate_selectors(element)
            if selectors:
                best_selector = selectors[0]["code"]
                code_lines.append(f"    {best_selector},  # 元素 {i + 1}")
        code_lines.extend([
            "]",
            "",
            "# 批量执行操作",
            "for i, element in enumerate(elements):",
            "    try:",
            "        if element.exists():",
            "            element.click()",
            "            print(f'元素 {i+1} 点击成功')",
            "        else:",
            "            print(f'元素 {i+1} 不存在')",
            "    except Exception as e:",
            "        print(f'元素 {i+1} 操作失败: {e}')",
        ])
        return "\n".join(code_lines)


# ---------------------------------------------------------------- records

CLASSES = [
    "android.widget.Button", "android.widget.TextView", "android.widget.EditText",
    "android.widget.ImageView", "android.widget.LinearLayout", "android.widget.FrameLayout",
    "android.view.ViewGroup", "androidx.recyclerview.widget.RecyclerView",
    "android.widget.CheckBox", "com.example.widget.CreditCardView",
]
TEXTS = [
    "", "", "", "OK", "确定", "取消", "Log in", "Sign in to your account", "设置",
    "  Search settings  ", "搜索应用和设置项目", "Wi-Fi", "Bluetooth and device connection",
    "Battery saver is on: some features are limited", "下一步", "允许通知",
    'Say "hello"', "Line one\nLine two", "12:45", "通知与状态栏设置说明",
]
DESCS = ["", "", "", "", "Navigate up", "更多选项", "Search", "返回", "Close dialog"]
IDS = ["", "", "com.android.settings:id/title", "com.example.app:id/login_button",
       "android:id/summary", "com.tencent.mm:id/search_bar", "com.example.app:id/list"]


def records(n, seed=7):
    rng = random.Random(seed)
    out = []
    for i in range(n):
        left, top = rng.randrange(0, 1000), rng.randrange(0, 2200)
        cls = rng.choice(CLASSES)
        out.append({
            "index": i,
            "text": rng.choice(TEXTS),
            "resource_id": rng.choice(IDS),
            "class": cls,
            "package": "com.example.app",
            "content_desc": rng.choice(DESCS),
            "checkable": cls.endswith("CheckBox"),
            "checked": False,
            "clickable": rng.random() < 0.6,
            "enabled": True,
            "focusable": rng.random() < 0.4,
            "focused": False,
            "scrollable": cls.endswith("RecyclerView"),
            "long_clickable": rng.random() < 0.2,
            "password": False,
            "selected": False,
            "bounds": [left, top, left + rng.randrange(1, 400), top + rng.randrange(1, 300)],
            "bounds_str": "",
            "children": [],
        })
    return out


# ---------------------------------------------------------------- timing

def best_of_both(native, plain, repeat=15):
    """The best time of each, the two runs taking turns (the machine may be busy)."""
    best = [float("inf"), float("inf")]
    for _ in range(repeat):
        for k, fn in enumerate((native, plain)):
            t = time.perf_counter()
            fn()
            best[k] = min(best[k], time.perf_counter() - t)
    return best


def growth(fn, calls=CALLS, warm_up=WARM_UP):
    """Traced memory growth (bytes) over `calls` calls after a warm-up."""
    gc.collect()
    tracemalloc.start()
    for _ in range(warm_up):
        fn()
    gc.collect()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(calls):
        fn()
    gc.collect()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    return after - before


def main():
    elements = records(RECORDS)
    native, plain = CodeGenerator(), PyCodeGenerator()

    for el in elements:
        assert native.generate_element_code(el) == plain.generate_element_code(el)
    assert native.generate_batch_code(elements) == plain.generate_batch_code(elements)

    print(f"{RECORDS} element records")
    def each(generate):
        def run():
            for el in elements:
                generate(el)
        return run

    for name, run_native, run_plain in [
        ("generate_element_code", each(native.generate_element_code), each(plain.generate_element_code)),
        ("generate_batch_code",
         lambda: native.generate_batch_code(elements),
         lambda: plain.generate_batch_code(elements)),
    ]:
        t_native, t_plain = best_of_both(run_native, run_plain)
        print(f"  {name:24} native {t_native * 1e3:8.2f} ms   plain Python {t_plain * 1e3:8.2f} ms"
              f"   ratio {t_plain / t_native:5.1f}x")

    one = elements[:1]
    element = next(el for el in elements if el["resource_id"] and el["text"])
    print(f"traced memory growth over {CALLS:,} calls after {WARM_UP:,} warm-up calls")
    for name, fn in [
        ("generate_element_code", lambda: native.generate_element_code(element)),
        ("generate_batch_code", lambda: native.generate_batch_code(one)),
    ]:
        print(f"  {name:24} {growth(fn):+d} bytes")


if __name__ == "__main__":
    main()
