"""zelvik.core.mirvane: replay script generation, the per-type generators,
locators, overrides, and safe insertion of recorded or imported values."""
import ast
import datetime
import io
import random
import tokenize

import pytest

mirvane = pytest.importorskip("zelvik.core.mirvane")
RA = mirvane.RecordedAction
T0 = 1_700_000_000.25
LOGIN = {"class": "android.widget.Button", "text": "登录", "resource_id": "com.x:id/login", "content_desc": ""}


def recorder(actions, device_id="192.168.1.5:5555", session_id="session_1700000000", start_time=T0):
    r = mirvane.ActionRecorder()
    r.actions, r.device_info, r.current_session_id, r.start_time = actions, {"device_id": device_id}, session_id, start_time
    return r


class ThroughCalls(mirvane.ActionRecorder):
    """Every generator overridden by a plain call of the recorder's own."""


for _name in ["_generate_action_code", "_generate_click_code", "_generate_long_click_code", "_generate_input_code",
              "_generate_key_code", "_generate_swipe_code", "_generate_element_locator"]:
    setattr(ThroughCalls, _name, lambda self, *args, _name=_name: getattr(super(ThroughCalls, self), _name)(*args))


def through_calls(r):
    other = ThroughCalls()
    other.__dict__.update(vars(r))
    return other


SESSION = [
    RA("click", 0.05, {"x": 1, "y": 2}, LOGIN),
    RA("click", 1.5, {"x": 540, "y": 1200}),
    RA("long_click", 1.625, {}, {"text": "确定", "resource_id": "", "class": "android.widget.TextView"}),
    RA("input", 1.75, {"text": "hello"}, {"content_desc": "搜索", "class": "android.widget.EditText"}),
    RA("input", 4.0, {"text": "世界"}),
    RA("key", 4.05, {"key": "home"}),
    RA("swipe", 5.0, {"fx": 100, "fy": 800, "tx": 100, "ty": 200}),
    RA("scroll", 5.0, {}),
]


def test_representative_script():
    when = datetime.datetime.fromtimestamp(T0).strftime("%Y-%m-%d %H:%M:%S")
    expected = "\n".join([
        '"""', "自动生成的uiautomator2脚本", "录制时间: " + when, "操作数量: 8", "会话ID: session_1700000000", '"""',
        "", "import uiautomator2 as u2", "import time", "", "def main():", '    """执行录制的操作序列"""',
        "    # 连接WiFi设备: 192.168.1.5:5555", '    d = u2.connect("192.168.1.5:5555")',
        "", '    print("开始执行录制的操作...")', "",
        "    # 步骤 1: click", '    d(resourceId="com.x:id/login").click()', '    print("点击元素: 登录")', "",
        "    time.sleep(1.45)  # 等待 1.45 秒",
        "    # 步骤 2: click", "    d.click(540, 1200)", '    print("点击坐标: (540, 1200)")', "",
        "    time.sleep(0.12)  # 等待 0.12 秒",
        "    # 步骤 3: long_click", '    d(text="确定").long_click()', '    print("长按元素: 确定")', "",
        "    time.sleep(0.12)  # 等待 0.12 秒",
        "    # 步骤 4: input", '    d(description="搜索").click()  # 点击输入框获得焦点',
        '    d(description="搜索").set_text("hello")', '    print("输入文本: hello")', "",
        "    time.sleep(2.25)  # 等待 2.25 秒",
        "    # 步骤 5: input", '    d.send_keys("世界")', '    print("发送文本: 世界")', "",
        "    # 步骤 6: key", '    d.press("home")', '    print("按键: home")', "",
        "    time.sleep(0.95)  # 等待 0.95 秒",
        "    # 步骤 7: swipe", "    d.swipe(100, 800, 100, 200, 0.5)",
        '    print("滑动: (100, 800) -> (100, 200), 耗时0.5秒")', "",
        "    # 步骤 8: scroll", "    # 未支持的操作类型: scroll", "",
        "", '    print("所有操作执行完成!")', "", "", 'if __name__ == "__main__":', "    main()"])
    r = recorder(SESSION)
    assert r.generate_script() == expected
    assert r.generate_script("uiautomator2") == r._generate_uiautomator2_script() == expected
    assert through_calls(r).generate_script() == expected
    body = expected.split("\n")[17:-6]
    steps = [line for i, a in enumerate(SESSION, 1) for line in r._generate_action_code(a, step_num=i)]
    assert [line and "    " + line for line in steps] == [line for line in body if "time.sleep" not in line]


