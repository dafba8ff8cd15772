"""zelvik.core.ostrel: WiFi range parsing, probing, discovery and connection.
Network traffic stays on 127.0.0.0/8, with listeners opened here."""
import asyncio
import concurrent.futures
import contextlib
import ctypes
import socket
import signal
import subprocess
import sys
import textwrap
import threading
import time
import types

import pytest

from fakes import SAMPLE_INFO as INFO, Completed, FakeAdb, FakeClock, FakeDevice, FakeSubprocess, FakeU2
from fakes import real_adb  # noqa: F401 (fixture)

ostrel = pytest.importorskip("zelvik.core.ostrel")
RECORD = {"model": "Pixel 5", "brand": "google", "version": "13", "sdk": 33, "resolution": "1080x2340"}
WIFI_KEYS = ["id", "model", "brand", "version", "sdk", "resolution", "status", "connected", "connection_type",
             "ip_address", "_cache_time"]


@pytest.fixture
def env(monkeypatch):
    e = types.SimpleNamespace(proc=FakeSubprocess(), u2=FakeU2(), clock=FakeClock())
    for name, fake in [("subprocess", e.proc), ("u2", e.u2), ("time", e.clock)]:
        monkeypatch.setattr(ostrel, name, fake)
    return e


@contextlib.contextmanager
def listeners(*hosts):
    """Listening sockets on one port number at each loopback address."""
    socks = []
    try:
        for host in hosts:
            s = socket.socket()
            socks.append(s)
            s.bind((host, socks[0].getsockname()[1] if len(socks) > 1 else 0))
            s.listen()
        yield socks[0].getsockname()[1]
    finally:
        for s in socks:
            s.close()


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("text, expected", [
    ("192.168.1.10-192.168.1.12", ["192.168.1.10", "192.168.1.11", "192.168.1.12"]),
    (" 192.168.1.10 - 192.168.1.12 ", ["192.168.1.10", "192.168.1.11", "192.168.1.12"]),
    ("192.168.1.12-192.168.1.10", []),
    ("192.168.1.1-20", []),
    ("1.1.1.1-2.2.2.2-3.3.3.3", []),
    ("255.255.255.250-255.255.255.255", []),
    ("192.168.1.0/24", [f"192.168.1.{i}" for i in range(1, 255)]),
    ("192.168.1.77/24", [f"192.168.1.{i}" for i in range(1, 255)]),
    ("10.0.0.0/31", ["10.0.0.0", "10.0.0.1"]),
    ("10.0.0.0/33", []),
    ("  10.0.0.5 ", ["10.0.0.5"]),
    ("garbage", ["garbage"]),
    ("some-word", []),
])
def test_parse_ip_range(text, expected):
    assert ostrel.DeviceManager()._parse_ip_range(text) == expected


def test_hyphen_ranges_stop_at_255_addresses():
    ips = ostrel.DeviceManager()._parse_ip_range("192.168.1.1-192.168.2.255")
    assert len(ips) == 255 and ips[0] == "192.168.1.1" and ips[-1] == "192.168.1.255"


def test_probe_of_closed_port_and_bad_address(env):
    dm = ostrel.DeviceManager()
    assert dm._scan_single_ip("127.0.0.1", closed_port()) is None
    assert dm._scan_single_ip("garbage", 5555) is None and env.proc.calls == [] and env.u2.connects == []


@pytest.mark.parametrize("adb_answer", [Completed(0), Completed(1), subprocess.TimeoutExpired(["adb"], 2),
                                        FileNotFoundError("adb"), KeyboardInterrupt()])
def test_probe_of_open_port(env, adb_answer):
    dm = ostrel.DeviceManager()
    env.proc.default = adb_answer
    with listeners("127.0.0.1") as port:
        serial = f"127.0.0.1:{port}"
        env.u2.devices[serial] = FakeDevice(dict(INFO))
        record = dm._scan_single_ip("127.0.0.1", port)
        assert list(record) == WIFI_KEYS and record == {
            "id": serial, "model": "redfin", "brand": "google", "version": "13", "sdk": 33,
            "resolution": "1080x2340", "status": "wifi_available", "connected": False, "connection_type": "wifi",
            "ip_address": "127.0.0.1", "_cache_time": env.clock.now}
        assert env.proc.calls == [(["adb", "connect", serial], {"capture_output": True, "timeout": 2.0, "check": True})]
        env.u2.devices[serial] = FakeDevice(SystemExit())  # every failure of the query gives the detection record
        assert dm._scan_single_ip("127.0.0.1", port, timeout=1) == {
            "id": serial, "model": "Unknown Device", "brand": "Unknown", "status": "wifi_detected",
            "connected": False, "connection_type": "wifi", "ip_address": "127.0.0.1",
            "error": "Unable to retrieve device info", "_cache_time": env.clock.now}
        assert env.proc.calls[1][1]["timeout"] == 1.0


