"""Offline snapshots: what capture puts in snapshot.zip, inspect and open
on it with no device and no adb, damaged and foreign files, --force."""
import datetime
import io
import json
import zipfile
from pathlib import Path

import pytest
from PIL import Image

from test_cli import SAVE, no_adb, zelvik  # noqa: F401 (a fixture)
from zelvik.workbench import snapshot
from zelvik.workbench.commands import Capture
from zelvik.workbench.errors import UsageError, WorkbenchError
from zelvik.workbench.snapshot import Snapshot, read_snapshot, snapshot_bytes

for name in ("pellora", "zantho", "locate"):
    pytest.importorskip(f"zelvik.core.{name}")

GEOMETRY = {"width": 400, "height": 800, "ui_width": 400, "ui_height": 800, "orientation": "portrait",
            "rotation": 0, "rotation_name": "natural", "coordinate_system": "normal", "aspect_ratio": 2.0}
DUMP = ('<?xml version="1.0"?><hierarchy rotation="0"><node class="android.widget.Button" text="OK" '
        'bounds="[0,0][400,800]"/></hierarchy>')


def png(width=400, height=800) -> bytes:
    out = io.BytesIO()
    Image.new("RGB", (width, height), "white").save(out, format="PNG")
    return out.getvalue()


def snapshot_file(path: Path, dump: str = DUMP, serial: str = "R58M", taken: str = "2026-01-02T03:04:05+00:00"):
    path.write_bytes(snapshot_bytes(Snapshot(serial, taken, GEOMETRY, png(), dump)))
    return path


def test_capture_writes_a_snapshot_of_itself(virtual_capture):
    with zipfile.ZipFile(virtual_capture / "snapshot.zip") as z:
        assert sorted(z.namelist()) == ["hierarchy.xml", "screenshot.png", "snapshot.json"]
    snap = read_snapshot(str(virtual_capture / "snapshot.zip"))
    record = json.loads((virtual_capture / "hierarchy.json").read_text(encoding="utf-8"))
    assert snap.serial == record["device_id"] and snap.geometry == record["device_info"]
    assert snap.png == (virtual_capture / "screenshot.png").read_bytes()
    assert datetime.datetime.fromisoformat(snap.time).tzinfo is not None
    # The raw dump, parsed again, is the captured tree.
    assert Capture.from_snapshot(str(virtual_capture / "snapshot.zip")).hierarchy == record["hierarchy"]


def serial_in(report: str) -> str:
    return report.split("\n", 1)[0].rsplit(" on ", 1)[1]


def test_inspect_and_open_need_no_device(virtual_capture, tmp_path, no_adb):
    live = zelvik("--virtual", "inspect", "--at", "%d,%d" % SAVE, cwd=tmp_path)
    offline = zelvik("inspect", "--snapshot", str(virtual_capture / "snapshot.zip"), "--at", "%d,%d" % SAVE,
                     "--full-xpath", cwd=tmp_path, path=no_adb)
    assert live.returncode == offline.returncode == 0, offline.stderr
    full = [line for line in offline.stdout.splitlines() if line.startswith('  full      /hierarchy/node[')]
    # Each virtual device has a serial of its own: the reports differ in it alone.
    live_report = live.stdout.replace(serial_in(live.stdout), serial_in(offline.stdout))
    assert len(full) == 1 and offline.stdout.replace(full[0] + "\n", "") == live_report and offline.stderr == ""
    opened = zelvik("open", str(virtual_capture / "snapshot.zip"), "--out", "o", cwd=tmp_path, path=no_adb)
    assert opened.returncode == 0, opened.stderr
    serial = json.loads((virtual_capture / "hierarchy.json").read_text(encoding="utf-8"))["device_id"]
    assert opened.stdout.startswith(f"page        o/inspect.html  (213 elements of {serial}, captured ")
    # The same capture gives the same page, from the device or from the snapshot.
    assert (tmp_path / "o" / "inspect.html").read_bytes() == (virtual_capture / "inspect.html").read_bytes()


def good() -> bytes:
    return snapshot_bytes(Snapshot("R58M", "2026-01-02T03:04:05+00:00", GEOMETRY, png(), DUMP))


def rezip(members: dict) -> bytes:
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in members.items():
            z.writestr(name, data)
    return out.getvalue()


def members(**change) -> bytes:
    """The good snapshot's members with some replaced (None: left out)."""
    with zipfile.ZipFile(io.BytesIO(good())) as z:
        content = {name: z.read(name) for name in z.namelist()}
    content.update(change)
    return rezip({k: v for k, v in content.items() if v is not None})


def manifest(**change) -> bytes:
    record = {"format": "zelvik-snapshot", "version": 1, "serial": "R58M", "time": "t", "device_info": GEOMETRY}
    record.update(change)
    return members(**{"snapshot.json": json.dumps(record)})


def corrupt_png_byte() -> bytes:
    data = bytearray(good())
    at = data.index(b"IDAT") + 8  # inside the stored (uncompressed) PNG member
    data[at] ^= 0xFF
    return bytes(data)


