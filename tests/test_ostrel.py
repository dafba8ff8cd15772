"""zelvik.core.ostrel: device listing, BaseDeviceManager, the device table,
its cache and the connect / disconnect / status methods."""
import asyncio
import concurrent.futures
import datetime
import socket
import subprocess

import pytest
import uiautomator2

from fakes import SAMPLE_INFO, Completed, FakeAdb, FakeClock, FakeDevice, FakeSubprocess, FakeU2
from fakes import real_adb  # noqa: F401 (fixture)

ostrel = pytest.importorskip("zelvik.core.ostrel")
HEADER = "List of devices attached\n"
INFO = SAMPLE_INFO
RECORD = {"model": "Pixel 5", "brand": "google", "version": "13", "sdk": 33, "resolution": "1080x2340"}


def run(coro):
    return asyncio.run(coro)


@pytest.fixture
def env(monkeypatch):
    """Fakes for subprocess, u2, time and datetime; `env.adb(*serials)` sets the device list."""
    class Env:
        proc = FakeSubprocess()
        u2 = FakeU2()
        clock = FakeClock()

        def adb(self, *serials):
            out = HEADER + "".join(s + "\tdevice\n" for s in serials)
            self.proc.answers[("adb", "devices")] = Completed(0, out)
            for s in serials:
                self.u2.devices.setdefault(s, FakeDevice(dict(INFO), app={"package": "com.x"}))

    e = Env()
    for name, fake in [("subprocess", e.proc), ("u2", e.u2), ("time", e.clock), ("datetime", e.clock.datetime)]:
        monkeypatch.setattr(ostrel, name, fake)
    return e


def test_module_namespace_and_classes():
    names = [n for n in vars(ostrel) if not n.startswith("__")]
    assert names == ["asyncio", "time", "socket", "ipaddress", "Dict", "List", "Optional", "datetime", "u2",
                     "subprocess", "concurrent", "threading", "BaseDeviceManager", "list_devices", "DeviceManager"]
    assert ostrel.datetime is datetime.datetime and ostrel.u2 is uiautomator2
    assert ostrel.concurrent.futures is concurrent.futures and ostrel.socket is socket
    assert ostrel.__doc__ == "\n设备管理核心模块\n基于已有的DeviceManager进行扩展，专门用于Zelvik\n"
    for cls, doc in [(ostrel.BaseDeviceManager, "基础设备管理器"), (ostrel.DeviceManager, "Zelvik专用设备管理器")]:
        assert cls.__mro__ == (cls, object) and cls.__doc__ == doc and cls.__module__ == "zelvik.core.ostrel"
    assert [n for n in vars(ostrel.DeviceManager) if not n.startswith("__")] == [
        "initialize", "cleanup", "scan_devices", "_get_device_info", "get_all_devices", "get_device",
        "connect_device", "disconnect_device", "get_device_status", "get_timestamp", "should_refresh_devices",
        "discover_wifi_devices", "_parse_ip_range", "_scan_single_ip", "connect_wifi_device",
        "disconnect_wifi_device"]
    dm = ostrel.DeviceManager
    assert dm._get_device_info.__annotations__ == {"device_id": "str", "ostrel": "BaseDeviceManager", "return": "dict"}
    assert dm.connect_device.__annotations__ == {"device_id": "str", "auto_screenshot": "bool", "return": "dict"}
    assert dm._scan_single_ip.__annotations__ == {"ip": "str", "port": "int", "timeout": "float",
                                                  "return": "Optional[dict]"}
    assert dm.get_device.__annotations__["return"] == "Optional[BaseDeviceManager]"
    assert dm.disconnect_device.__annotations__ == {"device_id": "str"}
    assert ostrel.list_devices.__doc__ == "获取设备列表" and dm.get_all_devices.__doc__ == "获取所有设备（从缓存）"
    assert ostrel.BaseDeviceManager.connect.__doc__ is None and not ostrel.BaseDeviceManager.connect.__annotations__


@pytest.mark.parametrize("stdout, serials", [
    (HEADER + "emulator-5554\tdevice\nR58M12ABC\tunauthorized\n\n", ["emulator-5554", "R58M12ABC"]),
    (HEADER, []),
    ("", []),
    ("emulator-5554\tdevice\n", []),  # the first line is dropped whatever it says
    (HEADER + "* daemon started successfully\n\tdevice\nA\toffline\nA\tdevice\n", ["A", "A"]),
    ("  " + HEADER + "10.0.0.5:5555\tdevice\u3000\n", ["10.0.0.5:5555"]),
])
def test_list_devices_parses_adb_output(env, stdout, serials):
    env.proc.answers[("adb", "devices")] = Completed(0, stdout)
    assert ostrel.list_devices() == serials
    assert env.proc.calls == [(["adb", "devices"], {"capture_output": True, "text": True, "timeout": 5})]


