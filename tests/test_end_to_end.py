"""The core modules on the virtual device with nothing replaced: the real
adb (server and client), the real uiautomator2, the device on loopback."""
import asyncio
import base64
import gc
import os
import re
import selectors
import socket
import threading
import time
from pathlib import Path

import pytest

from zelvik.virtual.adb import AdbServer, find_program, free_port
from zelvik.virtual.device import VirtualDevice, VirtualScreen
from zelvik.workbench.devices import point_at

for name in ("ostrel", "pellora", "mirvane", "zantho"):
    pytest.importorskip(f"zelvik.core.{name}")
from zelvik.core import mirvane, ostrel, pellora, zantho  # noqa: E402

PROGRAM = find_program()
pytestmark = pytest.mark.skipif(PROGRAM is None, reason="no adb program")
SAVE = (1448, 2420)  # the Save button


@pytest.fixture(scope="module")
def screen():
    return VirtualScreen.builtin()


@pytest.fixture(scope="module")
def server():
    """One private adb server for the module, which adb and uiautomator2 use."""
    adb = AdbServer(PROGRAM.path).start()
    undo = point_at(adb)
    yield adb
    undo()
    adb.stop()


@pytest.fixture
def phones(server, screen):
    """Starts virtual devices (connected to the server unless asked not to);
    disconnects and stops them after the test."""
    started = []

    def start(host="127.0.0.1", port=0, connect=True, **options):
        device = VirtualDevice(options.pop("screen", screen), host, port, **options).start()
        started.append(device)
        if connect:
            server.connect(device.serial)
        return device

    yield start
    for device in started:
        server.run("disconnect", device.serial)
        device.stop()


def run(coroutine, loop=None):
    loop = loop or asyncio.new_event_loop()
    try:
        return loop.run_until_complete(coroutine)
    finally:
        loop.run_until_complete(loop.shutdown_default_executor())
        loop.close()


async def capture(serial):
    manager = ostrel.DeviceManager()
    await manager.initialize()
    try:
        return await pellora.UIAnalyzer(manager).capture_with_hierarchy(serial)
    finally:
        await manager.cleanup()


def elements(tree):
    yield tree
    for child in tree["children"]:
        yield from elements(child)


def test_one_whole_road(phones):
    device = phones()
    serial = device.serial

    async def road():
        manager = ostrel.DeviceManager()
        await manager.initialize()
        analyzer = pellora.UIAnalyzer(manager)
        result = await analyzer.capture_with_hierarchy(serial)
        records = manager.get_all_devices()
        await manager.cleanup()
        return records, analyzer, result

    records, analyzer, result = run(road())
    (record,) = records
    # deviceInfo of the uiautomator server has no model, brand or version.
    assert [record[k] for k in ("id", "model", "brand", "version", "sdk", "resolution", "status")] == [
        serial, "Unknown", "Unknown", "Unknown", 34, "1600x2560", "connected"]
    assert record["current_app"]["package"] == "com.android.settings"
    assert result["success"], result
    assert base64.b64decode(result["screenshot"]) == device.screen.png
    assert result["device_info"]["width"] == 1600 and result["device_info"]["rotation_name"] == "natural"
    assert sum(1 for _ in elements(result["hierarchy"])) == 213
    app = result["hierarchy"]["children"][2]
    element = analyzer.find_element_at_position(app, *SAVE)
    assert (element["text"], element["resource_id"]) == ("Save", "android:id/button1")
    code = zantho.CodeGenerator().generate_element_code(element)
    assert code["selectors"][0]["code"] == 'd(resourceId="android:id/button1")'
    recorder = mirvane.get_mirvane()
    recorder.start_recording(serial)
    recorder.record_action("click", {"x": SAVE[0], "y": SAVE[1]}, element, {"x": SAVE[0], "y": SAVE[1]})
    recorder.stop_recording()
    script = recorder.generate_script()
    assert f'd = u2.connect("{serial}")' in script and 'd(resourceId="android:id/button1").click()' in script
    # What the stack asked the device for, in kinds.
    asked = {re.sub(r"\b\d+\b", "N", r) for r in device.requests}
    assert {"sync:", "shell:toybox md5sum /data/local/tmp/u2.jar", "exec:screencap '-p'", "tcp:N",
            "shell:CLASSPATH=/data/local/tmp/u2.jar app_process / com.wetest.uia2.Main -p N",
            "http GET /ping", "http POST /jsonrpc/N", "jsonrpc deviceInfo", "jsonrpc dumpWindowHierarchy",
            "shell:dumpsys window windows"} <= asked


def same_port_on(hosts):
    """A port free on every one of the loopback addresses."""
    for _ in range(20):
        port = free_port()
        try:
            for host in hosts:
                with socket.socket() as s:
                    s.bind((host, port))
            return port
        except OSError:
            continue
    pytest.skip("no port free on all the addresses")


