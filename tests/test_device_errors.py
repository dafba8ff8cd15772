"""Device failures as one line saying what to do: offline, unauthorized and
missing phones against a fake adb on PATH (uiautomator2 finds no adb server,
as with such a phone it finds no usable device), and a uiautomator server
that does not start, on the virtual device."""
import pytest
import uiautomator2

from fakes import FakeAdb
from test_cli import zelvik
from zelvik.workbench import cli, device_errors, devices

PHONE = "R58M12ABC"
ADVICE = {
    "unauthorized": f'{PHONE} has not authorized this computer: unlock the phone and accept "Allow USB debugging?" '
                    "on its screen, then run again",
    "offline": f"{PHONE} is offline: unplug and replug the cable (or run: adb reconnect offline), unlock the phone, "
               "then run again",
    "no permissions": f"{PHONE} cannot be opened by this user: add a udev rule for the phone (Debian/Ubuntu: apt "
                      "install android-sdk-platform-tools-common), replug it, then run again",
}


def messages(stderr):
    """The lines of standard error besides progress lines (a loaded machine
    may take more than a second to scan or capture)."""
    return [line for line in stderr.splitlines() if not line.startswith(("zelvik: scanning", "zelvik: capturing", "zelvik: virtual device"))]


@pytest.fixture
def adb(monkeypatch, tmp_path):
    return FakeAdb(monkeypatch, tmp_path)


@pytest.mark.parametrize("state", ["unauthorized", "offline"])
@pytest.mark.parametrize("argv", [["capture"], ["inspect", "--at", "5,5", "--device", PHONE]])
def test_a_phone_that_cannot_be_used_is_one_line_and_status_1(tmp_path, adb, state, argv):
    adb.attached((PHONE, state))
    run = zelvik(*argv, cwd=tmp_path)
    assert run.returncode == 1
    assert messages(run.stderr) == [f"zelvik: error: {ADVICE[state]}"]
    assert ["devices"] in adb.calls()


def test_the_device_table_says_what_to_do_and_shows_a_slow_scan(tmp_path, adb):
    adb.attached((PHONE, "unauthorized"), ("emulator-5556", "offline"), sleep=1.1)
    run = zelvik("devices", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    rows = run.stdout.splitlines()
    assert rows[1].startswith(PHONE) and rows[1].endswith(
        'unauthorized: unlock the phone and accept "Allow USB debugging?" on its screen, then run again')
    assert rows[2].startswith("emulator-5556") and "  offline: unplug and replug the cable" in rows[2]
    assert run.stderr.startswith("zelvik: scanning devices ...") and run.stderr.endswith("s\n")


@pytest.mark.parametrize("argv, path, message", [
    (["capture", "--device", "ghost"], None,
     f"zelvik: error: unknown device ghost (attached: {PHONE}): plug it in with USB debugging on and check that adb "
     "devices lists it, then run again"),
])
def test_missing_device(tmp_path, adb, argv, path, message):
    adb.attached((PHONE, "unauthorized"))
    if path:
        (tmp_path / path).mkdir()
    run = zelvik(*argv, cwd=tmp_path, path=tmp_path / path if path else None)
    assert run.returncode == 1
    assert messages(run.stderr) == [message]


def test_no_adb_anywhere(monkeypatch, capsys):
    """Neither on PATH nor inside adbutils: one line saying what to install."""
    monkeypatch.setattr(devices, "find_program", lambda: None)
    assert cli.main(["capture", "--device", PHONE]) == 1
    assert messages(capsys.readouterr().err) == [f"zelvik: error: {devices.NO_ADB}"]


def test_adb_states_read_the_state_column(adb):
    adb.answer("devices", stdout="List of devices attached\n* daemon started successfully\n"
                                 f"{PHONE}\tno permissions (user in plugdev group; are your udev rules wrong?); "
                                 "see [http://developer.android.com/tools/device.html]\n"
                                 "10.0.0.5:5555\toffline\nemulator-5554\tdevice\n\n")
    states = device_errors.adb_states()
    assert states == {PHONE: "no permissions", "10.0.0.5:5555": "offline", "emulator-5554": "device"}
    assert device_errors.unreachable(PHONE, "x", states) == ADVICE["no permissions"]
    assert device_errors.unreachable("10.0.0.5:5555", "x", states) == (
        "10.0.0.5:5555 is offline: run: adb disconnect 10.0.0.5:5555 && adb connect 10.0.0.5:5555, then run again")
    assert device_errors.unreachable("emulator-5554", "device emulator-5554 not online", states) == (
        "cannot reach emulator-5554 (device emulator-5554 not online): check that adb -s emulator-5554 shell echo "
        "ok answers, unlock the phone, then run again")
    assert device_errors.unreachable("10.0.0.6:5555", "x", states).startswith(
        "10.0.0.6:5555 is not attached: check that the phone is on this network, run: adb connect 10.0.0.6:5555")


@pytest.mark.parametrize("error, line", [
    ("H2", f"the uiautomator server on {PHONE} did not start (H2): unlock the phone"),
    ("H4: ('server quit unexpectly', 'out')", f"the uiautomator server on {PHONE} did not start (H4: ('server quit"),
    ("H4: H1", f"capture of {PHONE} failed: the UI hierarchy dump failed (H4: H1)"),
    ("S3: S5", f"capture of {PHONE} failed: the screenshot failed (S3: S5)"),
])
def test_capture_failures(error, line):
    assert device_errors.capture_failure(PHONE, error).startswith(line)


def test_a_uiautomator_server_that_does_not_start(monkeypatch, capsys):
    def dump(self, *args, **kwargs):
        raise uiautomator2.exceptions.LaunchUiAutomationError("server quit unexpectly", "Killed")

    monkeypatch.setattr(uiautomator2.Device, "dump_hierarchy", dump)
    assert cli.main(["--virtual", "inspect", "--at", "5,5"]) == 1
    [line] = messages(capsys.readouterr().err)
    serial = line.split(" on ", 1)[1].split()[0]
    assert line == (
        f"zelvik: error: the uiautomator server on {serial} did not start (H4: ('server quit unexpectly', 'Killed')): "
        "unlock the phone and keep its screen on, close other tools that automate it (Appium, another uiautomator2 "
        "session), then run again")
