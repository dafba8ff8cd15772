"""CodeGenerator.generate_element_code and its operations, full code and summary."""
import ast

import pytest

from zelvik.core.zantho import CodeGenerator

HEADER = [
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


def block(i, description, icon, code, click=False, set_text=False):
    return (["", "# 方式 %d: %s %s" % (i, description, icon), "element = " + code, "if element.exists():"]
            + ["    element.click()  # 点击操作"] * click
            + ['    element.set_text("输入内容")  # 文本输入'] * set_text
            + ["    print(f'操作成功: {element.info}')", "else:", "    print('元素不存在')"])


def closing(best):
    return ["", "# 带错误处理的完整示例:", "try:", "    element = " + best, "    ", "    # 等待元素出现",
            "    if element.wait(timeout=10):", "        element.click()", "        print('操作执行成功')",
            "    else:", "        print('元素等待超时')", "", "except Exception as e:", "    print(f'操作失败: {e}')",
            "", "# 获取元素详细信息:", "element = " + best, "if element.exists():", "    info = element.info",
            "    print(f'元素信息: {info}')"]


RECORD = {"index": 0, "text": "Search settings", "resource_id": "com.android.settings:id/search",
          "class": "android.widget.EditText", "package": "com.android.settings", "content_desc": "搜索",
          "checkable": False, "checked": False, "clickable": True, "enabled": True, "focusable": True,
          "focused": False, "scrollable": False, "long_clickable": True, "password": False, "selected": False,
          "bounds": [0, 100, 1080, 251], "bounds_str": "[0,100][1080,251]", "children": []}
gen = CodeGenerator()


def test_generate_element_code_for_a_record():
    result = gen.generate_element_code(RECORD)
    assert list(result) == ["selectors", "operations", "full_code", "element_info"]
    rid, combo = 'd(resourceId="com.android.settings:id/search")', \
        'd(resourceId="com.android.settings:id/search", className="android.widget.EditText")'
    assert result["full_code"] == "\n".join(
        HEADER + block(1, "资源ID定位 - 最稳定的定位方式", "🟢", rid, True, True)
        + block(2, "组合定位 - 多条件组合", "🟢", combo, True, True)
        + block(3, "文本定位 - 基于显示文本 'Search settings'", "🟡", 'd(text="Search settings")', True, True)
        + closing(rid))
    assert [s["type"] for s in result["selectors"]] == ["resource_id", "combined", "text", "content_desc",
                                                        "text_contains", "class_name", "coordinate"]
    assert [o["type"] for o in result["operations"]] == ["click", "long_click", "input_text", "clear_text",
                                                         "wait_exists", "wait_gone", "assert_exists", "get_info"]
    ast.parse(result["full_code"])


def test_operation_records():
    ops = gen._generate_operations({"class": "x.EditText", "scrollable": 1, "long_clickable": 1}, {})
    assert [(o["type"], o["code"], o["description"], o["applicable"]) for o in ops] == [
        ("click", "element.click()", "点击元素", False),
        ("long_click", "element.long_click()", "长按元素", True),
        ("input_text", 'element.set_text("输入内容")', "输入文本", True),
        ("clear_text", "element.clear_text()", "清空文本", True),
        ("scroll_up", "element.scroll.up()", "向上滚动", True),
        ("scroll_down", "element.scroll.down()", "向下滚动", True),
        ("wait_exists", "element.wait(timeout=10)", "等待元素出现", True),
        ("wait_gone", "element.wait_gone(timeout=10)", "等待元素消失", True),
        ("assert_exists", "assert element.exists()", "断言元素存在", True),
        ("get_info", "info = element.info", "获取元素信息", True)]
    assert all(list(o) == ["type", "code", "description", "applicable"] for o in ops)


@pytest.mark.parametrize("cls, editable_op, editable, set_text_line", [
    ("android.widget.EditText", True, True, True),
    ("RichEditor", True, False, False),
    ("CreditCardView", True, False, False),
    ("MyEditTextView", True, True, True),
    ("中文EditText", True, True, True),
    ("ΩEDIT", True, False, False),
    ("EDİT", False, False, False),  # "İ".lower() is two code points
    ("android.widget.Button", False, False, False),
])
def test_editable_tests(cls, editable_op, editable, set_text_line):
    element = {"class": cls, "bounds": [0, 0, 2, 2]}
    result = gen.generate_element_code(element)
    assert ("input_text" in [o["type"] for o in result["operations"]]) is editable_op
    assert result["element_info"]["editable"] is editable
    assert ('element.set_text("输入内容")  # 文本输入' in result["full_code"]) is set_text_line


@pytest.mark.parametrize("clickable", [True, 1, "yes", 0, None, ""])
def test_clickable_value_is_stored_and_drives_the_click_lines(clickable):
    element = {"text": "OK", "class": "B", "clickable": clickable}
    result = gen.generate_element_code(element)
    assert result["operations"][0]["applicable"] is clickable
    assert result["element_info"]["clickable"] is clickable
    clicks = result["full_code"].split("\n").count("    element.click()  # 点击操作")
    assert clicks == (3 if clickable else 0)
    assert "        element.click()" in result["full_code"].split("\n")


def test_only_coordinates():
    element = dict(RECORD, text="", resource_id="", class_="", content_desc="", bounds=[0, 0, 0, 0])
    element["class"] = ""
    code = gen.generate_element_code(element)["full_code"]
    lines = code.split("\n")
    assert lines[14] == "# 方式 1: 坐标点击 - 点击位置 (0, 0) 🔴"
    assert [l.strip() for l in lines if l.strip().startswith("element = ")] == ["element = d.click(0, 0)"] * 3
    assert code == "\n".join(HEADER + block(1, "坐标点击 - 点击位置 (0, 0)", "🔴", "d.click(0, 0)", True)
                             + closing("d.click(0, 0)"))
    assert not code.endswith("\n") and lines[-16] == "    "


def test_without_locator_attributes():
    result = gen.generate_element_code({"text": "", "resource_id": "", "class": "", "content_desc": ""})
    assert result["selectors"] == [] and result["full_code"] == "# 无法生成定位代码：元素缺少必要的定位属性"
    assert [(o["type"], o["applicable"]) for o in result["operations"]] == [
        ("click", False), ("wait_exists", True), ("wait_gone", True), ("assert_exists", True), ("get_info", True)]
    assert result["element_info"]["bounds"] == [] and result["element_info"]["editable"] is False


@pytest.mark.parametrize("stability, icon", [
    ("very_high", "🟢"), ("high", "🟢"), ("medium", "🟡"), ("low", "🟠"), ("very_low", "🔴"), ("other", "⚪"),
    (None, "⚪"),
])
def test_stability_icons_and_first_three_blocks(stability, icon):
    selectors = [{"description": "D%d" % i, "stability": stability, "code": "c%d" % i} for i in range(5)]
    code = gen._build_full_code(selectors, [], {})
    assert code == "\n".join(HEADER + [line for i in range(3) for line in block(i + 1, "D%d" % i, icon, "c%d" % i)]
                             + closing("c0"))


def test_full_code_reports_bad_selector_records():
    with pytest.raises(KeyError):
        gen._build_full_code([{"description": "d", "code": "c"}], [], {})
    with pytest.raises(TypeError):
        gen._build_full_code([{"description": "d", "code": "c", "stability": []}], [], {})


class Clicking:
    """A description whose str() makes the element clickable."""

    def __init__(self, element):
        self.element = element

    def __str__(self):
        self.element["clickable"] = True
        return "D"


def test_element_is_read_again_after_code_ran():
    element = {"clickable": False}
    selectors = [{"description": "A", "stability": "high", "code": "a"},
                 {"description": Clicking(element), "stability": "high", "code": "b"}]
    code = gen._build_full_code(selectors, [], element)
    assert code.split("\n").count("    element.click()  # 点击操作") == 1
    assert code.index("# 方式 2") < code.index("element.click()  # 点击操作")


class Clearing:
    """A description whose str() empties the selector list it is in."""

    def __init__(self, selectors):
        self.selectors = selectors

    def __str__(self):
        self.selectors.clear()
        return "D"


def test_best_selector_is_read_after_the_blocks():
    selectors = []
    selectors.append({"description": Clearing(selectors), "stability": "high", "code": "a"})
    with pytest.raises(IndexError):
        gen._build_full_code(selectors, [], {})


def test_heading_is_comment_escaped_and_script_parses():
    element = {"text": ' say "hi"\\\nnow\x07 ', "clickable": True}
    result = gen.generate_element_code(element)
    heading = [l for l in result["full_code"].split("\n") if l.startswith("# 方式 ")]
    assert heading == ["# 方式 1: 文本定位 - 基于显示文本 'say \"hi\"\\\\nnow\\x07' 🟡",
                       "# 方式 2: 文本包含定位 - 包含 'say \"hi\"...' 🟡"]
    assert result["selectors"][0]["description"] == "文本定位 - 基于显示文本 'say \"hi\"\\\nnow\x07'"
    ast.parse(result["full_code"])


def test_summary():
    bounds = [1, 2, 3, 4]
    element = {"class": "A", "text": " t ", "resource_id": "r", "content_desc": "d", "bounds": bounds,
               "clickable": 0, "scrollable": "s", "other": 1}
    summary = gen._get_element_summary(element)
    assert summary == {"class": "A", "text": " t ", "resource_id": "r", "content_desc": "d", "bounds": bounds,
                       "clickable": 0, "editable": False, "scrollable": "s"}
    assert list(summary) == ["class", "text", "resource_id", "content_desc", "bounds", "clickable", "editable",
                             "scrollable"]
    assert summary["bounds"] is bounds
    empty = gen._get_element_summary({})
    assert empty == {"class": "", "text": "", "resource_id": "", "content_desc": "", "bounds": [],
                     "clickable": False, "editable": False, "scrollable": False}
    assert empty["bounds"] is not gen._get_element_summary({})["bounds"]


@pytest.mark.parametrize("element, error", [
    ({}, ValueError), ({"class": None}, AttributeError), ({"bounds": [1]}, IndexError),
])
def test_generate_element_code_errors(element, error):
    with pytest.raises(error) as info:
        gen.generate_element_code(element)
    if error is ValueError:
        assert str(info.value) == "元素信息不能为空"
