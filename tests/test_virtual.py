"""The virtual device: its dump, its picture, its adb program and connect()."""
import io
import socket
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest
from PIL import Image

from zelvik.virtual import SERIAL
from zelvik.virtual import adb
from zelvik.virtual.device import VirtualAndroid, VirtualScreen
from zelvik.virtual.hierarchy import from_xml, parse_bounds, to_xml
from zelvik.virtual.screen import HEIGHT, PRIMARY, WIDTH, Node, clip, settings_screen

U2_ATTRIBUTES = ["index", "text", "resource-id", "class", "package", "content-desc", "checkable", "checked",
                 "clickable", "enabled", "focusable", "focused", "scrollable", "long-clickable", "password",
                 "selected", "visible-to-user", "bounds", "drawing-order", "hint", "display-id"]


@pytest.fixture(scope="module")
def screen():
    return VirtualScreen.builtin()


@pytest.fixture
def world(screen):
    w = VirtualAndroid(screen)
    yield w
    w.close()


@pytest.fixture
def listener():
    """An open TCP port on the loopback address."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        s.listen(8)
        yield s.getsockname()[1]


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_dump_is_a_uiautomator2_hierarchy(screen):
    root = ET.fromstring(screen.xml)
    assert root.tag == "hierarchy" and root.attrib == {"rotation": "0"}
    nodes = list(root.iter("node"))
    assert len(nodes) >= 200
    assert all(list(n.attrib) == U2_ATTRIBUTES for n in nodes)
    # Windows come top-most first: status bar and navigation bar above the app.
    assert [w.get("package") for w in root] == ["com.android.systemui", "com.android.systemui", "com.android.settings"]
    classes = {n.get("class").rsplit(".", 1)[-1] for n in nodes}
    assert {"EditText", "Button", "Switch", "CheckBox", "TextView", "RecyclerView", "ScrollView"} <= classes
    assert any(n.get("scrollable") == "true" for n in nodes)
    assert any(n.get("password") == "true" for n in nodes)
    for n in nodes:
        left, top, right, bottom = parse_bounds(n.get("bounds"))
        assert 0 <= left <= right <= WIDTH and 0 <= top <= bottom <= HEIGHT


def test_children_lie_inside_their_parent():
    def check(node):
        l, t, r, b = node.bounds
        for child in node.children:
            cl, ct, cr, cb = child.bounds
            assert l <= cl and t <= ct and cr <= r and cb <= b, (node.cls, child.cls)
            check(child)

    for window in settings_screen().children:
        check(window)


def test_dump_round_trips():
    def fields(root):
        return [(n.cls, n.bounds, n.text, n.rid, n.desc, n.package, n.hint, n.flags, len(n.children))
                for n in list(root.walk())[1:]]

    root = settings_screen()
    assert fields(from_xml(to_xml(root))) == fields(root)


@pytest.mark.parametrize("text, expected", [
    ("[0,63][1080,210]", (0, 63, 1080, 210)),
    ("", (0, 0, 0, 0)),
    ("[1,2]", (0, 0, 0, 0)),
    ("[a,b][c,d]", (0, 0, 0, 0)),
])
def test_parse_bounds(text, expected):
    assert parse_bounds(text) == expected


def test_clip_drops_and_cuts_to_the_viewport():
    inner = Node(bounds=(0, 150, 10, 400), children=[Node(bounds=(0, 150, 10, 190)), Node(bounds=(0, 320, 10, 400))])
    box = Node(bounds=(0, 100, 10, 300), children=[Node(bounds=(0, 0, 10, 90)), inner])
    clip(box)
    assert [c.bounds for c in box.children] == [(0, 150, 10, 300)]
    assert [c.bounds for c in inner.children] == [(0, 150, 10, 190)]


def test_picture_matches_the_tree(screen):
    image = Image.open(io.BytesIO(screen.png))
    assert image.format == "PNG" and image.size == (WIDTH, HEIGHT) == (screen.width, screen.height)
    save = next(n for n in settings_screen().walk() if n.text == "Save")
    l, t, r, b = save.bounds
    rgb = tuple(int(PRIMARY[i:i + 2], 16) for i in (1, 3, 5))
    assert image.convert("RGB").getpixel((l + 12, (t + b) // 2)) == rgb


@pytest.mark.parametrize("xml, size", [
    ("", (1080, 2400)),
    ("<hierarchy><node", (1080, 2400)),
    ('<hierarchy><node class="android.widget.Button" text="OK" bounds="[0,0][720,1280]"/></hierarchy>', (720, 1280)),
])
def test_screen_from_a_saved_dump(xml, size):
    screen = VirtualScreen.from_dump(xml)
    assert screen.xml == xml
    assert Image.open(io.BytesIO(screen.png)).size == size == (screen.width, screen.height)


def test_connect_serves_the_modules_keys(world):
    device = world.connect(SERIAL)
    info = device.info
    assert info["displayWidth"] == WIDTH and info["displayHeight"] == HEIGHT and "display" in info
    assert {"model", "brand", "version", "sdkInt", "productName", "displayRotation"} <= set(info)
    assert device.dump_hierarchy() == world.screen.xml
    assert device.app_current()["package"] == "com.android.settings"
    assert world.connect().serial == SERIAL
    with pytest.raises(ConnectionError):
        world.connect("emulator-5556")


def adb_run(world, *argv):
    out, err = io.StringIO(), io.StringIO()
    code = adb.run(list(argv), world.adb_dir, out, err)
    return code, out.getvalue(), err.getvalue()


def test_adb_program_answers_devices_and_screencap(world):
    program = str(world.adb_dir / "adb")
    listing = subprocess.run([program, "devices"], capture_output=True, text=True, timeout=10)
    assert listing.returncode == 0
    assert listing.stdout == f"List of devices attached\n{SERIAL}\tdevice\n\n"
    for argv in (["-s", SERIAL, "exec-out", "screencap", "-p"], ["exec-out", "screencap", "-p"]):
        shot = subprocess.run([program, *argv], capture_output=True, timeout=10)
        assert shot.returncode == 0 and shot.stdout == world.screen.png


def test_adb_program_runs_from_paths_with_blanks(screen, tmp_path, monkeypatch):
    odd = tmp_path / "my python's dir"
    odd.mkdir()
    (odd / "python").symlink_to(sys.executable)
    monkeypatch.setattr(sys, "executable", str(odd / "python"))
    world = VirtualAndroid(screen)
    try:
        listing = subprocess.run([str(world.adb_dir / "adb"), "devices"], capture_output=True, text=True, timeout=10)
    finally:
        world.close()
    assert (listing.returncode, listing.stdout.splitlines()[1:2]) == (0, [f"{SERIAL}\tdevice"])


def test_adb_connect_and_disconnect(world, listener):
    serial = f"127.0.0.1:{listener}"
    assert adb_run(world, "connect", serial) == (0, f"connected to {serial}\n", "")
    assert adb_run(world, "connect", serial)[1] == f"already connected to {serial}\n"
    assert adb_run(world, "devices")[1].splitlines()[1:3] == [f"{SERIAL}\tdevice", f"{serial}\tdevice"]
    assert world.connect(serial).serial == serial
    # With two devices, screencap needs -s.
    assert adb_run(world, "exec-out", "screencap", "-p")[0] == 1
    assert adb_run(world, "disconnect", serial) == (0, f"disconnected {serial}\n", "")
    assert world.serials() == [SERIAL]
    with pytest.raises(ConnectionError):
        world.connect(serial)


@pytest.mark.parametrize("argv, message", [
    (["connect", "127.0.0.1:{closed}"], "failed to connect to '127.0.0.1:{closed}'"),
    (["disconnect", "127.0.0.1:5555"], "error: no such device '127.0.0.1:5555'"),
    (["-s", "emulator-5556", "exec-out", "screencap", "-p"], "adb: device 'emulator-5556' not found"),
    (["shell", "ls"], "adb: unknown command shell ls"),
    ([], "adb: no command given"),
])
def test_adb_failures(world, argv, message):
    closed = closed_port()
    code, out, err = adb_run(world, *(a.format(closed=closed) for a in argv))
    assert code == 1 and out == "" and err.startswith(message.format(closed=closed))


def test_close_removes_the_world(screen):
    world = VirtualAndroid(screen)
    world.close()
    assert not world.adb_dir.exists()
