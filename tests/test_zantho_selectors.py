"""CodeGenerator._generate_selectors: kinds, ranking, combination, coordinates, escaping."""
import ast

import pytest

from zelvik.core.zantho import CodeGenerator

KINDS = {  # type: (priority, stability, pros, cons)
    "resource_id": (1, "high", ["稳定性高", "执行速度快", "不受文本变化影响"], ["需要开发者设置ID"]),
    "text": (2, "medium", ["直观易懂", "适合文本固定的场景"], ["文本变化时会失效", "多语言环境不稳定"]),
    "text_contains": (3, "medium", ["对文本变化容错性更强"], ["可能匹配到多个元素"]),
    "content_desc": (2, "high", ["稳定性高", "语义化好"], ["不是所有元素都有描述"]),
    "class_name": (4, "low", ["适合组件类型固定的场景"], ["通常会匹配多个元素", "需要结合其他条件"]),
    "combined": (1, "very_high", ["准确性最高", "误匹配概率极低"], ["条件过多时维护复杂"]),
    "coordinate": (5, "very_low", ["总是可用的兜底方案"], ["屏幕分辨率变化时失效", "界面布局变化时失效", "不具备通用性"]),
}
FULL = {"resource_id": "com.app:id/ok", "text": "Confirm the order", "content_desc": "ok button",
        "class": "android.widget.Button", "bounds": [10, 20, 31, 41]}


def selectors(element):
    return CodeGenerator()._generate_selectors(element)


def by_type(element):
    return {s["type"]: s for s in selectors(element)}


def test_every_kind_with_its_fixed_fields_in_rank_order():
    result = selectors(FULL)
    assert [s["type"] for s in result] == ["resource_id", "combined", "text", "content_desc",
                                           "text_contains", "class_name", "coordinate"]
    for s in result:
        assert list(s) == ["type", "priority", "stability", "code", "description", "pros", "cons"]
        assert (s["priority"], s["stability"], s["pros"], s["cons"]) == KINDS[s["type"]]
    assert {s["type"]: (s["code"], s["description"]) for s in result} == {
        "resource_id": ('d(resourceId="com.app:id/ok")', "资源ID定位 - 最稳定的定位方式"),
        "combined": ('d(resourceId="com.app:id/ok", className="android.widget.Button")', "组合定位 - 多条件组合"),
        "text": ('d(text="Confirm the order")', "文本定位 - 基于显示文本 'Confirm the order'"),
        "content_desc": ('d(description="ok button")', "内容描述定位 - 基于无障碍描述"),
        "text_contains": ('d(textContains="Confirm ")', "文本包含定位 - 包含 'Confirm ...'"),
        "class_name": ('d(className="android.widget.Button")', "类名定位 - 基于UI组件类型"),
        "coordinate": ("d.click(20, 30)", "坐标点击 - 点击位置 (20, 30)"),
    }


def test_worked_example_and_fresh_records_each_call():
    element = {"resource_id": "r", "content_desc": "", "class": "c", "bounds": [100, 200, 301, 260],
               "text": " Log in to your account "}
    first, second = selectors(element), selectors(element)
    assert [s["type"] for s in first] == ["resource_id", "combined", "text", "text_contains", "class_name",
                                          "coordinate"]
    assert first[3]["code"] == 'd(textContains="Log in t")'
    assert first[3]["description"] == "文本包含定位 - 包含 'Log in t...'"
    assert first[-1]["code"] == "d.click(200, 230)"
    assert first == second and first[0] is not second[0] and first[0]["pros"] is not second[0]["pros"]


@pytest.mark.parametrize("element, types", [
    ({}, []),
    ({"resource_id": "", "text": "", "content_desc": "", "class": "", "bounds": [0, 0, 0, 0]}, ["coordinate"]),
    ({"resource_id": None, "text": 0, "content_desc": False, "class": [], "bounds": []}, []),
    ({"text": "a" * 10}, ["text"]),
    ({"text": "a" * 11}, ["text", "text_contains"]),
    ({"text": " \t\n "}, []),
    ({"resource_id": "r", "content_desc": "d"}, ["resource_id", "content_desc"]),
    ({"content_desc": "d", "class": "c"}, ["content_desc", "class_name"]),
    ({"text": "   ", "content_desc": "d", "class": "c"}, ["content_desc", "class_name"]),
    ({"resource_id": "r", "text": "t"}, ["resource_id", "text"]),
    ({"text": "t", "class": "c"}, ["combined", "text", "class_name"]),
])
def test_which_kinds_apply(element, types):
    assert [s["type"] for s in selectors(element)] == types


@pytest.mark.parametrize("element, combined", [
    ({"resource_id": "r", "class": "c"}, 'd(resourceId="r", className="c")'),
    ({"text": "  t  ", "class": "c"}, 'd(text="t", className="c")'),
    ({"resource_id": "r", "text": "t", "class": "c"}, 'd(resourceId="r", className="c")'),
    ({"resource_id": " ", "class": " "}, 'd(resourceId=" ", className=" ")'),
])
def test_combination(element, combined):
    assert by_type(element)["combined"]["code"] == combined


