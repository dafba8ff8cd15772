"""The workbench commands. Each takes the parsed arguments, prints its
result on standard output and returns the exit status."""
import asyncio
import base64
import concurrent.futures
import contextlib
import datetime
import functools
import json
import sys
import time
from pathlib import Path
from typing import Dict, Optional, Tuple

from . import device_errors, output, ranges
from .actions import load_actions
from .annotate import annotate
from .checks import Checker
from .devices import Devices
from .errors import UsageError, WorkbenchError, core
from .page import inspector_page
from .progress import Counter, waiting
from .snapshot import Snapshot, parse_dump, read_snapshot, snapshot_bytes


@contextlib.asynccontextmanager
async def opened(args):
    """The scanned devices of the run, closed at the end."""
    devices = Devices()
    try:
        await devices.open(args.virtual, args.screen, getattr(args, "device", None))
        yield devices
    finally:
        await devices.close()


class DumpTap:
    """Stands in for a connection object in the hierarchy dump: passes the
    dump on to the device and keeps its text."""

    def __init__(self, ostrel):
        self._ostrel = ostrel
        self.text: Optional[str] = None

    @property
    def device(self):
        return self

    def dump_hierarchy(self):
        self.text = self._ostrel.device.dump_hierarchy()
        return self.text


def recording_analyzer(manager):
    """A UIAnalyzer that keeps the raw dump text of its last capture as `dump`."""

    class RecordingAnalyzer(core("pellora").UIAnalyzer):
        dump: Optional[str] = None

        async def _get_ui_hierarchy(self, ostrel):
            tap = DumpTap(ostrel)
            try:
                return await super()._get_ui_hierarchy(tap)
            finally:
                self.dump = tap.text

    return RecordingAnalyzer(manager)


class Capture:
    """One capture of a device (or a snapshot of one), and the element
    lookups on it."""

    def __init__(self, analyzer, serial: str, png: bytes, hierarchy: dict, geometry: dict, dump: str, taken: str):
        self.analyzer = analyzer
        self.serial, self.png, self.hierarchy, self.geometry = serial, png, hierarchy, geometry
        self.dump, self.taken = dump, taken

    @classmethod
    def from_snapshot(cls, path: str) -> "Capture":
        snap = read_snapshot(path)
        analyzer = core("pellora").UIAnalyzer(None)
        return cls(analyzer, snap.serial, snap.png, parse_dump(analyzer, snap.dump, path), snap.geometry,
                   snap.dump, snap.time)

    def snapshot(self) -> Snapshot:
        return Snapshot(self.serial, self.taken, self.geometry, self.png, self.dump)

    @functools.cached_property
    def checker(self) -> Checker:
        return Checker(self.hierarchy)

    def element_at(self, x: int, y: int) -> Optional[dict]:
        """The element under (x, y). A dump's root (<hierarchy>) has no bounds,
        so the search also starts at each window, top-most first."""
        try:
            for top in (self.hierarchy, *self.hierarchy.get("children", [])):
                found = self.analyzer.find_element_at_position(top, x, y)
                if found is not None:
                    return found
        except ValueError as e:  # bounds of other than four numbers
            raise WorkbenchError(f"cannot search the element tree of {self.serial}: {e}") from None
        return None

    def path_to(self, element: dict):
        return self.analyzer.get_element_path(self.hierarchy, element)


async def capture(devices: Devices, serial: str) -> Capture:
    analyzer = recording_analyzer(devices.manager)
    try:
        result = await waiting(analyzer.capture_with_hierarchy(serial), f"capturing {serial}")
    except Exception as e:  # connecting before the capture: uiautomator2's own failure
        raise WorkbenchError(device_errors.unreachable(serial, str(e))) from e
    if not result["success"]:
        raise WorkbenchError(device_errors.capture_failure(serial, result["error"]))
    taken = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    return Capture(analyzer, result["device_id"], base64.b64decode(result["screenshot"]), result["hierarchy"],
                   result["device_info"], analyzer.dump, taken)


def element_under(shot: Capture, point: Tuple[int, int]) -> dict:
    element = shot.element_at(*point)
    if element is None:
        raise WorkbenchError(f"no element at ({point[0]}, {point[1]}) on {shot.serial}")
    return element


PAGE = "inspect.html"
CAPTURE_FILES = ("screenshot.png", "hierarchy.json", "annotated.png", "snapshot.zip", PAGE)


def exists(path) -> UsageError:
    return UsageError(f"{path} exists (--force replaces it)")


def refuse_existing(out: Path, names, force: bool) -> None:
    """Without `force`, none of the files may exist yet: checked before the work."""
    if not force:
        for name in names:
            if (out / name).exists():
                raise exists(out / name)


def write_files(out: Path, files: Dict[str, bytes], force: bool) -> None:
    """Writes the files into `out`; without `force` none is written over."""
    refuse_existing(out, files, force)
    try:
        out.mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            with open(out / name, "wb" if force else "xb") as f:
                f.write(data)
    except FileExistsError as e:
        raise exists(e.filename) from None
    except OSError as e:
        raise WorkbenchError(f"cannot write to {out}: {e.strerror or e}") from e


