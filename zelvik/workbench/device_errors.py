"""Device failures as one line that says what to do.

uiautomator2 reports an offline, an unauthorized and a vanished device alike
("device ... not online", after waiting 10 s), and the core's device list
keeps no state; the state column of `adb devices` tells them apart."""
import re
import subprocess
from typing import Dict, List, Optional

AGAIN = "then run again"
WIFI_SERIAL = re.compile(r"^\d{1,3}(\.\d{1,3}){3}:\d+$")

# adb state: (what it means, what to do)
STATES = {
    "unauthorized": ("has not authorized this computer",
                     'unlock the phone and accept "Allow USB debugging?" on its screen, ' + AGAIN),
    "authorizing": ("is waiting for authorization", "accept the prompt on the phone's screen, " + AGAIN),
    "offline": ("is offline", "unplug and replug the cable (or run: adb reconnect offline), unlock the phone, "
                + AGAIN),
    "no permissions": ("cannot be opened by this user",
                       "add a udev rule for the phone (Debian/Ubuntu: apt install android-sdk-platform-tools-common), "
                       "replug it, " + AGAIN),
    "connecting": ("is still connecting", "wait a few seconds, " + AGAIN),
}
SERVER_TEXTS = ("server not ready", "server quit unexpectly", "already registered", "UiAutomation not connected",
                "Unable to connect to uiautomator2 server")
# What the capture error codes say: readiness, screenshot, hierarchy.
CAPTURE_STEPS = {"E": "the device is not ready", "S": "the screenshot failed", "H": "the UI hierarchy dump failed"}


def adb_states() -> Dict[str, str]:
    """Serial -> state word of `adb devices` ("device", "offline", ...);
    empty when adb does not answer."""
    try:
        result = subprocess.run(["adb", "devices"], capture_output=True, text=True, timeout=5)
    except (OSError, subprocess.SubprocessError):
        return {}
    states = {}
    for line in result.stdout.splitlines()[1:]:
        serial, tab, rest = line.partition("\t")
        if tab and serial:
            # "no permissions (user ... plugdev group ...); see [...]" -> "no permissions"
            states[serial] = rest.split(" (")[0].split(";")[0].strip()
    return states


def _advice(serial: str, state: Optional[str]):
    """(what, to do) for a device adb lists as `state` (None: not listed)."""
    wifi = WIFI_SERIAL.match(serial) is not None
    if state is None:
        if wifi:
            return "is not attached", f"check that the phone is on this network, run: adb connect {serial}, " + AGAIN
        return "is not attached", "plug it in with USB debugging on and check that adb devices lists it, " + AGAIN
    if state in STATES:
        what, todo = STATES[state]
        if state == "offline" and wifi:
            todo = f"run: adb disconnect {serial} && adb connect {serial}, " + AGAIN
        return what, todo
    if state in ("recovery", "bootloader", "sideload", "rescue"):
        return f"is in {state} mode", "start Android on it, " + AGAIN
    return None


def unreachable(serial: str, error: str, states: Optional[Dict[str, str]] = None) -> str:
    """The line for a device that could not be reached, `error` being what
    uiautomator2 or the core said."""
    states = adb_states() if states is None else states
    advice = _advice(serial, states.get(serial))
    if advice is None:
        return (f"cannot reach {serial} ({error}): check that adb -s {serial} shell echo ok answers, "
                f"unlock the phone, {AGAIN}")
    what, todo = advice
    return f"{serial} {what}: {todo}"


def unknown(serial: str, known: List[str]) -> str:
    """The line for a --device that the device table does not hold."""
    _, todo = _advice(serial, None)
    return f"unknown device {serial} (attached: {', '.join(known) or 'none'}): {todo}"


def explained(records: List[dict]) -> List[dict]:
    """The device table with each scan error turned into the device's adb
    state and what to do about it (copies; the others as they are)."""
    if not any(record.get("status") == "error" for record in records):
        return records
    states = adb_states()
    shown = []
    for record in records:
        if record.get("status") == "error":
            serial = record.get("id", "")
            state = states.get(serial)
            advice = _advice(serial, state)
            if advice is not None:
                record = dict(record, status="missing" if state is None else state, error=advice[1])
        shown.append(record)
    return shown


def server_failed(error: str) -> bool:
    """Whether a capture error says the uiautomator server did not answer:
    the hierarchy dump timed out (H2) or uiautomator2 could not start it."""
    return error == "H2" or (error.startswith("H4: ") and any(text in error for text in SERVER_TEXTS))


def capture_failure(serial: str, error: str) -> str:
    """The line for a failed capture result with the error code `error`."""
    if server_failed(error):
        return (f"the uiautomator server on {serial} did not start ({error}): unlock the phone and keep its screen on, "
                f"close other tools that automate it (Appium, another uiautomator2 session), {AGAIN}")
    if error.startswith("E1: "):
        return unreachable(serial, error)
    step = CAPTURE_STEPS.get(error[:1], "it stopped")
    return f"capture of {serial} failed: {step} ({error})"
