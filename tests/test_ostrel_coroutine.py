"""The native coroutine objects of DeviceManager's async methods: suspension,
send / throw / close, cancellation, introspection, GC, warnings."""
import asyncio
import collections.abc
import gc
import inspect
import sys
import weakref

import pytest

from fakes import SAMPLE_INFO, Completed, FakeDevice, FakeSubprocess, FakeU2

ostrel = pytest.importorskip("zelvik.core.ostrel")
ASYNC = ["initialize", "cleanup", "scan_devices", "_get_device_info", "connect_device", "disconnect_device",
         "get_device_status", "discover_wifi_devices", "connect_wifi_device", "disconnect_wifi_device"]


class Pause:
    """An awaitable that yields "paused" and returns what is sent back."""

    def __await__(self):
        return (yield "paused")


class Manager(ostrel.DeviceManager):
    """Its _get_device_info suspends once; its log shows what ran."""

    def __init__(self):
        super().__init__()
        self.log = []

    async def _get_device_info(self, device_id, ostrel):
        try:
            sent = await Pause()
        finally:
            self.log.append("inner done")
        self.log.append(sent)
        return {"id": device_id, "sent": sent}


@pytest.fixture(autouse=True)
def fakes(monkeypatch):
    proc = FakeSubprocess({("adb", "devices"): Completed(0, "List\nA\tdevice\n")})
    monkeypatch.setattr(ostrel, "subprocess", proc)
    monkeypatch.setattr(ostrel, "u2", FakeU2({"A": FakeDevice(dict(SAMPLE_INFO))}))
    return proc


def test_markers_and_introspection():
    dm = ostrel.DeviceManager()
    for name in ASYNC:
        assert asyncio.iscoroutinefunction(getattr(ostrel.DeviceManager, name))
        assert asyncio.iscoroutinefunction(getattr(dm, name))
        if sys.version_info >= (3, 12):
            assert inspect.iscoroutinefunction(getattr(dm, name))
    for name in ["get_device", "_parse_ip_range", "_scan_single_ip", "should_refresh_devices"]:
        assert not asyncio.iscoroutinefunction(getattr(dm, name))
    coro = dm.scan_devices()
    assert isinstance(coro, collections.abc.Coroutine) and asyncio.iscoroutine(coro)
    assert (coro.__name__, coro.__qualname__) == ("scan_devices", "DeviceManager.scan_devices")
    assert repr(coro).startswith("<coroutine object DeviceManager.scan_devices at 0x")
    assert coro.cr_await is None and coro.cr_running is False and coro.__await__() is coro
    coro.__qualname__ = "renamed"
    assert coro.__qualname__ == "renamed"
    coro.close()


def test_nothing_runs_before_the_first_send(fakes):
    dm = Manager()
    coro = dm.initialize()
    assert fakes.calls == [] and dm.log == []
    with pytest.raises(TypeError, match="can't send non-None value to a just-started coroutine"):
        coro.send(1)
    assert coro.send(None) == "paused" and fakes.calls[0][0] == ["adb", "devices"]
    scan = coro.cr_await
    assert scan.__qualname__ == "DeviceManager.scan_devices" and scan.cr_await.cr_code.co_name == "_get_device_info"
    with pytest.raises(StopIteration) as stop:
        coro.send("reply")
    assert stop.value.value is None and dm.log == ["inner done", "reply"] and coro.cr_await is None
    with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
        coro.send(None)


def test_iteration_and_return_value():
    coro = Manager().scan_devices()
    it = iter(coro.__await__())
    assert next(it) == "paused" and next(it, "end") == "end"
    coro = Manager().scan_devices()
    coro.send(None)
    with pytest.raises(StopIteration) as stop:
        coro.send("x")
    assert stop.value.value == [{"id": "A", "sent": "x"}]


@pytest.mark.parametrize("args", [(ValueError("x"),), (ValueError, "x"), (ValueError, ValueError("x")),
                                  (ValueError("x"), None, None)])
def test_exception_thrown_in_reaches_the_innermost_await(args, recwarn):
    dm = Manager()
    coro = dm.scan_devices()
    coro.send(None)
    with pytest.raises(StopIteration) as stop:
        coro.throw(*args)
    # the inner coroutine raised it; scan's handler turned it into an error entry
    assert stop.value.value == [{"id": "A", "model": "Unknown", "brand": "Unknown", "status": "error", "error": "x"}]
    assert dm.log == ["inner done"]


