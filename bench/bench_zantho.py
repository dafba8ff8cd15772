"""Benchmark of zelvik.core.zantho against the same steps in plain Python.

Times CodeGenerator.generate_element_code over 1,000 element records and
generate_batch_code on the whole list, next to a plain-Python CodeGenerator
of tests/plain, prints the speed ratio, then calls each native function
100,000 times and reports the growth of traced memory after a warm-up.

    python3 bench/bench_zantho.py
"""
import gc
import os
import random
import sys
import time
import tracemalloc

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path[:0] = [ROOT, os.path.join(ROOT, "tests")]
from plain.zantho import PlainCodeGenerator  # noqa: E402
from zelvik.core.zantho import CodeGenerator  # noqa: E402

RECORDS = 1000
CALLS = 100_000
WARM_UP = 5_000


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
    native, plain = CodeGenerator(), PlainCodeGenerator()

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
