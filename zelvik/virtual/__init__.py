"""A virtual Android device for the workbench and the tests: a Settings
screen served over adb's own transport protocol, so that the real adb and
the real uiautomator2 drive it (see device.py)."""
