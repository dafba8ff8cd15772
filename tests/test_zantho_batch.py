"""CodeGenerator.generate_batch_code."""
import ast

import pytest

from zelvik.core.zantho import CodeGenerator

HEADER = ["# 批量操作代码", "import uiautomator2 as u2", "", "d = u2.connect()", "", "# 定义所有目标元素", "elements = ["]
CLOSING = ["]", "", "# 批量执行操作", "for i, element in enumerate(elements):", "    try:",
           "        if element.exists():", "            element.click()", "            print(f'元素 {i+1} 点击成功')",
           "        else:", "            print(f'元素 {i+1} 不存在')", "    except Exception as e:",
           "        print(f'元素 {i+1} 操作失败: {e}')"]
EMPTY_RECORD = {"text": "", "resource_id": "", "class": "", "content_desc": "", "bounds": [0, 0, 0, 0]}
gen = CodeGenerator()


@pytest.mark.parametrize("elements, entries", [
    ([{"resource_id": "a:id/x", "class": "B"}, EMPTY_RECORD],
     ['    d(resourceId="a:id/x"),  # 元素 1', "    d.click(0, 0),  # 元素 2"]),
    ([{"text": "一"}, {}, {"content_desc": 'q"'}], ['    d(text="一"),  # 元素 1', '    d(description="q\\""),  # 元素 3']),
    ([{}, {"class": ""}], []),
])
def test_batch_script(elements, entries):
    code = gen.generate_batch_code(elements)
    assert code == "\n".join(HEADER + entries + CLOSING)
    assert len(code.split("\n")) == 7 + len(entries) + 12
    ast.parse(code)


def test_empty_list():
    assert gen.generate_batch_code([]) == "# 没有选中的元素"


@pytest.mark.parametrize("elements, error", [
    ([{"text": "a"}, None], TypeError), ([{"bounds": [1, 2]}], IndexError), ([{"text": 3}], AttributeError),
])
def test_item_errors_propagate(elements, error):
    with pytest.raises(error):
        gen.generate_batch_code(elements)


def test_list_changing_during_the_walk():
    class Shrinking(CodeGenerator):
        def _generate_selectors(self, element):
            items.clear()
            return [{"code": "c"}]

    items = [{"a": 1}, {"b": 2}, {"c": 3}]
    assert gen.generate_batch_code(items) == "\n".join(HEADER + CLOSING)
    items = [{"a": 1}, {"b": 2}, {"c": 3}]
    assert Shrinking().generate_batch_code(items) == "\n".join(HEADER + ["    c,  # 元素 1"] + CLOSING)
