"""zelvik.core.zantho as a Python module: names, docstrings, signatures, checks, tracebacks, overrides."""
import inspect
import threading
import traceback
import typing

import pytest

from zelvik.core import zantho
from zelvik.core.zantho import CodeGenerator

METHODS = {  # name: (docstring, annotations)
    "__init__": (None, {}),
    "generate_element_code": ("生成元素定位代码", {"element": "dict", "options": "dict", "return": "dict"}),
    "_generate_selectors": ("生成元素选择器代码", {"element": "dict", "return": "List[dict]"}),
    "_generate_operations": ("生成元素操作代码", {"element": "dict", "options": "dict", "return": "List[dict]"}),
    "_build_full_code": ("构建完整的代码示例", {"selectors": "List[dict]", "operations": "List[dict]",
                                              "element": "dict", "return": "str"}),
    "_get_element_summary": ("获取元素摘要信息", {"element": "dict", "return": "dict"}),
    "generate_batch_code": ("生成批量操作代码", {"elements": "List[dict]", "return": "str"}),
}


def test_module_frame():
    assert zantho.__doc__ == "\n代码生成器核心模块\n根据UI元素信息生成uiautomator2定位代码\n"
    assert [k for k in vars(zantho) if not k.startswith("__")] == ["List", "Dict", "Optional", "Tuple",
                                                                  "CodeGenerator"]
    assert (zantho.List, zantho.Dict, zantho.Optional, zantho.Tuple) == (
        typing.List, typing.Dict, typing.Optional, typing.Tuple)
    assert CodeGenerator.__mro__ == (CodeGenerator, object)
    assert (CodeGenerator.__doc__, CodeGenerator.__module__) == ("uiautomator2代码生成器", "zelvik.core.zantho")
    assert [k for k, v in vars(CodeGenerator).items() if callable(v)] == list(METHODS)
    assert vars(CodeGenerator()) == {}


@pytest.mark.parametrize("name", METHODS)
def test_method_attributes(name):
    method = getattr(CodeGenerator, name)
    assert (method.__doc__, method.__annotations__) == METHODS[name]
    assert (method.__name__, method.__qualname__, method.__module__) == (
        name, "CodeGenerator." + name, "zelvik.core.zantho")
    params = list(inspect.signature(method).parameters)
    assert params == ["self"] + [p for p in METHODS[name][1] if p != "return"]


def test_options_default():
    assert inspect.signature(CodeGenerator.generate_element_code).parameters["options"].default is None


g = CodeGenerator()
NOTE = ". "


@pytest.mark.parametrize("call, message", [
    (lambda: g._generate_selectors(), "_generate_selectors() takes exactly 2 positional arguments (1 given)"),
    (lambda: g._generate_selectors({}, {}), "_generate_selectors() takes exactly 2 positional arguments (3 given)"),
    (lambda: g.generate_batch_code(), "generate_batch_code() takes exactly 2 positional arguments (1 given)"),
    (lambda: g.generate_element_code(), "generate_element_code() takes at least 2 positional arguments (1 given)"),
    (lambda: g.generate_element_code({}, {}, {}),
     "generate_element_code() takes at most 3 positional arguments (4 given)"),
    (lambda: g._build_full_code([], []), "_build_full_code() takes exactly 4 positional arguments (3 given)"),
    (lambda: CodeGenerator(1), "__init__() takes exactly one argument (2 given)"),
    (lambda: g._generate_selectors({}, elem=1), "_generate_selectors() got an unexpected keyword argument 'elem'"),
    (lambda: g._generate_selectors({}, element={}),
     "_generate_selectors() got multiple values for keyword argument 'element'"),
    (lambda: g._generate_selectors(None), "Argument 'element' has incorrect type (expected dict, got NoneType)"),
    (lambda: g._get_element_summary([]), "Argument 'element' has incorrect type (expected dict, got list)"),
    (lambda: g.generate_element_code(None), "Argument 'element' has incorrect type (expected dict, got NoneType)"),
    (lambda: g.generate_element_code({"a": 1}, []), "Argument 'options' has incorrect type (expected dict, got list)"),
    (lambda: g._generate_operations({}, None),
     "Argument 'options' has incorrect type (expected dict, got NoneType)"),
    (lambda: g.generate_batch_code(()), "Argument 'elements' has incorrect type (expected list, got tuple)"),
    (lambda: g._build_full_code([], None, {}),
     "Argument 'operations' has incorrect type (expected list, got NoneType)"),
    (lambda: g._build_full_code([], [], type("D", (dict,), {})()),
     "Argument 'element' has incorrect type (expected dict, got D)" + NOTE),
    (lambda: g.generate_batch_code(type("L", (list,), {})()),
     "Argument 'elements' has incorrect type (expected list, got L)" + NOTE),
])
def test_argument_checks(call, message):
    with pytest.raises(TypeError) as info:
        call()
    text = str(info.value)
    assert text.startswith(message) and (len(text) > len(message) + 10 if message.endswith(NOTE) else text == message)


