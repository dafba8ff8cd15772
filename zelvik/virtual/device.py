"""The virtual device as uiautomator2 and adb see it.

`VirtualAndroid` is one virtual world: a directory holding the `adb`
program, the screen's PNG and the WiFi connections, plus a `connect` that
stands in for `uiautomator2.connect`. Put `world.adb_dir` first on PATH and
`world` in place of the `u2` module, and the core modules reach the virtual
device the way they reach a real one.
"""
import os
import shlex
import shutil
import stat
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Optional

from . import adb
from .hierarchy import from_xml, to_xml
from .render import render_png
from .screen import HEIGHT, SETTINGS, WIDTH, Node, settings_screen

# adb.py runs as a plain script in isolated mode: standard library only.
SHIM = """#!/bin/sh
exec {python} -I {script} {directory} "$@"
"""


class VirtualScreen:
    """What the device shows: the dump text, the PNG and the screen size."""

    def __init__(self, xml: str, png: bytes, width: int, height: int):
        self.xml, self.png, self.width, self.height = xml, png, width, height

    @classmethod
    def builtin(cls) -> "VirtualScreen":
        root = settings_screen()
        return cls(to_xml(root), render_png(root, WIDTH, HEIGHT), WIDTH, HEIGHT)

    @classmethod
    def from_dump(cls, xml: str) -> "VirtualScreen":
        """A screen serving a saved dump text as it is. The picture is drawn
        from it; a dump that does not parse shows an empty screen."""
        try:
            root = from_xml(xml)
        except (ET.ParseError, RecursionError):
            root = Node()
        edges = [n.bounds for n in root.walk() if n.bounds[2] > n.bounds[0]]
        width = max((b[2] for b in edges), default=0) or 1080
        height = max((b[3] for b in edges), default=0) or 2400
        return cls(xml, render_png(root, width, height), width, height)


class VirtualDevice:
    """The part of a uiautomator2 device object that the workbench uses."""

    def __init__(self, serial: str, screen: VirtualScreen):
        self.serial = serial
        self._screen = screen

    @property
    def info(self) -> dict:
        w, h = self._screen.width, self._screen.height
        return {"currentPackageName": SETTINGS, "displayHeight": h, "displayRotation": 0,
                "displaySizeDpX": w // 2, "displaySizeDpY": h // 2, "displayWidth": w,
                "productName": "zelvik_virtual_tab", "screenOn": True, "sdkInt": 34,
                "naturalOrientation": h > w, "model": "Zelvik Virtual Tab", "brand": "zelvik",
                "version": "14", "display": {"width": w, "height": h}}

    def app_current(self) -> dict:
        return {"package": SETTINGS, "activity": ".homepage.SettingsHomepageActivity", "pid": 4242}

    def dump_hierarchy(self, compressed=False, pretty=False, max_depth=None) -> str:
        return self._screen.xml


class VirtualAndroid:
    """A virtual world in a directory of its own; `close()` removes it."""

    def __init__(self, screen: Optional[VirtualScreen] = None):
        self.screen = screen or VirtualScreen.builtin()
        self.adb_dir = Path(tempfile.mkdtemp(prefix="zelvik-virtual-"))
        (self.adb_dir / adb.SCREEN).write_bytes(self.screen.png)
        shim = self.adb_dir / "adb"
        shim.write_text(SHIM.format(python=shlex.quote(sys.executable), script=shlex.quote(adb.__file__),
                                    directory=shlex.quote(str(self.adb_dir))))
        shim.chmod(shim.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)

    def serials(self) -> list:
        return adb.serials(self.adb_dir)

    def connect(self, serial: Optional[str] = None) -> VirtualDevice:
        """uiautomator2.connect: the virtual device or a WiFi device that
        `adb connect` attached; no serial means the first device."""
        serials = self.serials()
        serial = serial or serials[0]
        if serial not in serials:
            raise ConnectionError(f"device {serial} not found")
        return VirtualDevice(serial, self.screen)

    def put_first_on_path(self) -> None:
        os.environ["PATH"] = str(self.adb_dir) + os.pathsep + os.environ.get("PATH", "")

    def close(self) -> None:
        shutil.rmtree(self.adb_dir, ignore_errors=True)
