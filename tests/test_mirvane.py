"""zelvik.core.mirvane: the module, RecordedAction, the recording session,
export and import."""
import dataclasses
import datetime
import gc
import json
import sys
import time
import traceback
import typing
import tracemalloc

import pytest

from fakes import FakeClock

mirvane = pytest.importorskip("zelvik.core.mirvane")
RA = mirvane.RecordedAction
T0 = 1_700_000_000.25
ELEMENT = {"class": "android.widget.Button", "text": "登录", "resource_id": "com.x:id/login", "content_desc": "",
           "bounds": [0, 63, 1080, 210], "children": []}


@pytest.fixture
def clock(monkeypatch):
    c = FakeClock(T0)
    monkeypatch.setattr(mirvane, "time", c)
    return c


def iso(t):
    return datetime.datetime.fromtimestamp(t).isoformat()


def state(r):
    return (r.is_recording, r.actions, list(r.actions), r.start_time, r.current_session_id, r.device_info,
            dict(r.device_info))


def test_module_namespace():
    names = [n for n in vars(mirvane) if not n.startswith("__")]
    assert names == ["time", "datetime", "dataclass", "asdict", "List", "Dict", "Any", "Optional",
                     "RecordedAction", "ActionRecorder", "mirvane", "get_mirvane"]
    assert (mirvane.time, mirvane.datetime, mirvane.dataclass, mirvane.asdict) == (
        time, datetime.datetime, dataclasses.dataclass, dataclasses.asdict)
    assert (mirvane.List, mirvane.Dict, mirvane.Any, mirvane.Optional) == (
        typing.List, typing.Dict, typing.Any, typing.Optional)
    assert mirvane.__doc__ == "\n操作录制核心模块\n记录用户操作序列并生成uiautomator2脚本\n"
    ar = mirvane.ActionRecorder
    assert ar.__mro__ == (ar, object) and ar.__doc__ == "操作录制器" and ar.__module__ == "zelvik.core.mirvane"
    assert [n for n in vars(ar) if not n.startswith("__")] == [
        "start_recording", "stop_recording", "record_action", "get_current_session_info", "generate_script",
        "_generate_uiautomator2_script", "_generate_action_code", "_generate_click_code",
        "_generate_long_click_code", "_generate_input_code", "_generate_key_code", "_generate_swipe_code",
        "_generate_element_locator", "export_session_data", "import_session_data"]
    assert ar.record_action.__annotations__ == {
        "action_type": "str", "params": "Dict[str, Any]", "element_info": "Optional[Dict[str, Any]]",
        "coordinates": "Optional[Dict[str, int]]", "return": "bool"}
    assert ar._generate_action_code.__annotations__ == {"action": "RecordedAction", "step_num": "int",
                                                        "return": "List[str]"}
    assert ar.start_recording.__doc__ == "开始录制操作" and ar.import_session_data.__doc__ == "导入录制会话数据"
    assert mirvane.get_mirvane.__annotations__ == {"return": "ActionRecorder"}
    assert mirvane.get_mirvane() is mirvane.get_mirvane() is mirvane.mirvane
    assert type(mirvane.mirvane) is ar


def test_recorded_action_is_a_dataclass():
    assert dataclasses.is_dataclass(RA) and RA.__mro__ == (RA, object)
    assert (RA.__doc__, RA.__module__, RA.__qualname__) == ("录制的操作数据结构", "zelvik.core.mirvane", "RecordedAction")
    assert RA.__annotations__ == {"action_type": "str", "timestamp": "float", "params": "Dict[str, Any]",
                                  "element_info": "Optional[Dict[str, Any]]",
                                  "coordinates": "Optional[Dict[str, int]]", "screenshot_before": "Optional[str]"}
    fields = dataclasses.fields(RA)
    assert [f.name for f in fields] == list(RA.__annotations__)
    assert [f.default for f in fields][3:] == [None, None, None]
    assert all(f.default is dataclasses.MISSING for f in fields[:3])
    a = RA("click", 1.5, {"x": 1})
    assert repr(a) == ("RecordedAction(action_type='click', timestamp=1.5, params={'x': 1}, element_info=None, "
                       "coordinates=None, screenshot_before=None)")
    assert a == RA(action_type="click", timestamp=1.5, params={"x": 1}) and a != RA("click", 2, {"x": 1})
    assert dataclasses.asdict(a) == {"action_type": "click", "timestamp": 1.5, "params": {"x": 1},
                                     "element_info": None, "coordinates": None, "screenshot_before": None}
    with pytest.raises(TypeError):
        hash(a)
    a.timestamp = "any"  # mutable, nothing checked
    assert a.timestamp == "any"
    with pytest.raises(TypeError):
        RA("click", 1)