@pytest.mark.parametrize("exc", [asyncio.CancelledError, KeyboardInterrupt, SystemExit])
def test_base_exceptions_pass_every_handler(exc):
    dm = Manager()
    coro = dm.initialize()
    coro.send(None)
    with pytest.raises(exc):
        coro.throw(exc())
    assert dm.log == ["inner done"] and dm._last_scan_time is None


def test_throw_before_start_and_bad_throw_arguments():
    coro = Manager().initialize()
    with pytest.raises(ValueError):
        coro.throw(ValueError)
    coro = Manager().initialize()
    for bad, message in [((), "at least 1 argument"), ((1,), "deriving from BaseException"),
                         ((ValueError("x"), 1), "may not have a separate value")]:
        with pytest.raises(TypeError, match=message):
            coro.throw(*bad)
    coro.close()


def test_close_reaches_the_awaited_coroutine():
    dm = Manager()
    coro = dm.initialize()
    assert coro.close() is None and dm.log == []  # unstarted: closed silently
    coro = dm.initialize()
    coro.send(None)
    assert coro.close() is None and dm.log == ["inner done"] and coro.cr_await is None
    assert coro.close() is None


def test_cr_running_inside_the_body():
    seen = []

    class Probe(ostrel.DeviceManager):
        async def scan_devices(self):
            seen.append(self.outer.cr_running)
            return []

    dm = Probe()
    dm.outer = dm.initialize()
    asyncio.run(dm.outer)
    assert seen == [True] and dm.outer.cr_running is False
    del dm.outer


def test_real_suspension_and_cancellation_on_a_loop():
    order = []

    class Sleepy(ostrel.DeviceManager):
        async def scan_devices(self):
            order.append("scan starts")
            await asyncio.sleep(0.01)
            order.append("scan ends")
            self._devices["A"] = ostrel.BaseDeviceManager("A")
            return []

    async def other():
        order.append("other runs")

    async def main():
        dm = Sleepy()
        await asyncio.gather(dm.initialize(), other())
        record = await dm.connect_device("A")  # "A" is not in the table yet when the call starts
        assert record["status"] == "connected"
        dm._devices.clear()
        task = asyncio.ensure_future(dm.connect_device("A"))
        await asyncio.sleep(0)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        return dm

    asyncio.run(main())
    assert order[:3] == ["scan starts", "other runs", "scan ends"] and order[-1] == "scan starts"


def test_arguments_are_checked_at_call_time():
    dm = ostrel.DeviceManager()
    with pytest.raises(TypeError, match=r"^initialize\(\) takes exactly one argument \(2 given\)$"):
        dm.initialize(1)
    with pytest.raises(TypeError, match="^connect_device\\(\\) got an unexpected keyword argument 'x'$"):
        dm.connect_device("A", x=1)
    with pytest.raises(TypeError, match="^connect_device\\(\\) takes at most 3 positional arguments \\(4 given\\)$"):
        dm.connect_device("A", True, 1)


def test_result_is_checked_when_the_coroutine_returns():
    class Record(dict):
        pass
    dm = ostrel.DeviceManager()
    dm._device_info_cache["A"] = Record(_cache_time=ostrel.time.time())
    with pytest.raises(TypeError, match="^Expected dict, got Record$"):
        asyncio.run(dm._get_device_info("A", None))


def test_never_awaited_warning():
    with pytest.warns(RuntimeWarning, match="coroutine 'DeviceManager.initialize' was never awaited"):
        ostrel.DeviceManager().initialize()
        gc.collect()


def test_suspended_cycles_are_collected():
    dm = Manager()
    dm.coro = dm.initialize()
    dm.coro.send(None)
    ref = weakref.ref(dm)
    del dm
    gc.collect()
    assert ref() is None


def test_runaway_await_recursion_raises_recursion_error():
    class Loop(ostrel.DeviceManager):
        async def scan_devices(self):
            await self.initialize()

    with pytest.raises(RecursionError):
        asyncio.run(Loop().initialize())
