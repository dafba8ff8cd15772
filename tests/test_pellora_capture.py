"""Capture with hierarchy: readiness, geometry, screenshot, hierarchy dump."""
import asyncio
import base64
import io
import subprocess
import threading
import time
import xml.etree.ElementTree as ET

import pytest
from PIL import Image

from fakes import Completed, FakeAdb, FakeSubprocess

pellora = pytest.importorskip("zelvik.core.pellora")
UIAnalyzer = pellora.UIAnalyzer

SERIAL = "emulator-5554"
INFO = {"display": {"width": 1080}, "displayWidth": 1080, "displayHeight": 2400, "displayRotation": 0}
XML = '<hierarchy rotation="0"><node class="android.widget.FrameLayout" bounds="[0,0][1080,2400]"/></hierarchy>'


def png_bytes():
    out = io.BytesIO()
    Image.new("RGB", (3, 2), (200, 10, 30)).save(out, "PNG")
    return out.getvalue()


PNG = png_bytes()


class Device:
    """The uiautomator2 device: `info` and `dump_hierarchy()`, logged."""

    def __init__(self, log, info=INFO, xml=XML, delay=0.0):
        self.log, self._info, self.xml, self.delay = log, info, xml, delay

    def _answer(self, name, value):
        self.log.append(name)
        time.sleep(self.delay)
        if isinstance(value, BaseException):
            raise value
        return value

    @property
    def info(self):
        return self._answer("info", self._info)

    def dump_hierarchy(self):
        return self._answer("dump", self.xml)


class Connection:
    """The per-device connection object."""

    def __init__(self, log, device, connected=True, serial=SERIAL, errors=None):
        self.log, self.device, self.is_connected, self.device_id = log, device, connected, serial
        self.errors = errors or {}

    def _act(self, name, connected):
        self.log.append(name)
        if name in self.errors:
            raise self.errors[name]
        self.is_connected = connected

    def connect(self):
        self._act("connect", True)

    def disconnect(self):
        self._act("disconnect", False)


class Manager:
    def __init__(self, connection):
        self.connection = connection

    def get_device(self, device_id):
        return self.connection if device_id == self.connection.device_id else None


class Asyncio:
    """pellora's asyncio: the real one, with wait_for limits recorded (and
    scaled down) and sleep recorded and skipped."""

    def __init__(self, scale=1.0):
        self.limits, self.sleeps, self.scale = [], [], scale

    def __getattr__(self, name):
        return getattr(asyncio, name)

    def wait_for(self, awaitable, timeout):
        self.limits.append(timeout)
        return asyncio.wait_for(awaitable, timeout * self.scale)

    async def sleep(self, seconds):
        self.sleeps.append(seconds)


class Env:
    def __init__(self, monkeypatch, scale=1.0, **device):
        self.log = []
        self.aio = Asyncio(scale)
        self.adb = FakeSubprocess(default=Completed(0, PNG))
        self.device = Device(self.log, **device)
        self.conn = Connection(self.log, self.device)
        self.analyzer = UIAnalyzer(Manager(self.conn))
        monkeypatch.setattr(pellora, "asyncio", self.aio)
        monkeypatch.setattr(pellora, "subprocess", self.adb)

    def run(self, method, *args):
        return asyncio.run(getattr(self.analyzer, method)(*args))

    def capture(self):
        return self.run("capture_with_hierarchy", SERIAL)


@pytest.fixture
def env(monkeypatch):
    return Env(monkeypatch)


def chain(exc):
    """Messages (or type names) along __context__."""
    out = []
    while exc is not None:
        out.append(str(exc) if type(exc) is Exception else type(exc).__name__)
        exc = exc.__context__
    return out


def test_successful_capture(env):
    env.adb.default = lambda args, kwargs: env.log.append("screencap") or Completed(0, PNG)
    result = env.capture()
    assert list(result) == ["success", "screenshot", "hierarchy", "device_info", "device_id"]
    assert result["success"] is True and result["device_id"] == SERIAL
    assert base64.b64decode(result["screenshot"], validate=True) == PNG
    assert result["hierarchy"]["children"][0]["bounds"] == [0, 0, 1080, 2400]
    assert result["device_info"]["height"] == 2400
    assert env.log == ["info", "info", "screencap", "dump"]
    assert env.aio.limits == [5.0, 5.0, 8.0, 15.0]


def test_steps_run_one_after_another_through_self(env):
    events = []

    class Traced(UIAnalyzer):
        pass

    for name in ("_ensure_device_ready", "_get_device_resolution", "_take_screenshot", "_get_ui_hierarchy"):
        def step(self, ostrel, _name=name):
            async def run():
                events.append("start " + _name)
                await asyncio.sleep(0.01)
                value = await getattr(UIAnalyzer, _name)(self, ostrel)
                events.append("end " + _name)
                return value
            return run()
        setattr(Traced, name, step)
    env.analyzer = Traced(Manager(env.conn))
    assert env.capture()["success"] is True
    names = [e.split()[1] for e in events[::2]]
    assert names == ["_ensure_device_ready", "_get_device_resolution", "_take_screenshot", "_get_ui_hierarchy"]
    assert events == [f"{kind} {n}" for n in names for kind in ("start", "end")]