def test_keywords_and_none_options():
    assert g._generate_selectors(element={}) == []
    assert g._build_full_code(selectors=[], operations=[], element={}).startswith("# 无法")
    assert g.generate_batch_code(elements=[]) == "# 没有选中的元素"
    assert g.generate_element_code(element={"a": 1}, options=None)["selectors"] == []


@pytest.mark.parametrize("call, outer, error", [
    (lambda: g.generate_element_code({"bounds": [1]}), "generate_element_code", IndexError),
    (lambda: g.generate_batch_code([{"a": 1}, {"bounds": [1]}]), "generate_batch_code", IndexError),
    (lambda: g.generate_batch_code([{"a": 1}, None]), "generate_batch_code", TypeError),
    (lambda: g._generate_selectors({"text": 1}), None, AttributeError),
])
def test_traceback_entries(call, outer, error):
    with pytest.raises(error) as info:
        call()
    frames = [(f.filename, f.name) for f in traceback.extract_tb(info.value.__traceback__)]
    expected = [("zelvik/core/zantho", "zelvik.core.zantho.CodeGenerator." + name)
                for name in [outer, "_generate_selectors"] if name]
    assert frames[-len(expected):] == expected and frames[-len(expected) - 1][0] == __file__


class Recording(CodeGenerator):
    calls = []

    def _generate_selectors(self, element):
        self.calls.append(element)
        return [{"description": "mine", "stability": "low", "code": "d.mine()"}]

    def _generate_operations(self, element, options):
        self.calls.append(options)
        return ["op"]

    def _get_element_summary(self, element):
        return "summary"


def test_overrides_are_called_through_self():
    element = {"x": 1}
    sub = Recording()
    result = sub.generate_element_code(element, {})
    assert sub.calls[0] is element and sub.calls[1] == {}
    assert result["selectors"][0]["code"] == "d.mine()" and result["operations"] == ["op"]
    assert "element = d.mine()" in result["full_code"] and result["element_info"] == "summary"
    options = {"k": 1}
    sub.generate_element_code(element, options)
    assert sub.calls[-1] is options
    assert sub.generate_batch_code([{}, {}]).count("    d.mine(),  # 元素") == 2
    plain = CodeGenerator()
    plain._generate_selectors = lambda element: [{"code": "inst"}]
    assert "    inst,  # 元素 1" in plain.generate_batch_code([{}])


def test_threads_share_one_generator():
    element = {"resource_id": "r", "text": "t" * 12, "class": "c", "bounds": [0, 0, 9, 9], "clickable": True}
    expected = g.generate_element_code(element)
    results = []
    threads = [threading.Thread(target=lambda: results.extend(g.generate_element_code(element) for _ in range(200)))
               for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 800 and all(r == expected for r in results)