@pytest.mark.parametrize("answer", [Completed(1, HEADER + "A\tdevice\n"), FileNotFoundError("adb"),
                                    subprocess.TimeoutExpired(["adb"], 5), Completed(0, b"bytes\nA\tdevice")])
def test_list_devices_failures_give_empty_list(env, answer):
    env.proc.answers[("adb", "devices")] = answer
    assert ostrel.list_devices() == []


def test_list_devices_lets_base_exceptions_through_and_takes_no_arguments(env):
    env.proc.default = KeyboardInterrupt()
    with pytest.raises(KeyboardInterrupt):
        ostrel.list_devices()
    with pytest.raises(TypeError, match=r"^list_devices\(\) takes no arguments \(1 given\)$"):
        ostrel.list_devices(1)


def test_list_devices_through_adb_processes(monkeypatch, tmp_path):
    adb = FakeAdb(monkeypatch, tmp_path)
    adb.answer("devices", stdout=HEADER + "emulator-5554\tdevice\n")
    assert ostrel.list_devices() == ["emulator-5554"]
    adb.answer("devices", stdout=HEADER + "emulator-5554\tdevice\n", returncode=1)
    assert ostrel.list_devices() == [] and adb.calls() == [["devices"], ["devices"]]
    monkeypatch.setenv("PATH", str(tmp_path))  # no adb at all
    assert ostrel.list_devices() == []


def test_list_devices_with_real_adb_and_no_device(real_adb):
    assert ostrel.list_devices() == []


def test_base_device_manager_lifecycle(env):
    dev = ostrel.BaseDeviceManager(device_id="A")
    assert (dev.device_id, dev.device, dev.is_connected) == ("A", None, False)
    assert dev.get_device_info() == {} and dev.get_current_app() is None and env.u2.connects == []
    dev.disconnect()
    assert (dev.device, dev.is_connected) == (None, False)
    first = env.u2.devices["A"] = FakeDevice(dict(INFO), app={"package": "com.x"})
    assert dev.connect() is None and dev.device is first and dev.is_connected is True
    assert dev.get_device_info() == RECORD and list(dev.get_device_info()) == list(RECORD)
    assert dev.get_current_app() == {"package": "com.x"}
    boom = env.u2.devices["A"] = RuntimeError("boom")
    with pytest.raises(RuntimeError) as info:
        dev.connect()
    assert info.value is boom and dev.is_connected is False and dev.device is first
    env.u2.devices["A"] = KeyboardInterrupt()
    dev.is_connected = True
    with pytest.raises(KeyboardInterrupt):
        dev.connect()
    assert dev.is_connected is True  # no reset outside the Exception family
    dev.disconnect()
    assert (dev.device, dev.is_connected) == (None, False)
    with pytest.raises(TypeError):
        ostrel.BaseDeviceManager()


@pytest.mark.parametrize("info, record", [
    ({"sdkInt": 30, "displayWidth": 1080, "displayHeight": 2400},
     {"model": "Unknown", "brand": "Unknown", "version": "Unknown", "sdk": 30, "resolution": "1080x2400"}),
    ({"model": None, "displayWidth": 720},
     {"model": None, "brand": "Unknown", "version": "Unknown", "sdk": "Unknown", "resolution": "720x0"}),
    (RuntimeError("offline"), {}),
    (KeyboardInterrupt(), {}),  # every exception is swallowed here
])
def test_base_device_info_record(info, record):
    dev = ostrel.BaseDeviceManager("A")
    dev.device = FakeDevice(info, app=info)
    assert dev.get_device_info() == record
    assert dev.get_current_app() is (None if isinstance(info, BaseException) else info)


# ---------------------------------------------------------------- DeviceManager


def test_fresh_manager(env):
    dm = ostrel.DeviceManager()
    assert vars(dm) == {"_devices": {}, "_device_info_cache": {}, "_last_scan_time": None, "_scan_interval": 5.0}
    assert dm.should_refresh_devices() is True and dm.get_all_devices() == [] and dm.get_device("x") is None
    assert dm.get_timestamp() == env.clock.datetime.now().isoformat()


@pytest.mark.parametrize("app, has_app", [({"package": "com.x"}, True), (None, False), ({}, False),
                                          (RuntimeError("app"), False)])
def test_scan_builds_and_caches_records(env, app, has_app):
    env.adb("A")
    env.u2.devices["A"].app = app
    dm = ostrel.DeviceManager()
    run(dm.initialize())
    record = dm._device_info_cache["A"]
    keys = ["id", "model", "brand", "version", "sdk", "resolution", "status", "connected", "_cache_time"]
    assert list(record) == keys + ["current_app"] * has_app
    assert record["id"] == "A" and record["status"] == "connected" and record["connected"] is True
    assert record["_cache_time"] == env.clock.now and {k: record[k] for k in RECORD} == RECORD
    assert dm.get_all_devices() == [record] and dm.get_device("A") is dm._devices["A"]
    assert dm._last_scan_time == env.clock.datetime.now()


