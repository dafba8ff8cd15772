"""Progress lines on standard error for work that takes a while."""
import asyncio
import sys
import threading
import time


async def waiting(awaitable, message: str, delay: float = 1.0, stream=None):
    """Awaits `awaitable`; once it has taken `delay` seconds, says so on
    `stream` and adds a dot per second until it is done."""
    stream = stream or sys.stderr
    task = asyncio.ensure_future(awaitable)
    done, _ = await asyncio.wait({task}, timeout=delay)
    if not done:
        start = time.monotonic() - delay
        stream.write(f"zelvik: {message} ...")
        stream.flush()
        try:
            while not done:
                done, _ = await asyncio.wait({task}, timeout=1.0)
                stream.write(".")
                stream.flush()
        finally:  # also when interrupted: the next message starts a line
            stream.write(f" {time.monotonic() - start:.1f}s\n")
    return task.result()


class Counter:
    """Counts finished items from any thread; a live count on a terminal,
    a start line and an end line elsewhere."""

    def __init__(self, label: str, total: int, stream=None):
        self.label, self.total, self.done = label, total, 0
        self.stream = stream or sys.stderr
        self.live = self.stream.isatty()
        self.start = time.monotonic()
        self._lock = threading.Lock()
        self._write(f"{label}: 0/{total}" if self.live else f"{label}: {total} to go\n")

    def _write(self, text: str) -> None:
        self.stream.write(text)
        self.stream.flush()

    def advance(self) -> None:
        with self._lock:
            self.done += 1
            if self.live:
                self._write(f"\r{self.label}: {self.done}/{self.total}")

    def finish(self, summary: str) -> None:
        elapsed = time.monotonic() - self.start
        self._write(("\r" if self.live else "") + f"{self.label}: {summary} in {elapsed:.1f}s\n")
