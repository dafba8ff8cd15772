"""The real adb program, and an adb server of its own for virtual devices.

The program is the `adb` on PATH, else the one inside the adbutils wheel
(a uiautomator2 dependency). The server runs as a child process
(`adb -P PORT nodaemon server`) on a free loopback port, never on the
user's 5037, and looks for no emulator, USB or mDNS device: it sees only
the devices connected to it with `adb connect`.
"""
import importlib.util
import os
import shutil
import socket
import subprocess
import time
from pathlib import Path
from typing import NamedTuple, Optional, Tuple

QUIET = {"ADB_EMU": "0", "ADB_USB": "0", "ADB_MDNS": "0"}
START_TIMEOUT = 10.0


class AdbProgram(NamedTuple):
    path: str
    version: str  # e.g. "1.0.41 (29.0.6-debian)"
    on_path: bool  # False: the copy inside adbutils


def bundled_adb() -> Optional[str]:
    """The adb inside the installed adbutils package, if any."""
    spec = importlib.util.find_spec("adbutils")
    if spec is None or not spec.submodule_search_locations:
        return None
    path = Path(list(spec.submodule_search_locations)[0]) / "binaries" / "adb"
    return str(path) if path.is_file() and os.access(path, os.X_OK) else None


def release_and_build(path: str, timeout: float) -> Tuple[str, str]:
    """("1.0.41", "29.0.6-debian") from `adb version`, "" for either that it
    does not print; OSError or SubprocessError if it does not run."""
    # "Android Debug Bridge version 1.0.41", "Version 29.0.6-debian", "Installed as ..."
    lines = subprocess.run([path, "version"], capture_output=True, text=True, timeout=timeout).stdout.splitlines()
    release = lines[0].split()[-1] if lines and lines[0].strip() else ""
    build = lines[1].split(" ", 1)[-1].strip() if len(lines) > 1 and lines[1].startswith("Version ") else ""
    return release, build


def version_of(path: str) -> str:
    """ "1.0.41 (29.0.6-debian)" from `adb version`; "" if it does not run."""
    try:
        release, build = release_and_build(path, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return ""
    return f"{release} ({build})" if build else release


def find_program() -> Optional[AdbProgram]:
    path = shutil.which("adb")
    if path is not None:
        return AdbProgram(path, version_of(path), True)
    path = bundled_adb()
    return AdbProgram(path, version_of(path), False) if path is not None else None


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class AdbServerError(Exception):
    pass


class AdbServer:
    """A private adb server, started and stopped by this object."""

    def __init__(self, program: str):
        self.program = program
        self.port = 0
        self.process: Optional[subprocess.Popen] = None

    @property
    def env(self) -> dict:
        return dict(os.environ, ANDROID_ADB_SERVER_PORT=str(self.port), **QUIET)

    def start(self) -> "AdbServer":
        self.port = free_port()
        # A session of its own: a Ctrl-C at the terminal leaves it to stop().
        self.process = subprocess.Popen([self.program, "-P", str(self.port), "nodaemon", "server"], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                self.process = None
                raise AdbServerError(f"the adb server on port {self.port} quit at start")
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return self
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise AdbServerError(f"the adb server on port {self.port} did not start within {START_TIMEOUT:g} s")

    def run(self, *args: str, timeout: float = 10) -> subprocess.CompletedProcess:
        return subprocess.run([self.program, "-P", str(self.port), *args], env=self.env,
                              capture_output=True, text=True, timeout=timeout)

    def connect(self, serial: str) -> None:
        """`adb connect`, then waits until the device is online."""
        result = self.run("connect", serial)
        if result.stdout.startswith(("connected to", "already connected to")):
            result = self.run("-s", serial, "wait-for-device")
            if result.returncode == 0:
                return
        raise AdbServerError(f"adb connect {serial}: {(result.stdout + result.stderr).strip()}")

    def stop(self) -> None:
        """kill-server (which also ends a server an adb client started on
        the port meanwhile), then the child's end (killed if it lingers)."""
        process, self.process = self.process, None
        if process is None:
            return
        try:
            self.run("kill-server", timeout=5)
        except (OSError, subprocess.SubprocessError):
            pass
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
