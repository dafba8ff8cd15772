"""The workbench end to end: `python -m zelvik ...` on the virtual device, as
a user runs it, plus the generated code for every element of its screen."""
import ast
import asyncio
import io
import json
import os
import re
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest
from PIL import Image

from zelvik.virtual.adb import AdbServer, find_program, free_port
from zelvik.virtual.device import VirtualDevice, VirtualScreen
from zelvik.workbench.actions import load_actions
from zelvik.workbench.annotate import annotate
from zelvik.workbench.errors import UsageError
from zelvik.workbench.progress import Counter, waiting

ROOT = Path(__file__).resolve().parents[1]
for name in ("ostrel", "pellora", "mirvane", "zantho"):
    pytest.importorskip(f"zelvik.core.{name}")
from zelvik.core import mirvane, pellora, zantho  # noqa: E402

SAVE = (1448, 2420)  # the Save button of the virtual screen
ACTIONS = [
    {"type": "click", "at": [1000, 1120], "delay": 1.5},
    {"type": "input", "at": "1100,1900", "text": 'Guest "Lab" \\ 1'},
    {"type": "key", "key": "back", "delay": 0.05},
    {"type": "swipe", "from": [1100, 2000], "to": [1100, 800], "duration": 0.3},
    {"type": "long_click", "at": [300, 900]},
    {"type": "click", "at": list(SAVE)},
]


# The adb server the runs take for the user's own: a private port, no device.
USER_SERVER = AdbServer(find_program().path)
USER_SERVER.port = free_port()


@pytest.fixture(scope="module", autouse=True)
def user_server():
    yield
    USER_SERVER.run("kill-server")


def zelvik(*argv, cwd, path=None):
    """Runs the workbench; `path` replaces PATH (to hide adb)."""
    env = dict(os.environ, PYTHONPATH=str(ROOT), ANDROID_ADB_SERVER_PORT=str(USER_SERVER.port))
    if path is not None:
        env["PATH"] = str(path)
    return subprocess.run([sys.executable, "-m", "zelvik", *argv], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=60)


def serial_of(run) -> str:
    """The virtual device's serial, from the run's note on adb and uiautomator2."""
    found = re.search(r"^zelvik: virtual device (127\.0\.0\.1:\d+): adb /\S+/adb 1\.0\.\d+ .*, uiautomator2 \d",
                      run.stderr, re.M)
    assert found, run.stderr
    return found.group(1)


@pytest.fixture
def no_adb(tmp_path):
    empty = tmp_path / "bin"
    empty.mkdir()
    return empty


