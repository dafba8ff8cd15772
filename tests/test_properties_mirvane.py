"""Property tests: ActionRecorder's import and script generation against
their plain-Python rendition, on hostile session records; every script is
valid Python."""
import ast
import dataclasses

import pytest

pytest.importorskip("hypothesis")
from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from hostile import Dict, assert_same, data, numbers, outcome, short_texts, texts, values  # noqa: E402
from plain.mirvane import PlainActionRecorder  # noqa: E402

mirvane = pytest.importorskip("zelvik.core.mirvane")

KINDS = ["click", "long_click", "input", "key", "swipe"]
FIELDS = ["action_type", "timestamp", "params", "element_info", "coordinates", "screenshot_before"]


def sessions(text, number, anything, broken):
    """Session records; `broken` adds entries and fields that fail."""
    params = st.fixed_dictionaries({}, optional={
        **{k: number for k in ("x", "y", "fx", "fy", "tx", "ty", "duration")}, "text": text, "key": text})
    element = st.fixed_dictionaries({}, optional={k: st.one_of(text, st.just("")) for k in
                                                  ("resource_id", "text", "content_desc", "class")})
    timestamps = st.one_of(st.floats(0, 1e4), st.floats(0, 0.3), st.integers(0, 100), number)
    action = st.fixed_dictionaries(
        {"action_type": st.one_of(st.sampled_from(KINDS), st.sampled_from(KINDS), text),
         "timestamp": timestamps, "params": params},
        optional={"element_info": st.one_of(st.none(), element, element), "coordinates": st.none(),
                  "screenshot_before": st.none()})
    device_ids = st.one_of(st.none(), st.sampled_from(["", "emulator-5554", "192.168.1.5:5555"]), text)
    start_times = st.one_of(st.none(), st.floats(1e9, 2e9), st.just(0))
    if broken:
        params = st.one_of(params, anything)
        element = st.one_of(element, st.builds(Dict, element), anything)
        action = st.one_of(
            action,
            action,
            st.fixed_dictionaries({}, optional={**{f: anything for f in FIELDS}, "params": params,
                                                "element_info": element, "note": anything}),
            anything)
        device_ids = st.one_of(device_ids, anything)
        start_times = st.one_of(start_times, number, anything)
    return st.fixed_dictionaries({}, optional={
        "session_id": st.one_of(st.none(), text, anything if broken else text),
        "device_info": st.one_of(st.fixed_dictionaries({}, optional={"device_id": device_ids}),
                                 anything if broken else st.just({})),
        "start_time": start_times,
        "actions": st.one_of(st.lists(action, max_size=5), anything if broken else st.just([])),
        "generated_at": st.floats(),
    })


hostile_sessions = sessions(texts, st.one_of(numbers, values), values, broken=True)
# Sessions whose scripts can be generated: texts for texts, data in numeric places.
text_sessions = sessions(texts, data, values, broken=False)


def pair(session, recording):
    """A native and a plain recorder that imported `session`."""
    native, plain = mirvane.ActionRecorder(), PlainActionRecorder()
    if recording:
        native.start_recording("serial")
        vars(plain).update(vars(native))
    return native, plain, outcome(native.import_session_data, session), outcome(plain.import_session_data, session)


def state(recorder):
    actions = [tuple(getattr(a, f) for f in FIELDS) for a in recorder.actions]
    return (recorder.is_recording, recorder.current_session_id, recorder.device_info, recorder.start_time, actions)


@given(st.one_of(hostile_sessions, hostile_sessions, values), st.booleans())
def test_import_session_data_matches_plain(session, recording):
    native, plain, native_result, plain_result = pair(session, recording)
    assert_same(native_result, plain_result)
    assert all(dataclasses.is_dataclass(a) for a in native.actions)
    assert_same(state(native), state(plain))


SCRIPT_TYPES = st.one_of(st.just("uiautomator2"), st.just("uiautomator2"), st.just("UIAutomator2"), values)


@given(hostile_sessions, SCRIPT_TYPES)
def test_generate_script_matches_plain(session, script_type):
    native, plain, native_result, _ = pair(session, False)
    if native_result[1] is True:
        assert_same(outcome(native.generate_script, script_type), outcome(plain.generate_script, script_type))


@given(text_sessions)
def test_scripts_are_python(session):
    native, plain, native_result, _ = pair(session, False)
    assert native_result == ("ok", True)
    script = outcome(native.generate_script)
    assert_same(script, outcome(plain.generate_script))
    if script[0] == "ok":
        tree = ast.parse(script[1])
        if native.actions:
            main = tree.body[-2]
            assert isinstance(main, ast.FunctionDef) and main.name == "main"


@given(st.text(st.sampled_from(["\n", "\r", "x", "=", "1", " ", "\x00"]), min_size=1, max_size=12)
       .filter(lambda t: t != "uiautomator2"))
def test_unsupported_script_type_stays_a_comment(script_type):
    native = mirvane.ActionRecorder()
    native.import_session_data({"actions": [{"action_type": "key", "timestamp": 0, "params": {}}]})
    text = native.generate_script(script_type)
    assert ast.parse(text).body == [] and "\n" not in text
    assert text == PlainActionRecorder.generate_script(native, script_type)


@given(short_texts)
def test_generated_literals_keep_the_values(text):
    native = mirvane.ActionRecorder()
    native.import_session_data({"device_info": {"device_id": text}, "actions": [
        {"action_type": "input", "timestamp": 0, "params": {"text": text}, "element_info": {"resource_id": text}},
        {"action_type": "key", "timestamp": 0, "params": {"key": text}}]})
    tree = ast.parse(native.generate_script())
    constants = [node.value for node in ast.walk(tree) if isinstance(node, ast.Constant)]
    if text:
        assert constants.count(text) >= 3  # set_text, the element's resource id, the key
