"""Benchmark of zelvik.core.mirvane against the same steps in plain Python.

Builds one 10,000-action session of realistic actions (element records of 19
keys, Chinese texts, irregular pauses), then times, side by side and
interleaved, ActionRecorder.generate_script and export_session_data plus
import_session_data next to a plain-Python ActionRecorder of tests/plain
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

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path[:0] = [ROOT, os.path.join(ROOT, "tests")]
from plain.mirvane import PlainActionRecorder  # noqa: E402
from zelvik.core import mirvane  # noqa: E402

ACTIONS = 10_000
CALLS = 100_000
WARM_UP = 2_000


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
    native, plain = mirvane.ActionRecorder(), PlainActionRecorder()
    assert native.import_session_data(data) and plain.import_session_data(data)
    assert native.generate_script() == plain.generate_script()
    exported = native.export_session_data()
    assert exported["actions"] == plain.export_session_data()["actions"] == data["actions"]

    print(f"session of {len(data['actions'])} actions, script of {len(native.generate_script()):,} characters")
    tn, tp = best(15, native.generate_script, plain.generate_script)
    print(f"generate_script      native {tn * 1e3:8.2f} ms   plain Python {tp * 1e3:8.2f} ms   {tp / tn:5.2f}x")
    target_n, target_p = mirvane.ActionRecorder(), PlainActionRecorder()
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