def test_devices_lists_the_virtual_device(tmp_path):
    run = zelvik("--virtual", "devices", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    header, row = run.stdout.splitlines()
    assert header.split() == ["SERIAL", "MODEL", "BRAND", "VERSION", "SDK", "RESOLUTION", "STATUS"]
    # uiautomator2's deviceInfo has no model, brand or version.
    assert row.split() == [serial_of(run), "Unknown", "Unknown", "Unknown", "34", "1600x2560", "connected"]


@pytest.mark.parametrize("hide_adb, notes", [
    (False, ["no device attached; using the virtual device"]),
    (True, ["adb not found on PATH; using the one inside adbutils: ", "no device attached; using the virtual device"]),
])
def test_without_a_real_device_the_virtual_one_is_used(tmp_path, no_adb, hide_adb, notes):
    run = zelvik("devices", cwd=tmp_path, path=no_adb if hide_adb else None)
    assert run.returncode == 0, run.stderr
    lines = run.stderr.splitlines()
    assert [line.startswith(f"zelvik: {note}") for line, note in zip(lines, notes)] == [True] * len(notes)
    assert serial_of(run) in run.stdout.splitlines()[1]


def test_capture_writes_the_three_files(tmp_path):
    run = zelvik("--virtual", "capture", "--out", "shots", "--at", "%d,%d" % SAVE, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    out, serial = tmp_path / "shots", serial_of(run)
    assert run.stdout.splitlines() == [
        f"screenshot  shots/screenshot.png  (1600x2560)",
        f"elements    shots/hierarchy.json  (213 elements)",
        f"annotated   shots/annotated.png  (element bounds; ({SAVE[0]}, {SAVE[1]}): "
        "android.widget.Button  'Save'  android:id/button1)",
        "snapshot    shots/snapshot.zip  (reopen with: zelvik open shots/snapshot.zip)",
        f"page        shots/inspect.html  (open in a browser: {(out / 'inspect.html').as_uri()})"]
    shot = Image.open(out / "screenshot.png").convert("RGB")
    annotated = Image.open(out / "annotated.png").convert("RGB")
    assert shot.size == annotated.size == (1600, 2560)
    record = json.loads((out / "hierarchy.json").read_text(encoding="utf-8"))
    assert record["device_id"] == serial and record["device_info"]["width"] == 1600
    save = find(record["hierarchy"], "Save")
    left, top, right, bottom = save["bounds"]
    # The selected element's edge is red on the annotated picture, not on the screenshot.
    red = annotated.getpixel((left + 2, (top + bottom) // 2))
    assert red[0] > 180 and red[1] < 90 and shot.getpixel((left + 2, (top + bottom) // 2)) != red


def find(tree, text):
    if tree.get("text") == text:
        return tree
    return next((hit for child in tree["children"] if (hit := find(child, text))), None)


def test_inspect_reports_element_path_selectors_and_code(tmp_path):
    run = zelvik("--virtual", "inspect", "--at", "1100,1190", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    report = run.stdout
    assert report.startswith(f"Element at (1100, 1190) on {serial_of(run)}\n  class        android.widget.TextView\n"
                             "  text         Alex's iPhone\n  resource id  android:id/title\n")
    path = report.split("Path from the root\n")[1].split("\n\n")[0].splitlines()
    assert path[0].split() == ["0", "(hierarchy)"] and path[-1].split() == ["10", "android.widget.TextView",
                                                                             "android:id/title"]
    assert "  3. text           priority 2  medium     d(text=\"Alex's iPhone\")" in report
    code = report.split("\nCode\n")[1]
    ast.parse(code)
    assert code.startswith("# uiautomator2 自动化代码\n")


def test_demo_shows_the_element_and_writes_the_files(tmp_path):
    run = zelvik("demo", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    serial = serial_of(run)
    assert f"Element at ({SAVE[0]}, {SAVE[1]}) on {serial}" in run.stdout
    assert '1. resource_id    priority 1  high       d(resourceId="android:id/button1")  1 match' in run.stdout
    assert f"Capture of {serial} written:" in run.stdout
    assert sorted(p.name for p in (tmp_path / "zelvik-capture").iterdir()) == [
        "annotated.png", "hierarchy.json", "inspect.html", "screenshot.png", "snapshot.zip"]


def test_script_records_the_actions_and_exports_the_session(tmp_path):
    (tmp_path / "actions.json").write_text(json.dumps({"actions": ACTIONS}))
    run = zelvik("--virtual", "script", "actions.json", "--export", "session.json", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    script, serial = run.stdout, serial_of(run)
    ast.parse(script)
    assert f'    d = u2.connect("{serial}")' in script
    assert "    time.sleep(1.50)  # 等待 1.50 秒\n    # 步骤 1: click\n" in script
    assert '    d(resourceId="com.android.settings:id/ssid").set_text("Guest \\"Lab\\" \\\\ 1")' in script
    assert "    d.swipe(1100, 2000, 1100, 800, 0.3)" in script
    assert '    d(resourceId="android:id/button1").click()\n    print("点击元素: Save")' in script
    assert "zelvik: session exported to session.json" in run.stderr
    session = json.loads((tmp_path / "session.json").read_text(encoding="utf-8"))
    assert session["device_info"] == {"device_id": serial}
    assert [a["action_type"] for a in session["actions"]] == [a["type"] for a in ACTIONS]
    assert [a["timestamp"] for a in session["actions"][:3]] == pytest.approx([1.5, 1.5, 1.55])
    assert session["actions"][0]["coordinates"] == {"x": 1000, "y": 1120}
    assert session["actions"][2]["element_info"] is None
    assert session["actions"][5]["element_info"]["text"] == "Save"


def test_wifi_discovers_a_device_on_loopback(tmp_path):
    port = free_port()
    with VirtualDevice(VirtualScreen.builtin(), host="127.0.0.2", port=port):
        run = zelvik("--virtual", "wifi", "127.0.0.1-127.0.0.3", "--port", str(port), cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    rows = run.stdout.splitlines()
    assert len(rows) == 2 and rows[1].split() == [f"127.0.0.2:{port}", "zelvik_virtual_tab", "Unknown", "Unknown",
                                                  "34", "1600x2560", "wifi_available"]
    assert f"wifi: probing port {port}: 3 to go" in run.stderr
    assert f"wifi: probing port {port}: 3 of 3 addresses probed, 1 found in" in run.stderr


@pytest.mark.parametrize("argv, code, message", [
    (["--virtual", "capture", "--device", "ghost"], 1, "zelvik: error: unknown device ghost (attached: 127.0.0.1:"),
    (["capture", "--device", "R58M12ABC"], 1, "zelvik: error: unknown device R58M12ABC (attached: none)"),
    (["wifi", "127.0.0.1", "--port", "1"], 0, "wifi: probing port 1: 1 of 1 addresses probed, 0 found in"),
    (["--virtual", "wifi", "127.0.0.1-20"], 2, "zelvik: error: no address in the range 127.0.0.1-20"),
    (["--virtual", "wifi", "127.0.0.1", "--port", "0"], 2, "argument --port: expected a TCP port"),
    (["--virtual", "inspect", "--at", "5,5000"], 1, "zelvik: error: no element at (5, 5000) on 127.0.0.1:"),
    (["--virtual", "inspect", "--at", "12"], 2, "argument --at: expected X,Y (two integers), got \"12\""),
    (["--screen", "blank.xml", "capture"], 2, "zelvik: error: the screen dump blank.xml is empty"),
    (["--screen", "broken.xml", "inspect", "--at", "1,1"], 2,
     "zelvik: error: the screen dump broken.xml is not well-formed XML (unclosed token"),
    (["--screen", "missing.xml", "devices"], 2, "zelvik: error: cannot read the screen dump missing.xml"),
    (["--virtual", "script", "broken.xml"], 2, "zelvik: error: broken.xml is not valid JSON"),
    ([], 2, "the following arguments are required: COMMAND"),
])
def test_errors_are_one_line_with_a_status(tmp_path, no_adb, argv, code, message):
    (tmp_path / "blank.xml").write_text(" \n")
    (tmp_path / "broken.xml").write_text("<hierarchy><node")
    run = zelvik(*argv, cwd=tmp_path, path=no_adb)
    assert run.returncode == code
    assert message in run.stderr.splitlines()[-1]
    assert "Traceback" not in run.stderr


@pytest.mark.parametrize("content, message", [
    ("{}", "expected a non-empty list of actions"),
    ('[{"type": "click"}]', 'action 1: a click needs "at": X,Y'),
    ('[{"type": "key", "key": "home"}, {"type": "input"}]', 'action 2: an input needs "text": a string'),
    ('[{"type": "swipe", "from": [1, 2]}]', 'action 1: a swipe needs "from" and "to": X,Y'),
    ('[{"type": "click", "at": [1, true]}]', "action 1: expected X,Y (two integers), got [1, true]"),
    ('[{"type": "key", "key": "back", "delay": -1}]', 'action 1: "delay" must be a number of seconds, not below 0'),
    ('[{"type": "tap", "params": []}]', 'action 1: "params" must be an object'),
    ('["click"]', "action 1: an action must be an object"),
])
def test_actions_file_mistakes(tmp_path, content, message):
    path = tmp_path / "actions.json"
    path.write_text(content)
    with pytest.raises(UsageError) as caught:
        load_actions(str(path))
    assert str(caught.value) == f"{path}: {message}"


def test_other_action_types_keep_their_params(tmp_path):
    path = tmp_path / "actions.json"
    path.write_text('[{"type": "scroll", "params": {"steps": 3}, "at": "5,6"}]')
    (step,) = load_actions(str(path))
    assert (step.type, step.params, step.point, step.delay) == ("scroll", {"steps": 3}, (5, 6), 0)


def test_annotation_scales_bounds_to_the_picture():
    small = io.BytesIO()
    Image.new("RGB", (400, 800), "white").save(small, format="PNG")
    tree = {"bounds": [0, 0, 0, 0], "children": [{"bounds": [200, 400, 600, 800], "children": []}]}
    picture = annotate(small.getvalue(), tree, {"ui_width": 800, "ui_height": 1600}, selected=tree["children"][0])
    image = Image.open(io.BytesIO(picture)).convert("RGB")
    assert image.size == (400, 800)
    assert image.getpixel((101, 300))[0] > 180 and image.getpixel((101, 300))[1] < 120  # scaled edge
    assert image.getpixel((50, 150)) == (255, 255, 255)


def test_progress_lines():
    stream = io.StringIO()
    assert asyncio.run(waiting(asyncio.sleep(0.05, "quick"), "capturing x", delay=1.0, stream=stream)) == "quick"
    assert stream.getvalue() == ""
    assert asyncio.run(waiting(asyncio.sleep(0.3, "slow"), "capturing x", delay=0.1, stream=stream)) == "slow"
    assert stream.getvalue().startswith("zelvik: capturing x ...") and stream.getvalue().endswith("s\n")
    stream = io.StringIO()
    counter = Counter("wifi", 2, stream)
    counter.advance()
    counter.advance()
    counter.finish("2 probed")
    assert stream.getvalue().startswith("wifi: 2 to go\nwifi: 2 probed in ")


def test_generated_code_parses_for_every_element():
    """Element code, batch code and a replay script for the whole screen."""
    root = ET.fromstring(VirtualScreen.builtin().xml)
    tree = pellora.UIAnalyzer(None)._parse_xml_node(root)
    elements = []

    def walk(element):
        elements.append(element)
        for child in element["children"]:
            walk(child)

    walk(tree)
    assert len(elements) == 213
    generator = zantho.CodeGenerator()
    for element in elements:
        result = generator.generate_element_code(element)
        ast.parse(result["full_code"])
        for selector in result["selectors"]:
            ast.parse(selector["code"], mode="eval")
    batch = generator.generate_batch_code(elements)
    ast.parse(batch)
    assert batch.count("# 元素 ") == len(elements)
    recorder = mirvane.ActionRecorder()
    recorder.start_recording("127.0.0.1:5555")
    for element in elements:
        recorder.record_action("click", {"x": 1, "y": 2}, element)
        recorder.record_action("input", {"text": element["text"]}, element)
    recorder.stop_recording()
    ast.parse(recorder.generate_script())


def adb_processes_in(directory) -> list:
    """adb processes started from `directory` (children keep their cwd)."""
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and os.readlink(entry / "cwd") == str(directory) and \
                    (entry / "cmdline").read_bytes().split(b"\0")[0].endswith(b"adb"):
                found.append(int(entry.name))
        except OSError:
            continue
    return found


@pytest.mark.parametrize("pause", [0.0, 1.0])
def test_an_interrupt_leaves_no_adb_server_behind(tmp_path, pause):
    env = dict(os.environ, PYTHONPATH=str(ROOT), ANDROID_ADB_SERVER_PORT=str(USER_SERVER.port))
    run = subprocess.Popen([sys.executable, "-m", "zelvik", "--virtual", "inspect", "--at", "%d,%d" % SAVE],
                           cwd=tmp_path, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                           start_new_session=True)
    try:
        assert "zelvik: virtual device" in run.stderr.readline()
        time.sleep(pause)  # at the scan, or in the capture
        assert adb_processes_in(tmp_path) != []
        os.killpg(run.pid, signal.SIGINT)  # as a Ctrl-C at the terminal
        # (At the scan the `adb devices` child dies of it too: "no device attached".)
        assert run.wait(30) in (1, 130)
    finally:
        run.kill()
        run.wait()
    assert adb_processes_in(tmp_path) == []
