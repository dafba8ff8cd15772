"""UI element records: XML elements into 19-key dicts, bounds texts."""
import random
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

pellora = pytest.importorskip("zelvik.core.pellora")
UIAnalyzer = pellora.UIAnalyzer

KEYS = ["class", "text", "resource_id", "content_desc", "package", "bounds", "checkable", "checked", "clickable",
        "enabled", "focusable", "focused", "scrollable", "long_clickable", "password", "selected", "displayed",
        "index", "children"]
FLAGS = KEYS[6:17]
FULL = ('<node index="2" text="设置" resource-id="com.a:id/t" class="android.widget.TextView" package="com.a" '
        'content-desc="d" checkable="true" checked="false" clickable="true" enabled="true" focusable="true" '
        'focused="false" scrollable="false" long-clickable="true" password="false" selected="true" '
        'visible-to-user="true" bounds="[0,63][1080,210]" drawing-order="1" hint="" display-id="0"/>')


def parse(xml, analyzer=None):
    return (analyzer or UIAnalyzer(None))._parse_xml_node(ET.fromstring(xml))


def plain_bounds(text):
    """The bounds rule written in plain Python."""
    if not text:
        return [0, 0, 0, 0]
    try:
        return [int(x) for x in text.replace("][", ",").replace("[", "").replace("]", "").split(",")]
    except BaseException:
        return [0, 0, 0, 0]


def test_module_namespace_and_class():
    names = [n for n in vars(pellora) if not n.startswith("__")]
    assert names == ["asyncio", "base64", "io", "subprocess", "ET", "Dict", "List", "Optional", "Tuple", "Image",
                     "UIAnalyzer"]
    assert pellora.ET is ET and pellora.Image.__name__ == "PIL.Image"
    assert pellora.__doc__ == "\nUI分析器核心模块\n负责UI层次结构解析和元素分析\n"
    assert UIAnalyzer.__doc__ == "UI分析器" and UIAnalyzer.__mro__ == (UIAnalyzer, object)
    assert vars(UIAnalyzer(7)) == {"ostrel": 7}
    assert UIAnalyzer._parse_xml_node.__annotations__ == {"node": "ET.Element", "return": "dict"}
    assert UIAnalyzer._parse_bounds.__annotations__ == {"bounds_str": "str", "return": "List[int]"}


def test_missing_pillow_fails_the_import():
    code = "import sys; sys.modules['PIL'] = None; import zelvik.core.pellora"
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert r.returncode != 0 and "ModuleNotFoundError" in r.stderr


def test_full_record_keys_order_and_values():
    r = parse(FULL)
    assert list(r) == KEYS
    assert r == {"class": "android.widget.TextView", "text": "设置", "resource_id": "com.a:id/t",
                 "content_desc": "d", "package": "com.a", "bounds": [0, 63, 1080, 210], "checkable": True,
                 "checked": False, "clickable": True, "enabled": True, "focusable": True, "focused": False,
                 "scrollable": False, "long_clickable": True, "password": False, "selected": True,
                 "displayed": True, "index": 2, "children": []}
    assert sys.getsizeof(r) == sys.getsizeof(dict.fromkeys(KEYS))  # the table of a dict display


def test_element_without_attributes_gets_the_defaults():
    r = parse('<hierarchy rotation="0"/>')
    assert list(r) == KEYS
    assert r == dict(dict.fromkeys(FLAGS, False), **{
        "class": "", "text": "", "resource_id": "", "content_desc": "", "package": "", "bounds": [0, 0, 0, 0],
        "enabled": True, "displayed": True, "index": 0, "children": []})


@pytest.mark.parametrize("flag", FLAGS)
@pytest.mark.parametrize("text, expected", [("true", True), ("True", False), ("TRUE", False), ("1", False),
                                            ("false", False), ("", False), ("trué", False)])
def test_flags_are_exactly_the_text_true(flag, text, expected):
    attr = flag.replace("long_clickable", "long-clickable")
    assert parse(f'<node {attr}="{text}"/>')[flag] is expected


@pytest.mark.parametrize("text, expected", [("3", 3), (" 3", 3), ("-4", -4), ("1_000", 1000), ("٣", 3),
                                            ("12345678901234567890123", 12345678901234567890123)])
def test_index_is_converted_with_int(text, expected):
    assert parse(f'<node index="{text}"/>')["index"] == expected


