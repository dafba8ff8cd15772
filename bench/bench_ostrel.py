"""Benchmark of zelvik.core.ostrel.

1. discover_wifi_devices("127.0.0.1-127.0.0.254") on a closed port (every
   probe is refused by the loopback interface; nothing leaves 127.0.0.0/8).
2. A scan of 50 fake devices (fake subprocess and uiautomator2), with a warm
   and a cold information cache, next to the same steps written in plain
   Python below.
3. Traced memory over 100,000 awaited get_device_status calls and 10,000
   warm scans, after a warm-up, then over as many again: it stays flat.

    python3 bench/bench_ostrel.py
"""
import asyncio
import datetime as _datetime
import gc
import os
import socket
import sys
import time
import tracemalloc
from typing import List

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zelvik.core import ostrel  # noqa: E402

DEVICES = 50
SCANS = 300
STATUS_CALLS = 100_000
WARM_SCANS = 10_000


# ---------------------------------------------------------------- fakes

class Completed:
    def __init__(self, returncode, stdout):
        self.returncode, self.stdout, self.stderr = returncode, stdout, ""


class FakeSubprocess:
    def __init__(self, stdout):
        self.result = Completed(0, stdout)

    def run(self, args, **kwargs):
        return self.result


class FakeDevice:
    info = {"model": "Pixel 5", "brand": "google", "version": "13", "sdkInt": 33,
            "displayWidth": 1080, "displayHeight": 2340}

    def app_current(self):
        return {"package": "com.example", "activity": ".Main"}


class FakeU2:
    device = FakeDevice()

    def connect(self, serial):
        return self.device


SERIALS = [f"emulator-{5554 + 2 * i}" for i in range(DEVICES)]
ADB_OUTPUT = "List of devices attached\n" + "".join(s + "\tdevice\n" for s in SERIALS) + "\n"
subprocess = FakeSubprocess(ADB_OUTPUT)
u2 = FakeU2()
datetime = _datetime.datetime


# ---------------------------------------------------------------- plain Python

def list_devices():
    try:
        result = subprocess.run(["adb", "devices"], capture_output=True, text=True, timeout=5)
        if result.returncode != 0:
            return []
        devices = []
        for line in result.stdout.strip().split("\n")[1:]:
            if line.strip() and "\t" in line:
                device_id = line.split("\t")[0]
                if device_id:
                    devices.append(device_id)
        return devices
    except Exception:
        return []


class BaseDeviceManager:
    def __init__(self, device_id):
        self.device_id = device_id
        self.device = None
        self.is_connected = False

    def connect(self):
        try:
            self.device = u2.connect(self.device_id)
            self.is_connected = True
        except Exception:
            self.is_connected = False
            raise

    def disconnect(self):
        self.is_connected = False
        self.device = None

    def get_device_info(self):
        if not self.device:
            return {}
        try:
            info = self.device.info
            return {"model": info.get("model", "Unknown"), "brand": info.get("brand", "Unknown"),
                    "version": info.get("version", "Unknown"), "sdk": info.get("sdkInt", "Unknown"),
                    "resolution": f"{info.get('displayWidth', 0)}x{info.get('displayHeight', 0)}"}
        except BaseException:
            return {}

    def get_current_app(self):
        if not self.device:
            return None
        try:
            return self.device.app_current()
        except BaseException:
            return None


class DeviceManager:
    def __init__(self):
        self._devices = {}
        self._device_info_cache = {}
        self._last_scan_time = None
        self._scan_interval = 5.0

    async def scan_devices(self) -> List[dict]:
        try:
            device_ids = list_devices()
            current_devices = {}
            device_list = []
            for device_id in device_ids:
                try:
                    if device_id not in self._devices:
                        self._devices[device_id] = BaseDeviceManager(device_id)
                    ostrel = self._devices[device_id]
                    current_devices[device_id] = ostrel
                    device_info = await self._get_device_info(device_id, ostrel)
                    device_list.append(device_info)
                except Exception as e:
                    device_list.append({"id": device_id, "model": "Unknown", "brand": "Unknown",
                                        "status": "error", "error": str(e)})
            removed_devices = set(self._devices.keys()) - set(device_ids)
            for device_id in removed_devices:
                if device_id in self._devices:
                    try:
                        self._devices[device_id].disconnect()
                    except Exception:
                        pass
                    del self._devices[device_id]
                if device_id in self._device_info_cache:
                    del self._device_info_cache[device_id]
            self._devices = current_devices
            self._last_scan_time = datetime.now()
            return device_list
        except Exception:
            return []

    async def _get_device_info(self, device_id: str, ostrel) -> dict:
        if device_id in self._device_info_cache:
            cache_time = self._device_info_cache[device_id].get("_cache_time")
            if cache_time and time.time() - cache_time < 30:
                return self._device_info_cache[device_id]
        try:
            ostrel.connect()
            device_info = ostrel.get_device_info()
            extended_info = {"id": device_id}
            for key in ("model", "brand", "version", "sdk", "resolution"):
                extended_info[key] = device_info.get(key, "Unknown")
            extended_info["status"] = "connected" if ostrel.is_connected else "disconnected"
            extended_info["connected"] = ostrel.is_connected
            extended_info["_cache_time"] = time.time()
            try:
                current_app = ostrel.get_current_app()
                if current_app:
                    extended_info["current_app"] = current_app
            except Exception:
                pass
            self._device_info_cache[device_id] = extended_info
            return extended_info
        except Exception as e:
            return {"id": device_id, "model": "Unknown", "brand": "Unknown", "status": "error", "error": str(e),
                    "connected": False, "_cache_time": time.time()}