def test_discover_probes_loopback_addresses(env):
    with listeners("127.0.0.2", "127.0.0.3") as port:
        env.u2.devices[f"127.0.0.2:{port}"] = FakeDevice(dict(INFO))
        found = asyncio.run(ostrel.DeviceManager().discover_wifi_devices("127.0.0.1-127.0.0.4", port=float(port)))
    found.sort(key=lambda r: r["id"])
    assert [(r["id"], r["status"]) for r in found] == [(f"127.0.0.2:{port}", "wifi_available"),
                                                         (f"127.0.0.3:{port}", "wifi_detected")]


def recording_futures(limit=None):
    """concurrent.futures whose pool sizes and waiting limits are recorded;
    `limit` replaces the waiting limit actually used."""
    seen = types.SimpleNamespace(workers=[], timeouts=[], shutdowns=[])

    class Pool(concurrent.futures.ThreadPoolExecutor):
        def __init__(self, max_workers):
            seen.workers.append(max_workers)
            super().__init__(max_workers=max_workers)

        def shutdown(self, wait=True, **kw):
            seen.shutdowns.append((wait, kw))
            super().shutdown(wait, **kw)

    def as_completed(fs, timeout):
        seen.timeouts.append(timeout)
        return concurrent.futures.as_completed(fs, timeout=timeout if limit is None else limit)

    futures = types.SimpleNamespace(ThreadPoolExecutor=Pool, as_completed=as_completed,
                                    TimeoutError=concurrent.futures.TimeoutError)
    return types.SimpleNamespace(futures=futures), seen


@pytest.mark.parametrize("count, workers", [(3, 3), (120, 50)])
def test_discover_pool_and_results(monkeypatch, count, workers):
    package, seen = recording_futures()
    monkeypatch.setattr(ostrel, "concurrent", package)
    probes = []

    class Manager(ostrel.DeviceManager):
        def _scan_single_ip(self, ip, port, *rest):
            probes.append((ip, port, rest))
            last = int(ip.rsplit(".", 1)[1])
            if last % 3 == 0:
                raise OSError("probe failed")
            return {"id": ip} if last % 3 == 1 else {}

    found = asyncio.run(Manager().discover_wifi_devices(f"10.0.0.1-10.0.0.{count}", 7))
    assert seen.workers == [workers] and seen.timeouts == [30]
    assert sorted(probes) == sorted((f"10.0.0.{i}", 7, ()) for i in range(1, count + 1))
    assert sorted(r["id"] for r in found) == sorted(f"10.0.0.{i}" for i in range(1, count + 1) if i % 3 == 1)


def test_discover_of_empty_range_raises_from_the_pool():
    with pytest.raises(ValueError):
        asyncio.run(ostrel.DeviceManager().discover_wifi_devices("10.0.0.9-10.0.0.1"))


def test_discover_honours_its_time_limit(monkeypatch):
    package, seen = recording_futures(limit=0.3)
    monkeypatch.setattr(ostrel, "concurrent", package)
    started = []

    class Slow(ostrel.DeviceManager):
        def _scan_single_ip(self, ip, port):
            started.append(ip)
            time.sleep(0.6)

    begin = time.monotonic()
    with pytest.raises(concurrent.futures.TimeoutError):
        asyncio.run(Slow().discover_wifi_devices("10.0.0.1-10.0.0.200"))
    # the queued probes are cancelled; the first wave of 50 runs to its end
    assert len(started) == 50 and time.monotonic() - begin < 1.5
    assert seen.shutdowns[0] == (False, {"cancel_futures": True}) and seen.shutdowns[-1] == (True, {})
    assert threading.active_count() < 10


def test_connect_wifi_device(env):
    env.u2.devices["10.0.0.5:5555"] = FakeDevice(dict(INFO))
    dm = ostrel.DeviceManager()
    record = asyncio.run(dm.connect_wifi_device("10.0.0.5", port=5555.0))
    assert env.proc.calls == [(["adb", "connect", "10.0.0.5:5555"],
                               {"capture_output": True, "text": True, "timeout": 10})]
    assert env.clock.sleeps == [1] and dm._device_info_cache["10.0.0.5:5555"] is record
    assert list(record) == list(RECORD) + ["id", "status", "connected", "connection_type", "ip_address", "_cache_time"]
    assert record == {**RECORD, "id": "10.0.0.5:5555", "status": "connected", "connected": True,
                      "connection_type": "wifi", "ip_address": "10.0.0.5", "_cache_time": env.clock.now}
    assert dm._devices["10.0.0.5:5555"].is_connected is True


