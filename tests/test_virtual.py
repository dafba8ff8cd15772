"""The virtual device: its dump and picture, and the adb protocol it speaks."""
import asyncio
import hashlib
import io
import json
import socket
import struct
import time
import xml.etree.ElementTree as ET

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from PIL import Image

from zelvik.virtual import protocol, shell
from zelvik.virtual.device import VirtualDevice, VirtualScreen
from zelvik.virtual.protocol import CLSE, CNXN, OKAY, OPEN, WRTE
from zelvik.virtual.hierarchy import from_xml, parse_bounds, to_xml
from zelvik.virtual.screen import HEIGHT, PRIMARY, WIDTH, Node, clip, settings_screen

U2_ATTRIBUTES = ["index", "text", "resource-id", "class", "package", "content-desc", "checkable", "checked",
                 "clickable", "enabled", "focusable", "focused", "scrollable", "long-clickable", "password",
                 "selected", "visible-to-user", "bounds", "drawing-order", "hint", "display-id"]


@pytest.fixture(scope="module")
def screen():
    return VirtualScreen.builtin()


def test_dump_is_a_uiautomator2_hierarchy(screen):
    root = ET.fromstring(screen.xml)
    assert root.tag == "hierarchy" and root.attrib == {"rotation": "0"}
    nodes = list(root.iter("node"))
    assert len(nodes) >= 200
    assert all(list(n.attrib) == U2_ATTRIBUTES for n in nodes)
    # Windows come top-most first: status bar and navigation bar above the app.
    assert [w.get("package") for w in root] == ["com.android.systemui", "com.android.systemui", "com.android.settings"]
    classes = {n.get("class").rsplit(".", 1)[-1] for n in nodes}
    assert {"EditText", "Button", "Switch", "CheckBox", "TextView", "RecyclerView", "ScrollView"} <= classes
    assert any(n.get("scrollable") == "true" for n in nodes)
    assert any(n.get("password") == "true" for n in nodes)
    for n in nodes:
        left, top, right, bottom = parse_bounds(n.get("bounds"))
        assert 0 <= left <= right <= WIDTH and 0 <= top <= bottom <= HEIGHT


def test_children_lie_inside_their_parent():
    def check(node):
        l, t, r, b = node.bounds
        for child in node.children:
            cl, ct, cr, cb = child.bounds
            assert l <= cl and t <= ct and cr <= r and cb <= b, (node.cls, child.cls)
            check(child)

    for window in settings_screen().children:
        check(window)


def test_dump_round_trips():
    def fields(root):
        return [(n.cls, n.bounds, n.text, n.rid, n.desc, n.package, n.hint, n.flags, len(n.children))
                for n in list(root.walk())[1:]]

    root = settings_screen()
    assert fields(from_xml(to_xml(root))) == fields(root)


@pytest.mark.parametrize("text, expected", [
    ("[0,63][1080,210]", (0, 63, 1080, 210)),
    ("", (0, 0, 0, 0)),
    ("[1,2]", (0, 0, 0, 0)),
    ("[a,b][c,d]", (0, 0, 0, 0)),
])
def test_parse_bounds(text, expected):
    assert parse_bounds(text) == expected


def test_clip_drops_and_cuts_to_the_viewport():
    inner = Node(bounds=(0, 150, 10, 400), children=[Node(bounds=(0, 150, 10, 190)), Node(bounds=(0, 320, 10, 400))])
    box = Node(bounds=(0, 100, 10, 300), children=[Node(bounds=(0, 0, 10, 90)), inner])
    clip(box)
    assert [c.bounds for c in box.children] == [(0, 150, 10, 300)]
    assert [c.bounds for c in inner.children] == [(0, 150, 10, 190)]


