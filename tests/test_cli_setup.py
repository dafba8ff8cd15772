"""The workbench where a new user first meets it: --version, a source tree
without built modules, and the arguments that used to stumble."""
import os
import platform
import shutil
import subprocess
import sys
from importlib import metadata

import pytest

import zelvik
from fakes import FakeAdb
from test_cli import ROOT, zelvik as run_zelvik


def test_version_names_package_interpreter_adb_and_uiautomator2(tmp_path, monkeypatch):
    FakeAdb(monkeypatch, tmp_path).answer("version", stdout="Android Debug Bridge version 1.0.41\n"
                                                             "Version 34.0.4-fake\nInstalled as /x/adb\n")
    run = run_zelvik("--version", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == [
        f"zelvik-core {zelvik.__version__} {ROOT / 'zelvik'} (core modules built)",
        f"Python {platform.python_version()} ({platform.python_implementation()}) {sys.executable}",
        f"adb 1.0.41 (Version 34.0.4-fake) {shutil.which('adb')}",
        f"uiautomator2 {metadata.version('uiautomator2')}"]
    empty = tmp_path / "empty"
    empty.mkdir()
    assert run_zelvik("--version", cwd=tmp_path, path=empty).stdout.splitlines()[2] == "adb not found on PATH"


# `python -m zelvik` as after a non-editable install: the finder that an
# editable install puts on sys.meta_path (which would lead to the built tree)
# is left out, the standard ones stay.
AS_INSTALLED = """import runpy, sys
sys.meta_path[:] = [f for f in sys.meta_path if f.__module__.startswith("_frozen_importlib")]
runpy.run_module("zelvik", run_name="__main__", alter_sys=True)"""


def test_a_source_tree_without_built_modules_explains_itself(tmp_path):
    """Run from a repository whose modules are not built: the C++ folder
    zelvik/core/ostrel is found instead of the module."""
    shutil.copytree(ROOT / "zelvik", tmp_path / "zelvik", ignore=shutil.ignore_patterns("*.so", "__pycache__"))
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}

    def run(*argv):
        return subprocess.run([sys.executable, "-c", AS_INSTALLED, *argv], cwd=tmp_path, env=env,
                              capture_output=True, text=True, timeout=60)

    for argv in (["demo"], ["--virtual", "devices"], ["wifi", "127.0.0.1"]):
        result = run(*argv)
        assert result.returncode == 2, result.stderr
        assert result.stderr.splitlines() == [
            f"zelvik: error: zelvik.core.ostrel is not built in the source tree {tmp_path}, which Python imports "
            "zelvik from: run zelvik from another directory, or build the tree in place with: "
            "python -m pip install -e ."]
    assert run("--version").stdout.splitlines()[0].endswith(f"{tmp_path / 'zelvik'} (core modules not built)")


@pytest.mark.parametrize("argv, message", [
    (["--virtual", "inspect", "--at", "-5,-5"], "argument --at: a screen point has no negative coordinate, got -5,-5"),
    (["--virtual", "capture", "--at=3,-1"], "argument --at: a screen point has no negative coordinate, got 3,-1"),
    (["--virtual", "capture", "--out", "notes.txt"],
     "argument --out: notes.txt is a file; --out names the directory for the capture files"),
    (["--screen", "latin1.xml", "devices"],
     "zelvik: error: the screen dump latin1.xml is not UTF-8 text (invalid continuation byte at byte 23)"),
    (["--screen", "blank.xml", "inspect", "--at", "1,1"],
     "zelvik: error: the screen dump blank.xml is empty; save one with uiautomator2's d.dump_hierarchy()"),
    (["--virtual", "capture", "--screen", "broken.xml"],
     "zelvik: error: the screen dump broken.xml is not well-formed XML (no element found"),
])
def test_argument_mistakes_are_usage_errors(tmp_path, argv, message):
    (tmp_path / "notes.txt").write_text("not a directory")
    (tmp_path / "latin1.xml").write_bytes("<hierarchy><node text='\xe9'/></hierarchy>".encode("latin-1"))
    (tmp_path / "blank.xml").write_text("\n  \n")
    (tmp_path / "broken.xml").write_text("<hierarchy><node/>")
    run = run_zelvik(*argv, cwd=tmp_path)
    assert run.returncode == 2
    assert message in run.stderr.splitlines()[-1] and "Traceback" not in run.stderr
    assert not (tmp_path / "zelvik-capture").exists()
