"""Offline snapshots: one capture in a zip file (screenshot, raw hierarchy
dump, screen geometry, serial and time), reopened with no device.

Reading never extracts anything: only the three known members are read,
each into memory and within its size limit."""
import io
import json
import os
import xml.etree.ElementTree as ET
import zipfile
from dataclasses import dataclass

from .errors import UsageError

FORMAT = "zelvik-snapshot"
VERSION = 1
MANIFEST, SCREENSHOT, DUMP = "snapshot.json", "screenshot.png", "hierarchy.xml"
LIMITS = {MANIFEST: 1 << 20, SCREENSHOT: 64 << 20, DUMP: 64 << 20}
MAX_MEMBERS = 64
MAX_FILE = sum(LIMITS.values()) + (1 << 20)  # the archive itself, before its directory is read
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
GEOMETRY_SIZES = ("width", "height", "ui_width", "ui_height")


@dataclass
class Snapshot:
    serial: str
    time: str  # ISO 8601, UTC
    geometry: dict  # the screen-geometry record
    png: bytes
    dump: str  # the hierarchy dump as the device gave it


def snapshot_bytes(snap: Snapshot) -> bytes:
    manifest = {"format": FORMAT, "version": VERSION, "serial": snap.serial, "time": snap.time,
                "device_info": snap.geometry}
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(MANIFEST, json.dumps(manifest, ensure_ascii=False, indent=1))
        z.writestr(SCREENSHOT, snap.png, zipfile.ZIP_STORED)  # already compressed
        z.writestr(DUMP, snap.dump.encode("utf-8"))
    return out.getvalue()


class Damaged(Exception):
    pass


def _member(z: zipfile.ZipFile, name: str) -> bytes:
    try:
        info = z.getinfo(name)
    except KeyError:
        raise Damaged(f"{name} is missing") from None
    limit = LIMITS[name]
    if info.file_size > limit:
        raise Damaged(f"{name} is larger than {limit >> 20} MiB")
    with z.open(info) as f:
        data = f.read(limit + 1)  # the header's size may lie
    if len(data) > limit:
        raise Damaged(f"{name} is larger than {limit >> 20} MiB")
    return data


def _manifest(data: bytes) -> dict:
    try:
        manifest = json.loads(data.decode("utf-8"))
    except ValueError as e:
        raise Damaged(f"{MANIFEST} is not valid JSON ({e})") from None
    if not isinstance(manifest, dict) or manifest.get("format") != FORMAT:
        raise Damaged(f"{MANIFEST} does not name the format {FORMAT}")
    if manifest.get("version") != VERSION:
        raise Damaged(f"format version {manifest.get('version')!r} is not supported (this is version {VERSION})")
    geometry = manifest.get("device_info")
    if not (isinstance(manifest.get("serial"), str) and isinstance(manifest.get("time"), str)
            and isinstance(geometry, dict)
            and all(type(geometry.get(k)) is int and geometry[k] > 0 for k in GEOMETRY_SIZES)):
        raise Damaged(f"{MANIFEST} lacks the serial, the time or the screen geometry")
    return manifest


def read_snapshot(path: str) -> Snapshot:
    """The snapshot in the file `path`; UsageError when it is missing,
    damaged or not a snapshot."""
    try:
        if os.path.getsize(path) > MAX_FILE:
            raise Damaged(f"it is larger than {MAX_FILE >> 20} MiB")
        with zipfile.ZipFile(path) as z:
            if len(z.infolist()) > MAX_MEMBERS:
                raise Damaged(f"it holds more than {MAX_MEMBERS} files")
            manifest = _manifest(_member(z, MANIFEST))
            png, dump = _member(z, SCREENSHOT), _member(z, DUMP)
    except OSError as e:
        raise UsageError(f"cannot read {path}: {e.strerror or e}") from e
    except (zipfile.BadZipFile, zipfile.LargeZipFile, EOFError) as e:
        raise UsageError(f"{path} is not a Zelvik snapshot (a damaged or foreign zip file: {e})") from None
    except (NotImplementedError, RuntimeError) as e:  # unknown compression, encryption
        raise UsageError(f"{path} is not a Zelvik snapshot (unreadable zip member: {e})") from None
    except Damaged as e:
        raise UsageError(f"{path} is not a Zelvik snapshot ({e})") from None
    if not png.startswith(PNG_SIGNATURE):
        raise UsageError(f"{path} is not a Zelvik snapshot ({SCREENSHOT} is not a PNG image)")
    try:
        text = dump.decode("utf-8")
    except UnicodeDecodeError:
        raise UsageError(f"{path} is not a Zelvik snapshot ({DUMP} is not UTF-8 text)") from None
    return Snapshot(manifest["serial"], manifest["time"], manifest["device_info"], png, text)


def parse_dump(analyzer, text: str, path: str) -> dict:
    """The element tree of a snapshot's dump, parsed as a capture parses it."""
    try:
        return analyzer._parse_xml_node(ET.fromstring(text))
    except ET.ParseError as e:
        raise UsageError(f"{path}: the hierarchy dump is not valid XML ({e})") from None
    except (ValueError, RecursionError) as e:
        raise UsageError(f"{path}: the hierarchy dump cannot be read ({e})") from None
