"""The command line: `zelvik [--virtual] [--screen DUMP] COMMAND ...`."""
import argparse
import sys
from typing import List, Optional

from zelvik.virtual import SERIAL

from . import commands
from .actions import parse_point
from .errors import WorkbenchError
from .interrupts import exit_now_if_busy, run

DEMO_POINT = (1448, 2420)  # the Save button of the virtual screen


def point(text: str):
    try:
        return parse_point(text)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


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
        epilog=f"Without a device attached (or without adb) the commands use the virtual device {SERIAL}.")
    main.add_argument("--virtual", action="store_true", help=f"use the built-in virtual device {SERIAL}")
    main.add_argument("--screen", metavar="DUMP.xml",
                      help="let the virtual device show this hierarchy dump (implies --virtual)")
    # The global options are accepted after the command too (without overriding).
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--virtual", action="store_true", default=argparse.SUPPRESS,
                        help=f"use the built-in virtual device {SERIAL}")
    common.add_argument("--screen", metavar="DUMP.xml", default=argparse.SUPPRESS,
                        help="let the virtual device show this hierarchy dump (implies --virtual)")
    device = argparse.ArgumentParser(add_help=False)
    device.add_argument("--device", metavar="SERIAL", help="device serial (default: the first attached)")
    sub = main.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(name, run, help, parents=(common, device)):
        p = sub.add_parser(name, parents=list(parents), help=help, description=help)
        p.set_defaults(run=run)
        return p

    command("devices", commands.devices_command, "list the devices", parents=(common,))
    p = command("capture", commands.capture_command,
                "capture screen and UI hierarchy: screenshot, element tree (JSON), annotated screenshot")
    p.add_argument("--out", metavar="DIR", default="zelvik-capture", help="directory for the files (default: %(default)s)")
    p.add_argument("--at", metavar="X,Y", type=point, help="highlight the element under this point")
    p = command("inspect", commands.inspect_command,
                "the element under a point: its path, ranked selectors and generated code")
    p.add_argument("--at", metavar="X,Y", type=point, required=True, help="screen point")
    p = command("script", commands.script_command,
                "record the actions of a JSON file into a session and print the replay script")
    p.add_argument("actions", metavar="ACTIONS.json", help="the actions (see README)")
    p.add_argument("--export", metavar="FILE", help="also write the session export record as JSON")
    p = command("wifi", commands.wifi_command, "discover devices on the network (adb TCP port)", parents=(common,))
    p.add_argument("range", metavar="RANGE", help="an address, a range A.B.C.D-A.B.C.E or a network A.B.C.D/N")
    p.add_argument("--port", type=port, default=5555, help="TCP port (default: %(default)s)")
    p = command("demo", commands.demo_command,
                "capture and inspect one point of the virtual device, and write the capture files", parents=())
    p.add_argument("--out", metavar="DIR", default="zelvik-capture", help="directory for the files (default: %(default)s)")
    p.add_argument("--at", metavar="X,Y", type=point, default=DEMO_POINT,
                   help="screen point (default: %d,%d, the Save button)" % DEMO_POINT)
    return main


def main(argv: Optional[List[str]] = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    args = parser().parse_args(argv)
    try:
        return run(args.run(args))
    except WorkbenchError as e:
        print(f"zelvik: error: {e}", file=sys.stderr)
        return e.code
    except KeyboardInterrupt:
        print("zelvik: interrupted", file=sys.stderr)
        exit_now_if_busy(130)
        return 130
