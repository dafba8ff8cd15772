"""The command line: `zelvik [--virtual] [--screen DUMP] COMMAND ...`."""
import argparse
import re
import sys
from pathlib import Path
from typing import List, Optional

from . import commands, ranges, screen_dump
from .actions import parse_point
from .errors import WorkbenchError
from .interrupts import exit_now_if_busy, run
from .version import VersionAction

DEMO_POINT = (1448, 2420)  # the Save button of the virtual screen


def point(text: str):
    try:
        x, y = parse_point(text)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None
    if x < 0 or y < 0:
        raise argparse.ArgumentTypeError(f"a screen point has no negative coordinate, got {text}")
    return x, y


def joined_points(argv: List[str]) -> List[str]:
    """`--at -5,-5` as `--at=-5,-5`: argparse would take "-5,-5" for an
    option and say only "expected one argument"."""
    joined: List[str] = []
    for word in argv:
        if joined and joined[-1] == "--at" and re.match(r"-\d", word):
            joined[-1] = f"--at={word}"
        else:
            joined.append(word)
    return joined


def out_dir(text: str) -> str:
    if Path(text).exists() and not Path(text).is_dir():
        raise argparse.ArgumentTypeError(f"{text} is a file; --out names the directory for the capture files")
    return text


def port(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if not 0 < value < 65536:
        raise argparse.ArgumentTypeError(f"expected a TCP port (1-65535), got {text!r}")
    return value


def parser() -> argparse.ArgumentParser:
    main = argparse.ArgumentParser(
        prog="zelvik", description="Android UI inspection and automation workbench.",
        epilog="Without a device attached the commands use the virtual device (a Settings screen).")
    main.add_argument("--version", action=VersionAction,
                      help="print the versions of zelvik, Python, adb and uiautomator2, and exit")
    main.add_argument("--virtual", action="store_true", help="use the built-in virtual device")
    main.add_argument("--screen", metavar="DUMP.xml",
                      help="let the virtual device show this hierarchy dump (implies --virtual)")
    # The global options are accepted after the command too (without overriding).
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--virtual", action="store_true", default=argparse.SUPPRESS,
                        help="use the built-in virtual device")
    common.add_argument("--screen", metavar="DUMP.xml", default=argparse.SUPPRESS,
                        help="let the virtual device show this hierarchy dump (implies --virtual)")
    device = argparse.ArgumentParser(add_help=False)
    device.add_argument("--device", metavar="SERIAL", help="device serial (default: the first attached)")
    sub = main.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(name, run, help, parents=(common, device), epilog=None):
        p = sub.add_parser(name, parents=list(parents), help=help, description=help, epilog=epilog)
        p.set_defaults(run=run)
        return p

    command("devices", commands.devices_command, "list the devices", parents=(common,))
    force = argparse.ArgumentParser(add_help=False)
    force.add_argument("--force", action="store_true", help="replace files that exist already")
    p = command("capture", commands.capture_command,
                "capture screen and UI hierarchy: screenshot, element tree (JSON), annotated screenshot, "
                "snapshot (zip) and inspector page (HTML)", parents=(common, device, force))
    p.add_argument("--out", metavar="DIR", type=out_dir, default="zelvik-capture",
                   help="directory for the files (default: %(default)s)")
    p.add_argument("--at", metavar="X,Y", type=point, help="highlight the element under this point")
    p = command("inspect", commands.inspect_command,
                "the element under a point: its path, ranked selectors with their match counts, XPath "
                "and generated code")
    p.add_argument("--at", metavar="X,Y", type=point, required=True, help="screen point")
    p.add_argument("--snapshot", metavar="FILE", help="inspect this snapshot (snapshot.zip) instead of a device")
    p.add_argument("--full-xpath", action="store_true", help="also give the full XPath from the root")
    p = command("open", commands.open_command, "write the inspector page (inspect.html) of a snapshot, no device needed",
                parents=(force,))
    p.add_argument("snapshot", metavar="SNAPSHOT.zip", help="a snapshot written by capture")
    p.add_argument("--out", metavar="DIR", help="directory for inspect.html (default: the snapshot's)")
    p = command("script", commands.script_command,
                "record the actions of a JSON file into a session and print the replay script")
    p.add_argument("actions", metavar="ACTIONS.json", help="the actions (see README)")
    p.add_argument("--export", metavar="FILE", help="also write the session export record as JSON")
    p = command("wifi", commands.wifi_command, "discover devices on the network (adb TCP port)", parents=(common,),
                epilog="Warning: this probes other hosts. Every address of RANGE gets a TCP connection "
                       "on the port (and adb connect where it opens): scan only networks you run "
                       "or may test. Addresses only (IPv4), no host names.")
    p.add_argument("range", metavar="RANGE",
                   help="an IPv4 address, a range A.B.C.D-A.B.C.E or a network A.B.C.D/N")
    p.add_argument("--all", action="store_true",
                   help=f"allow a range of more than {ranges.LIMIT:,} addresses (probed {ranges.CHUNK} at a time)")
    p.add_argument("--port", type=port, default=5555, help="TCP port (default: %(default)s)")
    p = command("demo", commands.demo_command,
                "capture and inspect one point of the virtual device, and write the capture files", parents=(force,))
    p.add_argument("--out", metavar="DIR", type=out_dir, default="zelvik-capture",
                   help="directory for the files (default: %(default)s)")
    p.add_argument("--at", metavar="X,Y", type=point, default=DEMO_POINT,
                   help="screen point (default: %d,%d, the Save button)" % DEMO_POINT)
    return main


def main(argv: Optional[List[str]] = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    args = parser().parse_args(joined_points(sys.argv[1:] if argv is None else argv))
    try:
        if args.screen is not None:
            screen_dump.check(args.screen)
        return run(args.run(args))
    except WorkbenchError as e:
        print(f"zelvik: error: {e}", file=sys.stderr)
        return e.code
    except KeyboardInterrupt:
        print("zelvik: interrupted", file=sys.stderr)
        exit_now_if_busy(130)
        return 130