@pytest.mark.parametrize("device_info, lines", [
    ({"device_id": "emulator-5554"}, ["    # 连接USB设备: emulator-5554", '    d = u2.connect("emulator-5554")']),
    ({"device_id": "10.0.0.2:5555"}, ["    # 连接WiFi设备: 10.0.0.2:5555", '    d = u2.connect("10.0.0.2:5555")']),
    ({"device_id": None}, ["    # 连接默认设备", "    d = u2.connect()"]),
    ({"device_id": ""}, ["    # 连接默认设备", "    d = u2.connect()"]),
    ({}, ["    # 连接默认设备", "    d = u2.connect()"]),
])
def test_connection_lines(device_info, lines):
    r = recorder([RA("key", 0, {"key": "back"})], start_time=None, session_id=None)
    r.device_info = device_info
    script = r.generate_script().split("\n")
    assert script[2:5] == ["录制时间: Unknown", "操作数量: 1", "会话ID: None"] and script[12:14] == lines


@pytest.mark.parametrize("timestamps", [
    [0.1], [0.11], [0.125], [0.135], [2.675], [1e22], [123456789.005], [float("inf")], [2], [True], [-5],
    [0.05, 0.1], [1.0, 0.5], [0.5, 0.5, 3],
])
def test_delays(timestamps):
    r = recorder([RA("key", t, {"key": "k"}) for t in timestamps])
    sleeps, last = [], 0
    for t in timestamps:
        if t - last > 0.1:
            sleeps.append(f"    time.sleep({t - last:.2f})  # 等待 {t - last:.2f} 秒")
        last = t
    assert [line for line in r.generate_script().split("\n") if "time.sleep" in line] == sleeps


LOCATED = {"resource_id": "rid", "text": "txt", "content_desc": "cd", "class": "cls"}


@pytest.mark.parametrize("element, locator", [
    ({}, None),
    (LOCATED, 'd(resourceId="rid")'),
    (dict(LOCATED, resource_id=""), 'd(text="txt")'),
    ({"text": "", "resource_id": "", "content_desc": "cd", "class": "cls"}, 'd(description="cd")'),
    ({"class": "cls", "text": ""}, 'd(className="cls")'),
    ({"text": "", "resource_id": "", "content_desc": "", "class": "", "bounds": [1]}, None),
])
def test_locator(element, locator):
    assert mirvane.ActionRecorder()._generate_element_locator(element) == locator


@pytest.mark.parametrize("action, lines", [
    (RA("click", 0, {"x": 7, "y": 8}, LOCATED), ['d(resourceId="rid").click()', 'print("点击元素: txt")']),
    (RA("click", 0, {}, {"resource_id": "rid", "text": ""}), ['d(resourceId="rid").click()', 'print("点击元素: ")']),
    (RA("click", 0, {}, {"resource_id": "rid"}), ['d(resourceId="rid").click()', 'print("点击元素: rid")']),
    (RA("click", 0, {}, {"class": "cls"}), ['d(className="cls").click()', 'print("点击元素: 未知元素")']),
    (RA("click", 0, {"x": 7}, None), ["d.click(7, 0)", 'print("点击坐标: (7, 0)")']),
    (RA("click", 0, {"x": 7.5, "y": None}, {}), ["d.click(7.5, None)", 'print("点击坐标: (7.5, None)")']),
    (RA("click", 0, {"y": 3}, {"text": "", "bounds": [0, 0, 1, 1]}), ["d.click(0, 3)", 'print("点击坐标: (0, 3)")']),
    (RA("long_click", 0, {}, dict(LOCATED, resource_id="")), ['d(text="txt").long_click()', 'print("长按元素: txt")']),
    (RA("long_click", 0, {"x": 1, "y": 2}), ["d.long_click(1, 2)", 'print("长按坐标: (1, 2)")']),
    (RA("input", 0, {"text": "hi"}, {"content_desc": "cd"}),
     ['d(description="cd").click()  # 点击输入框获得焦点', 'd(description="cd").set_text("hi")', 'print("输入文本: hi")']),
    (RA("input", 0, {}, {"text": ""}), ['d.send_keys("")', 'print("发送文本: ")']),
    (RA("key", 0, {}), ['d.press("")', 'print("按键: ")']),
    (RA("swipe", 0, {"fx": 1, "ty": 4, "duration": 2}),
     ["d.swipe(1, 0, 0, 4, 2)", 'print("滑动: (1, 0) -> (0, 4), 耗时2秒")']),
    (RA("Click", 0, {}), ["# 未支持的操作类型: Click"]),
])
def test_generators(action, lines):
    r = mirvane.ActionRecorder()
    expected = ["# 步骤 3: " + action.action_type] + lines + [""]
    assert r._generate_action_code(action, 3) == through_calls(r)._generate_action_code(action, 3) == expected
    assert r._generate_action_code(action, 3.9)[0] == "# 步骤 3: " + action.action_type
    if action.action_type in ("click", "long_click", "input", "key", "swipe"):
        assert getattr(r, f"_generate_{action.action_type}_code")(action) == lines