def test_unknown_serial_and_bad_argument_raise(env):
    with pytest.raises(ValueError) as info:
        env.run("capture_with_hierarchy", "nope:5555")
    assert str(info.value) == "设备 nope:5555 不存在"
    with pytest.raises(TypeError, match="Argument 'device_id' has incorrect type"):
        env.analyzer.capture_with_hierarchy(None)


@pytest.mark.parametrize("stays_disconnected, connects", [(False, ["connect"]), (True, ["connect", "connect"])])
def test_disconnected_device_is_connected_before_the_steps(env, stays_disconnected, connects):
    env.conn.is_connected = False
    if stays_disconnected:
        env.conn._act = lambda name, connected: env.log.append(name)
    assert env.capture()["success"] is True
    assert [e for e in env.log if e == "connect"] == connects and env.log.index("info") == len(connects)


def test_connect_failing_before_the_steps_is_raised(env):
    env.conn.is_connected, env.conn.errors = False, {"connect": OSError("usb")}
    with pytest.raises(OSError, match="usb"):
        env.capture()


@pytest.mark.parametrize("setup, error", [
    (dict(xml=""), "H4: H1"),
    (dict(xml=" \n\t"), "H4: H1"),
    (dict(xml=None), "H4: H1"),
    (dict(xml="<hierarchy>"), "H3: no element found: line 1, column 11"),
    (dict(xml=RuntimeError("usb gone")), "H4: usb gone"),
    (dict(xml='<hierarchy index="x"/>'), "H4: invalid literal for int() with base 10: 'x'"),
    (dict(adb=Completed(1, b"")), "S3: S6: S4"),
    (dict(adb=Completed(0, b"")), "S3: S6: S4"),
    (dict(adb=Completed(0, b"Error: failed to take the screenshot\n")), "S3: S6: S4"),
    (dict(adb=Completed(0, PNG[1:])), "S3: S6: S4"),
    (dict(adb=subprocess.TimeoutExpired(["adb"], 6)), "S3: S5"),
    (dict(adb=FileNotFoundError("no adb")), "S3: S6: no adb"),
    (dict(info={}, disconnect=RuntimeError("gone")), "E1: gone"),
])
def test_failures_become_failure_results(monkeypatch, setup, error):
    adb, disconnect = setup.pop("adb", None), setup.pop("disconnect", None)
    env = Env(monkeypatch, **setup)
    if adb is not None:
        env.adb.default = adb
    if disconnect is not None:
        env.conn.errors["disconnect"] = disconnect
    result = env.capture()
    assert result == {"success": False, "error": error, "device_id": SERIAL}
    assert list(result) == ["success", "error", "device_id"]


@pytest.mark.parametrize("method, setup, expected", [
    ("_get_ui_hierarchy", dict(xml=""), ["H4: H1", "H1"]),
    ("_get_ui_hierarchy", dict(xml="<a>"), ["H3: no element found: line 1, column 3", "ParseError"]),
    ("_get_ui_hierarchy", dict(xml=KeyError("k")), ["H4: 'k'", "KeyError"]),
    ("_get_ui_hierarchy", dict(xml=XML, delay=0.2, scale=0.01), ["H2", "TimeoutError", "CancelledError"]),
    ("_adb_screenshot", dict(adb=Completed(3, PNG)), ["S3: S6: S4", "S6: S4", "S4"]),
    ("_adb_screenshot", dict(adb=subprocess.TimeoutExpired(["adb"], 6)), ["S3: S5", "S5", "TimeoutExpired"]),
    ("_adb_screenshot", dict(adb=Completed(0, "text")), ["S3: Expected bytes, got str", "TypeError"]),
    ("_take_screenshot", dict(adb="slow", scale=0.01), ["S2", "TimeoutError", "CancelledError"]),
    ("_ensure_device_ready", dict(info=None, disconnect=ValueError("v")), ["E1: v", "ValueError", "R1"]),
    ("_ensure_device_ready", dict(connect=ValueError("c")), ["E1: c", "ValueError"]),
])
def test_error_codes_chain_the_errors_they_replace(monkeypatch, method, setup, expected):
    adb = setup.pop("adb", None)
    errors = {k: setup.pop(k) for k in ("connect", "disconnect") if k in setup}
    env = Env(monkeypatch, **setup)
    env.conn.errors = errors
    env.conn.is_connected = "connect" not in errors
    if adb == "slow":
        env.adb.default = lambda args, kwargs: time.sleep(0.2) or Completed(0, PNG)
    elif adb is not None:
        env.adb.default = adb
    with pytest.raises(Exception) as info:
        env.run(method, env.conn)
    assert chain(info.value) == expected