# ---------------------------------------------------------------- runs

def drive(coro):
    """Runs a coroutine that never suspends, as one step of an event loop would."""
    try:
        coro.send(None)
    except StopIteration as stop:
        return stop.value
    raise RuntimeError("the coroutine suspended")


def time_scans(managers, cold):
    """CPU time of one scan for each manager (process time: the machine may be
    shared), best of 7 runs, the managers taking turns so that a busy spell
    falls on both."""
    for manager in managers:
        drive(manager.scan_devices())
    best = [float("inf")] * len(managers)
    for _ in range(7):
        for k, manager in enumerate(managers):
            begin = time.process_time()
            for _ in range(SCANS):
                if cold:
                    manager._device_info_cache.clear()
                drive(manager.scan_devices())
            best[k] = min(best[k], (time.process_time() - begin) / SCANS)
    return best


def bench_scans():
    ostrel.subprocess = subprocess
    ostrel.u2 = u2
    native, plain = ostrel.DeviceManager(), DeviceManager()
    same = [{k: v for k, v in r.items() if k != "_cache_time"} for r in drive(native.scan_devices())]
    assert same == [{k: v for k, v in r.items() if k != "_cache_time"} for r in drive(plain.scan_devices())]
    print(f"scan of {DEVICES} fake devices, Python {sys.version.split()[0]} (CPU time per scan)")
    for label, cold in [("warm cache", False), ("cold cache", True)]:
        n, p = time_scans([native, plain], cold)
        print(f"  {label}: native {n * 1e6:8.1f} us   plain Python {p * 1e6:8.1f} us   {p / n:4.1f}x")


def bench_discovery():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]  # closed once the socket is
    manager = ostrel.DeviceManager()
    best = float("inf")
    for _ in range(3):
        begin = time.perf_counter()
        found = asyncio.run(manager.discover_wifi_devices("127.0.0.1-127.0.0.254", port))
        best = min(best, time.perf_counter() - begin)
        assert found == []
    print(f"discover_wifi_devices over 254 closed loopback addresses: {best * 1e3:.0f} ms (best of 3)")


def traced_growth(label, run, count):
    """Traced memory after a warm-up, after `count` calls and after `count` more."""
    run(count // 10)
    gc.collect()
    tracemalloc.start()
    sizes = [tracemalloc.get_traced_memory()[0]]
    for _ in range(2):
        run(count)
        gc.collect()
        sizes.append(tracemalloc.get_traced_memory()[0])
    tracemalloc.stop()
    print(f"  {label}: traced memory {sizes[0]} -> {sizes[1]} -> {sizes[2]} bytes"
          f" (second round {sizes[2] - sizes[1]:+d})")


def bench_memory():
    ostrel.subprocess = subprocess
    ostrel.u2 = u2
    manager = ostrel.DeviceManager()
    drive(manager.scan_devices())

    async def status(count):
        for _ in range(count):
            await manager.get_device_status(SERIALS[0])

    async def scans(count):
        for _ in range(count):
            await manager.scan_devices()

    print("memory")
    traced_growth(f"{STATUS_CALLS:,} awaited get_device_status", lambda n: asyncio.run(status(n)), STATUS_CALLS)
    traced_growth(f"{WARM_SCANS:,} warm scans", lambda n: asyncio.run(scans(n)), WARM_SCANS)


if __name__ == "__main__":
    bench_discovery()
    bench_scans()
    bench_memory()