def write_capture(shot: Capture, out_dir: str, point: Optional[Tuple[int, int]], force: bool) -> None:
    """Writes the screenshot, the element tree, the annotated screenshot,
    the snapshot and the inspector page."""
    out = Path(out_dir)
    selected = shot.element_at(*point) if point else None
    parts = (shot.png,
             json.dumps({"device_id": shot.serial, "device_info": shot.geometry, "hierarchy": shot.hierarchy},
                        ensure_ascii=False, indent=1).encode(),
             annotate(shot.png, shot.hierarchy, shot.geometry, selected, point),
             snapshot_bytes(shot.snapshot()), inspector_page(shot, point))
    write_files(out, dict(zip(CAPTURE_FILES, parts)), force)
    width, height = shot.geometry.get("width"), shot.geometry.get("height")
    highlight = ""
    if point:
        found = output.label(selected) if selected else "no element there"
        highlight = f"; ({point[0]}, {point[1]}): {found}"
    screenshot, elements, annotated, snapshot, page = (out / name for name in CAPTURE_FILES)
    print(f"screenshot  {screenshot}  ({width}x{height})")
    print(f"elements    {elements}  ({output.count_elements(shot.hierarchy)} elements)")
    print(f"annotated   {annotated}  (element bounds{highlight})")
    print(f"snapshot    {snapshot}  (reopen with: zelvik open {snapshot})")
    print(f"page        {page}  (open in a browser: {page.resolve().as_uri()})")


def inspect_report(shot: Capture, point: Tuple[int, int], full_xpath: bool = False) -> str:
    element = element_under(shot, point)
    return output.element_report(shot.serial, *point, element, shot.path_to(element), shot.checker.check(element),
                                 full_xpath)


# --- the commands -----------------------------------------------------------------

async def devices_command(args) -> int:
    async with opened(args) as devices:
        records = device_errors.explained(devices.records)
        print(output.device_table(records) if records else "no device attached")
    return 0


async def capture_command(args) -> int:
    refuse_existing(Path(args.out), CAPTURE_FILES, args.force)
    async with opened(args) as devices:
        write_capture(await capture(devices, devices.serial(args.device)), args.out, args.at, args.force)
    return 0


async def inspect_command(args) -> int:
    if args.snapshot is not None:
        shot = Capture.from_snapshot(args.snapshot)
    else:
        async with opened(args) as devices:
            shot = await capture(devices, devices.serial(args.device))
    print(inspect_report(shot, args.at, args.full_xpath))
    return 0


async def open_command(args) -> int:
    """The inspector page of a snapshot, with no device."""
    shot = Capture.from_snapshot(args.snapshot)
    out = Path(args.out) if args.out is not None else Path(args.snapshot).parent
    write_files(out, {PAGE: inspector_page(shot, None)}, args.force)
    print(f"page        {out / PAGE}  ({output.count_elements(shot.hierarchy)} elements of "
          f"{shot.serial}, captured {shot.taken}; open in a browser: {(out / PAGE).resolve().as_uri()})")
    return 0


async def demo_command(args) -> int:
    """capture and inspect of one point of the virtual device, in one go."""
    args.virtual, args.device = True, None
    refuse_existing(Path(args.out), CAPTURE_FILES, args.force)
    async with opened(args) as devices:
        shot = await capture(devices, devices.serial(None))
    print(inspect_report(shot, args.at))
    print(f"\nCapture of {shot.serial} written:")
    write_capture(shot, args.out, args.at, args.force)
    return 0


class StepClock:
    """Stands in for the recorder's `time` module: time moves on by each
    action's delay, so the replay script waits as the actions file says."""

    def __init__(self):
        self.now = time.time()

    def time(self) -> float:
        return self.now


async def script_command(args) -> int:
    steps = load_actions(args.actions)
    mirvane = core("mirvane")
    async with opened(args) as devices:
        serial = devices.serial(args.device)
        shot = await capture(devices, serial) if any(step.point for step in steps) else None
    recorder, clock, saved = mirvane.get_mirvane(), StepClock(), mirvane.time
    mirvane.time = clock
    try:
        recorder.start_recording(serial)
        for step in steps:
            clock.now += step.delay
            element = shot.element_at(*step.point) if step.point else None
            coordinates = {"x": step.point[0], "y": step.point[1]} if step.point else None
            recorder.record_action(step.type, step.params, element, coordinates)
        recorder.stop_recording()
    finally:
        mirvane.time = saved
    print(recorder.generate_script())
    if args.export:
        try:
            Path(args.export).write_text(json.dumps(recorder.export_session_data(), ensure_ascii=False, indent=1),
                                         encoding="utf-8")
        except OSError as e:
            raise WorkbenchError(f"cannot write {args.export}: {e.strerror or e}") from e
        print(f"zelvik: session exported to {args.export}", file=sys.stderr)
    return 0


async def wifi_command(args) -> int:
    scan = ranges.guarded(args.range, args.all)
    ostrel = core("ostrel")
    counter = None

    class Scanner(ostrel.DeviceManager):
        """Counts the probes of a discovery as they finish."""

        def _scan_single_ip(self, ip, port, timeout=2.0):
            try:
                return super()._scan_single_ip(ip, port, timeout)
            finally:
                counter.advance()

    devices = Devices(Scanner)
    try:
        devices.open_unscanned(args.virtual, args.screen, "WiFi discovery connects devices with adb")
        counter = Counter(f"wifi: probing port {args.port}", scan.count)
        loop = asyncio.get_running_loop()
        found = []
        for chunk in scan.chunks():
            # Discovery blocks its thread until every probe is done: run it aside.
            try:
                found += await loop.run_in_executor(
                    None, lambda: asyncio.run(devices.manager.discover_wifi_devices(chunk, args.port)))
            except concurrent.futures.TimeoutError:
                raise WorkbenchError(f"WiFi discovery of {chunk} did not finish within 30 s") from None
        counter.finish(f"{counter.done} of {scan.count} addresses probed, {len(found)} found")
        print(output.device_table(found) if found else f"no device answered on port {args.port} in {args.range}")
    finally:
        await devices.close()
    return 0
