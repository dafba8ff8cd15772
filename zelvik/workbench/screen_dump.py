"""The hierarchy dump given with --screen, checked before the virtual device
serves it, so that a faulty file is named as the user's input."""
import xml.etree.ElementTree as ET

from .errors import UsageError

SAVE_ONE = "save one with uiautomator2's d.dump_hierarchy()"


def check(path: str) -> None:
    """UsageError unless `path` holds XML the UI analyzer can parse."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise UsageError(f"cannot read the screen dump {path}: {e.strerror or e}") from e
    except UnicodeDecodeError as e:
        raise UsageError(f"the screen dump {path} is not UTF-8 text ({e.reason} at byte {e.start})") from e
    if not text.strip():
        raise UsageError(f"the screen dump {path} is empty; {SAVE_ONE}")
    try:
        ET.fromstring(text)
    except ET.ParseError as e:
        raise UsageError(f"the screen dump {path} is not well-formed XML ({e}); {SAVE_ONE}") from e
