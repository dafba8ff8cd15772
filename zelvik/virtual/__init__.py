"""A virtual Android device for the workbench: a Settings screen served
through a uiautomator2-compatible connect() and an `adb` program."""
from .adb import SERIAL

__all__ = ["SERIAL"]