def test_picture_matches_the_tree(screen):
    image = Image.open(io.BytesIO(screen.png))
    assert image.format == "PNG" and image.size == (WIDTH, HEIGHT) == (screen.width, screen.height)
    save = next(n for n in settings_screen().walk() if n.text == "Save")
    l, t, r, b = save.bounds
    rgb = tuple(int(PRIMARY[i:i + 2], 16) for i in (1, 3, 5))
    assert image.convert("RGB").getpixel((l + 12, (t + b) // 2)) == rgb


@pytest.mark.parametrize("xml, size", [
    ("", (1080, 2400)),
    ("<hierarchy><node", (1080, 2400)),
    ('<hierarchy><node class="android.widget.Button" text="OK" bounds="[0,0][720,1280]"/></hierarchy>', (720, 1280)),
])
def test_screen_from_a_saved_dump(xml, size):
    screen = VirtualScreen.from_dump(xml)
    assert screen.xml == xml
    assert Image.open(io.BytesIO(screen.png)).size == size == (screen.width, screen.height)



# --- the adb protocol, spoken by a raw host ---------------------------------------

JAR = "/data/local/tmp/u2.jar"
LAUNCH = f"shell:CLASSPATH={JAR} app_process / com.wetest.uia2.Main -p 9008"


@pytest.fixture(scope="module")
def device(screen):
    with VirtualDevice(screen) as d:
        yield d


class Host:
    """One raw connection to the device, speaking as an adb server does."""

    def __init__(self, device, max_data=protocol.MAX_DATA):
        self.sock = socket.create_connection(("127.0.0.1", device.port), timeout=5)
        self.max_data = max_data
        self.ids = iter(range(1, 1000))

    def send(self, command, arg0, arg1, data=b""):
        self.sock.sendall(protocol.pack(command, arg0, arg1, data))

    def _exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def receive(self) -> protocol.Message:
        command, arg0, arg1, length, _check, _magic = protocol.HEADER.unpack(self._exactly(24))
        return protocol.Message(command, arg0, arg1, self._exactly(length))

    def handshake(self) -> protocol.Message:
        self.send(CNXN, protocol.VERSION, self.max_data, b"host::features=shell_v2\0")
        return self.receive()

    def open(self, name):
        """The device's stream id, or None when it refused the service."""
        local = next(self.ids)
        self.send(OPEN, local, 0, name.encode() + b"\0")
        reply = self.receive()
        assert reply.arg1 == local
        return (local, reply.arg0) if reply.command == OKAY else None

    def write(self, stream, data):
        local, remote = stream
        self.send(WRTE, local, remote, data)
        assert self.receive().command == OKAY

    def read_all(self, stream) -> bytes:
        """The stream's data until the device closes it, acknowledging each WRTE."""
        local, remote = stream
        data = b""
        while True:
            message = self.receive()
            if message.command == CLSE:
                return data
            assert (message.command, message.arg1) == (WRTE, local)
            data += message.data
            self.send(OKAY, local, remote)

    def run(self, name) -> bytes:
        return self.read_all(self.open(name))

    def is_closed(self) -> bool:
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True

    def close(self):
        self.sock.close()


@pytest.fixture
def host(device):
    h = Host(device)
    h.handshake()
    yield h
    h.close()


def shell_v2_packets(data: bytes):
    packets = []
    while data:
        kind, length = struct.unpack("<BI", data[:5])
        packets.append((kind, data[5:5 + length]))
        data = data[5 + length:]
    return packets


def test_handshake_names_the_device_and_asks_no_auth(device):
    h = Host(device)
    reply = h.handshake()
    h.close()
    assert (reply.command, reply.arg0, reply.arg1) == (CNXN, protocol.VERSION, protocol.MAX_DATA)
    assert reply.data == (b"device::ro.product.name=zelvik_virtual_tab;ro.product.model=Zelvik Virtual Tab;"
                          b"ro.product.device=zelvik_tab;features=shell_v2,cmd")


@pytest.mark.parametrize("message", [
    protocol.pack(OPEN, 1, 0, b"shell:echo\0")[:20] + b"\0\0\0\0",  # bad magic
    struct.pack("<6I", OPEN, 1, 0, protocol.MAX_DATA + 1, 0, OPEN ^ 0xFFFFFFFF),  # over the limit
    protocol.pack(int.from_bytes(b"AUTH", "little"), 1, 0, b"x" * 20),  # unknown command
    protocol.pack(OPEN, 0, 0, b"shell:echo\0"),  # stream id 0
    b"\xff" * 24,
])
def test_a_hostile_message_closes_its_connection_only(device, host, message):
    host.sock.sendall(message)
    assert host.is_closed()
    again = Host(device)
    assert again.handshake().command == CNXN
    assert again.run("shell:echo still here") == b"still here\n"
    again.close()


def test_anything_before_the_handshake_closes_the_connection(device):
    h = Host(device)
    h.send(OPEN, 1, 0, b"shell:echo\0")
    assert h.is_closed()
    h.close()


@given(st.binary(max_size=200))
@settings(max_examples=300, deadline=None)
def test_fuzz_the_host_message_parser(data):
    async def parse():
        reader = asyncio.StreamReader()
        reader.feed_data(data)
        reader.feed_eof()
        messages = []
        try:
            while True:
                messages.append(await protocol.read_message(reader))
        except (protocol.ProtocolError, asyncio.IncompleteReadError):
            return messages

    for message in asyncio.run(parse()):
        assert message.name in ("CNXN", "OPEN", "OKAY", "WRTE", "CLSE") and len(message.data) <= protocol.MAX_DATA


@given(st.lists(st.tuples(st.sampled_from([CNXN, OPEN, OKAY, WRTE, CLSE]), st.integers(0, 3),
                          st.integers(0, 3), st.binary(max_size=40)), max_size=6), st.binary(max_size=60))
@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
def test_fuzz_a_live_device_survives_any_host(device, messages, tail):
    h = Host(device)
    h.handshake()
    h.sock.sendall(b"".join(protocol.pack(*m) for m in messages) + tail)
    h.sock.settimeout(0.05)
    try:
        while h.sock.recv(65536):
            pass
    except (socket.timeout, ConnectionResetError):
        pass
    h.close()
    again = Host(device)
    again.handshake()
    assert again.run("shell:echo ok") == b"ok\n"
    again.close()


@pytest.mark.parametrize("service, packets", [
    ("shell,v2,raw:echo hi; nosuch; echo $?",
     [(1, b"hi\n"), (2, b"/system/bin/sh: nosuch: not found\n"), (1, b"127\n"), (3, b"\0")]),
    ("shell,v2,raw:nosuch", [(2, b"/system/bin/sh: nosuch: not found\n"), (3, b"\x7f")]),
    ("shell,v2,raw:getprop ro.build.version.sdk", [(1, b"34\n"), (3, b"\0")]),
    ("shell,v2,raw:toybox md5sum /nowhere", [(2, b"md5sum: /nowhere: No such file or directory\n"), (3, b"\1")]),
])
def test_shell_v2_frames_stdout_stderr_and_exit(host, service, packets):
    assert shell_v2_packets(host.run(service)) == packets


@pytest.mark.parametrize("service, output", [
    ("shell:wm size", b"Physical size: 1600x2560\n"),
    ("shell:getprop ro.product.model; echo X4EXIT:$?", b"Zelvik Virtual Tab\nX4EXIT:0\n"),
    ("shell:sh -c 'exit 3'; echo X4EXIT:$?", b"/system/bin/sh: sh: not found\nX4EXIT:127\n"),
    ("shell:echo 'unclosed", b"/system/bin/sh: syntax error: No closing quotation\n"),
])
def test_shell_v1_mixes_the_output(host, service, output):
    assert host.run(service) == output


def test_exec_screencap_waits_for_each_okay(device):
    h = Host(device, max_data=4096)
    h.handshake()
    local, remote = h.open("exec:screencap '-p'")
    first = h.receive()
    assert first.command == WRTE and len(first.data) == 4096
    h.sock.settimeout(0.2)
    with pytest.raises(socket.timeout):  # nothing more before the OKAY
        h.sock.recv(1)
    h.sock.settimeout(5)
    h.send(OKAY, local, remote)
    assert first.data + h.read_all((local, remote)) == device.screen.png
    h.close()


@pytest.mark.parametrize("service", ["reboot:", "tcp:9008", "jdwp:1", "shell"])
def test_unknown_services_are_refused(host, service):
    assert host.open(service) is None


def sync_request(ident: bytes, value) -> bytes:
    if isinstance(value, int):
        return ident + struct.pack("<I", value)
    return ident + struct.pack("<I", len(value)) + value


def test_sync_push_then_stat_and_md5(device, host):
    data = bytes(range(256)) * 300
    stream = host.open("sync:")
    request = sync_request(b"SEND", b"/data/local/tmp/blob,33188")
    for start in range(0, len(data), 4096):
        request += sync_request(b"DATA", data[start:start + 4096])
    host.write(stream, request + sync_request(b"DONE", 1700000000))
    reply = host.receive()
    assert reply.data == b"OKAY\0\0\0\0"
    host.send(OKAY, *stream)
    host.write(stream, sync_request(b"STAT", b"/data/local/tmp/blob") + sync_request(b"STAT", b"/data/local/tmp"))
    stats = host.receive().data
    host.send(OKAY, *stream)
    stats += host.receive().data
    assert struct.unpack("<4sIII", stats[:16]) == (b"STAT", 0o100644, len(data), 1700000000)
    assert struct.unpack("<4sI", stats[16:24]) == (b"STAT", 0o40771)
    host.send(OKAY, *stream)
    host.write(stream, sync_request(b"QUIT", 0))
    assert host.receive().command == CLSE
    assert host.run("shell:md5sum /data/local/tmp/blob") == hashlib.md5(data).hexdigest().encode() + \
        b"  /data/local/tmp/blob\n"


@pytest.mark.parametrize("request_bytes", [
    sync_request(b"SEND", b"/data/local/tmp/big,33188") + sync_request(b"DATA", 64 * 1024 + 1),
    sync_request(b"STAT", 5000),
    sync_request(b"LIST", b"/"),
])
def test_sync_refuses_what_it_cannot_take(host, request_bytes):
    stream = host.open("sync:")
    host.write(stream, request_bytes)
    assert host.receive().data[:4] == b"FAIL"
    host.send(OKAY, *stream)
    assert host.receive().command == CLSE


def http(host, request: bytes) -> bytes:
    stream = host.open("tcp:9008")
    assert stream is not None
    host.write(stream, request)
    return host.read_all(stream)


def rpc(method, params=()):
    body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": method, "params": list(params)}).encode()
    return b"POST /jsonrpc/0 HTTP/1.1\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body)


def test_the_uiautomator_server_lives_as_long_as_its_launch(device, host):
    device.files[JAR] = b"PK\3\4"
    launch = host.open(LAUNCH)
    assert host.receive().data == b"[server] INFO: [UiAutomator2Server] Starting Server\n"
    host.send(OKAY, *launch)
    try:
        assert http(host, b"GET /ping HTTP/1.1\r\n\r\n").endswith(b"\r\n\r\npong")
        info = json.loads(http(host, rpc("deviceInfo")).split(b"\r\n\r\n", 1)[1])["result"]
        assert sorted(info) == ["currentPackageName", "displayHeight", "displayRotation", "displaySizeDpX",
                                "displaySizeDpY", "displayWidth", "naturalOrientation", "productName", "screenOn",
                                "sdkInt"]
        dump = json.loads(http(host, rpc("dumpWindowHierarchy", [False, 50])).split(b"\r\n\r\n", 1)[1])
        assert dump["result"] == device.screen.xml
        error = json.loads(http(host, rpc("takeScreenshot", [1, 80])).split(b"\r\n\r\n", 1)[1])["error"]
        assert error["code"] == -32601
        garbled = b"POST /jsonrpc/0 HTTP/1.1\r\nContent-Length: 3\r\n\r\n{x}"
        assert json.loads(http(host, garbled).split(b"\r\n\r\n", 1)[1])["error"]["code"] == -32700
        assert http(host, b"GET /elsewhere HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 404 ")
        assert http(host, b"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n").startswith(b"HTTP/1.1 400 ")
        # A second launch finds the accessibility service taken.
        assert b"already registered" in host.run(LAUNCH)
    finally:
        host.send(CLSE, *launch)
        del device.files[JAR]
    deadline = time.monotonic() + 5
    while device.server_port is not None and time.monotonic() < deadline:
        time.sleep(0.01)
    assert host.open("tcp:9008") is None


def test_a_launch_without_the_jar_fails(host):
    assert host.run(LAUNCH) == b"Error: Could not find class 'com.wetest.uia2.Main'\n"


@pytest.mark.parametrize("line, words", [
    ("echo a; echo 'b c'", [["echo", "a"], ["echo", "b c"]]),
    ("CLASSPATH=/x app_process / Main -p 9008", [["CLASSPATH=/x", "app_process", "/", "Main", "-p", "9008"]]),
    (";;echo x;", [["echo", "x"]]),
])
def test_command_lines_split_at_semicolons(line, words):
    assert shell.commands(line) == words


def test_unknown_faults_are_refused():
    with pytest.raises(ValueError, match="unknown faults: hang"):
        VirtualDevice(faults={"hang"})


def test_stop_ends_the_thread_and_the_listener(screen):
    d = VirtualDevice(screen).start()
    h = Host(d)
    h.handshake()
    d.stop()
    assert h.is_closed() and not d._connections
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", d.port), timeout=1)
    h.close()


def test_a_flood_of_opens_closes_the_connection(device, host):
    # sync streams stay open, waiting for their requests.
    host.sock.sendall(b"".join(protocol.pack(OPEN, i, 0, b"sync:\0") for i in range(1, 400)))
    with pytest.raises((EOFError, ConnectionResetError)):
        while True:
            host.receive()
    again = Host(device)
    assert again.handshake().command == CNXN
    again.close()