def test_connect_wifi_failures(env, monkeypatch):
    dm = ostrel.DeviceManager()
    env.proc.default = Completed(1, "", "refused")
    with pytest.raises(Exception, match="^连接WiFi设备失败: ADB连接失败: refused$") as info:
        asyncio.run(dm.connect_wifi_device("10.0.0.5"))
    assert str(info.value.__context__) == "ADB连接失败: refused" and dm._devices == {}
    env.proc.default = Completed(0)
    with pytest.raises(Exception, match="^连接WiFi设备失败: no device 10.0.0.5:5555$"):
        asyncio.run(dm.connect_wifi_device("10.0.0.5"))
    assert list(dm._devices) == ["10.0.0.5:5555"] and dm._device_info_cache == {}

    class Silent(ostrel.BaseDeviceManager):
        def connect(self):
            pass
    monkeypatch.setattr(ostrel, "BaseDeviceManager", Silent)
    with pytest.raises(Exception, match="^连接WiFi设备失败: 设备管理器连接失败$"):
        asyncio.run(dm.connect_wifi_device("10.0.0.6", 1))
    assert type(dm._devices["10.0.0.6:1"]) is Silent
    with pytest.raises(TypeError, match="^Argument 'port' has incorrect type"):
        dm.connect_wifi_device("10.0.0.5", "5555")


def test_disconnect_wifi_device(env, monkeypatch):
    env.u2.devices["10.0.0.5:5555"] = FakeDevice(dict(INFO))
    dm = ostrel.DeviceManager()
    assert asyncio.run(dm.disconnect_wifi_device("10.0.0.9:5555")) is None
    assert env.proc.calls == [(["adb", "disconnect", "10.0.0.9:5555"], {"capture_output": True, "timeout": 5})]
    record = asyncio.run(dm.connect_wifi_device("10.0.0.5"))
    device = dm._devices["10.0.0.5:5555"]
    asyncio.run(dm.disconnect_wifi_device("10.0.0.5:5555"))
    assert dm._devices == {} and device.device is None and dm.get_all_devices() == [record]
    assert (record["status"], record["connected"], record["_cache_time"]) == ("disconnected", False, env.clock.now)
    env.proc.default = FileNotFoundError("adb")
    with pytest.raises(Exception, match="^断开WiFi设备失败: adb$") as info:
        asyncio.run(dm.disconnect_wifi_device("10.0.0.5:5555"))
    assert isinstance(info.value.__context__, FileNotFoundError)


def test_wifi_connection_through_fake_adb_process(monkeypatch, tmp_path):
    adb = FakeAdb(monkeypatch, tmp_path)
    adb.answer("connect 10.0.0.5:5555", stderr="refused", returncode=1)
    with pytest.raises(Exception, match="^连接WiFi设备失败: ADB连接失败: refused$"):
        asyncio.run(ostrel.DeviceManager().connect_wifi_device("10.0.0.5"))
    assert asyncio.run(ostrel.DeviceManager().disconnect_wifi_device("10.0.0.5:5555")) is None
    assert adb.calls() == [["connect", "10.0.0.5:5555"], ["disconnect", "10.0.0.5:5555"]]


def test_wifi_connection_with_real_adb_and_no_device(real_adb, monkeypatch):
    monkeypatch.setattr(ostrel, "u2", FakeU2())
    monkeypatch.setattr(ostrel, "time", FakeClock())
    port = closed_port()
    # adb reports the refused connection on standard output and exits with 0
    with pytest.raises(Exception, match=f"^连接WiFi设备失败: no device 127.0.0.1:{port}$"):
        asyncio.run(ostrel.DeviceManager().connect_wifi_device("127.0.0.1", port))
    assert asyncio.run(ostrel.DeviceManager().disconnect_wifi_device(f"127.0.0.1:{port}")) is None


# A discovery whose probes are stopped by Ctrl-C: the probes of the first wave
# (at most 50) run for their second, the queued ones must never start.
INTERRUPTED_DISCOVERY = textwrap.dedent(r'''
    import asyncio, signal, sys, time
    from zelvik.core import ostrel

    started = []
    signalled = []

    class Slow(ostrel.DeviceManager):
        def _scan_single_ip(self, ip, port, timeout=2.0):
            started.append(ip)
            time.sleep(1)

    def interrupt(*_):
        signalled.append(time.monotonic())
        raise {exception}

    signal.signal(signal.SIGINT, interrupt)
    print("probing", flush=True)
    try:
        asyncio.run(Slow().discover_wifi_devices("10.0.0.1-10.0.0.200"))
    except BaseException as e:
        left = time.monotonic() - signalled[0]
        time.sleep(1.5)  # the running probes end; nothing queued starts
        print(type(e).__name__, len(started), round(left, 3))
''')