def test_new_recorder():
    r = mirvane.ActionRecorder()
    assert vars(r) == {"is_recording": False, "actions": [], "start_time": None, "current_session_id": None,
                       "device_info": {}}
    info = r.get_current_session_info()
    assert list(info.items()) == [("is_recording", False), ("session_id", None), ("action_count", 0),
                                  ("start_time", None), ("device_info", {})]
    assert info["device_info"] is r.device_info
    assert r.stop_recording() == {"success": False, "message": "当前没有录制会话"}
    assert r.record_action("click", {}) is False and r.actions == []


def test_session_lifecycle(clock):
    r = mirvane.ActionRecorder()
    started = r.start_recording("emulator-5554")
    assert list(started.items()) == [("success", True), ("message", "开始录制操作"),
                                     ("session_id", "session_1700000000"), ("start_time", iso(T0))]
    assert r.start_time == T0 and r.device_info == {"device_id": "emulator-5554"} and r.is_recording
    clock.advance(0.5)
    assert r.record_action("click", {"x": 1, "y": 2}) is True
    clock.advance(1.0)
    assert r.record_action(action_type="key", params={"key": "home"}) is True
    assert [(a.action_type, a.timestamp) for a in r.actions] == [("click", 0.5), ("key", 1.5)]
    actions = r.actions
    assert r.start_recording() == {"success": False, "message": "录制已在进行中"}
    assert r.actions is actions and len(actions) == 2

    clock.advance(0.25)
    stopped = r.stop_recording()
    assert list(stopped.items()) == [("success", True), ("message", "录制完成，共记录 2 个操作"),
                                     ("session_id", "session_1700000000"), ("action_count", 2),
                                     ("duration", 1.75)]
    assert r.stop_recording() == {"success": False, "message": "当前没有录制会话"}
    assert r.record_action("click", {}) is False and len(r.actions) == 2
    assert r.get_current_session_info() == {"is_recording": False, "session_id": "session_1700000000",
                                            "action_count": 2, "start_time": iso(T0),
                                            "device_info": {"device_id": "emulator-5554"}}

    clock.advance(0.5)
    again = r.start_recording()
    assert again["session_id"] == "session_1700000002" and again["start_time"] == iso(T0 + 2.25)
    assert r.actions == [] and r.actions is not actions and r.device_info == {"device_id": None}
    assert r.stop_recording()["message"] == "录制完成，共记录 0 个操作"
    clock.advance(0.4)  # still the same wall-clock second: the same identifier
    assert r.start_recording()["session_id"] == "session_1700000002"


def test_falsy_start_time_gives_zero(clock):
    r = mirvane.ActionRecorder()
    r.start_recording()
    r.start_time = 0
    clock.advance(3)
    assert r.record_action("click", {}) and r.actions[0].timestamp == 0
    info = r.get_current_session_info()
    assert info["start_time"] is None
    assert r.stop_recording()["duration"] == 0


def test_record_action_copies(clock):
    r = mirvane.ActionRecorder()
    r.start_recording("d")
    params, element, coords = {"x": 5}, dict(ELEMENT), {"x": 5, "y": 6}
    r.record_action("click", params, element, coords)
    r.record_action("click", params, {}, {})
    params["x"] = 99
    element["text"] = "changed"
    coords.clear()
    first, second = r.actions
    assert first == RA("click", 0.0, {"x": 5}, dict(ELEMENT, text="登录"), {"x": 5, "y": 6})
    assert first.element_info["children"] is element["children"]  # shallow copies
    assert (second.element_info, second.coordinates, second.screenshot_before) == (None, None, None)


def test_late_bound_names(clock, monkeypatch):
    made, dumped = [], []

    @dataclasses.dataclass
    class Other:
        action_type: str
        timestamp: float
        params: dict
        element_info: dict = None
        coordinates: dict = None

    class Stamp(datetime.datetime):
        @classmethod
        def fromtimestamp(cls, t, tz=None):
            made.append(t)
            return super().fromtimestamp(t, tz)

    monkeypatch.setattr(mirvane, "RecordedAction", Other)
    monkeypatch.setattr(mirvane, "datetime", Stamp)
    monkeypatch.setattr(mirvane, "asdict", lambda a: dumped.append(a) or {"n": len(dumped)})
    r = mirvane.ActionRecorder()
    r.start_recording()
    r.record_action("key", {"key": "back"})
    assert type(r.actions[0]) is Other and made == [T0]
    clock.advance(7)
    out = r.export_session_data()
    assert out["actions"] == [{"n": 1}] and dumped == r.actions and out["generated_at"] == T0 + 7


