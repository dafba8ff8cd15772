"""Stand-ins for the uiautomator2 module and its device object."""

# An `info` mapping as a phone reports it (the keys zelvik reads).
SAMPLE_INFO = {"model": "Pixel 5", "brand": "google", "version": "13", "sdkInt": 33, "productName": "redfin",
               "displayWidth": 1080, "displayHeight": 2340, "displayRotation": 0}


class FakeDevice:
    """A uiautomator2 device: `info`, `app_current()`, `dump_hierarchy()`.

    Each of `info`, `app` and `hierarchy` may be an exception instance, which
    the matching query raises. `info_reads` counts reads of `info`.
    """

    def __init__(self, info=None, app=None, hierarchy="<hierarchy/>"):
        self._info = {} if info is None else info
        self.app = app
        self.hierarchy = hierarchy
        self.info_reads = 0

    @staticmethod
    def _answer(value):
        if isinstance(value, BaseException):
            raise value
        return value

    @property
    def info(self):
        self.info_reads += 1
        return self._answer(self._info)

    def app_current(self):
        return self._answer(self.app)

    def dump_hierarchy(self):
        return self._answer(self.hierarchy)


class FakeU2:
    """The `u2` module: `connect(serial)` returns `devices[serial]`.

    A value in `devices` may be an exception instance (raised by connect).
    An unknown serial raises ConnectionError. `connects` lists the serials
    passed to connect, in order.
    """

    def __init__(self, devices=None):
        self.devices = dict(devices or {})
        self.connects = []

    def connect(self, serial):
        self.connects.append(serial)
        device = self.devices.get(serial)
        if device is None:
            raise ConnectionError("no device " + str(serial))
        if isinstance(device, BaseException):
            raise device
        return device
