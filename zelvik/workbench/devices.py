"""The device side of a workbench run: real devices through adb, or the
virtual device, behind one DeviceManager."""
import asyncio
import os
import shutil
import sys
from typing import List, Optional

from zelvik.virtual import SERIAL

from . import device_errors
from .background import in_thread
from .errors import UsageError, WorkbenchError, core
from .progress import waiting


class Devices:
    """Owns the DeviceManager of the run and, on the virtual device, the
    virtual world that stands in for adb and uiautomator2."""

    def __init__(self, manager_class=None):
        self.ostrel = core("ostrel")
        self.manager = (manager_class or self.ostrel.DeviceManager)()
        self.world = None
        self.records: List[dict] = []
        self._saved = None

    def use_virtual(self, screen_file: Optional[str] = None) -> None:
        """From here on, `adb` and `u2.connect` reach the virtual device."""
        from zelvik.virtual.device import VirtualAndroid, VirtualScreen

        screen = None
        if screen_file is not None:
            try:
                with open(screen_file, encoding="utf-8") as f:
                    screen = VirtualScreen.from_dump(f.read())
            except (OSError, ValueError) as e:
                raise UsageError(f"cannot read the screen dump {screen_file}: {getattr(e, 'strerror', None) or e}") from e
        self.world = VirtualAndroid(screen)
        self._saved = (os.environ.get("PATH"), self.ostrel.u2)
        self.world.put_first_on_path()
        self.ostrel.u2 = self.world

    async def open(self, virtual: bool, screen_file: Optional[str], device: Optional[str]) -> None:
        """Chooses real or virtual devices and scans them. Without a device
        named, no adb or an empty device list means the virtual device."""
        virtual = virtual or screen_file is not None or device == SERIAL
        if not virtual:
            if shutil.which("adb") is None:
                if device is not None:
                    raise WorkbenchError(f"adb not found on PATH: cannot reach device {device}; "
                                         + device_errors.INSTALL_ADB)
                note(f"adb not found on PATH; using the virtual device {SERIAL}")
                virtual = True
            else:
                # The scan blocks while uiautomator2 connects: on a thread, with progress.
                self.records = await waiting(in_thread(lambda: asyncio.run(self.manager.scan_devices())),
                                             "scanning devices")
                if not self.records and device is None:
                    note(f"no device attached; using the virtual device {SERIAL}")
                    virtual = True
        if virtual:
            self.use_virtual(screen_file)
            self.records = await self.manager.scan_devices()

    def open_unscanned(self, virtual: bool, screen_file: Optional[str], why: str) -> None:
        """Sets up the virtual device when asked for; otherwise `adb` must be
        installed. No scan: for work that needs no device table."""
        if virtual or screen_file is not None:
            self.use_virtual(screen_file)
        elif shutil.which("adb") is None:
            raise WorkbenchError(f"adb not found on PATH: {why} (--virtual uses the virtual device); "
                                 + device_errors.INSTALL_ADB)

    def serial(self, device: Optional[str]) -> str:
        """The serial to work on: the one named, else the first that answers.
        One that the scan could not reach is refused, saying what to do."""
        known = [record.get("id") for record in self.records]
        if device is not None:
            if self.manager.get_device(device) is None:
                raise WorkbenchError(device_errors.unknown(device, known))
        elif not known:
            raise WorkbenchError("no device attached")
        else:
            working = [record["id"] for record in self.records if record.get("status") != "error"]
            device = (working or known)[0]
        failed = next((r for r in self.records if r.get("id") == device and r.get("status") == "error"), None)
        if failed is not None:
            raise WorkbenchError(device_errors.unreachable(device, failed.get("error", "")))
        return device

    async def close(self) -> None:
        await self.manager.cleanup()
        if self.world is not None:
            path, u2 = self._saved
            self.ostrel.u2 = u2
            if path is None:
                os.environ.pop("PATH", None)
            else:
                os.environ["PATH"] = path
            self.world.close()


def note(message: str) -> None:
    print(f"zelvik: {message}", file=sys.stderr)