@pytest.mark.parametrize("call, message", [
    (lambda r: r.start_recording(123), "Argument 'device_id' has incorrect type (expected str, got int)"),
    (lambda r: r.record_action("click", None), "Argument 'params' has incorrect type (expected dict, got NoneType)"),
    (lambda r: r.record_action(None, {}), "Argument 'action_type' has incorrect type (expected str, got NoneType)"),
    (lambda r: r.record_action("click", {}, []), "Argument 'element_info' has incorrect type (expected dict, got list)"),
    (lambda r: r.record_action("click", {}, coordinates=()),
     "Argument 'coordinates' has incorrect type (expected dict, got tuple)"),
    (lambda r: r.record_action("click", {}, foo=1), "record_action() got an unexpected keyword argument 'foo'"),
    (lambda r: r.record_action("click"), "record_action() takes at least 3 positional arguments (2 given)"),
    (lambda r: r.stop_recording(1), "stop_recording() takes exactly one argument (2 given)"),
    (lambda r: r.export_session_data(None), "export_session_data() takes exactly one argument (2 given)"),
    (lambda r: r.import_session_data(None),
     "Argument 'session_data' has incorrect type (expected dict, got NoneType)"),
    (lambda r: r.generate_script(None), "Argument 'script_type' has incorrect type (expected str, got NoneType)"),
    (lambda r: r._generate_element_locator(None),
     "Argument 'element_info' has incorrect type (expected dict, got NoneType)"),
    (lambda r: r._generate_action_code(RA("key", 0, {}), "1"),
     "Argument 'step_num' has incorrect type (expected int, got str)"),
    (lambda r: mirvane.get_mirvane(r), "get_mirvane() takes no arguments (1 given)"),
])
def test_argument_checks(call, message):
    r = mirvane.ActionRecorder()
    with pytest.raises(TypeError) as e:
        call(r)
    assert str(e.value) == message
    assert vars(r) == vars(mirvane.ActionRecorder())


def test_subclasses_of_builtins_are_refused():
    class S(str):
        pass

    class D(dict):
        pass

    r = mirvane.ActionRecorder()
    r.start_recording()
    for args in [(S("click"), {}), ("click", D())]:
        with pytest.raises(TypeError, match=r"incorrect type .*\. .*[Ss]ubclass"):
            r.record_action(*args)
    assert r.actions == []


def test_traceback_entries():
    r = mirvane.ActionRecorder()
    r.actions = [RA("click", 0, None)]  # params None: fails inside the click generator
    with pytest.raises(AttributeError) as e:
        r.generate_script()
    frames = [(f.filename, f.name) for f in traceback.extract_tb(e.value.__traceback__)][1:]
    names = ["generate_script", "_generate_uiautomator2_script", "_generate_action_code", "_generate_click_code"]
    assert frames == [("zelvik/core/mirvane", "zelvik.core.mirvane.ActionRecorder." + n) for n in names]


# ---------------------------------------------------------------- export / import

def recorded(clock):
    r = mirvane.ActionRecorder()
    r.start_recording("192.168.1.5:5555")
    for step, (kind, params, element) in enumerate([
            ("click", {"x": 540, "y": 1200}, ELEMENT), ("input", {"text": "你好 \"world\""}, None),
            ("swipe", {"fx": 1, "fy": 2, "tx": 3, "ty": 4, "duration": 0.3}, None), ("key", {"key": "home"}, None)]):
        clock.advance(0.05 + step)
        r.record_action(kind, params, element, {"x": 1, "y": 2} if element else None)
    r.stop_recording()
    return r


def test_export(clock):
    fresh = mirvane.ActionRecorder().export_session_data()
    assert list(fresh.items()) == [("session_id", None), ("device_info", {}), ("start_time", None), ("actions", []),
                                   ("generated_at", T0)]
    r = recorded(clock)
    before = state(r)
    out = r.export_session_data()
    assert list(out) == ["session_id", "device_info", "start_time", "actions", "generated_at"]
    assert (out["session_id"], out["start_time"], out["generated_at"]) == ("session_1700000000", T0, clock.now)
    assert out["device_info"] is r.device_info
    assert out["actions"] == [dataclasses.asdict(a) for a in r.actions]
    assert list(out["actions"][0]) == [f.name for f in dataclasses.fields(RA)]
    out["actions"][0]["params"]["x"] = -1
    out["actions"][0]["element_info"]["bounds"].append(9)
    assert state(r) == before and r.actions[0].params["x"] == 540 and len(ELEMENT["bounds"]) == 4
    r.actions.append("not a dataclass")
    with pytest.raises(TypeError):
        r.export_session_data()


