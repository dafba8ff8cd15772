"""The uiautomator server on the device: HTTP with JSON-RPC on its port.

One request per connection, as uiautomator2 sends them: `GET /ping`
answers "pong", `POST /jsonrpc/0` calls a method. deviceInfo carries the
keys the real server's DeviceInfo has, and no others.
"""
import asyncio
import json

from .screen import SETTINGS
from .streams import Stream, StreamClosed

MAX_HEAD = 16 * 1024
MAX_BODY = 1024 * 1024
METHOD_NOT_FOUND = -32601
PARSE_ERROR = -32700
BROKEN_DUMP = "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\r\n<hierarchy rotation=\"0\"><node index=\"0\" text=\"Se"


def device_info(device) -> dict:
    w, h = device.screen.width, device.screen.height
    return {"currentPackageName": SETTINGS, "displayHeight": h, "displayRotation": 0,
            "displaySizeDpX": w * 160 // device.density, "displaySizeDpY": h * 160 // device.density,
            "displayWidth": w, "naturalOrientation": h > w, "productName": device.properties["ro.product.name"],
            "screenOn": True, "sdkInt": int(device.properties["ro.build.version.sdk"])}


async def dump_window_hierarchy(device):
    if "drop-dump" in device.faults:
        device.faults.discard("drop-dump")
        device.drop_connections()
        raise StreamClosed()  # the link went down: no answer comes
    if "slow-dump" in device.faults:
        await asyncio.sleep(device.dump_delay)
    if "bad-dump" in device.faults:
        return BROKEN_DUMP
    return device.screen.xml


async def call(device, request) -> dict:
    """The JSON-RPC response object for one request object."""
    ident = request.get("id") if isinstance(request, dict) else None
    method = request.get("method") if isinstance(request, dict) else None
    reply = {"jsonrpc": "2.0", "id": ident}
    device.requests.append(f"jsonrpc {method}")
    if method == "deviceInfo":
        reply["result"] = device_info(device)
    elif method == "dumpWindowHierarchy":
        reply["result"] = await dump_window_hierarchy(device)
    else:
        reply["error"] = {"code": METHOD_NOT_FOUND, "message": "method not found", "data": f"method: {method}"}
    return reply


def response(status: str, body: bytes, kind: str = "text/plain") -> bytes:
    head = (f"HTTP/1.1 {status}\r\nContent-Type: {kind}\r\nContent-Length: {len(body)}\r\n"
            "Connection: close\r\n\r\n")
    return head.encode() + body


async def serve(device, stream: Stream) -> None:
    """Answers one HTTP request on the stream."""
    try:
        head = (await stream.read_until(b"\r\n\r\n", MAX_HEAD)).decode("latin-1")
        request_line, *lines = head.split("\r\n")
        method, path, _version = request_line.split(" ", 2)
        headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines if line)}
        length = int(headers.get("content-length", "0"))
        if not 0 <= length <= MAX_BODY:
            raise ValueError("body too long")
    except ValueError:
        await stream.write(response("400 Bad Request", b"bad request"))
        return
    body = await stream.read_exactly(length) if length else b""
    device.requests.append(f"http {method} {path}")
    if (method, path) == ("GET", "/ping"):
        await stream.write(response("200 OK", b"pong"))
    elif (method, path) == ("POST", "/jsonrpc/0"):
        try:
            reply = await call(device, json.loads(body))
        except ValueError:
            reply = {"jsonrpc": "2.0", "id": None, "error": {"code": PARSE_ERROR, "message": "JSON parse problem"}}
        await stream.write(response("200 OK", json.dumps(reply).encode(), "application/json"))
    else:
        await stream.write(response("404 Not Found", b"Not Found"))