def test_scan_reports_errors_and_reconciles_the_table(env):
    env.adb("A", "B", "C")
    env.u2.devices["B"] = RuntimeError("no route")
    dm = ostrel.DeviceManager()
    first = run(dm.scan_devices())
    assert first[1] == {"id": "B", "model": "Unknown", "brand": "Unknown", "status": "error",
                        "error": "no route", "connected": False, "_cache_time": env.clock.now}
    assert [r["id"] for r in first] == ["A", "B", "C"] and "B" in dm._devices
    assert list(dm._device_info_cache) == ["A", "C"]
    dm._device_info_cache["C"]["_cache_time"] = "bad"  # fails outside _get_device_info's handler
    a, old_table = dm._devices["A"], dm._devices
    env.adb("A", "C")
    env.u2.devices["A"] = RuntimeError("gone")
    second = run(dm.scan_devices())
    assert second[0] is first[0]  # served from the cache
    assert list(second[1]) == ["id", "model", "brand", "status", "error"] and second[1]["status"] == "error"
    assert dm._devices == {"A": a, "C": dm._devices["C"]} and dm._devices is not old_table
    assert "B" not in dm._device_info_cache and env.u2.connects == ["A", "B", "C"]


def test_scan_disconnects_vanished_devices_and_survives_failures(env, monkeypatch):
    env.adb("A", "B")
    dm = ostrel.DeviceManager()
    run(dm.scan_devices())
    a = dm._devices["A"]
    monkeypatch.setattr(dm._devices["B"], "disconnect", lambda: 1 / 0)
    env.adb()
    env.clock.advance(1)
    assert run(dm.scan_devices()) == [] and dm._devices == {} and dm._device_info_cache == {}
    stamp = dm._last_scan_time
    assert stamp == env.clock.datetime.now() and (a.device, a.is_connected) == (None, False)
    monkeypatch.setattr(ostrel, "list_devices", lambda: 1 / 0)
    env.clock.advance(1)
    assert run(dm.scan_devices()) == [] and dm._last_scan_time == stamp


@pytest.mark.parametrize("listed, kept, result", [
    (["B", "A"], ["A", "B"], ["B", "A"]),           # same devices, another order
    (["A", "X", "B"], ["A", "B", "X"], ["A", "X", "B"]),  # a new device between them
    (("A",), ["A"], ["A"]),                          # not a list: B goes
    (iter(["A"]), [], ["A"]),                        # walked once: the set of it is empty
    (["A", ["x"]], ["A", "B"], []),                  # an unhashable serial fails the scan
])
def test_scan_reconciles_whatever_list_devices_gives(env, monkeypatch, listed, kept, result):
    env.adb("A", "B", "X")
    dm = ostrel.DeviceManager()
    monkeypatch.setattr(ostrel, "list_devices", lambda: ["A", "B"])
    run(dm.scan_devices())
    monkeypatch.setattr(ostrel, "list_devices", lambda: listed)
    got = run(dm.scan_devices())
    assert [r["id"] for r in got] == result
    assert sorted(dm._device_info_cache) == kept


@pytest.mark.parametrize("age, reconnects", [(29.9, False), (30, True), (31, True)])
def test_cache_window(env, age, reconnects):
    env.adb("A")
    dm = ostrel.DeviceManager()
    first = run(dm.scan_devices())[0]
    env.clock.advance(age)
    again = run(dm.scan_devices())[0]
    assert (again is not first) is reconnects and len(env.u2.connects) == 1 + reconnects
    assert env.u2.devices["A"].info_reads == 1 + reconnects


@pytest.mark.parametrize("stamp", [None, 0, "missing"])
def test_stale_stamps_rebuild_the_record(env, stamp):
    env.adb("A")
    dm = ostrel.DeviceManager()
    record = run(dm.scan_devices())[0]
    if stamp == "missing":
        del record["_cache_time"]
    else:
        record["_cache_time"] = stamp
    assert run(dm._get_device_info("A", dm._devices["A"])) is not record and env.u2.connects == ["A", "A"]


@pytest.mark.parametrize("elapsed, due", [(4.9, False), (5.0, False), (5.1, True)])
def test_refresh_boundary(env, elapsed, due):
    dm = ostrel.DeviceManager()
    run(dm.scan_devices())
    env.clock.advance(elapsed)
    assert dm.should_refresh_devices() is due


