"""Run the real code paths against the fake `adb` executable in bin/."""
import json
import os
import shutil
import socket
import subprocess
from pathlib import Path

import pytest

BIN = Path(__file__).resolve().parent / "bin"
VERSION = "Android Debug Bridge version 1.0.41\nVersion 34.0.4-fake\n"


class FakeAdb:
    """Puts bin/adb first on PATH for one test.

        adb = FakeAdb(monkeypatch, tmp_path)
        adb.answer("devices", stdout="List of devices attached\\nemu\\tdevice\\n")
        ... run the code ...
        assert adb.calls() == [["devices"]]
    """

    def __init__(self, monkeypatch, tmp_path):
        self._monkeypatch = monkeypatch
        self._table = {}
        self._responses = tmp_path / "fake_adb_responses.json"
        self._log = tmp_path / "fake_adb_log.jsonl"
        self._write()
        monkeypatch.setenv("PATH", str(BIN) + os.pathsep + os.environ.get("PATH", ""))
        monkeypatch.setenv("FAKE_ADB_RESPONSES", str(self._responses))
        monkeypatch.setenv("FAKE_ADB_LOG", str(self._log))

    def answer(self, args, stdout="", stderr="", returncode=0, sleep=0, stdout_file=None):
        """Sets the answer to the argument list `args` (a str or a list)."""
        key = args if isinstance(args, str) else " ".join(args)
        entry = {"stdout": stdout, "stderr": stderr, "returncode": returncode, "sleep": sleep}
        if stdout_file is not None:
            entry["stdout_file"] = str(stdout_file)
        self._table[key] = entry
        self._write()

    def attached(self, *devices, sleep=0):
        """Answers `adb devices` with these (serial, state) pairs, and the
        `version` and `start-server` calls that adbutils (under uiautomator2)
        makes on its way to the adb server. That server's port is set to a
        closed loopback port, so uiautomator2 fails at once and no real adb
        server is started."""
        table = "".join(f"{serial}\t{state}\n" for serial, state in devices)
        self.answer("devices", stdout=f"List of devices attached\n{table}\n", sleep=sleep)
        self.answer("version", stdout=VERSION)
        self.answer("start-server")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self._monkeypatch.setenv("ANDROID_ADB_SERVER_PORT", str(s.getsockname()[1]))

    def calls(self):
        """The argument lists of the calls so far, in order."""
        if not self._log.exists():
            return []
        return [json.loads(line) for line in self._log.read_text(encoding="utf-8").splitlines()]

    def _write(self):
        self._responses.write_text(json.dumps(self._table), encoding="utf-8")


@pytest.fixture(scope="module")
def real_adb():
    """Fixture: the real adb, with a server on a port of its own that is
    stopped afterwards; skips the test when adb is not installed."""
    if not shutil.which("adb"):
        pytest.skip("adb is not installed")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = str(s.getsockname()[1])
    old = os.environ.get("ANDROID_ADB_SERVER_PORT")
    os.environ["ANDROID_ADB_SERVER_PORT"] = port
    try:
        yield
    finally:
        subprocess.run(["adb", "kill-server"], capture_output=True, timeout=10)
        if old is None:
            del os.environ["ANDROID_ADB_SERVER_PORT"]
        else:
            os.environ["ANDROID_ADB_SERVER_PORT"] = old