@pytest.mark.parametrize("info, expected", [
    ({"displayWidth": 1080, "displayHeight": 2400, "displayRotation": 0},
     (1080, 2400, 1080, 2400, "portrait", 0, "natural", "normal", 2.22)),
    ({"displayWidth": 2400, "displayHeight": 1080, "displayRotation": 1},
     (2400, 1080, 2400, 1080, "landscape", 1, "left", "rotated", 2.22)),
    ({"displayWidth": 1080, "displayHeight": 1920, "displayRotation": 3},
     (1080, 1920, 1080, 1920, "portrait", 3, "right", "rotated", 1.78)),
    ({"displayRotation": 2}, (1080, 1920, 1080, 1920, "portrait", 2, "inverted", "normal", 1.78)),
    ({"displayRotation": 5}, (1080, 1920, 1080, 1920, "portrait", 5, "unknown", "normal", 1.78)),
    ({"displayWidth": 1000, "displayHeight": 1000}, (1000, 1000, 1000, 1000, "landscape", 0, "natural", "normal", 1.0)),
    ({}, (1080, 1920, 1080, 1920, "portrait", 0, "natural", "normal", 1.78)),
    ({"displayWidth": 0}, "failure"),
    ({"displayRotation": []}, "failure"),
    (RuntimeError("no device"), "failure"),
    ([], "failure"),
])
def test_screen_geometry_records(monkeypatch, info, expected):
    keys = ["width", "height", "ui_width", "ui_height", "orientation", "rotation", "rotation_name",
            "coordinate_system", "aspect_ratio"]
    if expected == "failure":
        expected = (1080, 1920, 1080, 1920, "portrait", 0, "natural", "normal", 1.78)
    env = Env(monkeypatch, info=info)
    record = env.run("_get_device_resolution", env.conn)
    assert list(record) == keys and tuple(record.values()) == expected
    assert env.aio.limits == [5.0]


def test_slow_geometry_read_gives_the_failure_record(monkeypatch):
    env = Env(monkeypatch, scale=0.01, delay=0.2)
    assert env.run("_get_device_resolution", env.conn)["aspect_ratio"] == 1.78


@pytest.mark.parametrize("setup", [dict(info={"displayWidth": 1}), dict(info=None), dict(info=OSError("x")),
                                   dict(delay=0.2, scale=0.01)])
def test_failed_readiness_probe_reconnects_once(monkeypatch, setup):
    env = Env(monkeypatch, **setup)
    assert env.run("_ensure_device_ready", env.conn) is None
    assert env.log == ["info", "disconnect", "connect"] and env.aio.sleeps == [2]


def test_ready_device_is_left_alone(env):
    assert env.run("_ensure_device_ready", env.conn) is None
    assert env.log == ["info"] and env.aio.sleeps == []


def test_screencap_command(env):
    assert env.analyzer._execute_adb_screencap("192.168.1.5:5555") == PNG
    assert env.adb.calls == [(["adb", "-s", "192.168.1.5:5555", "exec-out", "screencap", "-p"],
                              {"capture_output": True, "timeout": 6})]
    with pytest.raises(TypeError, match="Argument 'device_id' has incorrect type"):
        env.analyzer._execute_adb_screencap(None)


def test_real_png_through_the_adb_executable(monkeypatch, tmp_path):
    adb = FakeAdb(monkeypatch, tmp_path)
    (tmp_path / "shot.png").write_bytes(PNG)
    serial = "127.0.0.1:5555"
    adb.answer(["-s", serial, "exec-out", "screencap", "-p"], stdout_file=tmp_path / "shot.png")
    log = []
    conn = Connection(log, Device(log), serial=serial)
    result = asyncio.run(UIAnalyzer(Manager(conn)).capture_with_hierarchy(serial))
    raw = base64.b64decode(result["screenshot"])
    assert raw == PNG and result["screenshot"] == base64.b64encode(PNG).decode("ascii")
    assert Image.open(io.BytesIO(raw)).size == (3, 2)
    assert adb.calls() == [["-s", serial, "exec-out", "screencap", "-p"]]
    adb.answer(["-s", serial, "exec-out", "screencap", "-p"], returncode=1, stderr="error: device offline")
    result = asyncio.run(UIAnalyzer(Manager(conn)).capture_with_hierarchy(serial))
    assert result["error"] == "S3: S6: S4"


def test_cancelled_capture_raises_and_the_loop_stays_free():
    log, started, release = [], threading.Event(), threading.Event()

    class Blocking(Device):
        def dump_hierarchy(self):
            started.set()
            release.wait(5)
            return XML

    conn = Connection(log, Blocking(log))

    class NoShot(UIAnalyzer):
        async def _take_screenshot(self, ostrel):
            return ""

    async def main():
        task = asyncio.ensure_future(NoShot(Manager(conn)).capture_with_hierarchy(SERIAL))
        ticks = 0
        while not started.is_set():
            await asyncio.sleep(0.001)
        for _ in range(5):  # the loop runs other work while the dump is under way
            await asyncio.sleep(0)
            ticks += 1
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        release.set()
        return task, ticks

    task, ticks = asyncio.run(main())
    assert task.cancelled() and ticks == 5
