"""Test doubles for the outside facilities of zelvik.core: the adb tool,
uiautomator2, subprocess and the clocks.

- ``FakeSubprocess`` (process.py): stands in for the ``subprocess`` module
  global of a module under test; records every ``run`` call and answers from
  a table keyed by the argument tuple.
- ``FakeAdb`` (adb.py): puts the executable ``bin/adb`` first on PATH; the
  script answers from a JSON table and logs its argument lists.
  ``real_adb`` is a fixture running the real adb with a private server
  port (import it into a test module to use it).
- ``FakeU2`` / ``FakeDevice`` (u2.py): stand in for the ``u2`` module global
  and the uiautomator2 device object.
- ``FakeClock`` (clock.py): a ``time`` module with a settable clock, and the
  matching ``datetime`` class.

Install them with ``monkeypatch.setattr(module, "subprocess", fake)`` and so
on; the modules read their globals at each use.
"""
from .adb import FakeAdb, real_adb
from .clock import FakeClock
from .process import Completed, FakeSubprocess
from .u2 import SAMPLE_INFO, FakeDevice, FakeU2

__all__ = ["Completed", "FakeAdb", "FakeClock", "FakeDevice", "FakeSubprocess", "FakeU2", "SAMPLE_INFO",
           "real_adb"]