def test_wifi_discovers_and_connects_two_devices(phones):
    port = same_port_on(["127.0.0.2", "127.0.0.3"])
    first, second = (phones(host, port, connect=False) for host in ("127.0.0.2", "127.0.0.3"))

    async def wifi():
        manager = ostrel.DeviceManager()
        found = await manager.discover_wifi_devices("127.0.0.1-127.0.0.4", port)
        connected = dict(await manager.connect_wifi_device("127.0.0.3", port))
        listed = ostrel.list_devices()
        await manager.disconnect_wifi_device(second.serial)
        return found, connected, listed, ostrel.list_devices()

    found, connected, listed, after = run(wifi())
    assert sorted(r["id"] for r in found) == [first.serial, second.serial]
    assert {(r["model"], r["status"], r["resolution"]) for r in found} == {
        ("zelvik_virtual_tab", "wifi_available", "1600x2560")}
    assert (connected["id"], connected["status"], connected["sdk"]) == (second.serial, "connected", 34)
    assert {first.serial, second.serial} <= set(listed)
    assert second.serial not in after and first.serial in after


class FastLoop(asyncio.SelectorEventLoop):
    """An event loop whose clock runs `speed` times as fast as the wall
    clock: the modules' time limits pass sooner, nothing else changes."""

    def __init__(self, speed: float):
        class Selector(selectors.DefaultSelector):
            def select(self, timeout=None):
                return super().select(None if timeout is None else timeout / speed)

        super().__init__(Selector())
        self.speed, self.origin = speed, time.monotonic()

    def time(self):
        return self.origin + (time.monotonic() - self.origin) * self.speed


SPEED = 5.0  # the 15 s dump limit passes in 3 s, the 2 s pause of a reconnect in 0.4 s


@pytest.mark.parametrize("faults, dump, error", [
    ({"bad-dump"}, None, r"H3: (no element found|unclosed token): line \d+, column \d+"),
    ({"drop-dump"}, None, r"H4: Remote end closed connection without response"),
    ({"screencap"}, None, r"S3: S6: S4"),
    ({"slow-dump"}, None, r"H2"),
    (set(), " \n", r"H4: H1"),
])
def test_faults_end_in_their_error_codes(phones, server, faults, dump, error):
    options = {"screen": VirtualScreen.from_dump(dump)} if dump is not None else {}
    device = phones(faults=faults, dump_delay=15.0 / SPEED + 1, **options)
    result = run(capture(device.serial), FastLoop(SPEED))
    assert (result["success"], result["device_id"]) == (False, device.serial)
    assert re.fullmatch(error, result["error"]), result["error"]
    # The device lives on (adb connects it again after a drop).
    server.connect(device.serial)
    assert server.run("-s", device.serial, "shell", "echo", "alive").stdout == "alive\n"


def test_a_screencap_error_is_a_failed_screenshot(phones):
    """exec: merges stderr into the stream and `adb exec-out` exits 0: the
    message of a failed screencap is not taken for the picture."""
    device = phones(faults={"screencap-error"})
    result = run(capture(device.serial), FastLoop(SPEED))
    assert result == {"success": False, "error": "S3: S6: S4", "device_id": device.serial}


def test_an_empty_dump_becomes_an_empty_hierarchy(phones):
    """uiautomator2 asks three times for an empty dump, then returns a
    <hierarchy> without nodes: the capture succeeds (no "H4: H1")."""
    device = phones(screen=VirtualScreen.from_dump(""))
    result = run(capture(device.serial), FastLoop(SPEED))
    assert result["success"] and result["hierarchy"]["children"] == []
    assert device.requests.count("jsonrpc dumpWindowHierarchy") == 3


def adb_processes(port):
    """Pids of processes whose command line names the adb server port."""
    found = []
    for entry in Path("/proc").iterdir():
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if entry.name.isdigit() and argv and argv[0].endswith(b"adb") and str(port).encode() in argv:
            found.append(int(entry.name))
    return found


CLOSE_WAIT = "08"


def open_sockets(*ports):
    """(local port, remote port, state) of this process's TCP sockets on `ports`."""
    gc.collect()
    inodes = set()
    for fd in os.listdir("/proc/self/fd"):
        try:
            target = os.readlink(f"/proc/self/fd/{fd}")
        except OSError:
            continue  # closed meanwhile
        if target.startswith("socket:["):
            inodes.add(target[len("socket:["):-1])
    found = []
    for line in Path("/proc/net/tcp").read_text().splitlines()[1:]:
        fields = line.split()
        local, remote = (int(address.split(":")[1], 16) for address in fields[1:3])
        if fields[9] in inodes and (local in ports or remote in ports):
            found.append((local, remote, fields[3]))
    return found


def test_nothing_is_left_behind(screen):
    threads = set(threading.enumerate())
    adb = AdbServer(PROGRAM.path).start()
    device = VirtualDevice(screen).start()
    undo = point_at(adb)
    try:
        adb.connect(device.serial)
        assert run(capture(device.serial), FastLoop(SPEED))["success"]
        assert adb_processes(adb.port) == [adb.process.pid]
    finally:
        undo()
        adb.stop()
        device.stop()
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and set(threading.enumerate()) - threads:
        time.sleep(0.05)  # uiautomator2's reader of the server's output ends with its stream
    assert set(threading.enumerate()) - threads == set()
    assert adb_processes(adb.port) == []
    # uiautomator2 keeps each device object (atexit) and with it the socket
    # of the server's launch, left half-closed once adb is gone.
    assert [s for s in open_sockets(adb.port, device.port) if s[2] != CLOSE_WAIT] == []
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", device.port), timeout=1).close()
