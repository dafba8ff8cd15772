"""The type stubs: stubtest against the built modules through the README's
command, and mypy --strict on typed use of the records (tests/typing)."""
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy")
for name in ("ostrel", "pellora", "mirvane", "zantho"):
    pytest.importorskip(f"zelvik.core.{name}")

ROOT = Path(__file__).resolve().parents[1]
OK = "tests/typing/ok_records.py"
BAD = "tests/typing/bad_records.py"
ERROR = re.compile(r"^(?P<file>[^:\n]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$", re.M)


def python_m(args, env=None):
    # From the repository root, as the README runs it: pyproject.toml holds the
    # mypy settings, and the tree's stubs are found first.
    return subprocess.run([sys.executable, "-m", *args], cwd=ROOT, env=env, capture_output=True,
                          text=True, timeout=600)


def readme_stubtest():
    for line in (ROOT / "README.md").read_text(encoding="utf-8").splitlines():
        if line.strip().startswith("python -m mypy.stubtest"):
            return shlex.split(line)[2:]
    raise AssertionError("README.md has no stubtest command")


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """{file: {line: {codes}}} of one strict run over both examples."""
    cache = tmp_path_factory.mktemp("mypy-cache")
    # mypy only reads the stubs: a sanitizer preload would just slow it down.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    run = python_m(["mypy", "--strict", "--cache-dir", str(cache), OK, BAD], env)
    errors = {}
    for m in ERROR.finditer(run.stdout):
        errors.setdefault(m["file"], {}).setdefault(int(m["line"]), set()).add(m["code"])
    assert run.returncode in (0, 1), run.stdout + run.stderr
    return errors, run.stdout


def test_stubtest_is_clean_through_the_readme_command():
    args = readme_stubtest()
    assert "zelvik.core.zantho" in args
    run = python_m(args)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "Success: no issues found" in run.stdout


def test_typed_use_passes_strict(mypy_errors):
    errors, out = mypy_errors
    # Neither the example nor the stubs it imports may have an error.
    assert set(errors) <= {BAD}, out


def test_wrong_use_fails_where_marked(mypy_errors):
    errors, out = mypy_errors
    expected = {}
    for number, line in enumerate((ROOT / BAD).read_text(encoding="utf-8").splitlines(), 1):
        if "# expect: " in line:
            expected[number] = set(line.split("# expect: ")[1].split(", "))
    assert len(expected) >= 15
    assert errors.get(BAD) == expected, out
