"""Ctrl-C in a terminal: the workbench stops at once, also while a device is
slow, and exits with status 130. The workbench runs in a pseudo-terminal and
gets a real SIGINT sent to its process group, as a terminal sends it."""
import contextlib
import json
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
FAKE_BIN = ROOT / "tests" / "fakes" / "bin"
for name in ("ostrel", "pellora"):
    pytest.importorskip(f"zelvik.core.{name}")

# The workbench on a virtual device whose hierarchy dump takes 30 s: the
# capture waits in an executor thread.
SLOW_DUMP = """
import sys
from zelvik.virtual import device
start = device.VirtualDevice.__init__
device.VirtualDevice.__init__ = lambda self, *a, **k: start(self, *a, faults={"slow-dump"}, dump_delay=30, **k)
from zelvik.workbench.cli import main
sys.argv[0] = "zelvik"
raise SystemExit(main())
"""


@contextlib.contextmanager
def silent_listeners(hosts):
    """A listening socket at each address whose accept queue is full, so that
    connecting there hangs until the connecting side's time limit."""
    socks = []
    try:
        port = 0
        for host in hosts:
            server = socket.socket()
            socks.append(server)
            server.bind((host, port))
            port = server.getsockname()[1]
            server.listen(0)
            while True:
                filler = socket.socket()
                socks.append(filler)
                filler.settimeout(0.05)
                if filler.connect_ex((host, port)) != 0:
                    break
        yield port
    finally:
        for s in socks:
            s.close()


def interrupted(argv, env, ready, settle=0.3):
    """Runs `python argv` in a pseudo-terminal until `ready` (a text, or a
    test of the output) holds, sends SIGINT to its process group `settle`
    seconds later and waits for the end.
    Returns (status, output, seconds from the signal to the exit)."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([sys.executable, *argv], stdin=slave, stdout=slave, stderr=slave,
                            env=env, start_new_session=True, close_fds=True)
    os.close(slave)
    if isinstance(ready, str):
        text, ready = ready, lambda out: text in out
    output, sent = "", None
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            if sent is None and ready(output):
                time.sleep(settle)
                os.killpg(proc.pid, signal.SIGINT)
                sent = time.monotonic()
            readable, _, _ = select.select([master], [], [], 0.05)
            if readable:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: every end of the terminal is closed
                    chunk = b""
                if not chunk and proc.poll() is not None:
                    break
                output += chunk.decode(errors="replace")
            elif proc.poll() is not None and sent is not None:
                break
        status = proc.wait(timeout=10)
        ended = time.monotonic()
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        os.close(master)
    assert sent is not None, output
    return status, output, ended - sent


def workbench_env(**extra):
    return dict(os.environ, PYTHONPATH=str(ROOT), **extra)


@pytest.fixture
def slow_adb(tmp_path):
    """A PATH whose adb takes 30 s to list the devices."""
    responses = tmp_path / "responses.json"
    responses.write_text(json.dumps({"devices": {"stdout": "List of devices attached\nemu\tdevice\n\n",
                                                 "sleep": 30}}))
    log = tmp_path / "adb.log"
    env = workbench_env(PATH=str(FAKE_BIN) + os.pathsep + os.environ["PATH"],
                        FAKE_ADB_RESPONSES=str(responses), FAKE_ADB_LOG=str(log))
    return env, log


def check_stopped(status, output, seconds):
    assert status == 130, output
    assert seconds < 1.0, (seconds, output)
    assert "zelvik: interrupted" in output
    for unwanted in ("SERIAL", "Traceback", "Task exception was never retrieved", "never awaited", "FATAL"):
        assert unwanted not in output, output


def test_devices_on_a_slow_adb_stops_at_once(slow_adb):
    env, log = slow_adb
    # the device listing is under way once the fake adb has logged it
    listing = '["devices"]'
    status, output, seconds = interrupted(["-m", "zelvik", "devices"], env,
                                          lambda _: log.exists() and listing in log.read_text())
    assert log.read_text().splitlines()[-1] == listing
    check_stopped(status, output, seconds)


def test_capture_of_a_slow_device_stops_at_once(tmp_path):
    argv = ["-c", SLOW_DUMP, "--virtual", "capture", "--out", str(tmp_path / "out")]
    status, output, seconds = interrupted(argv, workbench_env(), "zelvik: capturing")
    check_stopped(status, output, seconds)
    assert not (tmp_path / "out" / "screenshot.png").exists()


def test_wifi_discovery_stops_at_once(tmp_path):
    hosts = [f"127.0.0.{i}" for i in range(1, 6)]
    with silent_listeners(hosts) as port:
        argv = ["-m", "zelvik", "wifi", f"{hosts[0]}-{hosts[-1]}", "--port", str(port)]
        # the progress line shows once the probing starts
        status, output, seconds = interrupted(argv, workbench_env(), "wifi", settle=0.5)
    check_stopped(status, output, seconds)
    assert "found" not in output and "no device answered" not in output
