"""The virtual device's `adb` program.

The world's directory (see device.py) holds an executable `adb` that runs
this file with the directory as first argument, the screen's PNG and the
list of WiFi devices connected with `adb connect`. Answers the commands the core modules run:

    adb devices
    adb [-s SERIAL] exec-out screencap -p
    adb connect HOST[:PORT]
    adb disconnect [HOST[:PORT]]

Standard library only: it starts on every call.
"""
import socket
import sys
from pathlib import Path

SERIAL = "virtual-5554"
SCREEN = "screen.png"
CONNECTED = "connected"
VERSION = "Android Debug Bridge version 1.0.41 (Zelvik virtual device)"


def connected(directory: Path) -> list:
    """The WiFi serials connected so far, in order, without repeats."""
    try:
        lines = (directory / CONNECTED).read_text().split()
    except FileNotFoundError:
        return []
    return list(dict.fromkeys(lines))


def serials(directory: Path) -> list:
    return [SERIAL, *connected(directory)]


def _wifi_serial(target: str) -> str:
    return target if ":" in target else f"{target}:5555"


def _connect(directory: Path, target: str, out, err) -> int:
    serial = _wifi_serial(target)
    host, _, port = serial.rpartition(":")
    if serial in connected(directory):
        out.write(f"already connected to {serial}\n")
        return 0
    try:
        with socket.create_connection((host, int(port)), timeout=2):
            pass
    except (OSError, ValueError) as e:
        err.write(f"failed to connect to '{serial}': {getattr(e, 'strerror', None) or e}\n")
        return 1
    # One short append per line: safe with the probes of a discovery running at once.
    with open(directory / CONNECTED, "a") as f:
        f.write(serial + "\n")
    out.write(f"connected to {serial}\n")
    return 0


def _disconnect(directory: Path, targets: list, out, err) -> int:
    known = connected(directory)
    gone = [_wifi_serial(t) for t in targets] or known
    missing = [s for s in gone if s not in known]
    if missing:
        err.write(f"error: no such device '{missing[0]}'\n")
        return 1
    (directory / CONNECTED).write_text("".join(s + "\n" for s in known if s not in gone))
    out.write("".join(f"disconnected {s}\n" for s in gone))
    return 0


def _screencap(directory: Path, serial, out, err) -> int:
    attached = serials(directory)
    if serial is None:
        if len(attached) > 1:
            err.write("adb: more than one device/emulator\n")
            return 1
        serial = attached[0]
    if serial not in attached:
        err.write(f"adb: device '{serial}' not found\n")
        return 1
    out.buffer.write((directory / SCREEN).read_bytes())
    out.flush()
    return 0


def run(argv: list, directory: Path, out=sys.stdout, err=sys.stderr) -> int:
    """One adb command; returns its exit status."""
    serial = None
    if argv[:1] == ["-s"] and len(argv) >= 2:
        serial, argv = argv[1], argv[2:]
    command, args = (argv[0], argv[1:]) if argv else ("", [])
    if command == "devices":
        out.write("List of devices attached\n")
        out.write("".join(f"{s}\tdevice\n" for s in serials(directory)) + "\n")
        return 0
    if command == "exec-out" and args == ["screencap", "-p"]:
        return _screencap(directory, serial, out, err)
    if command == "connect" and len(args) == 1:
        return _connect(directory, args[0], out, err)
    if command == "disconnect":
        return _disconnect(directory, args, out, err)
    if command == "version":
        out.write(VERSION + "\n")
        return 0
    err.write(f"adb: unknown command {' '.join(argv)}\n" if argv else "adb: no command given\n")
    return 1


def main(argv=None) -> int:
    """`adb.py DIRECTORY ARGS...`, as the world's `adb` program runs it."""
    directory, *args = sys.argv[1:] if argv is None else argv
    return run(args, Path(directory))


if __name__ == "__main__":
    sys.exit(main())