def test_round_trip_through_json(clock):
    r = recorded(clock)
    data = json.loads(json.dumps(r.export_session_data()))
    other = mirvane.ActionRecorder()
    other.start_recording("x")
    assert other.import_session_data(session_data=data) is True
    assert (other.current_session_id, other.device_info, other.start_time) == (
        r.current_session_id, r.device_info, r.start_time)
    assert other.actions == r.actions and other.is_recording is False
    assert other.generate_script() == r.generate_script()
    assert other.record_action("click", {}) is False
    assert other.get_current_session_info()["action_count"] == 4


def test_import_empty_and_mappings():
    r = mirvane.ActionRecorder()
    r.start_recording()
    assert r.import_session_data({"generated_at": 1, "other": 2}) is True
    assert vars(r) == {"is_recording": False, "actions": [], "start_time": None, "current_session_id": None,
                       "device_info": {}}
    pairs = type("Pairs", (), {"keys": lambda s: ["action_type", "timestamp", "params"],
                               "__getitem__": lambda s, k: {"action_type": "key", "timestamp": 1}.get(k, {})})
    device = {"device_id": "d"}
    assert r.import_session_data({"device_info": device, "actions": (x for x in [pairs()])}) is True
    assert r.actions == [RA("key", 1, {})] and r.device_info is device


@pytest.mark.parametrize("bad_actions", [
    [{"action_type": "click", "timestamp": 0, "params": {}}, {"action_type": "key", "timestamp": 1}],
    [{"action_type": "click", "timestamp": 0, "params": {}, "note": "extra"}],
    [{"timestamp": 0, "params": {}}],
    [{"action_type": "click", "timestamp": 0, "params": {}}, None],
    [{1: "not a keyword"}],
    None,
    5,
])
def test_failed_import_leaves_recorder_unchanged(clock, bad_actions):
    r = recorded(clock)
    r.is_recording = True  # as if still recording: the import must not stop it
    before = state(r)
    data = {"session_id": "new", "device_info": {"device_id": "n"}, "start_time": 5.0, "actions": bad_actions}
    assert r.import_session_data(data) is False
    assert state(r) == before


def test_import_passes_non_exception_errors_through():
    class Interrupting:
        def keys(self):
            raise KeyboardInterrupt

    r = mirvane.ActionRecorder()
    with pytest.raises(KeyboardInterrupt):
        r.import_session_data({"actions": [Interrupting()]})
    assert vars(r) == vars(mirvane.ActionRecorder())


def test_methods_do_not_leak(clock):
    r = recorded(clock)
    data = r.export_session_data()
    other = mirvane.ActionRecorder()
    calls = [r.get_current_session_info, r.generate_script, r.export_session_data,
             lambda: other.import_session_data(data), lambda: other.import_session_data({"actions": [None]}),
             lambda: r.start_recording() and r.record_action("click", {"x": 1}, ELEMENT) and r.stop_recording(),
             lambda: pytest.raises(TypeError, r.record_action, "click", None)]
    for call in calls:
        for _ in range(200):
            call()
        rounds = left_behind(call, watched=(r, other, data, ELEMENT, "click"))
        # any leaked object holds 16 bytes or more: a leak of one per call
        # leaves 16,000 bytes per round at least
        assert max(size for size, _, _ in rounds) < 8_000, (call, rounds)
        assert max(objects for _, objects, refs in rounds) <= 0 and {refs for *_, refs in rounds} == {0}, (call, rounds)


def left_behind(call, watched=(), rounds=3, calls=1000):
    """(bytes, tracked objects, references to `watched`) left behind by each
    round of `calls` calls. tracemalloc counts allocations through the interpreter's allocator
    whichever it is (PYTHONMALLOC=malloc included). A first traced round runs
    before: a block allocated before tracing and reallocated during it counts
    in full there, once."""
    marks = []
    tracemalloc.start()
    try:
        for _ in range(rounds + 1):
            for _ in range(calls):
                call()
            gc.collect()
            marks.append((tracemalloc.get_traced_memory()[0], len(gc.get_objects()),
                          sum(map(sys.getrefcount, watched))))
    finally:
        tracemalloc.stop()
    return [tuple(n - m for m, n in zip(a, b)) for a, b in zip(marks, marks[1:])]