def test_unreadable_index_raises():
    with pytest.raises(ValueError, match="invalid literal for int"):
        parse('<node><node index="x"/></node>')


@pytest.mark.parametrize("text, expected", [
    ("[0,63][1080,210]", [0, 63, 1080, 210]), ("", [0, 0, 0, 0]), ("abc", [0, 0, 0, 0]), ("[1,2]", [1, 2]),
    ("[1,2][3,4][5,6]", [1, 2, 3, 4, 5, 6]), ("[ 1, +2][-3,4_0]", [1, 2, -3, 40]), ("[1,,2]", [0, 0, 0, 0]),
    ("[1,2],", [0, 0, 0, 0]), ("]][[", [0, 0, 0, 0]), ("[12]3", [123]), ("[" + "9" * 30 + "]", [int("9" * 30)]),
    ("[١,2][3,4]", [1, 2, 3, 4])])
def test_bounds_texts(text, expected):
    analyzer = UIAnalyzer(None)
    got = analyzer._parse_bounds(text)
    assert got == expected and got is not analyzer._parse_bounds(text)
    assert parse(f'<node bounds="{text}"/>', analyzer)["bounds"] == expected


def test_bounds_agree_with_the_text_steps_on_random_texts():
    analyzer, rng = UIAnalyzer(None), random.Random(5)
    for alphabet in ("0123456789,[]", "01,[]][", "012,[] -+_x٣"):
        for _ in range(20000):
            text = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 20)))
            assert analyzer._parse_bounds(text) == plain_bounds(text), text


@pytest.mark.parametrize("value", [None, b"[1,2]", 5, type("S", (str,), {})("[1,2]")])
def test_bounds_argument_must_be_exactly_str(value):
    with pytest.raises(TypeError, match="Argument 'bounds_str' has incorrect type"):
        UIAnalyzer(None)._parse_bounds(value)


def test_children_in_document_order_and_depth():
    r = parse('<hierarchy><node text="a"><node text="a1"><node text="a11"/></node></node><node text="b"/>'
              '<!-- c --><node text="c"/></hierarchy>')
    assert [c["text"] for c in r["children"]] == ["a", "b", "c"]
    assert r["children"][0]["children"][0]["children"][0]["text"] == "a11"


class Attrs:
    """A mapping that is not a dict: read through its own get()."""

    def __init__(self, **values):
        self.values, self.asked = values, []

    def get(self, key, default):
        self.asked.append(key)
        return self.values.get(key, default)


class Node:
    def __init__(self, attrib, children=()):
        self.attrib, self.children = attrib, list(children)

    def __iter__(self):
        return iter(self.children)


class Loud(str):
    def __eq__(self, other):
        return "loud"

    __hash__ = str.__hash__


def test_any_mapping_and_any_values_follow_the_python_steps():
    attrs = Attrs(clickable=Loud("x"), index=7, text=b"raw")
    kids = [Node({"enabled": "false", 1: "odd key"}), Node({"checked": Loud("true")})]
    r = UIAnalyzer(None)._parse_xml_node(Node(attrs, kids))
    assert attrs.asked == ["bounds", "class", "text", "resource-id", "content-desc", "package", "checkable",
                           "checked", "clickable", "enabled", "focusable", "focused", "scrollable",
                           "long-clickable", "password", "selected", "displayed", "index"]
    assert r["clickable"] == "loud" and r["index"] == 7 and r["text"] == b"raw"
    assert r["children"][0]["enabled"] is False and list(r["children"][0]) == KEYS
    assert r["children"][1]["checked"] == "loud"


def test_subclass_steps_build_the_whole_tree():
    class Marked(UIAnalyzer):
        def _parse_bounds(self, bounds_str):
            return ["seen", bounds_str]

        def _parse_xml_node(self, node):
            record = super()._parse_xml_node(node)
            record["depth_tag"] = node.get("text")
            return record

    r = parse('<node text="top" bounds="[1,2][3,4]"><node text="kid"/></node>', Marked(None))
    assert r["bounds"] == ["seen", "[1,2][3,4]"] and r["depth_tag"] == "top"
    assert r["children"][0]["bounds"] == ["seen", ""] and r["children"][0]["depth_tag"] == "kid"


def test_deep_tree_raises_recursion_error():
    depth = 20000
    root = ET.fromstring("<node>" * depth + "</node>" * depth)
    with pytest.raises(RecursionError):
        UIAnalyzer(None)._parse_xml_node(root)
