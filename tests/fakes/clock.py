"""A settable clock: a `time` module and a `datetime` class reading it."""
import datetime as _dt


class FakeClock:
    """`time()` returns `now` (seconds since the epoch); `sleep(s)` records
    `s` in `sleeps` and advances the clock. `datetime` is a datetime.datetime
    subclass whose `now()` follows the same clock (local time).

        clock = FakeClock(1_700_000_000.0)
        monkeypatch.setattr(module, "time", clock)
        monkeypatch.setattr(module, "datetime", clock.datetime)
        clock.advance(5.1)
    """

    def __init__(self, now=1_700_000_000.0):
        self.now = float(now)
        self.sleeps = []
        clock = self

        class datetime(_dt.datetime):
            @classmethod
            def now(cls, tz=None):
                return cls.fromtimestamp(clock.now, tz)

        self.datetime = datetime

    def time(self):
        return self.now

    def sleep(self, seconds):
        self.sleeps.append(seconds)
        self.now += seconds

    def advance(self, seconds):
        self.now += seconds
