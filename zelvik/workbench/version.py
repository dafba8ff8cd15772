"""`zelvik --version`: the package, the interpreter, adb and uiautomator2."""
import argparse
import importlib.util
import platform
import shutil
import subprocess
import sys
from importlib import metadata
from pathlib import Path
from typing import List, Optional

import zelvik
from zelvik.virtual.adb import release_and_build


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
        release, build = release_and_build(path, timeout=5)
    except (OSError, subprocess.SubprocessError) as e:
        return f"adb {path} does not answer `adb version` ({e})"
    return " ".join(["adb", release or "(version unknown)", *([f"(Version {build})"] if build else []), path])


def installed_version(distribution: str) -> Optional[str]:
    """The installed version of `distribution`, None if it is not installed."""
    try:
        return metadata.version(distribution)
    except metadata.PackageNotFoundError:
        return None


def _uiautomator2() -> str:
    version = installed_version("uiautomator2")
    return f"uiautomator2 {version}" if version else "uiautomator2 not installed"


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
