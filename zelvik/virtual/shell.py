"""The device's shell: the command lines that adb, adbutils and
uiautomator2 run, answered the way an Android 14 tablet answers them.

A line is split into commands at ";"; "$?" stands for the status of the
command before. The uiautomator server's launch (`app_process ... -p PORT`)
runs for as long as its stream, so the stream service handles it apart.
"""
import hashlib
import shlex
from typing import List, NamedTuple, Optional

from .screen import SETTINGS

ACTIVITY = ".homepage.SettingsHomepageActivity"
APP_PID = 4242


class Result(NamedTuple):
    stdout: bytes = b""
    stderr: bytes = b""
    status: int = 0


def text(value: str, status: int = 0) -> Result:
    return Result(value.encode(), b"", status)


def failure(message: str, status: int) -> Result:
    return Result(b"", message.encode(), status)


def commands(line: str) -> List[List[str]]:
    """The words of each command of a line, split at ";" (unquoted)."""
    lexer = shlex.shlex(line, posix=True, punctuation_chars=";")
    lexer.whitespace_split = True
    result, words = [], []
    for token in lexer:
        if not token.strip(";"):
            result.append(words)
            words = []
        else:
            words.append(token)
    result.append(words)
    return [words for words in result if words]


def without_assignments(words: List[str]):
    """(environment, words) with the leading NAME=VALUE words taken off."""
    env = {}
    while words and "=" in words[0] and words[0].split("=", 1)[0].isidentifier():
        name, value = words[0].split("=", 1)
        env[name] = value
        words = words[1:]
    return env, words


def server_launch(line: str) -> Optional[dict]:
    """{"classpath", "port"} when the line starts the uiautomator server."""
    try:
        parts = commands(line)
    except ValueError:
        return None
    if len(parts) != 1:
        return None
    env, words = without_assignments(parts[0])
    if words[:1] != ["app_process"] or "-p" not in words[:-1]:
        return None
    port = words[words.index("-p") + 1]
    return {"classpath": env.get("CLASSPATH", ""), "port": int(port) if port.isdigit() else 0}


def run(device, line: str):
    """Runs a command line: ([(1 or 2, data), ...] in the order written,
    the status of its last command)."""
    try:
        parts = commands(line)
    except ValueError as e:  # an unterminated quote
        return [(2, f"/system/bin/sh: syntax error: {e}\n".encode())], 2
    written, status = [], 0
    for words in parts:
        words = [word.replace("$?", str(status)) for word in words]
        _env, words = without_assignments(words)
        if not words:
            continue
        result = run_one(device, words)
        written += [(kind, data) for kind, data in ((1, result.stdout), (2, result.stderr)) if data]
        status = result.status
    return written, status


def run_one(device, words: List[str]) -> Result:
    name, args = words[0], words[1:]
    if name == "toybox" and args:
        name, args = args[0], args[1:]
    command = COMMANDS.get(name)
    if command is None:
        return failure(f"/system/bin/sh: {name}: not found\n", 127)
    return command(device, args)


def echo(device, args):
    return text(" ".join(args) + "\n")


def getprop(device, args):
    if args:
        return text(device.properties.get(args[0], "") + "\n")
    return text("".join(f"[{k}]: [{v}]\n" for k, v in sorted(device.properties.items())))


def wm(device, args):
    if args[:1] != ["size"]:
        return failure("Unknown command: " + " ".join(args) + "\n", 255)
    return text(f"Physical size: {device.screen.width}x{device.screen.height}\n")


def dumpsys(device, args):
    w, h = device.screen.width, device.screen.height
    service = args[:1]
    if service == ["window"]:
        return text("WINDOW MANAGER WINDOWS (dumpsys window windows)\n"
                    f"  mCurrentFocus=Window{{8c1e2f0 u0 {SETTINGS}/{SETTINGS}{ACTIVITY}}}\n"
                    f"  mFocusedApp=ActivityRecord{{5e6f7a8 u0 {SETTINGS}/{ACTIVITY} t12}}\n")
    if service == ["activity"]:
        if args[1:2] == ["top"]:
            return text(f"TASK 12:{SETTINGS} id=12 userId=0\n"
                        f"  ACTIVITY {SETTINGS}/{ACTIVITY} 5e6f7a8 pid={APP_PID}\n")
        return text("ACTIVITY MANAGER ACTIVITIES (dumpsys activity activities)\n"
                    f"  mResumedActivity: ActivityRecord{{5e6f7a8 u0 {SETTINGS}/{ACTIVITY} t12}}\n")
    if service == ["display"]:
        return text("DISPLAY MANAGER (dumpsys display)\n"
                    "  mViewports=[DisplayViewport{type=INTERNAL, valid=true, isActive=true, displayId=0, "
                    f"uniqueId='local:0', physicalPort=0, orientation=0, logicalFrame=Rect(0, 0 - {w}, {h})}}]\n")
    return failure(f"Can't find service: {' '.join(service)}\n", 0)


def md5sum(device, args):
    out, err, status = [], [], 0
    for path in args:
        data = device.files.get(path)
        if data is None:
            err.append(f"md5sum: {path}: No such file or directory\n")
            status = 1
        else:
            out.append(f"{hashlib.md5(data).hexdigest()}  {path}\n")
    return Result("".join(out).encode(), "".join(err).encode(), status)


def screencap(device, args):
    if "screencap" in device.faults:
        return Result(b"", b"", 1)  # the capture died without a word
    if "screencap-error" in device.faults:
        return failure("Error: failed to take the screenshot\n", 1)
    return Result(device.screen.png)


COMMANDS = {"echo": echo, "getprop": getprop, "wm": wm, "dumpsys": dumpsys,
            "md5sum": md5sum, "md5": md5sum, "screencap": screencap}