def test_cleanup_empties_in_place(env, monkeypatch):
    env.adb("A", "B")
    dm = ostrel.DeviceManager()
    run(dm.scan_devices())
    table, cache, stamp = dm._devices, dm._device_info_cache, dm._last_scan_time
    a = table["A"]
    monkeypatch.setattr(table["B"], "disconnect", lambda: 1 / 0)
    assert run(dm.cleanup()) is None
    assert dm._devices is table == {} and dm._device_info_cache is cache == {} and dm._last_scan_time == stamp
    assert a.is_connected is False and a.device is None


def test_connect_device(env):
    env.adb("A")
    dm = ostrel.DeviceManager()
    record = run(dm.connect_device("A", auto_screenshot=0))
    assert record == {**RECORD, "status": "connected", "connected": True, "_cache_time": env.clock.now,
                      "auto_screenshot": False}
    assert list(record)[5:] == ["status", "connected", "_cache_time", "auto_screenshot"]
    assert dm._device_info_cache["A"] is record and dm.get_all_devices() == [record]
    env.u2.devices["A"] = FakeDevice(RuntimeError("info"))
    assert list(run(dm.connect_device("A"))) == ["status", "connected", "_cache_time", "auto_screenshot"]


def test_connect_unknown_device_scans_first(env):
    dm = ostrel.DeviceManager()
    with pytest.raises(ValueError) as info:
        run(dm.connect_device("ghost"))
    assert str(info.value) == "设备 ghost 不存在" and info.value.__context__ is None
    assert env.proc.calls[0][0] == ["adb", "devices"]


def test_connect_failures_are_wrapped_and_chained(env):
    env.adb("A")
    dm = ostrel.DeviceManager()
    run(dm.scan_devices())
    boom = env.u2.devices["A"] = RuntimeError("boom")
    with pytest.raises(Exception) as info:
        run(dm.connect_device("A"))
    assert type(info.value) is Exception and str(info.value) == "连接设备失败: boom"
    assert info.value.__context__ is boom and info.value.__cause__ is None

    class Silent(ostrel.BaseDeviceManager):
        def connect(self):
            pass
    dm._devices["A"] = Silent("A")
    with pytest.raises(Exception, match="^连接设备失败: 连接失败$") as info:
        run(dm.connect_device("A"))
    assert str(info.value.__context__) == "连接失败" and info.value.__context__.__context__ is None


def test_disconnect_and_status(env, monkeypatch):
    env.adb("A")
    dm = ostrel.DeviceManager()
    assert run(dm.disconnect_device("nope")) is None and dm._devices == {}
    with pytest.raises(ValueError, match="^设备 nope 不存在$"):
        run(dm.get_device_status("nope"))
    run(dm.connect_device("A"))
    status = run(dm.get_device_status("A"))
    assert status == {"device_id": "A", "connected": True, "status": "connected",
                      "last_check": env.clock.datetime.now().isoformat()}
    stamp = dm._device_info_cache["A"]["_cache_time"]
    env.u2.devices.clear()  # unplugged: status never asks the device
    assert run(dm.disconnect_device("A")) is None
    assert run(dm.get_device_status("A"))["status"] == "disconnected"
    cached = dm._device_info_cache["A"]
    assert (cached["status"], cached["connected"], cached["_cache_time"]) == ("disconnected", False, stamp)
    monkeypatch.setattr(dm._devices["A"], "disconnect", lambda: 1 / 0)
    with pytest.raises(Exception, match="^断开设备失败: division by zero$") as info:
        run(dm.disconnect_device("A"))
    assert isinstance(info.value.__context__, ZeroDivisionError)


class Text(str):
    pass


@pytest.mark.parametrize("value, got", [(1, "int"), (None, "NoneType"), (Text("A"), "Text")])
@pytest.mark.parametrize("method", ["connect_device", "disconnect_device", "get_device_status", "get_device",
                                    "_get_device_info"])
def test_device_id_must_be_exact_str(env, method, value, got):
    dm = ostrel.DeviceManager()
    args = (value, None) if method == "_get_device_info" else (value,)
    with pytest.raises(TypeError, match=rf"^Argument 'device_id' has incorrect type \(expected str, got {got}\)"):
        getattr(dm, method)(*args)  # raised at the call, before any coroutine exists
    assert env.proc.calls == []


class Record(dict):
    pass


@pytest.mark.parametrize("override", [False, True])
def test_scan_checks_get_device_info_arguments_and_result(env, monkeypatch, override):
    class Manager(ostrel.DeviceManager):
        if override:  # the same method, reached through a Python override
            async def _get_device_info(self, device_id, ostrel):
                return await super()._get_device_info(device_id, ostrel)
    dm = Manager()
    dm._device_info_cache["B"] = Record(_cache_time=env.clock.now)
    monkeypatch.setattr(ostrel, "list_devices", lambda: [1, "B"])
    one, b = run(dm.scan_devices())
    assert one["error"] == "Argument 'device_id' has incorrect type (expected str, got int)"
    assert b["status"] == "error" and b["error"] == "Expected dict, got Record"