DAMAGED = [
    (b"", "a damaged or foreign zip file"),
    (b"just text", "a damaged or foreign zip file"),
    (good()[:300], "a damaged or foreign zip file"),
    (corrupt_png_byte(), "Bad CRC-32"),
    (rezip({"readme.txt": "hello"}), "snapshot.json is missing"),
    (members(**{"snapshot.json": b"{"}), "snapshot.json is not valid JSON"),
    (members(**{"snapshot.json": b"\xff"}), "snapshot.json is not valid JSON"),
    (manifest(format="other"), "does not name the format zelvik-snapshot"),
    (manifest(version=2), "format version 2 is not supported (this is version 1)"),
    (manifest(serial=5), "lacks the serial, the time or the screen geometry"),
    (manifest(device_info={**GEOMETRY, "ui_width": 0}), "lacks the serial, the time or the screen geometry"),
    (members(**{"screenshot.png": None}), "screenshot.png is missing"),
    (members(**{"screenshot.png": b"GIF89a"}), "screenshot.png is not a PNG image"),
    (members(**{"hierarchy.xml": "<hierarchy".encode()}), "the hierarchy dump is not valid XML"),
    (members(**{"hierarchy.xml": b"\xff\xfe"}), "hierarchy.xml is not UTF-8 text"),
    (members(**{"hierarchy.xml": b'<hierarchy><node index="x"/></hierarchy>'}), "the hierarchy dump cannot be read"),
    (members(**{"hierarchy.xml": b"<a>" * 20000 + b"</a>" * 20000}), "the hierarchy dump cannot be read"),
    (rezip({f"f{i}": "" for i in range(65)}), "it holds more than 64 files"),
]


@pytest.mark.parametrize("content, message", DAMAGED, ids=[f"{i}-{m[:24]}" for i, (_, m) in enumerate(DAMAGED)])
def test_damaged_or_foreign_files_are_refused(tmp_path, content, message):
    path = tmp_path / "s.zip"
    path.write_bytes(content)
    with pytest.raises(UsageError) as caught:
        Capture.from_snapshot(str(path))
    assert caught.value.code == 2
    assert str(caught.value).startswith(str(path)) and message in str(caught.value)


def test_size_limits_hold_whatever_the_headers_say(tmp_path, monkeypatch):
    monkeypatch.setitem(snapshot.LIMITS, "hierarchy.xml", 1000)
    path = tmp_path / "s.zip"
    path.write_bytes(members(**{"hierarchy.xml": DUMP.replace("OK", "x" * 2000).encode()}))
    with pytest.raises(UsageError, match="hierarchy.xml is larger than 0 MiB"):
        read_snapshot(str(path))
    # A header that understates the size does not let more through.
    data = bytearray(path.read_bytes())
    real = zipfile.ZipFile(io.BytesIO(bytes(data))).getinfo("hierarchy.xml").file_size
    for at in range(len(data) - 4):
        if int.from_bytes(data[at:at + 4], "little") == real:
            data[at:at + 4] = (100).to_bytes(4, "little")
    path.write_bytes(bytes(data))
    with pytest.raises(UsageError, match="larger than|damaged or foreign"):
        read_snapshot(str(path))
    # The archive as a whole, before its directory is read.
    monkeypatch.setattr(snapshot, "MAX_FILE", 2 << 20)
    path.write_bytes(good() + b"\0" * (2 << 20))
    with pytest.raises(UsageError, match=r"not a Zelvik snapshot \(it is larger than 2 MiB\)"):
        read_snapshot(str(path))


def test_other_members_are_never_extracted(tmp_path):
    path = tmp_path / "s.zip"
    path.write_bytes(members(**{"../../escaped.txt": b"x", "/abs/escaped.txt": b"x"}))
    assert read_snapshot(str(path)).serial == "R58M"
    assert not list(tmp_path.parent.parent.glob("escaped.txt")) and not Path("/abs").exists()


def test_cli_refuses_a_foreign_zip_with_status_2(tmp_path, no_adb):
    (tmp_path / "foreign.zip").write_bytes(rezip({"readme.txt": "hello"}))
    for argv in (["open", "foreign.zip"], ["inspect", "--snapshot", "foreign.zip", "--at", "1,1"]):
        run = zelvik(*argv, cwd=tmp_path, path=no_adb)
        assert run.returncode == 2 and "Traceback" not in run.stderr
        assert run.stderr == "zelvik: error: foreign.zip is not a Zelvik snapshot (snapshot.json is missing)\n"


def test_odd_bounds_give_a_clear_error(tmp_path):
    shot = Capture.from_snapshot(str(snapshot_file(tmp_path / "s.zip", DUMP.replace("[0,0][400,800]", "[1,2]"))))
    with pytest.raises(WorkbenchError, match="cannot search the element tree of R58M: not enough values"):
        shot.element_at(1, 1)


@pytest.mark.parametrize("argv, existing", [
    (["--virtual", "capture", "--out", "."], "snapshot.zip"),
    (["open", "s.zip"], "inspect.html"),
])
def test_nothing_is_replaced_without_force(tmp_path, argv, existing):
    snapshot_file(tmp_path / "s.zip")
    (tmp_path / existing).write_bytes(b"keep me")
    before = sorted(p.name for p in tmp_path.iterdir())
    refused = zelvik(*argv, cwd=tmp_path)
    assert refused.returncode == 2
    assert refused.stderr.splitlines()[-1] == f"zelvik: error: {existing} exists (--force replaces it)"
    assert (tmp_path / existing).read_bytes() == b"keep me"
    assert sorted(p.name for p in tmp_path.iterdir()) == before  # nothing else written either
    if argv[0] == "open":  # one command that does replace with --force (a capture takes long)
        forced = zelvik(*argv, "--force", cwd=tmp_path)
        assert forced.returncode == 0, forced.stderr
        assert (tmp_path / existing).read_bytes().startswith(b"<!DOCTYPE html>")
