"""The device side of a workbench run: real devices through the user's adb
server, or the virtual device through an adb server of the run's own.

Either way the core modules reach the device the way they reach a phone:
`adb` as a child process and the real uiautomator2 (`ostrel.u2`).
"""
import asyncio
import os
import sys
from typing import Callable, List, Optional

from zelvik.virtual.adb import AdbProgram, AdbServer, AdbServerError, find_program

from . import device_errors
from .background import in_thread
from .errors import UsageError, WorkbenchError, core
from .progress import waiting
from .version import installed_version

NO_ADB = "no adb program: install adb (Debian/Ubuntu: apt-get install adb) or uiautomator2, whose adbutils has one"


def uiautomator2_version(u2) -> str:
    return installed_version("uiautomator2") or getattr(u2, "__version__", "unknown")


def point_at(server: AdbServer) -> Callable[[], None]:
    """Makes `adb` children (ANDROID_ADB_SERVER_PORT) and adbutils, hence
    uiautomator2, use `server`; returns the function that undoes it.
    adbutils reads the variable once, when it is imported, so its client
    object is replaced too."""
    import adbutils

    saved_port, saved_client = os.environ.get("ANDROID_ADB_SERVER_PORT"), adbutils.adb
    os.environ["ANDROID_ADB_SERVER_PORT"] = str(server.port)
    adbutils.adb = adbutils.AdbClient(port=server.port)

    def restore():
        adbutils.adb = saved_client
        restore_variable("ANDROID_ADB_SERVER_PORT", saved_port)

    return restore


class Devices:
    """Owns the DeviceManager of the run and, on the virtual device, the
    device and the private adb server it is connected to."""

    def __init__(self, manager_class=None):
        self.ostrel = core("ostrel")
        self.manager = (manager_class or self.ostrel.DeviceManager)()
        self.records: List[dict] = []
        self.program: Optional[AdbProgram] = None
        self.device = None
        self.server: Optional[AdbServer] = None
        self._undo: List[Callable[[], None]] = []
        self._scanning = False  # an interrupted scan's thread still uses the manager

    def find_adb(self) -> AdbProgram:
        """adb from PATH, else the copy inside adbutils, whose folder then
        goes first on PATH for the modules' `adb` children."""
        if self.program is None:
            program = find_program()
            if program is None:
                raise WorkbenchError(NO_ADB)
            if not program.on_path:
                saved = os.environ.get("PATH")
                os.environ["PATH"] = os.path.dirname(program.path) + os.pathsep + (saved or "")
                self._undo.append(lambda: restore_variable("PATH", saved))
                note(f"adb not found on PATH; using the one inside adbutils: {program.path}")
            self.program = program
        return self.program

    def use_virtual(self, screen_file: Optional[str] = None) -> None:
        """Starts the virtual device and a private adb server connected to
        it; from here on `adb` and uiautomator2 reach it."""
        from zelvik.virtual.device import VirtualDevice, VirtualScreen

        screen = None
        if screen_file is not None:
            try:
                with open(screen_file, encoding="utf-8") as f:
                    screen = VirtualScreen.from_dump(f.read())
            except (OSError, ValueError) as e:
                raise UsageError(f"cannot read the screen dump {screen_file}: {getattr(e, 'strerror', None) or e}") from e
        program = self.find_adb()
        self.device = VirtualDevice(screen).start()
        try:
            self.server = AdbServer(program.path).start()
            self._undo.append(point_at(self.server))
            self.server.connect(self.device.serial)
        except (AdbServerError, OSError) as e:
            raise WorkbenchError(f"cannot start the virtual device: {e}") from e
        note(f"virtual device {self.device.serial}: adb {program.path} {program.version}, "
             f"uiautomator2 {uiautomator2_version(self.ostrel.u2)}")

    async def open(self, virtual: bool, screen_file: Optional[str], device: Optional[str]) -> None:
        """Chooses real or virtual devices and scans them. Without a device
        named, an empty device list means the virtual device."""
        self.find_adb()
        if not (virtual or screen_file is not None):
            # The scan blocks while uiautomator2 connects: on a thread, with progress.
            self._scanning = True
            self.records = await waiting(in_thread(lambda: asyncio.run(self.manager.scan_devices())),
                                         "scanning devices")
            self._scanning = False
            if self.records or device is not None:
                return
            note("no device attached; using the virtual device")
        self.use_virtual(screen_file)
        self.records = await self.manager.scan_devices()

    def open_unscanned(self, virtual: bool, screen_file: Optional[str], why: str) -> None:
        """Sets up the virtual device when asked for; otherwise `adb` must be
        there. No scan: for work that needs no device table."""
        try:
            self.find_adb()
        except WorkbenchError:
            raise WorkbenchError(f"{NO_ADB}: {why}") from None
        if virtual or screen_file is not None:
            self.use_virtual(screen_file)

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
        """Drops the connections and stops the device; lets the calls still
        running on worker threads end (they fail at once, the device being
        gone) before the private server stops, so that none of them starts
        another server; then puts the environment back."""
        if not self._scanning:
            await self.manager.cleanup()
        if self.device is not None:
            self.device.stop()
            await asyncio.get_running_loop().shutdown_default_executor()
        if self.server is not None:
            self.server.stop()
        while self._undo:
            self._undo.pop()()


def restore_variable(name: str, value: Optional[str]) -> None:
    if value is None:
        os.environ.pop(name, None)
    else:
        os.environ[name] = value


def note(message: str) -> None:
    print(f"zelvik: {message}", file=sys.stderr)