@pytest.mark.parametrize("exception", ["KeyboardInterrupt", "asyncio.CancelledError"])
def test_interrupt_drops_queued_probes_and_leaves_at_once(exception):
    proc = subprocess.Popen([sys.executable, "-c", INTERRUPTED_DISCOVERY.format(exception=exception)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline() == "probing\n"
        time.sleep(0.4)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=30)
    finally:
        proc.kill()
        proc.wait()
    assert proc.returncode == 0, err
    name, started, left = out.split()
    assert name == exception.split(".")[-1] and 0 < int(started) <= 50 and float(left) < 0.3, out


# A thread ended inside native code: pthread_exit unwinds the thread's stack
# through the native frames (as the interpreter does to threads that reach
# for the GIL while it finalises), and their handlers must let it pass. The
# main thread ends this way here, holding the GIL: the unwinding then runs
# no destructor without it, and the process exits with status 0 once the
# last thread has ended.
THREAD_EXIT_IN_NATIVE_CODE = textwrap.dedent(r'''
    import asyncio, ctypes, sys
    from zelvik.core import ostrel

    def end_thread(*_):
        print("ending", flush=True)
        ctypes.PyDLL(None).pthread_exit(None)

    class Ending(ostrel.DeviceManager):
        _parse_ip_range = staticmethod(end_thread)  # called inside the discovery coroutine

    class Device:
        connect = staticmethod(end_thread)  # called inside the probe

    ostrel.u2 = Device()
    if sys.argv[1] == "probe":
        ostrel.DeviceManager()._scan_single_ip("127.0.0.2", int(sys.argv[2]))
    else:
        asyncio.run(Ending().discover_wifi_devices("127.0.0.2"))
    print("not ended", flush=True)
''')


UNDER_ASAN = hasattr(ctypes.CDLL(None), "__asan_init")


@pytest.mark.parametrize("where", ["probe", pytest.param("discovery", marks=pytest.mark.skipif(
    UNDER_ASAN, reason="AddressSanitizer fails its own stack check (asan_thread.cpp CHECK) when pthread_exit "
                       "unwinds the main thread through a coroutine frame"))])
def test_thread_ended_inside_native_code(monkeypatch, tmp_path, where):
    FakeAdb(monkeypatch, tmp_path)  # `adb connect` fails at once
    with listeners("127.0.0.2") as port:
        run = subprocess.run([sys.executable, "-c", THREAD_EXIT_IN_NATIVE_CODE, where, str(port)],
                             capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout, run.stderr) == (0, "ending\n", "")


# The interpreter ends, with discovery or a probe still running on a daemon
# thread: the thread is ended when it reaches for the GIL (unwound, before
# 3.14) and its native frames' destructors must not free objects without it.
EXIT_DURING_DISCOVERY = textwrap.dedent(r'''
    import asyncio, random, sys, threading, time, types
    from concurrent import futures
    from zelvik.core import ostrel

    class Sock:
        def settimeout(self, timeout): pass
        def connect_ex(self, address):
            time.sleep(random.uniform(0.01, 0.15))
            return 111
        def close(self): pass

    ostrel.socket = types.SimpleNamespace(socket=lambda *_: Sock(), AF_INET=2, SOCK_STREAM=1)
    manager, running = ostrel.DeviceManager(), threading.Event()

    def as_completed(*args, **kwargs):  # every probe is submitted by now
        running.set()
        return futures.as_completed(*args, **kwargs)

    ostrel.concurrent = types.SimpleNamespace(futures=types.SimpleNamespace(
        ThreadPoolExecutor=futures.ThreadPoolExecutor, TimeoutError=futures.TimeoutError,
        as_completed=as_completed))

    def work():
        if sys.argv[1] == "probe":
            running.set()
            while True:
                manager._scan_single_ip("127.0.0.2", 5555)
        asyncio.run(manager.discover_wifi_devices("127.0.0.0/24"))

    threading.Thread(target=work, daemon=True).start()
    running.wait(10)
    time.sleep(float(sys.argv[2]))
    print("leaving", flush=True)
''')


@pytest.mark.parametrize("where", ["probe", "discovery"])
def test_interpreter_exit_with_discovery_on_a_daemon_thread(where):
    for delay in (0.0, 0.05, 0.1, 0.15, 0.2, 0.3):
        run = subprocess.run([sys.executable, "-c", EXIT_DURING_DISCOVERY, where, str(delay)],
                             capture_output=True, text=True, timeout=60)
        assert (run.returncode, run.stdout, run.stderr) == (0, "leaving\n", ""), delay
