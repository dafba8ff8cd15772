"""`zelvik --version`: the package, the interpreter, adb and uiautomator2."""
import argparse
import importlib.util
import platform
import shutil
import subprocess
import sys
from importlib import metadata
from pathlib import Path
from typing import List

import zelvik


def _core_state() -> str:
    """Whether the core modules are built beside the package (found
    without importing them)."""
    spec = importlib.util.find_spec("zelvik.core.ostrel")
    built = spec is not None and spec.origin not in (None, "namespace") and spec.submodule_search_locations is None
    return "core modules built" if built else "core modules not built"


def _adb() -> str:
    path = shutil.which("adb")
    if path is None:
        return "adb not found on PATH"
    try:
        lines = subprocess.run([path, "version"], capture_output=True, text=True, timeout=5).stdout.splitlines()
    except (OSError, subprocess.SubprocessError) as e:
        return f"adb {path} does not answer `adb version` ({e})"
    # "Android Debug Bridge version 1.0.41", "Version 34.0.4-debian", "Installed as ..."
    version = lines[0].split()[-1] if lines and lines[0].strip() else "(version unknown)"
    tools = [line.strip() for line in lines[1:2] if line.startswith("Version ")]
    return " ".join(["adb", version, *(f"({v})" for v in tools), path])


def _uiautomator2() -> str:
    try:
        return f"uiautomator2 {metadata.version('uiautomator2')}"
    except metadata.PackageNotFoundError:
        return "uiautomator2 not installed"


def version_lines() -> List[str]:
    return [f"zelvik-core {zelvik.__version__} {Path(zelvik.__file__).parent} ({_core_state()})",
            f"Python {platform.python_version()} ({platform.python_implementation()}) {sys.executable}",
            _adb(), _uiautomator2()]


class VersionAction(argparse.Action):
    """--version: prints the versions and ends the run (adb is asked only then)."""

    def __init__(self, option_strings, dest, **kwargs):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser, namespace, values, option_string=None):
        print("\n".join(version_lines()))
        parser.exit()