@pytest.mark.parametrize("text, code, short", [
    ("  two blanks!  ", 'd(text="two blanks!")', "two blan..."),
    ("登录您的账户以继续使用", 'd(text="登录您的账户以继续使用")', "登录您的账户以继..."),
    ("0123456789", 'd(text="0123456789")', None),
])
def test_text_is_stripped_and_cut_by_code_points(text, code, short):
    kinds = by_type({"text": text})
    assert kinds["text"]["code"] == code
    assert kinds["text"]["description"] == "文本定位 - 基于显示文本 '%s'" % text.strip()
    if short is None:
        assert "text_contains" not in kinds
    else:
        assert kinds["text_contains"]["description"] == "文本包含定位 - 包含 '%s'" % short
        assert kinds["text_contains"]["code"] == 'd(textContains="%s")' % short[:-3]


@pytest.mark.parametrize("bounds, center", [
    ([0, 0, 0, 0], "0, 0"), ([0, 0, 5, 5], "2, 2"), ([-5, 0, 0, 0], "-3, 0"), ((1, 3, 2, 8), "1, 5"),
    ([0.0, 1, 5, 2], "2.0, 1"), ([2 ** 70, 0, 2 ** 70, -(2 ** 70)], "1180591620717411303424, -590295810358705651712"),
    ([True, False, True, 1], "1, 0"),
])
def test_coordinate_center_is_floor_of_half(bounds, center):
    s = by_type({"bounds": bounds})["coordinate"]
    assert (s["code"], s["description"]) == ("d.click(%s)" % center, "坐标点击 - 点击位置 (%s)" % center)


@pytest.mark.parametrize("element, error", [
    ({"bounds": [1, 2, 3]}, IndexError),
    ({"bounds": ["1", "2", "3", "4"]}, TypeError),
    ({"text": 5}, AttributeError),
    ({"text": b"  twelve bytes  "}, TypeError),  # bytes[:8] + "..."
])
def test_errors_propagate(element, error):
    with pytest.raises(error):
        selectors(element)


def test_non_str_values_are_inserted_as_str():
    kinds = by_type({"text": b" hi ", "resource_id": 7, "class": 1.5})
    assert kinds["text"]["code"] == "d(text=\"b'hi'\")"
    assert kinds["resource_id"]["code"] == 'd(resourceId="7")'
    assert kinds["combined"]["code"] == 'd(resourceId="7", className="1.5")'


class Reentrant:
    """A value whose str() runs the generator again."""

    def __str__(self):
        return selectors({"resource_id": 'in"ner', "class": "c"})[1]["code"]


def test_str_of_a_value_may_reenter():
    code = by_type({"resource_id": Reentrant()})["resource_id"]["code"]
    assert ast.literal_eval(ast.parse(code).body[0].value.keywords[0].value) == 'd(resourceId="in\\"ner", className="c")'


class Rewriting:
    """A value whose truth test rewrites an item of the element it came from."""

    def __init__(self, element, key, value):
        self.element, self.key, self.value = element, key, value

    def __bool__(self):
        self.element[self.key] = self.value
        return True

    def __str__(self):
        return "r"


@pytest.mark.parametrize("key, other, value, codes", [
    ("resource_id", "resource_id", "new",
     ['d(resourceId="new")', 'd(text="hi")', 'd(resourceId="new", className="c")']),
    ("class", "text", "  bye  ", ['d(text="hi")', 'd(text="bye", className="r")']),
])
def test_items_changed_by_a_value_are_read_again(key, other, value, codes):
    element = {"text": " hi ", "class": "c"}
    element[key] = Rewriting(element, other, value)
    got = [s["code"] for s in selectors(element) if s["type"] in ("resource_id", "text", "combined")]
    assert sorted(got) == sorted(codes)


NASTY = ['say "hi"', "back\\slash", "line\nbreak", "tab\tcr\r", "\x00\x1b\x1f\x7f", '中文"\\\n', "'single'"]


@pytest.mark.parametrize("value", NASTY)
def test_inserted_values_cannot_break_the_code(value):
    element = {"resource_id": value, "text": "x" + value + "y" * 11, "content_desc": value, "class": value}
    text = element["text"].strip()
    expected = {"resourceId": value, "text": text, "textContains": text[:8], "description": value, "className": value}
    for s in selectors(element):
        call = ast.parse(s["code"], mode="eval").body
        assert {k.arg: ast.literal_eval(k.value) for k in call.keywords} == {
            k.arg: expected[k.arg] for k in call.keywords}
    assert by_type(element)["text"]["description"] == "文本定位 - 基于显示文本 '%s'" % text


@pytest.mark.parametrize("value, code", [
    ('a"b', 'd(text="a\\"b")'), ("a\\b", 'd(text="a\\\\b")'), ("a\nb", 'd(text="a\\nb")'),
    ("a\rb\tc", 'd(text="a\\rb\\tc")'), ("a\x01b\x7f", 'd(text="a\\x01b\\x7f")'), ("中文 🟢 é", 'd(text="中文 🟢 é")'),
])
def test_literal_escapes(value, code):
    assert by_type({"text": value})["text"]["code"] == code