def test_generate_script_results():
    assert mirvane.ActionRecorder().generate_script("other") == "# 没有录制的操作"
    r = recorder([RA("key", 0, {})])
    assert r.generate_script(script_type="UIAUTOMATOR2") == "# 不支持的脚本类型: UIAUTOMATOR2"
    assert not r.generate_script().endswith("\n")


def test_overrides():
    class Custom(mirvane.ActionRecorder):
        def _generate_click_code(self, action):
            return ["  own", " \t", "x"]

        def _generate_element_locator(self, element_info):
            return 'd(xpath="//a")'

    r = Custom()
    r.actions = [RA("click", 0, {}), RA("input", 0, {"text": "t"}, {"k": 1})]
    r._generate_key_code = lambda action: ["pressed"]
    script = r.generate_script().split("\n")
    assert script[17:22] == ["    # 步骤 1: click", "      own", "", "    x", ""]
    assert script[23] == '    d(xpath="//a").click()  # 点击输入框获得焦点'
    r.actions.append(RA("key", 0, {}))
    assert r.generate_script().split("\n")[-9:-6] == ["    # 步骤 3: key", "    pressed", ""]

    class Bad(mirvane.ActionRecorder):
        result = 5

        def _generate_uiautomator2_script(self):
            return self.result

    bad = Bad()
    bad.actions = [RA("key", 0, {})]
    with pytest.raises(TypeError, match="^Expected str, got int$"):
        bad.generate_script()
    bad.result = None
    assert bad.generate_script() is None


@pytest.mark.parametrize("action, error", [
    (RA("key", "1.5", {}), TypeError),           # a text timestamp, possible after an import
    (RA("click", 0, {}, ["not", "a dict"]), TypeError),
    (RA("swipe", 0, None), AttributeError),
])
def test_errors_propagate(action, error):
    for r in (recorder([action]), through_calls(recorder([action]))):
        with pytest.raises(error):
            r.generate_script()


# ---------------------------------------------------------------- hostile values

HOSTILE = ['q"uote', "back\\slash", "new\nline", "cr\rlf", "tab\tx", "nul\x00", "del\x7f", '"""', "tail\\",
           '")\nimport os  #', "\x0cff"]


def comment(text):
    escapes = {"\n": "\\n", "\r": "\\r", "\t": "\\t"}
    return "".join(escapes.get(c, "\\x%02x" % ord(c)) if ord(c) < 32 or ord(c) == 127 else c for c in text)


def hostile_session(h):
    return recorder([
        RA("click", 0, {}, {"resource_id": h, "text": h}),
        RA("long_click", 0, {"x": h, "y": [h]}),
        RA("input", 0, {"text": h}, {"text": h}),
        RA("input", 0, {"text": h}),
        RA("key", 0, {"key": h}),
        RA("swipe", 0, {"fx": h, "fy": 1.5, "tx": None, "ty": True, "duration": {"k": h}}),
        RA(h, 0, {}),
        RA("click", 0, {}, {"content_desc": h}),
    ], device_id=h + ":5555", session_id=h)


