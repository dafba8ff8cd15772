"""The services a host can open on the device.

    shell:LINE, shell,v2,...:LINE   the shell (v1: output as it comes; v2:
                                    packets of a 1-byte id, a 4-byte length
                                    and data; 1 stdout, 2 stderr, 3 exit)
    exec:LINE                       the shell's output, raw
    sync:                           STAT, SEND/DATA/DONE, RECV, QUIT
    tcp:PORT                        the uiautomator server, once started
"""
import stat
import struct
import time

from . import shell, uiserver
from .streams import Stream

STDOUT, STDERR, EXIT = 1, 2, 3
SYNC_MAX_PATH = 1024
SYNC_MAX_DATA = 64 * 1024
MAX_FILE = 64 * 1024 * 1024
DIRECTORIES = {"/", "/data", "/data/local", "/data/local/tmp", "/sdcard"}


def open_service(device, stream: Stream, name: str):
    """The coroutine serving `name` on the stream, or None to refuse it."""
    device.requests.append(name)
    if name.startswith(("shell:", "shell,")):
        options, _, line = name.partition(":")
        return run_shell(device, stream, line, "v2" in options.split(",")[1:])
    if name.startswith("exec:"):
        return run_shell(device, stream, name[len("exec:"):], v2=False)
    if name == "sync:":
        return sync(device, stream)
    if name.startswith("tcp:") and device.server_port is not None and name[len("tcp:"):] == str(device.server_port):
        return uiserver.serve(device, stream)
    return None


def packet(kind: int, data: bytes) -> bytes:
    return struct.pack("<BI", kind, len(data)) + data


class Output:
    """Writes a command's output in the framing of its stream: v1 and exec
    carry stdout and stderr mixed and no exit status."""

    def __init__(self, stream: Stream, v2: bool):
        self.stream, self.v2 = stream, v2

    async def write(self, kind: int, data: bytes) -> None:
        if data:
            await self.stream.write(packet(kind, data) if self.v2 else data)

    async def exit(self, status: int) -> None:
        if self.v2:
            await self.stream.write(packet(EXIT, bytes([status & 0xFF])))


def run_shell(device, stream: Stream, line: str, v2: bool):
    out = Output(stream, v2)
    launch = shell.server_launch(line)
    if launch is None:
        return run_command(out, *shell.run(device, line))
    refusal = start_server(device, launch)
    if refusal is not None:
        return run_command(out, [(STDERR, refusal)], 1)
    return run_server(device, stream, out)


async def run_command(out: Output, written, status: int) -> None:
    for kind, data in written:
        await out.write(kind, data)
    await out.exit(status)


def start_server(device, launch: dict):
    """Takes the uiautomator server's port at the launch itself, so that a
    ping right after it finds the server; the error text when it cannot."""
    if launch["classpath"] not in device.files:
        return b"Error: Could not find class 'com.wetest.uia2.Main'\n"
    if device.server_port is not None or launch["port"] == 0:
        return (b"java.lang.IllegalStateException: UiAutomationService "
                b"android.accessibilityservice.IAccessibilityServiceClient already registered!\n")
    device.server_port = launch["port"]
    return None


async def run_server(device, stream: Stream, out: Output) -> None:
    """The uiautomator server, for as long as the stream that started it."""
    try:
        await out.write(STDOUT, b"[server] INFO: [UiAutomator2Server] Starting Server\n")
        while await stream.read():
            pass  # stdin is ignored; the server stops when the stream closes
    finally:
        device.server_port = None


# --- sync ----------------------------------------------------------------------

def file_stat(device, path: str):
    """(mode, size, mtime) as STAT answers; all 0 for a missing file."""
    if path in device.files:
        return stat.S_IFREG | 0o644, len(device.files[path]), device.mtimes.get(path, 0)
    if path.rstrip("/") in DIRECTORIES or path == "/":
        return stat.S_IFDIR | 0o771, 4096, int(device.started)
    return 0, 0, 0


async def fail(stream: Stream, message: str) -> None:
    await stream.write(b"FAIL" + struct.pack("<I", len(message)) + message.encode())


async def sync(device, stream: Stream) -> None:
    while True:
        head = await stream.read_exactly(8)
        ident, length = head[:4], struct.unpack("<I", head[4:])[0]
        if ident == b"QUIT":
            return
        if length > SYNC_MAX_PATH:
            await fail(stream, "path too long")
            return
        path = (await stream.read_exactly(length)).decode("utf-8", "replace")
        if ident == b"STAT":
            await stream.write(b"STAT" + struct.pack("<III", *file_stat(device, path)))
        elif ident == b"SEND":
            if not await receive(device, stream, path.rpartition(",")[0] or path):
                return
        elif ident == b"RECV":
            data = device.files.get(path)
            if data is None:
                await fail(stream, "No such file or directory")
                continue
            for start in range(0, len(data), SYNC_MAX_DATA):
                chunk = data[start:start + SYNC_MAX_DATA]
                await stream.write(b"DATA" + struct.pack("<I", len(chunk)) + chunk)
            await stream.write(b"DONE" + struct.pack("<I", 0))
        else:
            await fail(stream, "unknown sync command")
            return


async def receive(device, stream: Stream, path: str) -> bool:
    """The DATA chunks and DONE of a SEND; False when it was refused."""
    data = bytearray()
    while True:
        head = await stream.read_exactly(8)
        ident, value = head[:4], struct.unpack("<I", head[4:])[0]
        if ident == b"DONE":
            break
        if ident != b"DATA" or value > SYNC_MAX_DATA or len(data) + value > MAX_FILE:
            await fail(stream, "bad DATA in SEND")
            return False
        data += await stream.read_exactly(value)
    if path.rstrip("/") in DIRECTORIES:
        await fail(stream, f"{path}: Is a directory")
        return False
    device.files[path] = bytes(data)
    device.mtimes[path] = value or int(time.time())
    await stream.write(b"OKAY" + struct.pack("<I", 0))
    return True