@pytest.mark.parametrize("h", HOSTILE)
def test_hostile_values_stay_literals(h):
    r = hostile_session(h)
    script = r.generate_script()
    assert script == through_calls(r).generate_script()
    assert len(script.split("\n")) == len(hostile_session("v").generate_script().split("\n"))
    tree = ast.parse(script)
    assert [type(s) for s in tree.body] == [ast.Expr, ast.Import, ast.Import, ast.FunctionDef, ast.If]
    when = datetime.datetime.fromtimestamp(T0).strftime("%Y-%m-%d %H:%M:%S")
    assert tree.body[0].value.value == f"\n自动生成的uiautomator2脚本\n录制时间: {when}\n操作数量: 8\n会话ID: {h}\n"
    xy, swipe_from = f"({h!r}, {[h]!r})", f"({h!r}, 1.5) -> (None, True), 耗时{ {'k': h}!r}秒"
    expected = [
        '"""执行录制的操作序列"""', f"d = u2.connect({h + ':5555'!r})", "print('开始执行录制的操作...')",
        f"d(resourceId={h!r}).click()", f"print({'点击元素: ' + h!r})",
        f"d.long_click({h!r}, {[h]!r})", f"print({'长按坐标: ' + xy!r})",
        f"d(text={h!r}).click()", f"d(text={h!r}).set_text({h!r})", f"print({'输入文本: ' + h!r})",
        f"d.send_keys({h!r})", f"print({'发送文本: ' + h!r})",
        f"d.press({h!r})", f"print({'按键: ' + h!r})",
        f"d.swipe({h!r}, 1.5, None, True, { {'k': h}!r})", f"print({'滑动: ' + swipe_from!r})",
        f"d(description={h!r}).click()", "print('点击元素: 未知元素')",
        "print('所有操作执行完成!')"]
    assert [ast.unparse(s) for s in tree.body[3].body] == [ast.unparse(ast.parse(src).body[0]) for src in expected]
    comments = [t.string for t in tokenize.generate_tokens(io.StringIO(script).readline) if t.type == tokenize.COMMENT]
    assert comments == ["# 连接WiFi设备: " + comment(h + ":5555"), "# 步骤 1: click", "# 步骤 2: long_click",
                        "# 步骤 3: input", "# 点击输入框获得焦点", "# 步骤 4: input", "# 步骤 5: key", "# 步骤 6: swipe",
                        "# 步骤 7: " + comment(h), "# 未支持的操作类型: " + comment(h), "# 步骤 8: click"]


@pytest.mark.parametrize("h", HOSTILE + [chr(c) + "import os" for c in range(32)] + ["\x7f", "x\r\n\nimport os\n"])
def test_unsupported_script_type_stays_one_comment(h):
    result = recorder([RA("key", 0, {})]).generate_script(h)
    assert result == "# 不支持的脚本类型: " + comment(h)
    assert ast.parse(result).body == []


def _on_instance(r):
    r._generate_key_code = lambda action: ["pressed"]


def _on_class_later(r):
    type(r)._generate_key_code = lambda self, action: ["pressed"]


def _through_getattribute(r):
    def __getattribute__(self, name):
        if name == "_generate_key_code":
            return lambda action: ["pressed"]
        return object.__getattribute__(self, name)

    type(r).__getattribute__ = __getattribute__


@pytest.mark.parametrize("override", [_on_instance, _on_class_later, _through_getattribute])
def test_method_lookup_follows_python_rules(override):
    class Sub(mirvane.ActionRecorder):
        pass

    r = Sub()
    r.actions = [RA("key", 0, {"key": "home"})]
    own = r.generate_script()
    override(r)
    assert "    pressed" in r.generate_script().split("\n")
    if override is _on_instance:
        del r._generate_key_code
        assert r.generate_script() == own


_RNG = random.Random(7)
_DELAYS = ([0.125, 0.375, 0.625, 2.675, 1.005, 0.115, 0.105, 99.995, 1e14 + 0.125, 0.10000000000000002]
           + [_RNG.randrange(1, 10 ** 9) / 8 for _ in range(20)]  # exact halves of a hundredth
           + [_RNG.uniform(0.1, 10 ** _RNG.randint(0, 16)) for _ in range(40)]
           + [1e15, 1e300, float("inf")])


@pytest.mark.parametrize("delay", _DELAYS)
def test_pause_has_two_decimals_as_format_gives(delay):
    line = recorder([RA("key", delay, {"key": "a"})]).generate_script().split("\n")[17]
    assert line == f"    time.sleep({delay:.2f})  # 等待 {delay:.2f} 秒"


@pytest.mark.parametrize("values", [
    [0.0, -0.0, 0.3, 0.5, 0.1 + 0.2, 1e9 - 0.001, 999999999.999, 1e9, 0.001, 0.0005, 5e-324, 1e-7, 1e16, 2.0 ** 53,
     1200.0, 0.05, -2.25, 0.0015, 1.0005, float("nan"), float("-inf")],
    [_RNG.randrange(-10 ** 12, 10 ** 12) / 10 ** _RNG.randint(0, 4) for _ in range(3000)],
    [_RNG.uniform(-1e10, 1e10) for _ in range(1000)],
])
def test_float_arguments_are_written_as_repr_gives(values):
    r = mirvane.ActionRecorder()
    for v in values:
        line = r._generate_swipe_code(RA("swipe", 0, {"fx": 0, "fy": 0, "tx": 0, "ty": 0, "duration": v}))[0]
        assert line == f"d.swipe(0, 0, 0, 0, {v!r})"
